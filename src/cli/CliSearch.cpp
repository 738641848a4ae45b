// brindlecove-cli search
#include "CliCommon.h"
#include "app/ControlChars.h"

#include "network/SmbLanBrowser.h"
#include "network/TreeFile.h"
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

int RunSearchCommand(QStringList args)
{
    SearchJob job;
    QString strNft, strNode;
    const bool bVerbose = TakeFlag(args, QStringLiteral("--verbose"));
    const bool bLong = TakeFlag(args, QStringLiteral("--long"));
    const bool bJson = TakeFlag(args, QStringLiteral("--json"));
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
                return FailRun(ShareListFailure(server.target.mid(2), r.nStatus));
            }
            for (const QString& share : r.names)
                job.folders.insert(server.nAt + nInserted++,
                                   server.target + QLatin1Char('\\') + share);
        }
    }

    auto sink = std::make_shared<PrintingSink>(bJson   ? PrintingSink::Json
                                               : bLong ? PrintingSink::Long
                                                       : PrintingSink::Plain);
    job.sink = sink;
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
    cb.fnUnreadable = [&nUnreadable](quint64, const QString& path, bool, int err) {
        ++nUnreadable;
        // A server of the tree whose share list was refused.
        const bool bServer =
            path.startsWith(QLatin1String("\\\\")) && !path.mid(2).contains(QLatin1Char('\\'));
        if (bServer && !GaveUser() &&
            (err == EACCES || err == EPERM || err == smbproto::kErrLoginFailed))
            PrintErrLine(QStringLiteral("brindlecove-cli: ") +
                         ShareListFailure(path.mid(2), ERROR_ACCESS_DENIED));
        else
            PrintErrLine(QStringLiteral("brindlecove-cli: cannot read %1: %2")
                             .arg(path, smb::ErrorText(err)));
    };
    SearchEngine engine(cb, [] { return MakeShareFs(); });
    engine.SetWorkerStartPause(0);
    SearchEngine::StartError err;
    if (engine.Start(job, &err) == 0)
        return Fail(QStringLiteral("the search could not start"));
    {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return bDone; });
    }
    if (nUnreadable > 0)
        return kExitError;
    return sink->m_nFound > 0 ? kExitOk : kExitNothing;
}

} // namespace cli
