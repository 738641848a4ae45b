#include "network/Discovery.h"
#include "network/IpRange.h"
#include "network/SmbLanBrowser.h"
#include "network/TreeFile.h"
#include "smb/HelperPool.h"

#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>

// Discovery against the loopback test network (scripts/testlan.sh).
class TestLanDiscovery : public QObject
{
    Q_OBJECT

    struct Run
    {
        std::shared_ptr<NetworkTree> tree = std::make_shared<NetworkTree>();
        std::mutex m;
        std::condition_variable cv;
        QStringList status, err;
        int nCompleted = 0;
        std::unique_ptr<Discovery> d;
        explicit Run(std::shared_ptr<LanBrowser> browser = std::make_shared<SmbLanBrowser>())
        {
            Discovery::Callbacks cb;
            cb.fnStatus = [this](const QString& s) {
                std::lock_guard l(m);
                status << s;
            };
            cb.fnStderr = [this](const QString& s) {
                std::lock_guard l(m);
                err << s;
            };
            cb.fnCompleted = [this] {
                std::lock_guard l(m);
                ++nCompleted;
                cv.notify_all();
            };
            d = std::make_unique<Discovery>(tree, browser, cb);
        }
        bool Wait(int seconds = 60)
        {
            std::unique_lock l(m);
            return cv.wait_for(l, std::chrono::seconds(seconds), [&] { return nCompleted > 0; });
        }
        QString Dump(NodeHandle n, int depth = 0) const
        {
            QString s = QString(depth * 2, ' ') + tree->GetItemText(n) + '\n';
            for (NodeHandle c : tree->GetChildren(n))
                s += Dump(c, depth + 1);
            return s;
        }
    };

private slots:
    // The browse lists alone, and with the announcement sources asked beside them (they find
    // nothing here: loopback carries no multicast, and this machine has no avahi-daemon or it
    // is not asked beyond loopback).
    void discoverTheTestNetwork_data()
    {
        QTest::addColumn<bool>("bAnnouncements");
        QTest::newRow("NetBIOS and the announcement sources") << true;
        QTest::newRow("NetBIOS alone") << false;
    }
    void discoverTheTestNetwork()
    {
        QFETCH(bool, bAnnouncements);
        SmbLanBrowser::Timeouts timeouts;
        if (!bAnnouncements)
            timeouts.msWsd = timeouts.msMdns = 0;
        Run r(std::make_shared<SmbLanBrowser>(timeouts));
        QElapsedTimer t;
        t.start();
        QVERIFY(r.d->DiscoverNetwork());
        QVERIFY(r.Wait());
        qInfo("Discover took %lld ms", t.elapsed());
        QCOMPARE(
            r.Dump(r.d->RootNode()),
            QString("MS Windows Network\n"
                    "  LAB\n    GAMMA\n      IPC$\n      lab\n      scratch\n"
                    "  WORKGROUP\n    ALPHA\n      admin$\n      docs\n      IPC$\n      laser\n"
                    "      music\n      private\n      public\n"
                    "    BETA\n      IPC$\n      projects\n      public\n"));
        std::lock_guard l(r.m);
        QCOMPARE(r.nCompleted, 1);
        QVERIFY(r.status.contains("Getting information about WORKGROUP\\ALPHA"));
        QVERIFY(r.status.contains("Getting information about LAB\\GAMMA"));
        QCOMPARE(r.status.mid(r.status.size() - 2),
                 (QStringList{"Network tree has been updated!", "Ready"}));
        QVERIFY(r.err.isEmpty());
        if (!bAnnouncements)
            QVERIFY(!r.status.join('\n').contains("mDNS"));
    }

    void unknownWorkgroupStaysALeaf()
    {
        Run r;
        QVERIFY(r.d->AddDomain("NOSUCHGROUP"));
        QVERIFY(r.Wait());
        const NodeHandle dom = r.tree->GetChildItem(r.d->RootNode());
        QCOMPARE(r.tree->GetItemText(dom), QString("NOSUCHGROUP"));
        QVERIFY(!r.tree->ItemHasChildren(dom));
        std::lock_guard l(r.m);
        QCOMPARE(r.err.size(), 1);
        QVERIFY(r.err[0].startsWith("A system error has occurred: "));
    }

    void scanFindsTheThreeHosts()
    {
        Run r;
        QVERIFY(r.d->ScanIpRange("IP range 1", *iprange::FromText("127.0.0.10"),
                                 *iprange::FromText("127.0.0.14")));
        QVERIFY(r.Wait());
        QCOMPARE(
            r.Dump(r.d->RootNode()),
            QString(
                "MS Windows Network\n  IP range 1\n"
                "    127.0.0.11\n      admin$\n      docs\n      IPC$\n      laser\n      music\n"
                "      private\n      public\n"
                "    127.0.0.12\n      IPC$\n      projects\n      public\n"
                "    127.0.0.13\n      IPC$\n      lab\n      scratch\n"));
    }

    // HERON lists its shares only after a login: the scan keeps it, marked, with no shares,
    // and the log names it; DELTA (which lists to guests) beside it is scanned as always.
    void scanKeepsAHostThatNeedsALogin()
    {
        Run r;
        QVERIFY(r.d->ScanIpRange("IP range 1", *iprange::FromText("127.0.0.15"),
                                 *iprange::FromText("127.0.0.16")));
        QVERIFY(r.Wait());
        const NodeHandle range = r.tree->GetChildItem(r.d->RootNode());
        QCOMPARE(r.Dump(range), QString("IP range 1\n  127.0.0.15\n    doomed\n    faults\n"
                                        "    IPC$\n    loop\n    vanish\n  127.0.0.16\n"));
        const std::vector<NodeHandle> hosts = r.tree->GetChildren(range);
        QVERIFY(!r.tree->IsLoginNeeded(hosts.front()));
        QVERIFY(r.tree->IsLoginNeeded(hosts.back()));
        std::lock_guard l(r.m);
        QCOMPARE(r.status.filter("needs a login").size(), 1);
        QVERIFY(r.status.contains("\\\\127.0.0.16 needs a login to list its shares"));
    }

    // A host that accepts connections and never answers, and a range where nobody listens,
    // both end within bounds.
    void silentAndDeadHostsAreBounded()
    {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        QVERIFY(fd >= 0);
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(445);
        inet_pton(AF_INET, "127.0.0.20", &a.sin_addr);
        QVERIFY(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0);
        QVERIFY(listen(fd, 16) == 0); // never accepted, never answered

        SmbLanBrowser browser;
        std::atomic<bool> abort{false};
        quint32 resume = 0;
        QElapsedTimer t;
        t.start();
        const EnumResult silent = browser.EnumShares("127.0.0.20", resume, abort);
        const qint64 msSilent = t.elapsed();
        qInfo("silent host: %lld ms, status %d", msSilent, silent.nStatus);
        QVERIFY(!silent.Usable());
        QVERIFY(msSilent < 20000);

        Run r;
        t.restart();
        QVERIFY(r.d->ScanIpRange("dead", *iprange::FromText("127.0.0.30"),
                                 *iprange::FromText("127.0.0.129")));
        QVERIFY(r.Wait());
        qInfo("100 dead addresses: %lld ms", t.elapsed());
        QVERIFY(t.elapsed() < 20000);
        QVERIFY(!r.tree->ItemHasChildren(r.tree->GetChildItem(r.d->RootNode())));
        close(fd);
    }

    // 300 addresses: 100 where SYNs go unanswered (a listener whose queue is full drops them,
    // as a dead host would), 20 that accept and never answer a byte, the rest refuse. The scan
    // ends within the connect deadline plus a few seconds and lists no host.
    void threeHundredAddressesAreBounded()
    {
        std::vector<int> fds;
        auto closeAll = qScopeGuard([&] {
            for (int fd : fds)
                close(fd);
        });
        auto listenOn = [&](quint32 address, int nBacklog) {
            const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            int one = 1;
            setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(445);
            a.sin_addr.s_addr = htonl(address);
            if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
                listen(fd, nBacklog) != 0)
                return false;
            fds.push_back(fd);
            if (nBacklog > 0)
                return true;
            // Fill the queue of one: later SYNs are dropped.
            const int c = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            fds.push_back(c);
            return ::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        };
        const quint32 first = *iprange::FromText("127.0.1.1");
        const quint32 last = first + 299;
        for (quint32 a = first; a < first + 100; ++a)
            QVERIFY(listenOn(a, 0));
        for (quint32 a = first + 100; a < first + 120; ++a)
            QVERIFY(listenOn(a, 64)); // never accepted: the client's connect succeeds anyway

        Run r;
        QElapsedTimer t;
        t.start();
        QVERIFY(r.d->ScanIpRange("wide", first, last));
        QVERIFY(r.Wait(120));
        const qint64 ms = t.elapsed();
        const int msConnect = smb::HelperPool::Instance()->Limits().msConnect;
        qInfo("300 addresses (100 dead, 20 silent, 180 refusing): %lld ms; connect deadline "
              "%d ms",
              ms, msConnect);
        QVERIFY(!r.tree->ItemHasChildren(r.tree->GetChildItem(r.d->RootNode())));
        const int msAnswer = smb::HelperPool::Instance()->Limits().msAnswer;
        QVERIFY2(ms < std::max(msConnect, msAnswer) + 4000, qPrintable(QString::number(ms)));
    }
};

QTEST_GUILESS_MAIN(TestLanDiscovery)
#include "tst_lan_discovery.moc"
