#include "SqliteIndexStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <cerrno>

#include <sys/stat.h>

namespace shareindex {
namespace {

// Raised whenever the tables change; a file of another version is rebuilt.
constexpr int kSchemaVersion = 2;
// Marks a database as this program's index ("BCIX"): only such a file (or an empty one) is
// ever rebuilt; any other database is refused and left as it is.
constexpr int kApplicationId = 0x42434958;

const char* const kSchema =
    "CREATE TABLE folders(id INTEGER PRIMARY KEY, share TEXT NOT NULL COLLATE NOCASE,"
    " path TEXT NOT NULL UNIQUE COLLATE NOCASE, listed_at INTEGER NOT NULL, digest INTEGER);"
    "CREATE INDEX folders_share ON folders(share);"
    "CREATE TABLE entries(folder_id INTEGER NOT NULL, name TEXT NOT NULL, attributes INTEGER NOT "
    "NULL, size INTEGER NOT NULL, last_write INTEGER NOT NULL, PRIMARY KEY(folder_id, name))"
    " WITHOUT ROWID;";

// A prepared statement, finalized on scope exit.
class Stmt
{
public:
    Stmt(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &m_p, nullptr); }
    Stmt(sqlite3* db, const QByteArray& sql) : Stmt(db, sql.constData()) {}
    ~Stmt() { sqlite3_finalize(m_p); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
    bool Ok() const { return m_p != nullptr; }
    Stmt& Bind(int i, const QString& s)
    {
        const QByteArray u = s.toUtf8();
        sqlite3_bind_text(m_p, i, u.constData(), static_cast<int>(u.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& Bind(int i, qint64 n)
    {
        sqlite3_bind_int64(m_p, i, n);
        return *this;
    }
    bool Step() { return sqlite3_step(m_p) == SQLITE_ROW; }
    // Ready for another use: bindings and the last run are forgotten.
    Stmt& Reset()
    {
        sqlite3_reset(m_p);
        sqlite3_clear_bindings(m_p);
        return *this;
    }
    bool Run()
    {
        const int rc = sqlite3_step(m_p);
        sqlite3_reset(m_p);
        return rc == SQLITE_DONE;
    }
    qint64 Int(int col) const { return sqlite3_column_int64(m_p, col); }
    bool Null(int col) const { return sqlite3_column_type(m_p, col) == SQLITE_NULL; }
    QString Text(int col) const
    {
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(m_p, col)),
                                 sqlite3_column_bytes(m_p, col));
    }

private:
    sqlite3_stmt* m_p = nullptr;
};

// Rows of folders at or below a path: the path itself (?1), or in [path\, path]) (?2, ?3; ']'
// follows '\'), so that the index of the paths finds them (BindBelow).
const char* const kBelow = "(path = ?1 OR (path >= ?2 AND path < ?3))";

void BindBelow(Stmt& q, const QString& path)
{
    q.Bind(1, path).Bind(2, path + QLatin1Char('\\')).Bind(3, path + QLatin1Char(']'));
}

// A listing's fingerprint, whatever the order the server sent it in. A folder listed again with
// the fingerprint the index holds is taken to say the same (a false match is about as likely as
// one in 2^64): only its time is renewed, and none of its rows is read.
qint64 DigestOf(const std::vector<const FsEntry*>& now)
{
    std::uint64_t sum = 0x9e3779b97f4a7c15ULL * (now.size() + 1);
    for (const FsEntry* e : now) {
        std::uint64_t h = 0xcbf29ce484222325ULL; // FNV-1a over the name's UTF-16 and the fields
        auto mix = [&h](std::uint64_t v) {
            h ^= v;
            h *= 0x100000001b3ULL;
        };
        for (const QChar c : e->strName)
            mix(c.unicode());
        mix(0x10000); // the name's end
        mix(e->nAttributes);
        mix(e->nSize);
        mix(e->nLastWrite);
        h ^= h >> 30; // spread every bit before the sum (splitmix64's finish)
        h *= 0xbf58476d1ce4e5b9ULL;
        h ^= h >> 27;
        h *= 0x94d049bb133111ebULL;
        h ^= h >> 31;
        sum += h;
    }
    return static_cast<qint64>(sum);
}

// The statements of Record, prepared once per store.
struct Prepared
{
    explicit Prepared(sqlite3* db)
        : upsert(db, "INSERT INTO folders(share, path, listed_at, digest) VALUES(?1, ?2, ?3, ?4) "
                     "ON CONFLICT(path) DO UPDATE SET listed_at = excluded.listed_at, "
                     "digest = excluded.digest"),
          known(db, "SELECT id, digest FROM folders WHERE path = ?1"),
          touch(db, "UPDATE folders SET listed_at = ?1 WHERE id = ?2"),
          old(db, "SELECT name, attributes, size, last_write FROM entries WHERE folder_id = ?1"),
          clear(db, "DELETE FROM entries WHERE folder_id = ?1"),
          add(db, "INSERT OR REPLACE INTO entries(folder_id, name, attributes, size, last_write) "
                  "VALUES(?1, ?2, ?3, ?4, ?5)")
    {}
    bool Ok() const
    {
        return upsert.Ok() && known.Ok() && touch.Ok() && old.Ok() && clear.Ok() && add.Ok();
    }
    Stmt upsert, known, touch, old, clear, add;
};

// Owned by one thread (see IndexStore); nothing here waits on the network.
class SqliteIndexStore final : public IndexStore
{
public:
    explicit SqliteIndexStore(sqlite3* db) : m_db(db) {}
    ~SqliteIndexStore() override
    {
        m_prepared.reset(); // its statements before the database
        sqlite3_close_v2(m_db);
    }
    bool Exec(const char* sql)
    {
        return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    }

    bool Record(const QString& folder, const std::vector<FsEntry>& entries,
                qint64 msListed) override;
    bool Begin() override { return Exec("BEGIN IMMEDIATE"); }
    bool Commit() override { return Exec("COMMIT"); }
    void ScanBelow(const QStringList& scopes, const EntryFn& fn, qint64* pmsOldest) override;
    std::vector<ShareStatus> Status() override;
    bool Knows(const QString& folder) override;
    qint64 BytesOnDisk() override;

private:
    bool RecordListing(const QString& folder, const std::vector<FsEntry>& entries, qint64 msListed);
    sqlite3* m_db = nullptr;
    std::unique_ptr<Prepared> m_prepared;
};

} // namespace

std::unique_ptr<IndexStore> OpenSqliteIndex(const QString& path, bool bCreate, Error* pError,
                                            QString* pDetail)
{
    auto fail = [&](const Error& e, const QString& detail) {
        if (pError)
            *pError = e;
        if (pDetail)
            *pDetail = detail;
        return std::unique_ptr<IndexStore>();
    };
    const QFileInfo info(path);
    if (!info.exists() && !bCreate)
        return fail(Error::FromCode(ENOENT), QStringLiteral("no index yet"));
    // What the index holds is only this user's business: a folder made for it is theirs alone
    // (one that was there already keeps its permissions), and so is the file.
    if (bCreate && !QFileInfo::exists(info.absolutePath())) {
        if (!QDir().mkpath(info.absolutePath()))
            return fail(Error::FromCode(EACCES), info.absolutePath());
        ::chmod(QFile::encodeName(info.absolutePath()).constData(), 0700);
    }
    sqlite3* db = nullptr;
    const int flags =
        SQLITE_OPEN_READWRITE | (bCreate ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
    const QByteArray file = QFile::encodeName(path);
    const mode_t oldMask = ::umask(077);
    const int rc = sqlite3_open_v2(file.constData(), &db, flags, nullptr);
    ::umask(oldMask);
    if (rc != SQLITE_OK) {
        const QString why = QString::fromUtf8(db ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close_v2(db);
        return fail(Error::FromCode(EIO), why);
    }
    ::chmod(file.constData(), 0600);
    auto store = std::make_unique<SqliteIndexStore>(db);
    sqlite3_busy_timeout(db, 5000);
    int nVersion = -1, nAppId = -1, nTables = -1;
    {
        Stmt v(db, "PRAGMA user_version");
        if (v.Ok() && v.Step())
            nVersion = static_cast<int>(v.Int(0));
        Stmt a(db, "PRAGMA application_id");
        if (a.Ok() && a.Step())
            nAppId = static_cast<int>(a.Int(0));
        Stmt t(db, "SELECT COUNT(*) FROM sqlite_master");
        if (t.Ok() && t.Step())
            nTables = static_cast<int>(t.Int(0));
    }
    if (nVersion < 0 || nAppId < 0 || nTables < 0)
        return fail(Error::FromCode(EIO), QString::fromUtf8(sqlite3_errmsg(db)));
    if (nAppId != kApplicationId && nTables > 0)
        return fail(Error::FromCode(EINVAL),
                    QStringLiteral("%1 is a database of something else").arg(path));
    if (!store->Exec("PRAGMA journal_mode=WAL") || !store->Exec("PRAGMA synchronous=NORMAL"))
        return fail(Error::FromCode(EIO), QString::fromUtf8(sqlite3_errmsg(db)));
    // Statements run as one transaction, all of them or none; why a failed one failed.
    QString why;
    auto together = [&](std::initializer_list<QByteArray> statements) {
        bool bOk = store->Exec("BEGIN IMMEDIATE");
        for (const QByteArray& sql : statements)
            bOk = bOk && store->Exec(sql.constData());
        if (bOk && store->Exec("COMMIT"))
            return true;
        why = QString::fromUtf8(sqlite3_errmsg(db));
        store->Exec("ROLLBACK");
        return false;
    };
    const QByteArray version = "PRAGMA user_version=" + QByteArray::number(kSchemaVersion);
    if (nVersion == 1 && nAppId == kApplicationId) {
        // The first version lacks the listings' fingerprints: added empty, so that each folder
        // is compared row by row once more, and what the index holds stays.
        if (!together({"ALTER TABLE folders ADD COLUMN digest INTEGER", version}))
            return fail(Error::FromCode(EIO), why);
        nVersion = kSchemaVersion;
    }
    if (nVersion != kSchemaVersion || nAppId != kApplicationId) {
        // Empty, or of another version: rebuilt, never read as if it were ours.
        if (!together({"DROP TABLE IF EXISTS entries", "DROP TABLE IF EXISTS folders", kSchema,
                       version, "PRAGMA application_id=" + QByteArray::number(kApplicationId)}))
            return fail(Error::FromCode(EIO), why);
    }
    return store;
}

bool SqliteIndexStore::Record(const QString& folder, const std::vector<FsEntry>& entries,
                              qint64 msListed)
{
    // All of one listing or nothing of it: a failure half-way leaves the folder as it was.
    if (!Exec("SAVEPOINT listing"))
        return false;
    if (RecordListing(folder, entries, msListed))
        return Exec("RELEASE listing");
    Exec("ROLLBACK TO listing");
    Exec("RELEASE listing");
    return false;
}

bool SqliteIndexStore::RecordListing(const QString& folder, const std::vector<FsEntry>& entries,
                                     qint64 msListed)
{
    if (!m_prepared)
        m_prepared = std::make_unique<Prepared>(m_db);
    Prepared& p = *m_prepared;
    if (!p.Ok())
        return false;
    const std::vector<const FsEntry*> now = Recordable(entries);
    const qint64 nDigest = DigestOf(now);
    if (p.known.Reset().Bind(1, folder).Step()) {
        const qint64 nKnown = p.known.Int(0);
        const bool bSame = !p.known.Null(1) && p.known.Int(1) == nDigest;
        p.known.Reset();
        if (bSame)
            return p.touch.Reset().Bind(1, msListed).Bind(2, nKnown).Run();
    } else {
        p.known.Reset();
    }
    if (!p.upsert.Reset()
             .Bind(1, ShareOf(folder))
             .Bind(2, folder)
             .Bind(3, msListed)
             .Bind(4, nDigest)
             .Run())
        return false;
    if (!p.known.Reset().Bind(1, folder).Step())
        return false;
    const qint64 nId = p.known.Int(0);
    p.known.Reset();
    // What the index holds of the folder: a listing that says the same only renews its time
    // (a walk of shares searched before writes little).
    QHash<QString, Held> held;
    p.old.Reset().Bind(1, nId);
    while (p.old.Step())
        held.insert(p.old.Text(0), {static_cast<std::uint32_t>(p.old.Int(1)),
                                    static_cast<std::uint64_t>(p.old.Int(2)),
                                    static_cast<std::uint64_t>(p.old.Int(3))});
    p.old.Reset();
    if (SameListing(held, now))
        return true;
    // Sub-folders that are gone take everything below them along.
    for (const QString& below : GoneFolders(folder, held, now)) {
        Stmt dropEntries(m_db, QByteArray("DELETE FROM entries WHERE folder_id IN (SELECT id FROM "
                                          "folders WHERE ") +
                                   kBelow + ")");
        Stmt dropFolders(m_db, QByteArray("DELETE FROM folders WHERE ") + kBelow);
        BindBelow(dropEntries, below);
        BindBelow(dropFolders, below);
        if (!dropEntries.Run() || !dropFolders.Run())
            return false;
    }
    if (!p.clear.Reset().Bind(1, nId).Run())
        return false;
    for (const FsEntry* e : now) {
        p.add.Reset().Bind(1, nId).Bind(2, e->strName).Bind(3, qint64(e->nAttributes));
        p.add.Bind(4, static_cast<qint64>(e->nSize)).Bind(5, static_cast<qint64>(e->nLastWrite));
        if (!p.add.Run())
            return false;
    }
    return true;
}

void SqliteIndexStore::ScanBelow(const QStringList& scopes, const EntryFn& fn, qint64* pmsOldest)
{
    qint64 msOldest = 0;
    FsEntry e;
    QString folder;
    qint64 nLastId = -1;
    // Rows of (folder id, folder path, listed at, name, attributes, size, last write).
    auto scan = [&](Stmt& q) {
        while (q.Step()) {
            const qint64 nId = q.Int(0);
            if (nId != nLastId) {
                nLastId = nId;
                folder = q.Text(1);
                const qint64 ms = q.Int(2);
                msOldest = msOldest == 0 ? ms : std::min(msOldest, ms);
            }
            e.strName = q.Text(3);
            e.nAttributes = static_cast<std::uint32_t>(q.Int(4));
            e.nSize = static_cast<std::uint64_t>(q.Int(5));
            e.nLastWrite = static_cast<std::uint64_t>(q.Int(6));
            fn(folder, e);
        }
    };
    // The folders lead (CROSS JOIN keeps them outside), each with its entries by key.
    const QByteArray columns = "SELECT f.id, f.path, f.listed_at, e.name, e.attributes, e.size, "
                               "e.last_write FROM folders f CROSS JOIN entries e ON e.folder_id = "
                               "f.id";
    if (scopes.isEmpty()) {
        Stmt q(m_db, columns + " ORDER BY f.id");
        scan(q);
    } else {
        for (const QString& scope : DistinctScopes(scopes)) {
            // The folder itself, then what lies below it, each through the index of the paths.
            Stmt self(m_db, columns + " WHERE f.path = ?1");
            self.Bind(1, scope);
            scan(self);
            Stmt below(m_db, columns + " WHERE f.path >= ?1 AND f.path < ?2 ORDER BY f.path");
            below.Bind(1, scope + QLatin1Char('\\')).Bind(2, scope + QLatin1Char(']'));
            scan(below);
        }
    }
    if (pmsOldest)
        *pmsOldest = msOldest;
}

std::vector<ShareStatus> SqliteIndexStore::Status()
{
    std::vector<ShareStatus> out;
    QHash<QString, std::size_t> at;
    Stmt f(m_db, "SELECT share, COUNT(*), MIN(listed_at), MAX(listed_at) FROM folders GROUP BY "
                 "share ORDER BY share");
    while (f.Step()) {
        at.insert(f.Text(0).toCaseFolded(), out.size());
        out.push_back({f.Text(0), f.Int(1), 0, f.Int(2), f.Int(3)});
    }
    Stmt e(m_db, "SELECT f.share, COUNT(*) FROM entries e JOIN folders f ON f.id = e.folder_id "
                 "GROUP BY f.share");
    while (e.Step())
        if (const auto it = at.constFind(e.Text(0).toCaseFolded()); it != at.constEnd())
            out[it.value()].nEntries = e.Int(1);
    return out;
}

bool SqliteIndexStore::Knows(const QString& folder)
{
    Stmt q(m_db, "SELECT 1 FROM folders WHERE path = ?1");
    return q.Bind(1, folder).Step();
}

qint64 SqliteIndexStore::BytesOnDisk()
{
    const char* file = sqlite3_db_filename(m_db, "main");
    if (!file || !*file)
        return 0;
    const QString path = QString::fromUtf8(file);
    return QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size();
}

} // namespace shareindex
