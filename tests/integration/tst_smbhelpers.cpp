#include "network/Discovery.h"
#include "network/IpRange.h"
#include "network/NetbiosStatus.h"
#include "network/SmbLanBrowser.h"
#include "search/ContentMatcher.h"
#include "search/ShareFs.h"
#include "smb/HelperPool.h"
#include "smb/HelperProtocol.h"
#include "smb/SmbUrl.h"
#include "smb/TcpProbe.h"

#include "common/HelperChildren.h"
#include "common/SilentHost.h"

#include <QtTest>

#include <csignal>
#include <unistd.h>

#include <thread>

// The SMB helper processes against the loopback test network (scripts/testlan.sh): share
// lists, folders on many threads within the pool's caps, helpers that die or hang, silent hosts.
class TestSmbHelpers : public QObject
{
    Q_OBJECT

    // A listener on 127.0.0.23:445 that accepts and never answers.
    SilentHost m_silent;

private slots:
    void initTestCase() { QVERIFY(m_silent.Start("127.0.0.23")); }
    void cleanup()
    {
        qunsetenv("BC_SMB_TEST_FAULT");
        smb::HelperPool::Instance()->SetLimits({});
        smb::HelperPool::Instance()->DropIdle();
    }

    void listsSharesOfAlpha()
    {
        SmbLanBrowser browser;
        std::atomic<bool> abort{false};
        quint32 resume = 0;
        const EnumResult r = browser.EnumShares("127.0.0.11", resume, abort);
        QCOMPARE(r.nStatus, int(NERR_Success));
        for (const char* share : {"docs", "music", "public", "admin$", "private", "laser", "IPC$"})
            QVERIFY2(r.names.contains(share), qPrintable(r.names.join(',')));
        // By NetBIOS name too.
        const EnumResult byName = browser.EnumShares("BETA", resume, abort);
        QCOMPARE(byName.nStatus, int(NERR_Success));
        QVERIFY(byName.names.contains("projects"));
    }

    // A server's answers are bounded: a folder listing stops at the entry cap and says so (the
    // entries read are kept); a content test reads no further than the listed size and a
    // margin, however much the server sends.
    void boundedAnswers()
    {
        smb::PoolLimits limits;
        limits.nMaxEntries = 3;
        smb::HelperPool::Instance()->SetLimits(limits);
        smb::HelperPool::Instance()->DropIdle();
        auto fs = MakeSmbShareFs();
        std::vector<FsEntry> entries;
        QCOMPARE(fs->ListFolder("\\\\127.0.0.11\\docs", entries), smbproto::kErrListingCut);
        QCOMPARE(entries.size(), std::size_t(3));
        // The file system keeps its helper while it works on the server: a new one (and new
        // helpers) for the new limits.
        fs = MakeSmbShareFs();
        smb::HelperPool::Instance()->SetLimits({});
        smb::HelperPool::Instance()->DropIdle();
        QCOMPARE(fs->ListFolder("\\\\127.0.0.11\\docs", entries), 0);
        QVERIFY(entries.size() > 3);

        const QString lan = qEnvironmentVariable("BC_TESTLAN_DIR");
        const QString name = QString("grown-%1.bin").arg(QCoreApplication::applicationPid());
        QFile f(lan + "/shares/ALPHA/public/" + name);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(3 << 20, 'x') + "zebra");
        f.close();
        auto remove = qScopeGuard([&] { f.remove(); });
        const auto needles = content::MakeNeedles("zebra");
        bool bFound = false;
        const QString path = "\\\\127.0.0.11\\public\\" + name;
        // Listed at 10 bytes: the text 3 MiB further on is not read.
        QCOMPARE(fs->Contains(path, *needles, &bFound, 10), 0);
        QVERIFY(!bFound);
        // Listed at its size: found.
        QCOMPARE(fs->Contains(path, *needles, &bFound, (3 << 20) + 5), 0);
        QVERIFY(bFound);
    }

    void nothingListeningIsRefusedFast()
    {
        QElapsedTimer t;
        t.start();
        QCOMPARE(smb::ProbeTcp("127.0.0.19", 445, 2000), smb::ProbeResult::Refused);
        auto fs = MakeSmbShareFs();
        std::vector<FsEntry> entries;
        QCOMPARE(fs->ListFolder("\\\\127.0.0.19\\docs", entries), ECONNREFUSED);
        QVERIFY(t.elapsed() < 1000);
    }

    // The probe's hello: a server answers it, a host that accepts and never answers is found
    // out within the answer deadline.
    void helloTellsServersFromSilentHosts()
    {
        QElapsedTimer t;
        t.start();
        QCOMPARE(smb::ProbeTcp("127.0.0.11", 445, 2000, {}, 2000), smb::ProbeResult::Open);
        QCOMPARE(smb::ProbeTcp("127.0.0.11", 139, 2000, {}, 2000), smb::ProbeResult::Open);
        QVERIFY(t.elapsed() < 1000);
        t.restart();
        QCOMPARE(smb::ProbeTcp("127.0.0.23", 445, 2000, {}, 700), smb::ProbeResult::Silent);
        QVERIFY(t.elapsed() >= 650 && t.elapsed() < 1500);
        QCOMPARE(smb::ProbeTcp("127.0.0.23", 445, 2000), smb::ProbeResult::Open); // no hello
    }

    // A server busy with a search may be slow to greet a new connection: a scan that lists it
    // meanwhile takes the search's answers for the greeting instead of skipping the host, and
    // waits for the server as long as the share list may take. Stopping the server's listening
    // process for longer than a greeting may take (msAnswer) stands in for the busy server.
    void answeringHostNeedsNoHello()
    {
        auto pool = smb::HelperPool::Instance();
        pool->DropIdle();
        smb::PoolLimits limits;
        limits.nMaxHelpers = 1;
        limits.msConnect = 1000;
        limits.msAnswer = 1000;
        pool->SetLimits(limits);
        SmbLanBrowser::Timeouts timeouts;
        timeouts.msSmb = 5000;
        smb::HelperProfile profile;
        profile.msSmbTimeout = timeouts.msSmb;
        {
            // The share list without a greeting, as a search's first request is made.
            smb::HelperPool::Lease lease = pool->Acquire("127.0.0.11", profile, {});
            QVERIFY(lease.Valid());
            QCOMPARE(lease.Call(smbproto::ListNames{{"127.0.0.11", {}, {}}}, {}, {}).nError, 0);
        }

        QFile pidFile(qEnvironmentVariable("BC_TESTLAN_DIR") + "/hosts/ALPHA/pid/smbd.pid");
        QVERIFY(pidFile.open(QIODevice::ReadOnly));
        const pid_t pid = pidFile.readAll().trimmed().toInt();
        QVERIFY(pid > 1);
        QVERIFY(::kill(pid, SIGSTOP) == 0);
        const auto resume = qScopeGuard([pid] { ::kill(pid, SIGCONT); });
        // No new connection is greeted now.
        QCOMPARE(smb::ProbeTcp("127.0.0.11", 445, 1000, {}, 1000), smb::ProbeResult::Silent);

        SmbLanBrowser browser(timeouts);
        std::atomic<bool> abort{false};
        quint32 nResume = 0;
        EnumResult r;
        QElapsedTimer t;
        t.start();
        std::thread scan([&] { r = browser.EnumShares("127.0.0.11", nResume, abort); });
        QThread::msleep(2000);
        ::kill(pid, SIGCONT);
        scan.join();
        QVERIFY2(t.elapsed() >= 2000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(r.nStatus, int(NERR_Success));
        QVERIFY2(r.names.contains("docs"), qPrintable(r.names.join(',')));
    }

    // Printer and IPC shares hold no files: their listing says so, which is no failure.
    void printerAndIpcAreNoFileShares()
    {
        auto fs = MakeSmbShareFs();
        std::vector<FsEntry> entries;
        QCOMPARE(fs->ListFolder("\\\\127.0.0.11\\laser", entries), smbproto::kErrNotFileShare);
        QCOMPARE(fs->ListFolder("\\\\127.0.0.11\\IPC$", entries), smbproto::kErrNotFileShare);
        QCOMPARE(fs->ListFolder("\\\\127.0.0.11\\nosuchshare", entries) == 0, false);
        QVERIFY(fs->ListFolder("\\\\127.0.0.11\\nosuchshare", entries) !=
                smbproto::kErrNotFileShare);
    }

    // Many threads list shares and folders on all hosts at once, through a pool with small
    // caps: every call succeeds, the caps hold, and afterwards only idle helpers are left.
    void manyThreadsWithinTheCaps()
    {
        auto pool = smb::HelperPool::Instance();
        smb::PoolLimits limits;
        limits.nMaxHelpers = 5;
        limits.nMaxPerHost = 2;
        pool->SetLimits(limits);
        pool->DropIdle();
        const auto before = pool->GetStats();
        std::atomic<int> nOk{0}, nFailed{0};
        std::vector<std::thread> threads;
        constexpr int kThreads = 12;
        constexpr int kRounds = 6;
        for (int i = 0; i < kThreads; ++i)
            threads.emplace_back([&, i] {
                auto fs = MakeSmbShareFs(5000);
                for (int round = 0; round < kRounds; ++round) {
                    const int h = (i + round) % 3;
                    const QString host = QString("127.0.0.%1").arg(11 + h);
                    const char* share = h == 0 ? "docs" : h == 1 ? "projects" : "lab";
                    std::vector<FsEntry> entries;
                    if (fs->ListFolder("\\\\" + host + "\\" + share, entries) == 0 &&
                        !entries.empty())
                        ++nOk;
                    else
                        ++nFailed;
                }
            });
        for (auto& t : threads)
            t.join();
        QCOMPARE(nFailed.load(), 0);
        QCOMPARE(nOk.load(), kThreads * kRounds);
        const auto s = pool->GetStats();
        QVERIFY2(s.nPeakProcesses <= 5, qPrintable(QString::number(s.nPeakProcesses)));
        QVERIFY2(s.nPeakLentPerHost <= 2, qPrintable(QString::number(s.nPeakLentPerHost)));
        QCOMPARE(s.nLent, 0);
        QCOMPARE(s.nProcesses, s.nIdle);
        QCOMPARE(HelperChildren(), s.nProcesses);
        QCOMPARE(s.nKilled, before.nKilled);
    }

    // Helpers held in the background (change watches) never take a server's last place: a
    // request a person waits for gets it at once, and a further watch waits until the server
    // has a place to spare (or is cancelled).
    void standingLeasesLeaveAPlace()
    {
        auto pool = smb::HelperPool::Instance();
        smb::PoolLimits limits;
        limits.nMaxPerHost = 2;
        pool->SetLimits(limits);
        const QString host = "127.0.0.11";
        const CancelToken never = CancelToken::Make();
        smb::HelperPool::Lease watch = pool->AcquireStanding(host, {}, never);
        QVERIFY(watch.Valid());

        const CancelToken stop = CancelToken::Make();
        std::atomic<bool> bSecond{false};
        smb::HelperPool::Lease second;
        std::thread waiter([&] {
            second = pool->AcquireStanding(host, {}, stop);
            bSecond = true;
        });
        QTest::qWait(500);
        QVERIFY(!bSecond.load());
        // The waiting watch slows no search: nobody is asked to give back a helper, and a walk
        // may still take one more helper of another server.
        QVERIFY(!pool->HasWaiters());
        QVERIFY(pool->TryAcquire("127.0.0.12", {}).Valid());
        QElapsedTimer t;
        t.start();
        smb::HelperPool::Lease search = pool->Acquire(host, {}, never);
        QVERIFY(search.Valid());
        QVERIFY2(t.elapsed() < 3000, qPrintable(QString::number(t.elapsed())));
        QTest::qWait(300);
        QVERIFY(!bSecond.load());

        // The search ends: the one watch still holds all that watches may have of the server.
        search.Release();
        QTest::qWait(300);
        QVERIFY(!bSecond.load());
        // The first watch ends: the second takes its place.
        watch.Release();
        QTRY_VERIFY_WITH_TIMEOUT(bSecond.load(), 5000);
        waiter.join();
        QVERIFY(second.Valid());
        second.Release();

        // A waiting watch ends when cancelled.
        smb::HelperPool::Lease again = pool->AcquireStanding(host, {}, never);
        QVERIFY(again.Valid());
        std::thread cancelled([&] { second = pool->AcquireStanding(host, {}, stop); });
        QTest::qWait(300);
        stop.Cancel();
        cancelled.join();
        QVERIFY(!second.Valid());
    }

    // A helper keeps at most nMaxConnections SMB connections (one per server and share): the
    // least recently used one closes when a new one would pass the cap. Every listing works.
    void connectionsWithinTheCap_data()
    {
        QTest::addColumn<int>("nCap");
        QTest::addColumn<int>("nAtMost");
        QTest::addColumn<int>("nAtLeast");
        QTest::newRow("default: one") << smb::PoolLimits().nMaxConnections << 1 << 1;
        QTest::newRow("cap 2") << 2 << 2 << 1;
        QTest::newRow("cap 64: one per share") << 64 << 64 << 6;
    }
    void connectionsWithinTheCap()
    {
        QFETCH(int, nCap);
        QFETCH(int, nAtMost);
        QFETCH(int, nAtLeast);
        auto pool = smb::HelperPool::Instance();
        pool->DropIdle();
        smb::PoolLimits limits;
        limits.nMaxHelpers = 1;
        limits.nMaxConnections = nCap;
        pool->SetLimits(limits);
        auto fs = MakeSmbShareFs(5000);
        const QStringList shares{"127.0.0.11\\docs",     "127.0.0.11\\music",  "127.0.0.11\\public",
                                 "127.0.0.12\\projects", "127.0.0.12\\public", "127.0.0.13\\lab",
                                 "127.0.0.13\\scratch",  "127.0.0.11\\docs"};
        int nMost = 0;
        for (const QString& share : shares) {
            std::vector<FsEntry> entries;
            QCOMPARE(fs->ListFolder("\\\\" + share, entries), 0);
            nMost = std::max(nMost, HelperConnections());
        }
        QCOMPARE(HelperChildren(), 1);
        QVERIFY2(nMost <= nAtMost && nMost >= nAtLeast, qPrintable(QString::number(nMost)));
    }

    // A walk takes a second helper of a server (a second connection and login there) only when
    // it has waited for listings on the first; not because the first helper's login took time.
    // The share's first folder answers 300 ms late, as on a far server; the twenty folders
    // below it take a few milliseconds in all.
    void slowLoginTakesNoSecondConnection()
    {
        const QString name = QString("walk-%1").arg(QCoreApplication::applicationPid());
        QDir public_(qEnvironmentVariable("BC_TESTLAN_DIR") + "/shares/ALPHA/public");
        QVERIFY(public_.mkpath(name));
        auto remove = qScopeGuard([&] { QDir(public_.filePath(name)).removeRecursively(); });
        for (int i = 0; i < 20; ++i) {
            const QString sub = QString("%1/d%2").arg(name).arg(i, 2, 10, QChar('0'));
            QVERIFY(public_.mkpath(sub));
            QFile f(public_.filePath(sub + "/f.txt"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("x");
        }
        qputenv("BC_SMB_TEST_FAULT", "slow:" + name.toUtf8());
        auto pool = smb::HelperPool::Instance();
        pool->DropIdle();
        const int nStartedBefore = pool->GetStats().nStarted;
        auto fs = MakeSmbShareFs();
        const QString root = "\\\\127.0.0.11\\public\\" + name;
        std::vector<FsEntry> entries;
        QCOMPARE(fs->ListFolder(root, entries), 0);
        QCOMPARE(entries.size(), std::size_t(20));
        std::vector<QString> subs;
        for (const FsEntry& e : entries)
            subs.push_back(root + '\\' + e.strName);
        fs->Announce(subs);
        for (const QString& sub : subs) {
            QCOMPARE(fs->ListFolder(sub, entries), 0);
            QCOMPARE(entries.size(), std::size_t(1));
        }
        QCOMPARE(pool->GetStats().nStarted - nStartedBefore, 1);
    }

    // A folder's files whose tests are slow (a far server, big files) are tested on more than
    // one helper at once; each outcome is its own file's, in the order asked, and a file that
    // cannot be read fails alone.
    void slowContentTestsTakeMoreHelpers()
    {
        const QString name = QString("content-%1").arg(QCoreApplication::applicationPid());
        QDir public_(qEnvironmentVariable("BC_TESTLAN_DIR") + "/shares/ALPHA/public");
        QVERIFY(public_.mkpath(name));
        auto remove = qScopeGuard([&] { QDir(public_.filePath(name)).removeRecursively(); });
        const QString folder = "\\\\127.0.0.11\\public\\" + name;
        std::vector<ContentTest> tests;
        for (int i = 0; i < 12; ++i) {
            const QString file = QString("f%1-slow.txt").arg(i, 2, 10, QChar('0'));
            if (i != 7) { // f07 is listed, then gone
                QFile f(public_.filePath(name + '/' + file));
                QVERIFY(f.open(QIODevice::WriteOnly));
                f.write(i % 3 == 0 ? "a haystack with a Needle in it" : "only hay");
            }
            tests.push_back({folder + '\\' + file, 64});
        }
        qputenv("BC_SMB_TEST_FAULT", "slow:-slow.txt");
        auto pool = smb::HelperPool::Instance();
        pool->DropIdle();
        const int nStartedBefore = pool->GetStats().nStarted;
        auto fs = MakeSmbShareFs();
        fs->ContainsEach(tests, *content::MakeNeedles("needle"));
        for (int i = 0; i < 12; ++i) {
            QCOMPARE(tests[i].nError != 0, i == 7);
            QCOMPARE(tests[i].bFound, i % 3 == 0 && i != 7);
        }
        QVERIFY2(pool->GetStats().nStarted - nStartedBefore >= 2,
                 qPrintable(QString::number(pool->GetStats().nStarted - nStartedBefore)));
    }

    // A helper killed in the middle of a request costs that request; the next one works.
    void killedHelperCostsOneRequest()
    {
        qputenv("BC_SMB_TEST_FAULT", "kill:sub%20dir");
        smb::HelperPool::Instance()->DropIdle();
        auto fs = MakeSmbShareFs(5000);
        std::vector<FsEntry> entries;
        QCOMPARE(fs->ListFolder("\\\\127.0.0.11\\docs\\sub dir", entries),
                 smbproto::kErrHelperDied);
        QCOMPARE(fs->ListFolder("\\\\127.0.0.11\\docs", entries), 0);
        QVERIFY(!entries.empty());
        QCOMPARE(HelperChildren(), smb::HelperPool::Instance()->GetStats().nProcesses);
    }

    // Listings sent ahead behind one whose helper dies are sent again on another helper: only
    // that folder fails, and the walk's other folders list whole, in the walk's order.
    void helperDeathCostsOnlyItsFolder()
    {
        qputenv("BC_SMB_TEST_FAULT", "kill:sub%20dir");
        smb::HelperPool::Instance()->DropIdle();
        auto fs = MakeSmbShareFs(5000);
        std::vector<FsEntry> entries;
        QCOMPARE(fs->ListFolder("\\\\127.0.0.11\\docs", entries), 0);
        const std::vector<QString> subs{
            "\\\\127.0.0.11\\docs\\Grüße", "\\\\127.0.0.11\\docs\\sub dir",
            "\\\\127.0.0.11\\docs\\level0_xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx",
            "\\\\127.0.0.11\\docs\\.cache"};
        fs->Announce(subs);
        QCOMPARE(fs->ListFolder(subs[0], entries), 0);
        QCOMPARE(entries.size(), std::size_t(3));
        QCOMPARE(fs->ListFolder(subs[1], entries), smbproto::kErrHelperDied);
        QVERIFY(entries.empty());
        QCOMPARE(fs->ListFolder(subs[2], entries), 0);
        QCOMPARE(entries.size(), std::size_t(1));
        QCOMPARE(fs->ListFolder(subs[3], entries), 0);
        fs.reset();
        QCOMPARE(HelperChildren(), smb::HelperPool::Instance()->GetStats().nProcesses);
    }

    // A helper that stops answering is ended at the deadline; a cancel ends it at once.
    void hungHelperMeetsTheDeadline()
    {
        qputenv("BC_SMB_TEST_FAULT", "hang:music");
        auto pool = smb::HelperPool::Instance();
        pool->DropIdle();
        smb::PoolLimits limits;
        limits.msRequest = 1500;
        limits.msConnect = 500;
        pool->SetLimits(limits);
        auto fs = MakeSmbShareFs(5000);
        std::vector<FsEntry> entries;
        QElapsedTimer t;
        t.start();
        QCOMPARE(fs->ListFolder("\\\\127.0.0.11\\music", entries), smbproto::kErrHelperTimeout);
        QVERIFY2(t.elapsed() >= 1400 && t.elapsed() < 4000,
                 qPrintable(QString::number(t.elapsed())));

        std::atomic<bool> stop{false};
        fs->SetCancel(CancelToken([&] { return stop.load(); }));
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            stop = true;
        });
        t.restart();
        const int err = fs->ListFolder("\\\\127.0.0.11\\music", entries);
        stopper.join();
        QCOMPARE(err, smbproto::kErrCancelled);
        QVERIFY2(t.elapsed() < 300 + 150, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(HelperChildren(), pool->GetStats().nProcesses);
    }

    // A host that accepts connections and never answers is bounded like any other.
    void silentHostIsBounded()
    {
        SmbLanBrowser browser;
        std::atomic<bool> abort{false};
        quint32 resume = 0;
        QElapsedTimer t;
        t.start();
        const EnumResult r = browser.EnumShares("127.0.0.23", resume, abort);
        QVERIFY(!r.Usable());
        QVERIFY2(t.elapsed() < 7000, qPrintable(QString::number(t.elapsed())));

        // A scan over it and its dead neighbours ends within the same bound, and only the
        // answering host of the range (BETA, 127.0.0.12... is outside) enters the tree: none.
        {
            std::mutex m;
            std::condition_variable cv;
            bool bDone = false;
            Discovery::Callbacks cb;
            cb.fnCompleted = [&] {
                std::lock_guard l(m);
                bDone = true;
                cv.notify_all();
            };
            auto tree = std::make_shared<NetworkTree>();
            Discovery d(tree, std::make_shared<SmbLanBrowser>(), cb);
            t.restart();
            QVERIFY(d.ScanIpRange("silent", *iprange::FromText("127.0.0.18"),
                                  *iprange::FromText("127.0.0.22")));
            std::unique_lock l(m);
            QVERIFY(cv.wait_for(l, std::chrono::seconds(20), [&] { return bDone; }));
            QVERIFY2(t.elapsed() < 8000, qPrintable(QString::number(t.elapsed())));
            QCOMPARE(tree->GetChildren(tree->GetChildren(d.RootNode()).front()).size(), size_t(0));
        }

        // A folder of it, with the pool's deadlines made short; then a cancel during the wait.
        smb::PoolLimits limits;
        limits.msRequest = 2000;
        limits.msConnect = 500;
        smb::HelperPool::Instance()->SetLimits(limits);
        auto fs = MakeSmbShareFs(15000);
        std::vector<FsEntry> entries;
        t.restart();
        const int err = fs->ListFolder("\\\\127.0.0.23\\share", entries);
        QVERIFY(err != 0);
        QVERIFY2(t.elapsed() < 4000, qPrintable(QString::number(t.elapsed())));
    }

    // What a host says of its workgroup: NetBIOS node status where nmbd runs (DELTA has none),
    // the LSA query over \\lsarpc wherever smbd runs; a silent host costs its bound.
    void workgroupQuestions()
    {
        const auto nb =
            nbstat::Workgroups({"127.0.0.11", "127.0.0.13", "127.0.0.15", "127.0.0.23"}, 800, {});
        QCOMPARE(nb.size(), std::size_t(2));
        QCOMPARE(nb.at("127.0.0.11"), QString("WORKGROUP"));
        QCOMPARE(nb.at("127.0.0.13"), QString("LAB"));
        std::atomic<bool> abort{false};
        QCOMPARE(LsaWorkgroup("127.0.0.11", abort), QString("WORKGROUP"));
        QCOMPARE(LsaWorkgroup("127.0.0.13", abort), QString("LAB"));
        QCOMPARE(LsaWorkgroup("127.0.0.15", abort), QString("WORKGROUP"));
        QElapsedTimer t;
        t.start();
        QCOMPARE(LsaWorkgroup("127.0.0.23", abort), QString());
        QVERIFY2(t.elapsed() < 8000, qPrintable(QString::number(t.elapsed())));
    }

    void uncPathsBecomeEncodedUrls_data()
    {
        QTest::addColumn<QString>("unc");
        QTest::addColumn<QByteArray>("url");
        QTest::newRow("plain") << "\\\\ALPHA\\docs\\a.txt" << QByteArray("smb://ALPHA/docs/a.txt");
        QTest::newRow("specials")
            << "\\\\ALPHA\\public\\100% done #1 & more.txt"
            << QByteArray("smb://ALPHA/public/100%25%20done%20%231%20%26%20more.txt");
        QTest::newRow("non-latin") << "\\\\ALPHA\\docs\\Ж" << QByteArray("smb://ALPHA/docs/%D0%96");
        QTest::newRow("forward slashes") << "//BETA/music" << QByteArray("smb://BETA/music");
        QTest::newRow("not unc") << "ALPHA\\docs" << QByteArray();
    }
    void uncPathsBecomeEncodedUrls()
    {
        QFETCH(QString, unc);
        QFETCH(QByteArray, url);
        QCOMPARE(smb::UncToUrl(unc), url);
    }
};

QTEST_GUILESS_MAIN(TestSmbHelpers)
#include "tst_smbhelpers.moc"
