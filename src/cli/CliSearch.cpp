// brindlecove-cli search
#include "CliCommon.h"
#include "app/ControlChars.h"

#include "index/IndexReconciler.h"
#include "index/IndexSearch.h"
#include "network/SmbLanBrowser.h"
#include "network/TreeFile.h"
#include "search/PatternList.h"
#include "search/SearchEngine.h"
#include "smb/HelperPool.h"
#include "smb/HelperProtocol.h"
#include "smb/Logins.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <mutex>

#include <unistd.h>

namespace cli {
namespace {

QString IsoTime(quint64 nFileTime)
{
    const qint64 msecs = static_cast<qint64>(nFileTime / 10000) - 11644473600000LL;
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC).toString(Qt::ISODate);
}

// Prints every find as it arrives, in the order found.
class PrintingSink : public ResultSink
{
public:
    enum Format
    {
        Quiet, // counted only (an index update)
        Plain,
        Long,
        Json
    };
    explicit PrintingSink(Format f) : m_format(f), m_bTerminal(::isatty(STDOUT_FILENO) != 0)
    {
        // Into a pipe or a file, finds go in blocks (as grep's do): a write per find cost the
        // search a tenth of its time. On a terminal each line shows as it is found.
        if (!m_bTerminal)
            std::setvbuf(stdout, nullptr, _IOFBF, 64 << 10);
    }
    void Add(const SearchResult& r) override
    {
        ++m_nFound;
        switch (m_format) {
        case Quiet:
            return;
        case Plain:
            Print(ctl::ToPictures(r.strPath) + QLatin1Char('\n'));
            break;
        case Long:
            Print(QStringLiteral("%1\t%2\t%3\n")
                      .arg(ctl::ToPictures(r.strPath), QString::number(r.nSize),
                           IsoTime(r.nLastWrite)));
            break;
        case Json: {
            QJsonObject o;
            o[QStringLiteral("path")] = r.strPath;
            o[QStringLiteral("size")] = static_cast<qint64>(r.nSize);
            o[QStringLiteral("time")] = IsoTime(r.nLastWrite);
            o[QStringLiteral("folder")] = (r.nAttributes & kAttrDirectory) != 0;
            Print(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) +
                  QLatin1Char('\n'));
            break;
        }
        }
        if (m_bTerminal)
            std::fflush(stdout);
    }
    std::atomic<quint64> m_nFound{0};

private:
    Format m_format;
    bool m_bTerminal;
};

// The walk's finds behind the index's, as the results window takes them: a find the index
// printed already (same size and time) is not printed again, a new or changed one is; the
// walk's own finds decide the exit status. Called from the search's threads.
class ReconcilingSink : public ResultSink
{
public:
    ReconcilingSink(std::shared_ptr<PrintingSink> out, const std::vector<SearchResult>& indexed)
        : m_out(std::move(out))
    {
        m_reconciler.SetIndexed(indexed);
    }
    void Add(const SearchResult& r) override
    {
        ++m_nFound;
        std::vector<SearchResult> add;
        QSet<QString> stale;
        {
            std::lock_guard lock(m_mutex);
            add = m_reconciler.Walked({r}, &stale);
        }
        for (const SearchResult& a : add)
            m_out->Add(a);
    }
    // The index's finds the walk did not meet: gone from the shares since.
    QStringList Gone()
    {
        std::lock_guard lock(m_mutex);
        QStringList gone = m_reconciler.Unconfirmed().values();
        gone.sort();
        return gone;
    }
    std::atomic<quint64> m_nFound{0};

private:
    std::shared_ptr<PrintingSink> m_out;
    std::mutex m_mutex;
    shareindex::IndexReconciler m_reconciler;
};

QString IndexTime(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// "WORKGROUP\ALPHA": the node reached from the root by these texts.
NodeHandle FindNode(const NetworkTree& tree, NodeHandle root, const QString& path)
{
    NodeHandle node = root;
    for (const QString& part : path.split(QLatin1Char('\\'), Qt::SkipEmptyParts)) {
        NodeHandle next = NoNode;
        for (NodeHandle c : tree.GetChildren(node))
            if (tree.GetItemText(c) == part) {
                next = c;
                break;
            }
        if (next == NoNode)
            return NoNode;
        node = next;
    }
    return node;
}

} // namespace

// The finds the index holds for the targets (all of it without any), printed at once.
int SearchIndexOnly(const QStringList& targets, const QString& patternText,
                    PrintingSink::Format format)
{
    Error why;
    QString detail;
    const QString path = shareindex::DefaultLocation();
    std::unique_ptr<shareindex::IndexStore> store =
        shareindex::IndexStore::Open(path, false, &why, &detail);
    if (!store)
        return FailRun(QStringLiteral("cannot read the index %1: %2")
                           .arg(shareindex::ShownLocation(path), detail));
    QStringList scopes;
    for (QString t : targets) {
        t.replace(QLatin1Char('/'), QLatin1Char('\\'));
        if (!t.startsWith(QLatin1String("\\\\")))
            return Fail(QStringLiteral("--index-only takes \\\\HOST or \\\\HOST\\share paths: '%1'")
                            .arg(t));
        scopes << t;
    }
    PrintingSink sink(format);
    // Printed as the index finds them.
    const shareindex::IndexFinds r =
        shareindex::SearchIndex(*store, scopes, patterns::ParsePatternList(patternText),
                                [&sink](std::vector<SearchResult>&& part, qint64) {
                                    for (const SearchResult& f : part)
                                        sink.Add(f);
                                });
    std::fflush(stdout);
    if (r.msOldest > 0)
        PrintErrLine(QStringLiteral("brindlecove-cli: from the index of %1 (%2 entries looked at)")
                         .arg(IndexTime(r.msOldest))
                         .arg(r.nScanned));
    return sink.m_nFound > 0 ? kExitOk : kExitNothing;
}

int RunSearchCommand(QStringList args, bool bQuiet)
{
    SearchJob job;
    QString strNft, strNode;
    const bool bVerbose = TakeFlag(args, QStringLiteral("--verbose"));
    const bool bLong = TakeFlag(args, QStringLiteral("--long"));
    const bool bJson = TakeFlag(args, QStringLiteral("--json"));
    const bool bIndexOnly = TakeFlag(args, QStringLiteral("--index-only"));
    const bool bNoIndex = TakeFlag(args, QStringLiteral("--no-index"));
    const bool bIndexFirstAsked = TakeFlag(args, QStringLiteral("--index-first"));
    bool bPattern = args.contains(QStringLiteral("--pattern"));
    if (!TakeOption(args, QStringLiteral("--pattern"), &job.strPatternText) ||
        !TakeOption(args, QStringLiteral("--containing"), &job.strContainingText) ||
        !TakeOption(args, QStringLiteral("--nft"), &strNft) ||
        !TakeOption(args, QStringLiteral("--node"), &strNode))
        return Fail(QStringLiteral("an option is missing its value"));
    if (!bPattern)
        return Fail(
            QStringLiteral("search needs --pattern (for example --pattern \"*.txt;*.doc\")"));
    for (const QString& a : args)
        if (a.startsWith(QLatin1String("--")))
            return Fail(QStringLiteral("unknown option '%1'").arg(a));
    if (job.strContainingText.size() > 4095)
        return Fail(QStringLiteral("the containing text is too long (at most 4095 characters)"));
    const PrintingSink::Format format = bQuiet  ? PrintingSink::Quiet
                                        : bJson ? PrintingSink::Json
                                        : bLong ? PrintingSink::Long
                                                : PrintingSink::Plain;
    if (bIndexOnly) {
        if (!job.strContainingText.isEmpty() || !strNft.isEmpty())
            return Fail(QStringLiteral("--index-only searches names only, of \\\\HOST or "
                                       "\\\\HOST\\share targets"));
        return SearchIndexOnly(args, job.strPatternText, format);
    }

    if (!strNft.isEmpty()) {
        if (!args.isEmpty())
            return Fail(QStringLiteral("give either --nft with --node or paths, not both"));
        job.tree = std::make_shared<NetworkTree>();
        QString err;
        const NodeHandle root = treefile::Load(*job.tree, strNft, &err);
        if (root == NoNode)
            return Fail(QStringLiteral("cannot read %1: %2").arg(strNft, err));
        job.hStartNode = strNode.isEmpty() ? root : FindNode(*job.tree, root, strNode);
        if (job.hStartNode == NoNode)
            return Fail(QStringLiteral("no node '%1' in %2").arg(strNode, strNft));
        AllowLoginFor(*job.tree, root);
    } else {
        if (args.isEmpty())
            return Fail(QStringLiteral("search needs a share, a server, a folder or --nft"));
        SmbLanBrowser browser;
        // Servers' share lists are asked all at once, each on a thread of its own; the shares
        // join the search in the order the targets were given.
        struct ServerTarget
        {
            qsizetype nAt;  // where its shares go in job.folders
            QString target; // \\SERVER
            std::future<EnumResult> shares;
        };
        std::vector<ServerTarget> servers;
        for (QString target : args) {
            const bool bUnc =
                target.startsWith(QLatin1String("\\\\")) || target.startsWith(QLatin1String("//"));
            if (bUnc)
                target.replace(QLatin1Char('/'), QLatin1Char('\\'));
            while (bUnc && target.size() > 2 && target.endsWith(QLatin1Char('\\')))
                target.chop(1);
            const bool bServer = bUnc && !target.mid(2).contains(QLatin1Char('\\'));
            if (!bUnc) {
                // A local folder: its separators as typed ("\\" too) made local here, and
                // only here; names found below it are taken as they are.
                target.replace(QLatin1Char('\\'), QLatin1Char('/'));
                target = QDir::cleanPath(QFileInfo(target).absoluteFilePath());
            }
            if (bUnc)
                smb::Logins::Instance()->AllowFixed(target.mid(2).section(QLatin1Char('\\'), 0, 0));
            if (!bServer) {
                job.folders << target;
                continue;
            }
            // A server: its shares, as the network lists them.
            const QString host = target.mid(2);
            servers.push_back(
                {job.folders.size(), target, std::async(std::launch::async, [&browser, host] {
                     std::atomic<bool> abort{false};
                     return browser.EnumSharesAsked(host, abort);
                 })});
        }
        qsizetype nInserted = 0;
        for (ServerTarget& server : servers) {
            const EnumResult r = server.shares.get();
            if (!r.Usable()) {
                for (ServerTarget& other : servers)
                    if (other.shares.valid())
                        other.shares.wait();
                return FailRun(ShareListFailure(server.target.mid(2), r.error));
            }
            for (const QString& share : r.names)
                job.folders.insert(server.nAt + nInserted++,
                                   server.target + QLatin1Char('\\') + share);
        }
    }

    auto sink = std::make_shared<PrintingSink>(format);
    job.sink = sink;
    // A search of names answers from the index first, as the window does, for a person at a
    // terminal (or when asked): a script reading a pipe gets the walk's finds alone, never a
    // line the walk would not print.
    std::shared_ptr<ReconcilingSink> reconciling;
    QString indexedAt;
    const bool bIndexFirst = !bNoIndex && job.strContainingText.isEmpty() &&
                             format != PrintingSink::Quiet &&
                             (bIndexFirstAsked || ::isatty(STDOUT_FILENO));
    if (bIndexFirst) {
        QStringList scopes;
        if (job.tree)
            scopes = shareindex::ScopesOf(*job.tree, job.hStartNode);
        else
            for (const QString& f : std::as_const(job.folders))
                if (f.startsWith(QLatin1String("\\\\")))
                    scopes << f;
        auto store = scopes.isEmpty() ? nullptr
                                      : shareindex::IndexStore::Open(shareindex::DefaultLocation(),
                                                                     false, nullptr);
        if (store) {
            std::vector<SearchResult> printed;
            const shareindex::IndexFinds r = shareindex::SearchIndex(
                *store, scopes, patterns::ParsePatternList(job.strPatternText),
                [&](std::vector<SearchResult>&& part, qint64) {
                    for (const SearchResult& f : part)
                        sink->Add(f);
                    printed.insert(printed.end(), std::make_move_iterator(part.begin()),
                                   std::make_move_iterator(part.end()));
                });
            std::fflush(stdout);
            if (r.msOldest > 0) {
                indexedAt = IndexTime(r.msOldest);
                PrintErrLine(QStringLiteral("brindlecove-cli: from the index of %1; checking the "
                                            "shares...")
                                 .arg(indexedAt));
            }
            reconciling = std::make_shared<ReconcilingSink>(sink, printed);
            job.sink = reconciling;
        }
    }
    // Every walk records what it lists; a search still runs when the index cannot be written.
    if (!bNoIndex) {
        Error why;
        QString detail;
        job.index = shareindex::IndexWriter::Start(shareindex::DefaultLocation(), &why, &detail);
        if (!job.index)
            PrintErrLine(QStringLiteral("brindlecove-cli: the index cannot be written (%1); "
                                        "searching without it")
                             .arg(detail.isEmpty() ? ErrorText(why) : detail));
    }
    // A content search reads the files the index expects at once, before the walk lists them.
    if (!bNoIndex && !job.strContainingText.isEmpty())
        job.fnCandidates = shareindex::Candidates(shareindex::DefaultLocation(),
                                                  patterns::ParsePatternList(job.strPatternText));
    std::mutex m;
    std::condition_variable cv;
    bool bDone = false;
    SearchEngine::Callbacks cb;
    if (bVerbose)
        cb.fnStatus = [](const QString& s) { PrintErrLine(s); };
    cb.fnFinished = [&](quint64, bool) {
        std::lock_guard lock(m);
        bDone = true;
        cv.notify_all();
    };
    // Whatever could not be read is named: the finds are then incomplete, which exits with 2.
    std::atomic<int> nUnreadable{0};
    QStringList unreadable; // under m
    cb.fnUnreadable = [&nUnreadable, &unreadable, &m](quint64, const QString& path, bool,
                                                      const Error& why) {
        ++nUnreadable;
        {
            std::lock_guard lock(m);
            unreadable << path;
        }
        // A server of the tree whose share list was refused.
        const bool bServer =
            path.startsWith(QLatin1String("\\\\")) && !path.mid(2).contains(QLatin1Char('\\'));
        if (bServer && !GaveUser() && why.NeedsLogin())
            PrintErrLine(QStringLiteral("brindlecove-cli: ") + ShareListFailure(path.mid(2), why));
        else
            PrintErrLine(
                QStringLiteral("brindlecove-cli: cannot read %1: %2").arg(path, ErrorText(why)));
    };
    SearchEngine engine(cb, [] { return MakeShareFs(); });
    engine.SetWorkerStartPause(0);
    Error why;
    if (engine.Start(job, &why) == 0)
        return Fail(QStringLiteral("the search could not start: ") + ErrorText(why));
    {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return bDone; });
    }
    if (job.index) {
        job.index->Finish();
        if (bQuiet)
            PrintErrLine(QStringLiteral("brindlecove-cli: %1 folders indexed, %2 entries")
                             .arg(job.index->FoldersWritten())
                             .arg(sink->m_nFound.load()));
        if (job.index->Failures() > 0)
            PrintErrLine(QStringLiteral("brindlecove-cli: %1 folders could not be written to the "
                                        "index")
                             .arg(job.index->Failures()));
    }
    quint64 nFound = sink->m_nFound;
    if (reconciling) {
        std::fflush(stdout);
        // What lies below a folder that could not be read is not known to be gone.
        auto unknown = [&unreadable](const QString& path) {
            for (const QString& u : std::as_const(unreadable))
                if (path == u || path.startsWith(u + QLatin1Char('\\')))
                    return true;
            return false;
        };
        for (const QString& gone : reconciling->Gone())
            if (!unknown(gone))
                PrintErrLine(QStringLiteral("brindlecove-cli: gone since the index of %1: %2")
                                 .arg(indexedAt, ctl::ToPictures(gone)));
        nFound = reconciling->m_nFound;
    }
    if (nUnreadable > 0)
        return kExitError;
    return nFound > 0 ? kExitOk : kExitNothing;
}

} // namespace cli
