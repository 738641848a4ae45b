// brindlecove-cli index
#include "CliCommon.h"

#include "index/IndexStore.h"
#include "index/ShareWatcher.h"
#include "smb/Logins.h"

#include <QDateTime>
#include <QFileInfo>

#include <cerrno>
#include <csignal>

#include <pthread.h>

namespace cli {
namespace {

QString Age(qint64 msThen)
{
    const qint64 s = std::max<qint64>(0, (QDateTime::currentMSecsSinceEpoch() - msThen) / 1000);
    if (s < 120)
        return QStringLiteral("%1 s").arg(s);
    if (s < 7200)
        return QStringLiteral("%1 min").arg(s / 60);
    if (s < 172800)
        return QStringLiteral("%1 h").arg(s / 3600);
    return QStringLiteral("%1 days").arg(s / 86400);
}

int Status()
{
    const QString path = shareindex::DefaultLocation();
    Error why;
    QString detail;
    auto store = shareindex::IndexStore::Open(path, false, &why, &detail);
    if (!store) {
        if (why == Error::FromCode(ENOENT)) {
            Print(QStringLiteral("no index yet (%1)\n").arg(shareindex::ShownLocation(path)));
            return kExitOk;
        }
        return FailRun(QStringLiteral("cannot read the index %1: %2")
                           .arg(shareindex::ShownLocation(path), detail));
    }
    qint64 nEntries = 0, nFolders = 0;
    const auto shares = store->Status();
    for (const shareindex::ShareStatus& s : shares) {
        Print(QStringLiteral("%1\t%2 entries\t%3 folders\tlisted %4 to %5 ago\n")
                  .arg(s.strShare)
                  .arg(s.nEntries)
                  .arg(s.nFolders)
                  .arg(Age(s.msNewest), Age(s.msOldest)));
        nEntries += s.nEntries;
        nFolders += s.nFolders;
    }
    const qint64 nBytes = store->BytesOnDisk();
    Print(QStringLiteral("%1 shares, %2 entries in %3 folders; %4 (%5 bytes on disk)\n")
              .arg(shares.size())
              .arg(nEntries)
              .arg(nFolders)
              .arg(shareindex::ShownLocation(path))
              .arg(nBytes));
    return kExitOk;
}

// Keeps the index of the given shares fresh until SIGINT or SIGTERM (or --seconds).
int Watch(QStringList args)
{
    QString strSeconds;
    if (!TakeOption(args, QStringLiteral("--seconds"), &strSeconds))
        return Fail(QStringLiteral("an option is missing its value"));
    const int nSeconds = strSeconds.isEmpty() ? 0 : strSeconds.toInt();
    if (args.isEmpty())
        return Fail(QStringLiteral("index watch needs \\\\HOST\\share targets"));
    QStringList shares;
    for (QString a : args) {
        a.replace(QLatin1Char('/'), QLatin1Char('\\'));
        while (a.endsWith(QLatin1Char('\\')))
            a.chop(1);
        if (!a.startsWith(QLatin1String("\\\\")) || a.mid(2).count(QLatin1Char('\\')) != 1)
            return Fail(QStringLiteral("index watch takes shares (\\\\HOST\\share): '%1'").arg(a));
        shares << a;
        // A server named on the command line gets the login the options gave.
        smb::Logins::Instance()->AllowFixed(a.mid(2).section(QLatin1Char('\\'), 0, 0));
    }
    Error why;
    QString detail;
    auto writer = shareindex::IndexWriter::Start(shareindex::DefaultLocation(), &why, &detail);
    if (!writer)
        return FailRun(QStringLiteral("the index cannot be written: %1")
                           .arg(detail.isEmpty() ? ErrorText(why) : detail));
    // The signals wait for this thread alone: every thread started from here on blocks them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    // Half the helpers at most hold watches: the other half list what changed.
    const QStringList watchable = shareindex::WatchableShares(
        shares, std::max(1, smb::HelperPool::Instance()->Limits().nMaxHelpers / 2));
    for (const QString& share : shares)
        if (!watchable.contains(share))
            PrintErrLine(QStringLiteral("brindlecove-cli: not watching %1: too many shares of "
                                        "its server or in all for the helpers (nMaxPerHost, "
                                        "nMaxHelpers)")
                             .arg(share));
    std::vector<std::unique_ptr<shareindex::ShareWatcher>> watchers;
    for (const QString& share : watchable) {
        PrintErrLine(QStringLiteral("brindlecove-cli: watching %1").arg(share));
        watchers.push_back(std::make_unique<shareindex::ShareWatcher>(
            share, writer, [](const QString& note) { PrintErrLine(note); }));
    }
    timespec wait{nSeconds > 0 ? nSeconds : 3600, 0};
    for (;;) {
        const int sig = sigtimedwait(&stop, nullptr, &wait);
        if (sig == SIGINT || sig == SIGTERM || (sig < 0 && errno == EAGAIN && nSeconds > 0))
            break;
    }
    qint64 nRelisted = 0;
    for (auto& w : watchers) {
        w->Stop();
        nRelisted += w->FoldersRelisted();
    }
    writer->Finish();
    PrintErrLine(QStringLiteral("brindlecove-cli: %1 folders listed again").arg(nRelisted));
    return kExitOk;
}

} // namespace

int RunIndexCommand(QStringList args)
{
    if (args.isEmpty())
        return Fail(QStringLiteral("index needs update, status or forget"));
    const QString what = args.takeFirst();
    if (what == QLatin1String("update")) {
        // A crawl: every folder of the targets listed and recorded, nothing printed per entry.
        if (args.isEmpty())
            return Fail(QStringLiteral("index update needs \\\\HOST, \\\\HOST\\share or --nft"));
        return RunSearchCommand(
                   QStringList{QStringLiteral("--pattern"), QStringLiteral("*")} + args, true) ==
                       kExitError
                   ? kExitError
                   : kExitOk;
    }
    if (what == QLatin1String("watch"))
        return Watch(args);
    if (!args.isEmpty())
        return Fail(QStringLiteral("unknown argument '%1'").arg(args.front()));
    if (what == QLatin1String("status"))
        return Status();
    if (what == QLatin1String("forget")) {
        const QString path = shareindex::DefaultLocation();
        QString detail;
        if (!shareindex::Forget(path, &detail))
            return FailRun(QStringLiteral("cannot delete %1: %2")
                               .arg(shareindex::ShownLocation(path), detail));
        Print(QStringLiteral("index deleted (%1)\n").arg(shareindex::ShownLocation(path)));
        return kExitOk;
    }
    return Fail(QStringLiteral("unknown index command '%1'").arg(what));
}

} // namespace cli
