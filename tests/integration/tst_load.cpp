#include "gui/TestPrompter.h"

#include "app/CMainFrame.h"
#include "app/Commands.h"
#include "log/LogModel.h"
#include "network/CNetworkDialogs.h"
#include "network/NetworkTreeModel.h"
#include "results/CResultsWindow.h"
#include "search/CSearchDlg.h"
#include "smb/HelperPool.h"

#include "common/HelperChildren.h"

#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTreeView>
#include <QtTest>

#include <array>
#include <atomic>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// The desktop program under load: 20 hosts with four shares each (scripts/loadlan.sh, 100,000
// entries in CI, 500,000 with BC_LOAD_ENTRIES=500000). Discover runs, then a scan of the hosts'
// range, then a search of that range together with a second scan of the whole /24 around it.
// Nothing may be lost, the GUI thread may never freeze, the process stays under 400 MB, and
// helper processes stay within the pool's cap. The figures (entries/s, peak memory, longest
// stall, SMB connections) are printed. The sanitizer
// builds check what they can: their speed and memory are no measure.
class TestLoad : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestPrompter> m_prompter;
    std::unique_ptr<CMainFrame> m_frame;
    QString m_dir;
    CMainFrame& Frame() { return *m_frame; }

    // Samples, from a thread of its own, what runs: helper processes, sockets of this
    // process, and TCP connections from this machine to the load hosts' port 445.
    struct Sampler
    {
        std::atomic<bool> bStop = false;
        std::atomic<int> nMaxHelpers = 0, nMaxSockets = 0, nMaxSmbConnections = 0;
        std::atomic<int> nMaxPerServer = 0; // connections to one load host at once
        std::thread thread;
        static int Sockets()
        {
            int n = 0;
            for (const QFileInfo& fi : QDir("/proc/self/fd").entryInfoList(QDir::System))
                n += fi.symLinkTarget().contains("socket:");
            return n;
        }
        // Connections to the load hosts' port 445 from this machine; with bServerSide, the
        // servers' ends of connections in any state but listening (closing ones too).
        // *pMaxPerServer: the most to one host.
        static int SmbConnections(bool bServerSide = false, int* pMaxPerServer = nullptr)
        {
            QFile f("/proc/net/tcp");
            if (!f.open(QIODevice::ReadOnly))
                return 0;
            int n = 0;
            QHash<QByteArray, int> perServer;
            for (const QByteArray& line : f.readAll().split('\n')) {
                const QList<QByteArray> cols = line.simplified().split(' ');
                // remote address 127.0.3.x:445 (little-endian hex), state ESTABLISHED
                if (cols.size() <= 3)
                    continue;
                if (bServerSide ? cols[1].endsWith("03007F:01BD") && cols[3] != "0A"
                                : cols[2].endsWith("03007F:01BD") && cols[3] == "01") {
                    ++n;
                    ++perServer[cols[2].left(8)];
                }
            }
            if (pMaxPerServer)
                for (int k : std::as_const(perServer))
                    *pMaxPerServer = std::max(*pMaxPerServer, k);
            return n;
        }
        void Start()
        {
            thread = std::thread([this] {
                // Reading every process's stat and the machine's TCP table costs CPU the
                // program under test would miss on this small machine (it took more than
                // the GUI thread at 20 reads a second): this thread runs 10 nice steps lower,
                // sockets are sampled every 100 ms, helpers and connections every 500 ms (the
                // pool's own peak is checked too).
                setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
                for (int n = 0; !bStop; ++n) {
                    if (n % 5 == 0)
                        nMaxHelpers = std::max(nMaxHelpers.load(), HelperChildren());
                    nMaxSockets = std::max(nMaxSockets.load(), Sockets());
                    if (n % 5 == 0) {
                        int nPerServer = 0;
                        nMaxSmbConnections =
                            std::max(nMaxSmbConnections.load(), SmbConnections(false, &nPerServer));
                        nMaxPerServer = std::max(nMaxPerServer.load(), nPerServer);
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                }
            });
        }
        ~Sampler()
        {
            bStop = true;
            if (thread.joinable())
                thread.join();
        }
    };

    // The longest stall a thread that sleeps 5 ms at a time sees. At real-time priority
    // (where allowed, as root) no process of ours or of the servers delays it: what it misses,
    // no thread could have had. At the GUI thread's own priority (bRealTime false) it is a
    // peer of the GUI thread in this process that does no work: it shows what the share of
    // the CPU the kernel gives this process beside the servers costs any thread.
    struct MachineProbe
    {
        std::atomic<bool> bStop = false;
        std::atomic<qint64> msLongest = 0;
        bool bRealTime = false;
        std::thread thread;
        void Start(bool bWantRealTime = true)
        {
            std::atomic<int> started = 0;
            thread = std::thread([this, &started, bWantRealTime] {
                sched_param sp{};
                sp.sched_priority = 1;
                bRealTime =
                    bWantRealTime && pthread_setschedparam(pthread_self(), SCHED_FIFO, &sp) == 0;
                started = 1;
                QElapsedTimer t;
                t.start();
                while (!bStop) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    msLongest = std::max(msLongest.load(), t.restart());
                }
            });
            while (!started)
                std::this_thread::yield();
        }
        ~MachineProbe()
        {
            bStop = true;
            if (thread.joinable())
                thread.join();
        }
    };

    // Runs the event loop until pred holds; records the longest stretch without a tick of a
    // 5 ms timer (the GUI thread's longest stall).
    qint64 m_msLongestGap = 0;
    // With BC_DEBUG: what the GUI thread started during a stall.
    struct EventLog : QObject
    {
        QElapsedTimer clock;
        std::vector<std::pair<qint64, QString>> events;
        bool eventFilter(QObject* o, QEvent* e) override
        {
            if (events.size() < 2000000)
                events.emplace_back(
                    clock.elapsed(),
                    QString("%1 %2").arg(o->metaObject()->className()).arg(e->type()));
            return false;
        }
    };
    bool RunUntil(const std::function<bool()>& pred, int msTimeout)
    {
        EventLog elog;
        elog.clock.start();
        const bool bDebug = qEnvironmentVariableIsSet("BC_DEBUG");
        if (bDebug)
            qApp->installEventFilter(&elog);
        QEventLoop loop;
        QElapsedTimer total, sinceTick;
        total.start();
        sinceTick.start();
        QTimer tick;
        tick.setInterval(5);
        // The GUI thread's time on a CPU and waiting for one (ns), to tell starvation from work.
        auto schedStat = [] {
            std::array<qint64, 2> a{0, 0};
            QFile f("/proc/thread-self/schedstat");
            if (f.open(QIODevice::ReadOnly)) {
                const QList<QByteArray> p = f.readAll().split(' ');
                if (p.size() >= 2)
                    a = {p[0].toLongLong(), p[1].toLongLong()};
            }
            return a;
        };
        std::array<qint64, 2> lastStat = bDebug ? schedStat() : std::array<qint64, 2>{};
        // With BC_DEBUG, a thread watches the GUI thread's state and where it sleeps.
        std::mutex watchMutex;
        std::vector<std::pair<qint64, QByteArray>> watched;
        std::atomic<bool> bWatchStop = false;
        std::thread watcher;
        if (bDebug) {
            const QString task = QString("/proc/self/task/%1/").arg(gettid());
            watcher = std::thread([&, task] {
                sched_param sp{};
                sp.sched_priority = 1; // as root: a watcher that is never starved itself
                pthread_setschedparam(pthread_self(), SCHED_FIFO, &sp);
                QByteArray last;
                while (!bWatchStop) {
                    QFile st(task + "stat"), wc(task + "wchan"), sc(task + "syscall");
                    QByteArray now;
                    if (st.open(QIODevice::ReadOnly) && wc.open(QIODevice::ReadOnly) &&
                        sc.open(QIODevice::ReadOnly)) {
                        const QByteArray line = st.readAll();
                        const int close = line.lastIndexOf(')');
                        // syscall number and its first three arguments (poll: nfds, timeout)
                        const QList<QByteArray> call = sc.readAll().split(' ');
                        now = line.mid(close + 2, 1) + " " + wc.readAll() + " " +
                              call.mid(0, 4).join(' ');
                    }
                    if (now != last) {
                        std::lock_guard lock(watchMutex);
                        watched.emplace_back(elog.clock.elapsed(), now);
                        last = now;
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            });
        }
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const qint64 gap = sinceTick.restart();
            const std::array<qint64, 2> stat = bDebug ? schedStat() : std::array<qint64, 2>{};
            if (bDebug && gap > 50) {
                qInfo("stall of %lld ms (ran %lld ms, waited for a CPU %lld ms); events started "
                      "in it:",
                      gap, (stat[0] - lastStat[0]) / 1000000, (stat[1] - lastStat[1]) / 1000000);
                const qint64 now = elog.clock.elapsed();
                for (const auto& [at, what] : elog.events)
                    if (at >= now - gap - 2)
                        qInfo("  +%lld %s", at - (now - gap), qPrintable(what));
                std::lock_guard lock(watchMutex);
                for (const auto& [at, what] : watched)
                    if (at >= now - gap - 2)
                        qInfo("  +%lld state %s", at - (now - gap), what.constData());
            }
            if (bDebug) {
                elog.events.clear();
                std::lock_guard lock(watchMutex);
                watched.clear();
                sinceTick.restart(); // the listing above is not the program's stall
                lastStat = schedStat();
            }
            m_msLongestGap = std::max(m_msLongestGap, gap);
            if (pred() || total.elapsed() > msTimeout)
                loop.quit();
        });
        tick.start();
        loop.exec();
        bWatchStop = true;
        if (watcher.joinable())
            watcher.join();
        return pred();
    }
    static qint64 PeakRssKiB()
    {
        QFile f("/proc/self/status");
        if (!f.open(QIODevice::ReadOnly))
            return 0;
        for (const QByteArray& line : f.readAll().split('\n'))
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').value(0).toLongLong();
        return 0;
    }
    void Scan(const QString& name, const QString& first, const QString& last)
    {
        Frame().m_fnExecDialog = [=](QDialog& d) {
            auto& dlg = static_cast<CIpRangeDlg&>(d);
            dlg.NameEdit()->setText(name);
            dlg.FirstEdit()->SetText(first);
            dlg.LastEdit()->SetText(last);
            dlg.accept();
            return dlg.result();
        };
        Frame().RunCommand(ID_SCAN_IP_RANGE);
    }
    NodeHandle Child(NodeHandle parent, const QString& text)
    {
        for (NodeHandle h : Frame().Tree().GetChildren(parent))
            if (Frame().Tree().GetItemText(h) == text)
                return h;
        return NoNode;
    }

    // A range node's hosts, then the load hosts it lacks with what the log says of them.
    QString Missing(NodeHandle range)
    {
        QStringList hosts;
        for (NodeHandle h : Frame().Tree().GetChildren(range))
            hosts << Frame().Tree().GetItemText(h);
        QString text = hosts.join(' ');
        for (int i = 1; i <= 20; ++i) {
            const QString address = QString("127.0.3.%1").arg(i);
            if (hosts.contains(address))
                continue;
            text += "\n" + address + ":";
            const QRegularExpression mention(QRegularExpression::escape(address) + "\\b");
            for (int r = 0; r < Frame().Log()->rowCount(); ++r) {
                const QString event = Frame().Log()->Event(r);
                if (!event.contains("Searching in") && event.contains(mention))
                    text += "\n  " + event;
            }
        }
        return text;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        m_dir = qEnvironmentVariable("BC_LOADLAN_DIR");
        QVERIFY2(QFile::exists(m_dir + "/count.txt"), "the load network is not up");
        // A run just before this one leaves hundreds of server processes ending: wait until
        // their connections are gone, so that this run's scan meets idle servers.
        QElapsedTimer quiet;
        quiet.start();
        while (Sampler::SmbConnections(true) > 0 && quiet.elapsed() < 60000)
            QTest::qWait(200);
        QSettings("Halvorn", "Brindlecove").clear();
        m_prompter = std::make_unique<TestPrompter>();
        m_frame = std::make_unique<CMainFrame>(*m_prompter);
        m_frame->show();
    }
    void cleanupTestCase()
    {
        m_frame.reset();
        smb::HelperPool::Instance()->Shutdown();
    }

    void discoverScanAndSearchUnderLoad()
    {
        QFile countFile(m_dir + "/count.txt");
        QVERIFY(countFile.open(QIODevice::ReadOnly));
        const qint64 nExpected = countFile.readAll().trimmed().toLongLong();
        Sampler sampler;
        sampler.Start();
        QFile clear("/proc/self/clear_refs"); // the peak is measured from here on
        if (clear.open(QIODevice::WriteOnly))
            clear.write("5");
        clear.close();

        // Each activity is over for the window once it has said so (the frame's completion
        // runs after the last worker's).
        QSignalSpy completed(&Frame(), &CMainFrame::DiscoveryCompleted);

        // Discover: the test network's browse lists (the load hosts are in none).
        m_prompter->nextAnswer = Prompter::AnswerOk;
        Frame().RunCommand(ID_DISCOVER_NETWORK);
        QVERIFY(RunUntil([&] { return completed.count() == 1; }, 120000));
        const NodeHandle root = Frame().m_hRootNode;
        QVERIFY(root != NoNode);

        // These servers start their RPC services on demand and stop them when idle; 20 cold
        // starts at once on this machine's 2 cores took up to 17 s, past the share list's
        // deadline, which measures the test machine, not the program: warm them first.
        {
            std::vector<std::unique_ptr<QProcess>> warm;
            for (int i = 1; i <= 20; ++i) {
                warm.push_back(std::make_unique<QProcess>());
                warm.back()->start("smbclient",
                                   {"-N", "-L", QString("//127.0.3.%1").arg(i), "-t", "60"});
            }
            for (auto& p : warm)
                p->waitForFinished(90000);
        }

        // The load hosts' range.
        Scan("Load", "127.0.3.1", "127.0.3.20");
        QVERIFY(RunUntil([&] { return completed.count() == 2; }, 120000));
        const NodeHandle load = Child(root, "Load");
        QVERIFY(load != NoNode);
        if (qEnvironmentVariableIsSet("BC_DEBUG"))
            for (int i = 0; i < Frame().Log()->rowCount(); ++i)
                qInfo("%s", qPrintable(Frame().Log()->Event(i)));
        QCOMPARE(Frame().Tree().GetChildren(load).size(), size_t(20));
        for (NodeHandle host : Frame().Tree().GetChildren(load))
            QCOMPARE(Frame().Tree().GetChildren(host).size(), size_t(5)); // s1..s4, IPC$

        // The search of the whole tree from its root, and a scan of the whole /24 beside it.
        // The scan starts once the search has taken the root's children: hosts the scan adds
        // later are not searched a second time under the new range node.
        Frame().TreeModel()->Sync();
        Frame().SearchDlg()->Tree()->setCurrentIndex(Frame().TreeModel()->IndexOf(root));
        Frame().SearchDlg()->SetSearchText("*");
        Frame().SearchDlg()->SetContainingText(QString());
        m_msLongestGap = 0;
        MachineProbe machine, peer;
        machine.Start();
        peer.Start(false);
        QElapsedTimer t;
        t.start();
        QTest::mouseClick(Frame().SearchDlg()->SearchButton(), Qt::LeftButton);
        QVERIFY(Frame().IsSearchRunning());
        QVERIFY(RunUntil([&] { return Frame().ActiveResults()->Model()->rowCount() > 0; },
                         kSanitized ? 300000 : 120000));
        // In the TSan build a scan asked for at once after the last one's completion is at
        // times refused (the command does nothing); asked again it starts. Not understood yet.
        Scan("Whole", "127.0.3.1", "127.0.3.254");
        for (int i = 0; i < 40 && Frame().IsDiscoveryIdle(); ++i) {
            RunUntil([] { return false; }, 50);
            Scan("Whole", "127.0.3.1", "127.0.3.254");
        }
        QVERIFY(!Frame().IsDiscoveryIdle());
        QVERIFY(RunUntil(
            [&] {
                return (!Frame().IsSearchRunning() &&
                        Frame().SearchDlg()->SearchButton()->text() == "Search") &&
                       completed.count() == 3;
            },
            kSanitized ? 1500000 : 600000));
        const qint64 msSearch = t.elapsed();
        const qint64 kibPeak = PeakRssKiB();
        const qint64 msGap = m_msLongestGap;
        machine.bStop = true;
        machine.thread.join();
        const qint64 msMachine = machine.msLongest;
        peer.bStop = true;
        peer.thread.join();
        const qint64 msPeer = peer.msLongest;
        sampler.bStop = true;
        sampler.thread.join();

        CResultsModel* model = Frame().ActiveResults()->Model();
        const qint64 nFound = model->rowCount();
        const smb::PoolLimits limits = smb::HelperPool::Instance()->Limits();
        qInfo("%lld entries in %lld ms: %.0f entries/s; peak memory %lld MiB; longest GUI stall "
              "%lld ms (the machine's own, seen by a %s thread: %lld ms; a peer thread's at "
              "the GUI thread's priority: %lld ms); at most %d helpers (cap %d), %d sockets in "
              "this process, %d SMB connections at once (%d to one server)",
              nFound, msSearch, nFound * 1000.0 / std::max<qint64>(msSearch, 1), kibPeak / 1024,
              msGap, machine.bRealTime ? "real-time" : "normal", msMachine, msPeer,
              sampler.nMaxHelpers.load(), limits.nMaxHelpers, sampler.nMaxSockets.load(),
              sampler.nMaxSmbConnections.load(), sampler.nMaxPerServer.load());
        // What a user could do instead: four smbclient walkers over the same 80 shares, now.
        {
            QString shares;
            for (int i = 1; i <= 20; ++i)
                for (int k = 1; k <= 4; ++k)
                    shares += QString("//127.0.3.%1/s%2\n").arg(i).arg(k);
            QProcess walkers;
            walkers.start("sh", {"-c", "xargs -P 4 -I{} smbclient -N {} -c 'recurse; ls' "
                                       "2>/dev/null | grep -c '^  '"});
            walkers.write(shares.toUtf8());
            walkers.closeWriteChannel();
            QElapsedTimer tw;
            tw.start();
            QVERIFY(walkers.waitForFinished(900000));
            const qint64 msWalkers = std::max<qint64>(tw.elapsed(), 1);
            const qint64 nLines = walkers.readAllStandardOutput().trimmed().toLongLong();
            qInfo("4 parallel smbclient -c 'recurse; ls' over the 80 shares: %lld lines in %lld "
                  "ms: %.0f entries/s (ours %.2fx)",
                  nLines, msWalkers, nFound * 1000.0 / msWalkers,
                  double(msWalkers) / std::max<qint64>(msSearch, 1));
        }

        // Nothing lost, nothing doubled, nothing made up. Finds on other servers the root holds
        // (the loopback test network's, when it runs at the same time) are not counted.
        QHash<QString, QSet<QString>> manifest; // share -> relative paths
        for (const char* s : {"s1", "s2", "s3", "s4"}) {
            QFile f(m_dir + "/manifest-" + s + ".txt");
            QVERIFY(f.open(QIODevice::ReadOnly));
            for (const QString& line :
                 QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts))
                manifest[s].insert(line.section('\t', 0, 0));
        }
        QSet<QString> seen;
        seen.reserve(nFound);
        qint64 nLoad = 0;
        for (int i = 0; i < nFound; ++i) {
            const QString path = model->At(i).strPath; // \\127.0.3.N\sK\rel
            if (!path.startsWith("\\\\127.0.3."))
                continue;
            const QString share = path.section('\\', 3, 3);
            const QString rel = path.section('\\', 4);
            QVERIFY2(manifest.value(share).contains(rel), qPrintable(path));
            seen.insert(path);
            ++nLoad;
        }
        QCOMPARE(qint64(seen.size()), nLoad);
        QCOMPARE(nLoad, nExpected);
        QCOMPARE(model->At(0).strPath.isEmpty(), false);

        // The second scan found the same 20 hosts in the whole /24.
        const NodeHandle whole = Child(root, "Whole");
        QVERIFY(whole != NoNode);
        QVERIFY2(Frame().Tree().GetChildren(whole).size() == 20, qPrintable(Missing(whole)));

        QVERIFY(sampler.nMaxHelpers <= limits.nMaxHelpers);
        QVERIFY(smb::HelperPool::Instance()->GetStats().nPeakProcesses <= limits.nMaxHelpers);
        // This process's own sockets: the helpers' channels, the probes in flight, a few of Qt's.
        QVERIFY2(sampler.nMaxSockets <= limits.nMaxHelpers + 254 + 8,
                 qPrintable(QString::number(sampler.nMaxSockets)));
        // SMB connections to the load hosts: a helper works for one server at a time with one
        // connection, at most nMaxPerHost helpers per server; a scan's greeting may come on top.
        QVERIFY2(sampler.nMaxSmbConnections <= 64,
                 qPrintable(QString::number(sampler.nMaxSmbConnections)));
        QVERIFY2(sampler.nMaxPerServer <= limits.nMaxPerHost + 1,
                 qPrintable(QString::number(sampler.nMaxPerServer)));
        if (!kSanitized) {
            // The GUI thread may stall less than 100 ms beyond what the machine itself imposes
            // on a real-time thread at the same time: on this kind of machine (2 virtual cores
            // shared with the 20 servers and the helpers) even that thread misses its wake-up
            // by about 100 ms at times. The peer's figure is printed to tell the CPU share this
            // process gets beside the servers from the GUI thread's own work; BC_DEBUG lists
            // what the GUI thread did in each stall. Beside the test suite's busy loops
            // (BC_BUSY_LOOPS, as many CPU hogs at the GUI thread's own priority as there are
            // cores) only a freeze of a second is an error.
            const qint64 msBound = qEnvironmentVariableIsSet("BC_BUSY_LOOPS")
                                       ? 1000
                                       : std::max<qint64>(100, msMachine + 100);
            QVERIFY2(msGap < msBound,
                     qPrintable(QString("%1 ms, machine %2 ms, peer %3 ms, bound %4 ms")
                                    .arg(msGap)
                                    .arg(msMachine)
                                    .arg(msPeer)
                                    .arg(msBound)));
            QVERIFY2(kibPeak < 400 * 1024, qPrintable(QString::number(kibPeak)));
        }
    }
};

QTEST_MAIN(TestLoad)
#include "tst_load.moc"
