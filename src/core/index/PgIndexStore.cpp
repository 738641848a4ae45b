#include "PgIndexStore.h"

#include "search/PatternList.h"

#include <QSet>

#include <libpq-fe.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace shareindex {
namespace {

// Raised whenever the tables change. An older index is rebuilt; a newer one (of a newer
// program on another machine) is refused, never dropped.
constexpr int kSchemaVersion = 1;
// Marks the tables as this program's index: a schema "brindlecove" without it is someone
// else's and left alone.
const char* const kApplicationId = "BCIX";
// Taken while the tables are made, so that two machines starting at once make them once.
constexpr qint64 kBuildLock = 0x42434958;
// Every round trip ends: a server that does not answer a connection in this time, or a
// statement that runs longer, or a connection that stops answering (keepalives, TCP user
// timeout), is an error of that call.
const char* const kSecConnect = "10";
const char* const kServerOptions = "-c statement_timeout=60000";
const char* const kMsTcpUserTimeout = "30000";
constexpr int kRowsPerFetch = 20000;
constexpr qint64 kEntriesBeforeAnalyze = 100000;

// The folded paths (patterns::FoldCase) are the keys: scopes and patterns compare with them
// byte for byte, as the walk compares its folded paths, and in the order of the code points
// (COLLATE "C"), so that the rows below a folder are one range of its key.
const char* const kSchema = R"sql(
CREATE SCHEMA IF NOT EXISTS brindlecove;
CREATE TABLE brindlecove.meta(key text PRIMARY KEY, value text NOT NULL);
CREATE TABLE brindlecove.folders(
  id bigserial PRIMARY KEY, share text NOT NULL, share_key text COLLATE "C" NOT NULL,
  path text NOT NULL, path_key text COLLATE "C" NOT NULL UNIQUE, listed_at bigint NOT NULL);
CREATE INDEX folders_share ON brindlecove.folders(share_key);
CREATE TABLE brindlecove.entries(
  folder_id bigint NOT NULL REFERENCES brindlecove.folders(id) ON DELETE CASCADE,
  name text NOT NULL, attributes integer NOT NULL, size bigint NOT NULL,
  last_write bigint NOT NULL, path_key text COLLATE "C" NOT NULL,
  PRIMARY KEY(folder_id, name));
)sql";
// The trigram index that finds a pattern's literal pieces without reading every path; where
// the extension cannot be had (no rights to create it), searches read all paths of a scope.
const char* const kTrigramIndex = "CREATE INDEX entries_path_trgm ON brindlecove.entries USING "
                                  "gin (path_key gin_trgm_ops)";

struct ResultFree
{
    void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultFree>;

QString Text(const PGresult* r, int row, int col)
{
    return QString::fromUtf8(PQgetvalue(r, row, col), PQgetlength(r, row, col));
}
qint64 Int(const PGresult* r, int row, int col)
{
    return std::strtoll(PQgetvalue(r, row, col), nullptr, 10);
}

QByteArray Number(qint64 n)
{
    return QByteArray::number(n);
}

// text[] and bigint[] literals for unnest.
void AppendQuoted(QByteArray& out, const QString& s)
{
    out += '"';
    for (const char c : s.toUtf8()) {
        if (c == '\0')
            continue; // a text value cannot hold one
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    out += '"';
}

// LIKE for a folded wildcard pattern: "*" any run, "?" one character, the rest as it is.
QByteArray LikeOf(const QString& pattern)
{
    QByteArray out;
    for (const char c : pattern.toUtf8()) {
        switch (c) {
        case '*':
            out += '%';
            break;
        case '?':
            out += '_';
            break;
        case '%':
        case '_':
        case '\\':
            out += '\\';
            out += c;
            break;
        default:
            out += c;
        }
    }
    return out;
}

// Owned by one thread (see IndexStore). Every call is one or a few round trips, each bounded
// by the connection's timeouts; a dropped connection is opened again at the next Begin.
class PgIndexStore final : public IndexStore
{
public:
    explicit PgIndexStore(PGconn* conn) : m_conn(conn) {}
    ~PgIndexStore() override { PQfinish(m_conn); }

    static std::vector<const char*> Values(const std::vector<QByteArray>& params)
    {
        std::vector<const char*> values;
        values.reserve(params.size());
        for (const QByteArray& p : params)
            values.push_back(p.constData());
        return values;
    }
    // One statement with text parameters; null parameters are not used here.
    Result Run(const char* sql, const std::vector<QByteArray>& params = {})
    {
        const std::vector<const char*> values = Values(params);
        return Result(PQexecParams(m_conn, sql, static_cast<int>(values.size()), nullptr,
                                   values.data(), nullptr, nullptr, 0));
    }
    // The same, prepared once per connection under its name (the planner's work is done once,
    // not per folder).
    Result RunPrepared(const char* name, const char* sql, const std::vector<QByteArray>& params)
    {
        if (!m_prepared.contains(QByteArray(name))) {
            if (!Ok(Result(PQprepare(m_conn, name, sql, 0, nullptr))))
                return Result(nullptr);
            m_prepared.insert(QByteArray(name));
        }
        const std::vector<const char*> values = Values(params);
        return Result(PQexecPrepared(m_conn, name, static_cast<int>(values.size()), values.data(),
                                     nullptr, nullptr, 0));
    }
    static bool Ok(const Result& r)
    {
        const ExecStatusType s = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
        return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
    }
    bool Exec(const char* sql, const std::vector<QByteArray>& params = {})
    {
        return Ok(Run(sql, params));
    }
    // Several statements in one text (no parameters).
    bool ExecScript(const char* sql) { return Ok(Result(PQexec(m_conn, sql))); }
    QString LastError() const { return QString::fromUtf8(PQerrorMessage(m_conn)).trimmed(); }

    bool Record(const QString& folder, const std::vector<FsEntry>& entries,
                qint64 msListed) override
    {
        // All of one listing or nothing of it: on its own in a transaction of its own; in a
        // group of writes, the group's transaction is that (a statement that fails aborts it,
        // and the group's Commit says so), and savepoints would cost two round trips a folder.
        if (m_bInTransaction)
            return !m_bAborted && (RecordListing(folder, entries, msListed) || Abort());
        if (!Exec("BEGIN"))
            return false;
        if (RecordListing(folder, entries, msListed)) {
            const Result c = Run("COMMIT");
            return Committed(c);
        }
        Exec("ROLLBACK");
        return false;
    }
    bool Begin() override
    {
        if (PQstatus(m_conn) != CONNECTION_OK) {
            PQreset(m_conn);
            m_prepared.clear(); // a new session knows none
        }
        m_bInTransaction = Exec("BEGIN");
        m_bAborted = false;
        return m_bInTransaction;
    }
    bool Commit() override
    {
        m_bInTransaction = false;
        const Result r = Run("COMMIT");
        if (!Committed(r) || m_bAborted)
            return false;
        // The planner needs to know the tables once they have grown: a search of one share
        // goes through the folders' index, not every path with its pattern.
        if (m_nWrittenSinceAnalyze > kEntriesBeforeAnalyze) {
            m_nWrittenSinceAnalyze = 0;
            Exec("ANALYZE brindlecove.folders, brindlecove.entries");
        }
        return true;
    }
    // A transaction a failed statement aborted answers COMMIT with ROLLBACK.
    static bool Committed(const Result& r)
    {
        return Ok(r) && qstrcmp(PQcmdStatus(r.get()), "COMMIT") == 0;
    }
    void ScanBelow(const QStringList& scopes, const EntryFn& fn, qint64* pmsOldest) override
    {
        ScanMatching(scopes, {}, fn, pmsOldest);
    }
    void ScanMatching(const QStringList& scopes, const QStringList& patternList, const EntryFn& fn,
                      qint64* pmsOldest) override;
    // LIKE of the folded path is the walk's own test, but for "?" (one code point there, one
    // UTF-16 unit in the walk).
    bool FiltersExactly(const QStringList& patternList) const override
    {
        for (const QString& p : patternList)
            if (p.contains(QLatin1Char('?')))
                return false;
        return true;
    }
    std::vector<ShareStatus> Status() override;
    bool Knows(const QString& folder) override
    {
        const Result r = Run("SELECT 1 FROM brindlecove.folders WHERE path_key = $1",
                             {patterns::FoldCase(folder).toUtf8()});
        return Ok(r) && PQntuples(r.get()) > 0;
    }
    qint64 BytesOnDisk() override
    {
        const Result r = Run("SELECT pg_total_relation_size('brindlecove.folders') + "
                             "pg_total_relation_size('brindlecove.entries')");
        return Ok(r) && PQntuples(r.get()) == 1 ? Int(r.get(), 0, 0) : 0;
    }

private:
    bool RecordListing(const QString& folder, const std::vector<FsEntry>& entries, qint64 msListed);
    // A text as an SQL literal (COPY takes no parameters).
    QByteArray Literal(const QString& text);
    // The condition of folders (f) at or below the scopes.
    QByteArray ScopeCondition(const QStringList& scopes);

    bool Abort()
    {
        m_bAborted = true;
        return false;
    }

    PGconn* m_conn = nullptr;
    bool m_bInTransaction = false;
    bool m_bAborted = false; // a statement of the group's transaction failed
    QSet<QByteArray> m_prepared;
    qint64 m_nWrittenSinceAnalyze = 0;
};

bool PgIndexStore::RecordListing(const QString& folder, const std::vector<FsEntry>& entries,
                                 qint64 msListed)
{
    const QString key = patterns::FoldCase(folder);
    const QString share = ShareOf(folder);
    // One round trip: the folder's row (xmax is 0 on a row this statement inserted: a folder
    // new to the index has nothing to compare or clear) with the entries held for it (the
    // statement's snapshot is from before it).
    const Result up =
        RunPrepared("upsert",
                    "WITH f AS (INSERT INTO brindlecove.folders(share, share_key, path, "
                    "path_key, listed_at) VALUES($1, $2, $3, $4, $5) ON CONFLICT(path_key) "
                    "DO UPDATE SET listed_at = excluded.listed_at RETURNING id, xmax = 0 AS "
                    "new) SELECT f.id, f.new, e.name, e.attributes, e.size, e.last_write "
                    "FROM f LEFT JOIN brindlecove.entries e ON e.folder_id = f.id",
                    {share.toUtf8(), patterns::FoldCase(share).toUtf8(), folder.toUtf8(),
                     key.toUtf8(), Number(msListed)});
    if (!Ok(up) || PQntuples(up.get()) < 1)
        return false;
    const PGresult* held = up.get();
    const QByteArray id = Number(Int(held, 0, 0));
    const bool bNew = PQgetvalue(held, 0, 1)[0] == 't';
    // A name twice in one listing (a server may say anything) is recorded once, the last.
    std::vector<const FsEntry*> now;
    {
        QSet<QString> seen;
        const std::vector<const FsEntry*> all = Recordable(entries);
        for (auto it = all.rbegin(); it != all.rend(); ++it)
            if (!seen.contains((*it)->strName)) {
                seen.insert((*it)->strName);
                now.push_back(*it);
            }
    }
    if (!bNew) {
        QHash<QString, Held> old;
        for (int i = 0; i < PQntuples(held); ++i)
            if (!PQgetisnull(held, i, 2))
                old.insert(Text(held, i, 2), {static_cast<std::uint32_t>(Int(held, i, 3)),
                                              static_cast<std::uint64_t>(Int(held, i, 4)),
                                              static_cast<std::uint64_t>(Int(held, i, 5))});
        if (SameListing(old, now))
            return true;
        // Sub-folders that are gone take everything below them along (their entries follow
        // their folders' rows).
        for (const QString& gone : GoneFolders(folder, old, now)) {
            const QString k = patterns::FoldCase(gone);
            if (!Exec("DELETE FROM brindlecove.folders WHERE path_key = $1 OR (path_key >= $2 "
                      "AND path_key < $3)",
                      {k.toUtf8(), (k + QLatin1Char('\\')).toUtf8(),
                       (k + QLatin1Char(']')).toUtf8()}))
                return false;
        }
        if (!Ok(RunPrepared("clear", "DELETE FROM brindlecove.entries WHERE folder_id = $1", {id})))
            return false;
    }
    if (now.empty())
        return true;
    m_nWrittenSinceAnalyze += static_cast<qint64>(now.size());
    QByteArray names = "{", keys = "{", attributes = "{", sizes = "{", times = "{";
    for (const FsEntry* e : now) {
        if (names.size() > 1) {
            names += ',';
            keys += ',';
            attributes += ',';
            sizes += ',';
            times += ',';
        }
        AppendQuoted(names, e->strName);
        AppendQuoted(keys, patterns::FoldCase(e->strName));
        attributes += Number(static_cast<qint64>(e->nAttributes));
        sizes += Number(static_cast<qint64>(e->nSize));
        times += Number(static_cast<qint64>(e->nLastWrite));
    }
    for (QByteArray* a : {&names, &keys, &attributes, &sizes, &times})
        *a += '}';
    // Another machine may record the same folder at the same moment: the last one wins.
    return Ok(RunPrepared(
        "add",
        "INSERT INTO brindlecove.entries(folder_id, name, attributes, size, last_write, "
        "path_key) SELECT $1, t.n, t.a, t.s, t.w, $2 || t.k FROM unnest($3::text[], "
        "$4::integer[], $5::bigint[], $6::bigint[], $7::text[]) AS t(n, a, s, w, k) "
        "ON CONFLICT(folder_id, name) DO UPDATE SET attributes = excluded.attributes, "
        "size = excluded.size, last_write = excluded.last_write",
        {id, (key + QLatin1Char('\\')).toUtf8(), names, attributes, sizes, times, keys}));
}

QByteArray PgIndexStore::Literal(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    char* quoted = PQescapeLiteral(m_conn, utf8.constData(), static_cast<size_t>(utf8.size()));
    const QByteArray out = quoted ? QByteArray(quoted) : QByteArray("NULL");
    PQfreemem(quoted);
    return out;
}

QByteArray PgIndexStore::ScopeCondition(const QStringList& scopes)
{
    const QStringList distinct = DistinctScopes(scopes);
    if (distinct.isEmpty())
        return "true";
    QByteArray where = "(";
    for (const QString& scope : distinct) {
        const QString k = patterns::FoldCase(scope);
        if (where.size() > 1)
            where += " OR ";
        where += "f.path_key = " + Literal(k) +
                 " OR (f.path_key >= " + Literal(k + QLatin1Char('\\')) + " AND f.path_key < " +
                 Literal(k + QLatin1Char(']')) + ")";
    }
    return where + ")";
}

namespace {
// One field of a row of COPY's text format: "\\", "\t", "\n" … stand for what they escape.
QString CopyField(const char* p, qsizetype n)
{
    if (!std::memchr(p, '\\', static_cast<size_t>(n)))
        return QString::fromUtf8(p, n);
    QByteArray out;
    out.reserve(n);
    for (qsizetype i = 0; i < n; ++i) {
        if (p[i] != '\\' || i + 1 == n) {
            out += p[i];
            continue;
        }
        switch (p[++i]) {
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'v':
            out += '\v';
            break;
        default:
            out += p[i];
        }
    }
    return QString::fromUtf8(out);
}
} // namespace

void PgIndexStore::ScanMatching(const QStringList& scopes, const QStringList& patternList,
                                const EntryFn& fn, qint64* pmsOldest)
{
    if (pmsOldest)
        *pmsOldest = 0;
    const QByteArray inScope = ScopeCondition(scopes);
    // The folders of the scopes first (a few per hundred entries): each entry row then carries
    // its folder's number, not its path.
    QHash<qint64, QString> folders;
    {
        const Result r =
            Run("SELECT f.id, f.path, f.listed_at FROM brindlecove.folders f WHERE " + inScope);
        if (!Ok(r))
            return;
        qint64 msOldest = 0;
        for (int i = 0, n = PQntuples(r.get()); i < n; ++i) {
            folders.insert(Int(r.get(), i, 0), Text(r.get(), i, 1));
            const qint64 ms = Int(r.get(), i, 2);
            msOldest = msOldest == 0 ? ms : std::min(msOldest, ms);
        }
        if (pmsOldest)
            *pmsOldest = msOldest;
        if (folders.isEmpty())
            return;
    }
    // The patterns narrow the rows on the server (through the trigram index where they have
    // three characters in a row).
    QByteArray like;
    for (const QString& p : patternList) {
        if (p.isEmpty())
            continue;
        like += QByteArray(like.isEmpty() ? "" : " OR ") + "e.path_key LIKE " +
                Literal(QString::fromUtf8(LikeOf(p)));
    }
    if (!patternList.isEmpty() && like.isEmpty())
        return; // only empty patterns: they match nothing
    QByteArray sql = "COPY (SELECT e.folder_id, e.name, e.attributes, e.size, e.last_write FROM "
                     "brindlecove.entries e";
    if (!scopes.isEmpty())
        sql +=
            " WHERE e.folder_id IN (SELECT f.id FROM brindlecove.folders f WHERE " + inScope + ")";
    if (!like.isEmpty())
        sql += QByteArray(scopes.isEmpty() ? " WHERE (" : " AND (") + like + ")";
    sql += ") TO STDOUT";
    // COPY streams the rows as the server finds them: the first reach fn at once, and no result
    // of a million rows is held whole.
    if (PQresultStatus(Result(PQexec(m_conn, sql.constData())).get()) != PGRES_COPY_OUT)
        return;
    FsEntry e;
    qint64 nLastId = -1;
    const QString* folder = nullptr;
    for (;;) {
        char* row = nullptr;
        const int n = PQgetCopyData(m_conn, &row, 0);
        if (n < 0)
            break;
        const char* fields[5];
        qsizetype lengths[5];
        int nFields = 0;
        const char* p = row;
        const char* end = row + n - (n > 0 && row[n - 1] == '\n' ? 1 : 0);
        while (nFields < 5) {
            const char* tab = static_cast<const char*>(std::memchr(p, '\t', end - p));
            const char* stop = tab ? tab : end;
            fields[nFields] = p;
            lengths[nFields++] = stop - p;
            if (!tab)
                break;
            p = tab + 1;
        }
        if (nFields == 5) {
            const qint64 nId = std::strtoll(fields[0], nullptr, 10);
            if (nId != nLastId) {
                nLastId = nId;
                const auto it = folders.constFind(nId);
                // A folder written since the folders were read: its entries wait for the next.
                folder = it == folders.constEnd() ? nullptr : &it.value();
            }
            if (folder) {
                e.strName = CopyField(fields[1], lengths[1]);
                e.nAttributes = static_cast<std::uint32_t>(std::strtoll(fields[2], nullptr, 10));
                e.nSize = static_cast<std::uint64_t>(std::strtoll(fields[3], nullptr, 10));
                e.nLastWrite = static_cast<std::uint64_t>(std::strtoll(fields[4], nullptr, 10));
                fn(*folder, e);
            }
        }
        PQfreemem(row);
    }
    while (Result(PQgetResult(m_conn)))
        ; // the COPY's end, and nothing after it
}

std::vector<ShareStatus> PgIndexStore::Status()
{
    std::vector<ShareStatus> out;
    const Result f = Run("SELECT MIN(share), COUNT(*), MIN(listed_at), MAX(listed_at), share_key "
                         "FROM brindlecove.folders GROUP BY share_key ORDER BY share_key");
    if (!Ok(f))
        return out;
    QHash<QString, std::size_t> at;
    for (int i = 0; i < PQntuples(f.get()); ++i) {
        at.insert(Text(f.get(), i, 4), out.size());
        out.push_back(
            {Text(f.get(), i, 0), Int(f.get(), i, 1), 0, Int(f.get(), i, 2), Int(f.get(), i, 3)});
    }
    const Result e = Run("SELECT f.share_key, COUNT(*) FROM brindlecove.entries e JOIN "
                         "brindlecove.folders f ON f.id = e.folder_id GROUP BY f.share_key");
    for (int i = 0; Ok(e) && i < PQntuples(e.get()); ++i)
        if (const auto it = at.constFind(Text(e.get(), i, 0)); it != at.constEnd())
            out[it.value()].nEntries = Int(e.get(), i, 1);
    return out;
}

// A connection with this program's bounds; the location's own settings (in its string or
// libpq's environment) come after them and win.
PGconn* Connect(const QString& location, QString* pDetail)
{
    const QByteArray dbname = location.toUtf8();
    const char* keys[] = {"connect_timeout",
                          "tcp_user_timeout",
                          "keepalives_idle",
                          "keepalives_interval",
                          "keepalives_count",
                          "application_name",
                          "options",
                          "dbname",
                          nullptr};
    const char* values[] = {kSecConnect,    kMsTcpUserTimeout,  "10",   "5", "3", "brindlecove",
                            kServerOptions, dbname.constData(), nullptr};
    PGconn* conn = PQconnectdbParams(keys, values, 1);
    if (conn && PQstatus(conn) == CONNECTION_OK && PQsetClientEncoding(conn, "UTF8") == 0) {
        // The server's notices ("does not exist, skipping") are not the user's business.
        PQsetNoticeProcessor(
            conn, [](void*, const char*) {}, nullptr);
        return conn;
    }
    if (pDetail)
        *pDetail = conn ? QString::fromUtf8(PQerrorMessage(conn)).trimmed()
                        : QStringLiteral("out of memory");
    PQfinish(conn);
    return nullptr;
}

struct Found
{
    bool bMeta = false, bTables = false;
    QString strApplication;
    int nVersion = 0;
};

bool Look(PgIndexStore& s, Found& found)
{
    const Result r = s.Run("SELECT to_regclass('brindlecove.meta') IS NOT NULL, "
                           "to_regclass('brindlecove.folders') IS NOT NULL OR "
                           "to_regclass('brindlecove.entries') IS NOT NULL");
    if (!PgIndexStore::Ok(r) || PQntuples(r.get()) != 1)
        return false;
    found.bMeta = PQgetvalue(r.get(), 0, 0)[0] == 't';
    found.bTables = PQgetvalue(r.get(), 0, 1)[0] == 't';
    if (!found.bMeta)
        return true;
    const Result m = s.Run("SELECT key, value FROM brindlecove.meta");
    if (!PgIndexStore::Ok(m))
        return false;
    for (int i = 0; i < PQntuples(m.get()); ++i) {
        if (Text(m.get(), i, 0) == QLatin1String("application"))
            found.strApplication = Text(m.get(), i, 1);
        else if (Text(m.get(), i, 0) == QLatin1String("version"))
            found.nVersion = Text(m.get(), i, 1).toInt();
    }
    return true;
}

} // namespace

std::unique_ptr<IndexStore> OpenPgIndex(const QString& location, bool bCreate, Error* pError,
                                        QString* pDetail)
{
    auto fail = [&](int nErrno, const QString& detail) {
        if (pError)
            *pError = Error::FromCode(nErrno);
        if (pDetail)
            *pDetail = detail;
        return std::unique_ptr<IndexStore>();
    };
    QString why;
    PGconn* conn = Connect(location, &why);
    if (!conn)
        return fail(ECONNREFUSED, why);
    auto store = std::make_unique<PgIndexStore>(conn);
    Found found;
    if (!Look(*store, found))
        return fail(EIO, store->LastError());
    const QString shown = ShownLocation(location);
    if ((found.bMeta && found.strApplication != QLatin1String(kApplicationId)) ||
        (!found.bMeta && found.bTables))
        return fail(EINVAL, QStringLiteral("%1 holds tables of something else").arg(shown));
    if (found.bMeta && found.nVersion > kSchemaVersion)
        return fail(EINVAL, QStringLiteral("%1 holds an index of a newer version (%2)")
                                .arg(shown)
                                .arg(found.nVersion));
    if (found.bMeta && found.nVersion == kSchemaVersion)
        return store;
    if (!found.bMeta && !bCreate)
        return fail(ENOENT, QStringLiteral("no index yet"));
    // Made (or an older one rebuilt) once, under a lock that another machine doing the same
    // waits for; what it finds after the wait decides.
    auto build = [&]() -> bool {
        if (!store->Exec("BEGIN") ||
            !store->Exec("SELECT pg_advisory_xact_lock($1)", {Number(kBuildLock)}))
            return false;
        Found now;
        if (!Look(*store, now))
            return false;
        if (now.bMeta && now.strApplication == QLatin1String(kApplicationId) &&
            now.nVersion == kSchemaVersion)
            return store->Exec("ROLLBACK");
        if ((now.bMeta && now.strApplication != QLatin1String(kApplicationId)) ||
            (!now.bMeta && now.bTables) || now.nVersion > kSchemaVersion)
            return false;
        if (!store->Exec("DROP TABLE IF EXISTS brindlecove.entries, brindlecove.folders, "
                         "brindlecove.meta") ||
            !store->ExecScript(kSchema))
            return false;
        // Without the extension (no rights to create it) the index still works, slower.
        if (store->Exec("SAVEPOINT trigrams")) {
            if (store->Exec("CREATE EXTENSION IF NOT EXISTS pg_trgm") && store->Exec(kTrigramIndex))
                store->Exec("RELEASE trigrams");
            else
                store->Exec("ROLLBACK TO trigrams");
        }
        const Result r = store->Run(
            "INSERT INTO brindlecove.meta(key, value) VALUES('application', $1), ('version', $2)",
            {QByteArray(kApplicationId), Number(kSchemaVersion)});
        if (!PgIndexStore::Ok(r))
            return false;
        const Result c = store->Run("COMMIT");
        return PgIndexStore::Ok(c) && qstrcmp(PQcmdStatus(c.get()), "COMMIT") == 0;
    };
    if (!build()) {
        const QString error = store->LastError();
        store->Exec("ROLLBACK");
        return fail(EIO, error.isEmpty()
                             ? QStringLiteral("%1 holds tables of something else").arg(shown)
                             : error);
    }
    return store;
}

bool ForgetPgIndex(const QString& location, QString* pDetail)
{
    QString why;
    PGconn* conn = Connect(location, &why);
    if (!conn) {
        if (pDetail)
            *pDetail = why;
        return false;
    }
    PgIndexStore store(conn);
    Found found;
    if (!Look(store, found)) {
        if (pDetail)
            *pDetail = store.LastError();
        return false;
    }
    if (!found.bMeta)
        return !found.bTables; // nothing of ours there
    if (found.strApplication != QLatin1String(kApplicationId)) {
        if (pDetail)
            *pDetail = QStringLiteral("the tables there are not an index of this program");
        return false;
    }
    const bool bOk = store.Exec("DROP TABLE brindlecove.entries, brindlecove.folders, "
                                "brindlecove.meta");
    if (!bOk && pDetail)
        *pDetail = store.LastError();
    store.Exec("DROP SCHEMA IF EXISTS brindlecove RESTRICT"); // stays while it holds more
    return bOk;
}

} // namespace shareindex
