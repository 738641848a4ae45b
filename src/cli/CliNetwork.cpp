// brindlecove-cli browse | shares | scan | domain | tree
#include "CliCommon.h"
#include "app/ControlChars.h"

#include "network/Discovery.h"
#include "network/IpRange.h"
#include "network/SmbLanBrowser.h"
#include "network/TreeFile.h"
#include "smb/Logins.h"

#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>

namespace cli {
namespace {

// Runs one discovery activity to its completion, then prints or saves the tree.
int RunActivity(QStringList args, const std::function<bool(Discovery&)>& start)
{
    const bool bVerbose = TakeFlag(args, QStringLiteral("--verbose"));
    QString strNft;
    if (!TakeOption(args, QStringLiteral("--nft"), &strNft))
        return Fail(QStringLiteral("--nft needs a file name"));
    if (!args.isEmpty())
        return Fail(QStringLiteral("unexpected argument '%1'").arg(args.front()));

    auto tree = std::make_shared<NetworkTree>();
    std::mutex m;
    std::condition_variable cv;
    bool bDone = false;
    Discovery::Callbacks cb;
    if (bVerbose) {
        cb.fnStatus = [](const QString& s) { PrintErrLine(s); };
        cb.fnStdout = [](const QString& s) { PrintErr(s); };
    }
    cb.fnStderr = [bVerbose](const QString& s) {
        if (bVerbose || s.startsWith(QLatin1String("A system error")))
            PrintErr(s);
    };
    cb.fnCompleted = [&] {
        std::lock_guard lock(m);
        bDone = true;
        cv.notify_all();
    };
    Discovery discovery(tree, std::make_shared<SmbLanBrowser>(), cb);
    discovery.SetDomainStartPause(0);
    if (!start(discovery))
        return Fail(QStringLiteral("could not start"));
    {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return bDone; });
    }
    const NodeHandle root = discovery.RootNode();
    if (!strNft.isEmpty()) {
        QString err;
        if (!treefile::Save(*tree, root, strNft, &err))
            return Fail(QStringLiteral("cannot write %1: %2").arg(strNft, err));
    } else {
        PrintTree(*tree, root);
    }
    // Servers whose shares were not listed for want of a login are no empty servers.
    int rc = kExitOk;
    std::function<void(NodeHandle)> fnNeedsLogin = [&](NodeHandle node) {
        for (NodeHandle c : tree->GetChildren(node)) {
            if (tree->IsLoginNeeded(c)) {
                PrintErrLine(QStringLiteral("brindlecove-cli: ") +
                             ShareListFailure(tree->GetItemText(c), Error::FromCode(EACCES)));
                rc = kExitError;
            }
            fnNeedsLogin(c);
        }
    };
    fnNeedsLogin(root);
    return rc;
}

std::optional<quint32> StrictAddress(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    for (const QString& p : parts)
        if (p.isEmpty())
            return std::nullopt;
    return iprange::FromFields(parts);
}

} // namespace

int RunNetworkCommand(const QString& command, QStringList args)
{
    if (command == QLatin1String("browse"))
        return RunActivity(args, [](Discovery& d) { return d.DiscoverNetwork(); });
    if (command == QLatin1String("domain")) {
        if (args.isEmpty() || args.front().startsWith(QLatin1String("--")))
            return Fail(QStringLiteral("domain needs a workgroup or domain name"));
        const QString name = args.takeFirst();
        return RunActivity(args, [name](Discovery& d) { return d.AddDomain(name); });
    }
    if (command == QLatin1String("scan")) {
        QString name = QStringLiteral("IP range 1");
        if (!TakeOption(args, QStringLiteral("--name"), &name))
            return Fail(QStringLiteral("--name needs a value"));
        if (args.size() < 2)
            return Fail(QStringLiteral("scan needs a first and a last address"));
        const auto first = StrictAddress(args.takeFirst());
        const auto last = StrictAddress(args.takeFirst());
        if (!first || !last)
            return Fail(
                QStringLiteral("addresses are four numbers of 0 to 255, like 192.168.1.10"));
        if (!iprange::Accepted(*first, *last))
            return Fail(QStringLiteral("Sorry, IP range can't contain more than 300 IPs!"));
        return RunActivity(args, [&](Discovery& d) { return d.ScanIpRange(name, *first, *last); });
    }
    if (command == QLatin1String("shares")) {
        if (args.size() != 1)
            return Fail(QStringLiteral("shares needs exactly one host"));
        SmbLanBrowser browser;
        std::atomic<bool> abort{false};
        smb::Logins::Instance()->AllowFixed(args.front());
        const EnumResult r = browser.EnumSharesAsked(args.front(), abort);
        if (!r.Usable())
            return FailRun(ShareListFailure(args.front(), r.error));
        for (const QString& s : r.names)
            Print(ctl::ToPictures(s) + QLatin1Char('\n'));
        return kExitOk;
    }
    if (command == QLatin1String("tree")) {
        if (args.size() != 1)
            return Fail(QStringLiteral("tree needs exactly one .nft file"));
        NetworkTree tree;
        QString err;
        const NodeHandle root = treefile::Load(tree, args.front(), &err);
        if (root == NoNode)
            return Fail(QStringLiteral("cannot read %1: %2").arg(args.front(), err));
        PrintTree(tree, root);
        return kExitOk;
    }
    return Fail(QStringLiteral("unknown command '%1'").arg(command));
}

} // namespace cli
