#include "common/FakeLanBrowser.h"
#include "network/Discovery.h"
#include "network/IpRange.h"
#include "network/TreeFile.h"

#include <QtTest>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <mutex>

// Discovery against a network made of tables.
class TestDiscovery : public QObject
{
    Q_OBJECT

    struct Run
    {
        std::shared_ptr<NetworkTree> tree = std::make_shared<NetworkTree>();
        std::shared_ptr<FakeLanBrowser> browser = std::make_shared<FakeLanBrowser>();
        std::mutex m;
        std::condition_variable cv;
        QStringList status, out, err;
        int nCompleted = 0;
        std::unique_ptr<Discovery> d;

        Run()
        {
            Discovery::Callbacks cb;
            cb.fnStatus = [this](const QString& s) {
                std::lock_guard l(m);
                status << s;
            };
            cb.fnStdout = [this](const QString& s) {
                std::lock_guard l(m);
                out << s;
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
            d->SetDomainStartPause(1);
        }
        bool WaitCompleted(int n = 1)
        {
            std::unique_lock l(m);
            return cv.wait_for(l, std::chrono::seconds(10), [&] { return nCompleted >= n; });
        }
        QStringList Texts(NodeHandle parent) const
        {
            QStringList t;
            for (NodeHandle h : tree->GetChildren(parent))
                t << tree->GetItemText(h);
            return t;
        }
        NodeHandle Child(NodeHandle parent, const QString& text) const
        {
            for (NodeHandle h : tree->GetChildren(parent))
                if (tree->GetItemText(h) == text)
                    return h;
            return NoNode;
        }
    };

private slots:
    void discoverThreeDomains()
    {
        Run r;
        r.browser->domains = FakeLanBrowser::Ok({"WORK", "lab", "Alpha-Domain"});
        r.browser->servers["WORK"] = FakeLanBrowser::Ok({"zeta", "ALPHA"});
        r.browser->servers["lab"] = FakeLanBrowser::Ok({"GAMMA"});
        r.browser->servers["Alpha-Domain"] = FakeLanBrowser::Failed(ENOENT);
        r.browser->shares["ALPHA"] = {
            FakeLanBrowser::Ok({"public", "admin$", "IPC$", "C$", "docs"})};
        r.browser->shares["zeta"] = {
            FakeLanBrowser::Ok({"b"}),
        };
        r.browser->shares["GAMMA"] = {{ERROR_MORE_DATA, {"x2", "x1"}, 4, {}, {}},
                                      FakeLanBrowser::Ok({"a"})};
        QVERIFY(r.d->DiscoverNetwork());
        QVERIFY(!r.d->IsIdle());
        QVERIFY(r.WaitCompleted());
        QVERIFY(r.d->IsIdle());
        QCOMPARE(r.d->WorkerCount(), 0);
        const NodeHandle root = r.d->RootNode();
        QCOMPARE(r.tree->GetItemText(root), QString("MS Windows Network"));
        // Domains come sorted; servers and shares are sorted by the completion.
        QCOMPARE(r.Texts(root), (QStringList{"Alpha-Domain", "lab", "WORK"}));
        const NodeHandle work = r.Child(root, "WORK");
        QCOMPARE(r.Texts(work), (QStringList{"ALPHA", "zeta"}));
        QCOMPARE(r.Texts(r.Child(work, "ALPHA")),
                 (QStringList{"admin$", "C$", "docs", "IPC$", "public"}));
        // A share list in two parts: both parts, under one node.
        QCOMPARE(r.Texts(r.Child(r.Child(root, "lab"), "GAMMA")), (QStringList{"a", "x1", "x2"}));
        QVERIFY(!r.tree->ItemHasChildren(r.Child(root, "Alpha-Domain")));
        QCOMPARE(r.tree->GetItemKind(work), NK_DOMAIN);
        QCOMPARE(r.tree->GetItemKind(r.Child(work, "ALPHA")), NK_SERVER);

        std::lock_guard l(r.m);
        QCOMPARE(r.nCompleted, 1);
        QCOMPARE(r.status.first(), QString("Retriving network tree..."));
        QCOMPARE(r.status.mid(r.status.size() - 2),
                 (QStringList{"Network tree has been updated!", "Ready"}));
        for (const char* s :
             {"Getting information about Alpha-Domain", "Getting information about lab",
              "Getting information about WORK", "Getting information about WORK\\zeta",
              "Getting information about WORK\\ALPHA", "Getting information about lab\\GAMMA"})
            QCOMPARE(r.status.count(s), 1);
        QCOMPARE(r.status.size(), 1 + 3 + 3 + 2);
        QCOMPARE(r.err, QStringList{"A system error has occurred: 53\n"});
        QVERIFY(r.out.contains("\nEntries enumerated: 3\n"));
        QVERIFY(r.out.contains("\nEntries enumerated: 2\n"));
    }

    // A server whose share list is refused for want of a login (as Windows refuses a guest):
    // it stays in the tree, marked, and the log names it; a server that does not answer is
    // neither marked nor named so. A scanned address that refuses becomes a host node.
    void shareListNeedsALogin()
    {
        Run r;
        r.browser->domains = FakeLanBrowser::Ok({"RIDGE"});
        r.browser->servers["RIDGE"] = FakeLanBrowser::Ok({"HERON", "LARK", "WREN", "GONE"});
        r.browser->shares["HERON"] = {FakeLanBrowser::Failed(EACCES)};
        r.browser->shares["LARK"] = {FakeLanBrowser::Failed(ErrorKind::LoginFailed)};
        r.browser->shares["WREN"] = {FakeLanBrowser::Ok({"pub"})};
        r.browser->shares["10.0.0.7"] = {FakeLanBrowser::Failed(EACCES)};
        QVERIFY(r.d->DiscoverNetwork());
        QVERIFY(r.WaitCompleted());
        QVERIFY(r.d->ScanIpRange("IP range 1", *iprange::FromText("10.0.0.6"),
                                 *iprange::FromText("10.0.0.8")));
        QVERIFY(r.WaitCompleted(2));
        const NodeHandle root = r.d->RootNode();
        const NodeHandle ridge = r.Child(root, "RIDGE");
        QCOMPARE(r.Texts(ridge), (QStringList{"GONE", "HERON", "LARK", "WREN"}));
        for (const char* name : {"HERON", "LARK"}) {
            QVERIFY(r.tree->IsLoginNeeded(r.Child(ridge, name)));
            QVERIFY(!r.tree->ItemHasChildren(r.Child(ridge, name)));
        }
        QVERIFY(!r.tree->IsLoginNeeded(r.Child(ridge, "WREN")));
        QVERIFY(!r.tree->IsLoginNeeded(r.Child(ridge, "GONE")));
        const NodeHandle range = r.Child(root, "IP range 1");
        QCOMPARE(r.Texts(range), QStringList{"10.0.0.7"});
        QVERIFY(r.tree->IsLoginNeeded(r.Child(range, "10.0.0.7")));
        QCOMPARE(r.tree->GetItemKind(r.Child(range, "10.0.0.7")), NK_SERVER);
        std::lock_guard l(r.m);
        QCOMPARE(r.status.filter("needs a login").size(), 3);
        for (const char* name : {"HERON", "LARK", "10.0.0.7"})
            QCOMPARE(r.status.count(QString("\\\\%1 needs a login to list its shares").arg(name)),
                     1);
    }

    // Opening a server whose share list fails: the log names why in the same words a search
    // uses for an unreadable folder; a refused login is no failure but a mark.
    void shareListFailureSaysWhy_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("line");
        QTest::newRow("refused connection")
            << ECONNREFUSED
            << QString("Cannot list the shares of \\\\HERON: ") + strerror(ECONNREFUSED);
        QTest::newRow("helper timeout") << int(ErrorKind::HelperTimeout)
                                        << "Cannot list the shares of \\\\HERON: no answer within "
                                           "the deadline";
        QTest::newRow("unknown host") << int(ErrorKind::UnknownHost)
                                      << "Cannot list the shares of \\\\HERON: the server name "
                                         "was not found on the network";
        QTest::newRow("odd errno")
            << EPROTO << QString("Cannot list the shares of \\\\HERON: ") + strerror(EPROTO);
        QTest::newRow("access denied") << EACCES << QString();
        QTest::newRow("login refused") << int(ErrorKind::LoginFailed) << QString();
    }
    void shareListFailureSaysWhy()
    {
        QFETCH(int, code);
        QFETCH(QString, line);
        Run r;
        r.browser->domains = FakeLanBrowser::Ok({"RIDGE"});
        r.browser->servers["RIDGE"] = FakeLanBrowser::Ok({"HERON"});
        r.browser->shares["HERON"] = {FakeLanBrowser::Failed(code)};
        QVERIFY(r.d->DiscoverNetwork());
        QVERIFY(r.WaitCompleted());
        const NodeHandle heron = r.Child(r.Child(r.d->RootNode(), "RIDGE"), "HERON");
        QVERIFY(r.d->ListServerShares(heron));
        QVERIFY(r.WaitCompleted(2));
        std::lock_guard l(r.m);
        const QStringList failures = r.status.filter("Cannot list the shares");
        QCOMPARE(failures, line.isEmpty() ? QStringList() : QStringList{line});
        QCOMPARE(r.tree->IsLoginNeeded(heron), line.isEmpty());
        // Never a made-up number in place of the reason.
        QVERIFY(r.status.filter(QRegularExpression("error \\d+")).isEmpty());
    }

    void failedDomainListCompletesAtOnce()
    {
        Run r;
        r.browser->domains = FakeLanBrowser::Failed(ErrorKind::NoBrowseServer);
        QVERIFY(r.d->DiscoverNetwork());
        QVERIFY(r.WaitCompleted());
        QCOMPARE(r.tree->GetCount(), 1);
        std::lock_guard l(r.m);
        QCOMPARE(r.err, QStringList{"A system error has occurred: 6118\n"});
        QCOMPARE(r.status, (QStringList{"Retriving network tree...",
                                        "Network tree has been updated!", "Ready"}));
    }

    void moreServersThanReturned()
    {
        Run r;
        r.browser->domains = FakeLanBrowser::Ok({"WORK"});
        r.browser->servers["WORK"] = {ERROR_MORE_DATA, {"A", "B"}, 7, {}, {}};
        QVERIFY(r.d->DiscoverNetwork());
        QVERIFY(r.WaitCompleted());
        QCOMPARE(r.Texts(r.Child(r.d->RootNode(), "WORK")), (QStringList{"A", "B"}));
        std::lock_guard l(r.m);
        QCOMPARE(r.err, (QStringList{"\nMore entries available!!!\n", "Total entries: 7"}));
    }

    // Early workers end before later ones start; however the ends interleave, the completion
    // runs once, after the last one.
    void completionRunsExactlyOnce()
    {
        for (int round = 0; round < 20; ++round) {
            Run r;
            QStringList doms;
            for (int i = 0; i < 6; ++i) {
                const QString dom = QString("D%1").arg(i);
                doms << dom;
                r.browser->servers[dom] = FakeLanBrowser::Ok({QString("S%1").arg(i)});
                r.browser->delayMs[dom] = (round + i) % 3 == 0 ? 0 : (i * 7 + round) % 15;
                r.browser->shares[QString("S%1").arg(i)] = {FakeLanBrowser::Ok({"share"})};
            }
            r.browser->domains = FakeLanBrowser::Ok(doms);
            r.d->SetDomainStartPause(round % 2 ? 0 : 5);
            QVERIFY(r.d->DiscoverNetwork());
            QVERIFY(r.WaitCompleted());
            // While an added domain is being listed, a scan is refused.
            r.browser->CloseGate();
            QVERIFY(r.d->AddDomain("D0"));
            QVERIFY(!r.d->ScanIpRange("IP range 1", 1, 2)); // busy: refused
            r.browser->OpenGate();
            QVERIFY(r.WaitCompleted(2));
            QTest::qWait(30);
            std::lock_guard l(r.m);
            QCOMPARE(r.nCompleted, 2);
            QCOMPARE(r.status.count("Network tree has been updated!"), 2);
            QCOMPARE(r.tree->GetChildren(r.d->RootNode()).size(), std::size_t(7));
            for (NodeHandle dom : r.tree->GetChildren(r.d->RootNode()))
                QCOMPARE(r.tree->GetChildren(dom).size(), std::size_t(1));
        }
    }

    void scanRange_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::addColumn<int>("workers");
        QTest::newRow("one address") << "10.0.0.5"
                                     << "10.0.0.5" << 1;
        QTest::newRow("blank fields") << "..."
                                      << "..." << 1;
        QTest::newRow("ends at the top") << "255.255.255.250"
                                         << "255.255.255.255" << 6;
        QTest::newRow("300") << "192.168.1.1"
                             << "192.168.2.44" << 300;
    }
    void scanRange()
    {
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(int, workers);
        Run r;
        r.browser->shares["10.0.0.5"] = {FakeLanBrowser::Ok({"pub"})};
        r.browser->shares["0.0.0.0"] = {FakeLanBrowser::Ok({"zero"})};
        r.browser->shares["255.255.255.255"] = {FakeLanBrowser::Ok({"top"})};
        r.browser->shares["192.168.2.44"] = {FakeLanBrowser::Ok({"last"})};
        QVERIFY(
            r.d->ScanIpRange("IP range 1", *iprange::FromText(first), *iprange::FromText(last)));
        QVERIFY(r.WaitCompleted());
        QCOMPARE(r.browser->nCalls.load(), workers);
        const NodeHandle range = r.Child(r.d->RootNode(), "IP range 1");
        QCOMPARE(r.tree->GetChildren(range).size(), std::size_t(1));
        std::lock_guard l(r.m);
        QCOMPARE(r.status.count(QString("Retriving information about %1 ...")
                                    .arg(iprange::ToText(*iprange::FromText(last)))),
                 1);
        QCOMPARE(r.status.size(), workers + 2);
    }

    // The tree replaced under running workers (a tree loaded from a file): what they find
    // afterwards goes nowhere, least of all beside the new root.
    void treeReplacedUnderWorkers_data()
    {
        QTest::addColumn<QString>("activity");
        QTest::newRow("discover") << "discover";
        QTest::newRow("scan") << "scan";
        QTest::newRow("add domain") << "domain";
    }
    void treeReplacedUnderWorkers()
    {
        QFETCH(QString, activity);
        Run r;
        r.browser->domains = FakeLanBrowser::Ok({"WORK"});
        r.browser->servers["WORK"] = FakeLanBrowser::Ok({"ALPHA", "BETA"});
        r.browser->shares["ALPHA"] = {FakeLanBrowser::Ok({"a"})};
        r.browser->shares["BETA"] = {FakeLanBrowser::Ok({"b"})};
        r.browser->shares["10.0.0.1"] = {FakeLanBrowser::Ok({"c"})};
        r.browser->shares["10.0.0.2"] = {FakeLanBrowser::Ok({"d"})};
        r.browser->CloseGate();
        if (activity == "discover")
            QVERIFY(r.d->DiscoverNetwork());
        else if (activity == "scan")
            QVERIFY(r.d->ScanIpRange("IP range 1", *iprange::FromText("10.0.0.1"),
                                     *iprange::FromText("10.0.0.2")));
        else
            QVERIFY(r.d->AddDomain("WORK"));
        QTRY_VERIFY(r.browser->nCalls.load() >= 1);
        const NodeHandle loaded =
            treefile::Build(*r.tree, {{2, "LOADED"}, {1, "SRV"}, {0, "share"}});
        r.d->SetRootNode(loaded);
        r.browser->OpenGate();
        QVERIFY(r.WaitCompleted());
        QCOMPARE(r.tree->GetChildren(NoNode), std::vector<NodeHandle>{loaded});
        QCOMPARE(r.Texts(loaded), QStringList{"LOADED"});
        QCOMPARE(r.tree->GetCount(), 4);
    }

    void hostsSortedAsText()
    {
        Run r;
        for (int i = 1; i <= 12; ++i)
            r.browser->shares[QString("10.0.0.%1").arg(i)] = {FakeLanBrowser::Ok({"s"})};
        r.browser->delayMs["10.0.0.2"] = 20;
        QVERIFY(r.d->ScanIpRange("IP range 1", *iprange::FromText("10.0.0.1"),
                                 *iprange::FromText("10.0.0.12")));
        QVERIFY(r.WaitCompleted());
        const QStringList hosts = r.Texts(r.Child(r.d->RootNode(), "IP range 1"));
        QCOMPARE(hosts.mid(0, 4), (QStringList{"10.0.0.1", "10.0.0.10", "10.0.0.11", "10.0.0.12"}));
        QCOMPARE(hosts.last(), QString("10.0.0.9"));
    }

    void addDomainAndRangesAppend()
    {
        Run r;
        r.browser->servers["LAB"] = FakeLanBrowser::Ok({"GAMMA"});
        QVERIFY(r.d->AddDomain("LAB"));
        QVERIFY(r.WaitCompleted());
        QVERIFY(r.d->AddDomain("LAB"));
        QVERIFY(r.WaitCompleted(2));
        QVERIFY(r.d->ScanIpRange("IP range 1", 1, 1));
        QVERIFY(r.WaitCompleted(3));
        QVERIFY(r.d->ScanIpRange("", 1, 1));
        QVERIFY(r.WaitCompleted(4));
        QVERIFY(!r.d->AddDomain(""));
        QCOMPARE(r.Texts(r.d->RootNode()), (QStringList{"LAB", "LAB", "IP range 1", ""}));
        const auto doms = r.tree->GetChildren(r.d->RootNode());
        QCOMPARE(r.Texts(doms[0]), QStringList{"GAMMA"});
        QCOMPARE(r.Texts(doms[1]), QStringList{"GAMMA"});
        std::lock_guard l(r.m);
        QCOMPARE(r.status.count("Retriving information about domain... Please wait."), 2);
    }

    // No thread can be had (the process limit is reached): each address of a scan and the
    // domain of Add Domain is named in the log, and the activity still completes, once.
    void noThreadToBeHad()
    {
#if defined(__SANITIZE_THREAD__)
        QSKIP("TSan does not support starting threads after a fork");
#else
        if (geteuid() != 0)
            QSKIP("needs root, to become another user with a process limit of one");
        // In a child process of one thread, as a user that may run one process: every
        // thread start fails. The child reports by its exit code.
        const pid_t pid = fork();
        QVERIFY(pid >= 0);
        if (pid == 0) {
            const rlimit one{1, 1};
            if (setrlimit(RLIMIT_NPROC, &one) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
                _exit(10);
            Run r;
            r.browser->shares["10.0.0.1"] = {FakeLanBrowser::Ok({"pub"})};
            if (!r.d->ScanIpRange("IP range 1", *iprange::FromText("10.0.0.1"),
                                  *iprange::FromText("10.0.0.3")))
                _exit(11);
            if (r.nCompleted != 1 || !r.d->IsIdle() || r.browser->nCalls != 0)
                _exit(12);
            for (const char* a : {"10.0.0.1", "10.0.0.2", "10.0.0.3"})
                if (!r.status.contains(
                        QString("Cannot scan %1: no thread could be started").arg(a)))
                    _exit(13);
            if (!r.d->AddDomain("WORK") || r.nCompleted != 2 ||
                !r.status.contains("Cannot list WORK: no thread could be started"))
                _exit(14);
            _exit(0);
        }
        int status = 0;
        QCOMPARE(waitpid(pid, &status, 0), pid);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
#endif
    }

    // A worker stuck in the network is asked to give up; after Shutdown nothing calls back.
    void shutdownCutsOffCallbacks()
    {
        Run r;
        r.browser->domains = FakeLanBrowser::Ok({"WORK"});
        r.browser->CloseGate();
        QVERIFY(r.d->DiscoverNetwork());
        QTest::qWait(20);
        QVERIFY(r.d->Shutdown(2000)); // the gate gives way to abort
        QVERIFY(!r.d->DiscoverNetwork());
        std::lock_guard l(r.m);
        QCOMPARE(r.nCompleted, 0);
    }

    void ipAddresses_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<uint>("value");
        QTest::newRow("plain") << "192.168.1.1" << true << 0xC0A80101u;
        QTest::newRow("blank is zero") << "10..0." << true << 0x0A000000u;
        QTest::newRow("all blank") << "..." << true << 0u;
        QTest::newRow("top") << "255.255.255.255" << true << 0xFFFFFFFFu;
        QTest::newRow("256") << "256.0.0.1" << false << 0u;
        QTest::newRow("letters") << "a.b.c.d" << false << 0u;
        QTest::newRow("three fields") << "1.2.3" << false << 0u;
        QTest::newRow("negative") << "1.-2.3.4" << false << 0u;
    }
    void ipAddresses()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(uint, value);
        const auto a = iprange::FromText(text);
        QCOMPARE(a.has_value(), valid);
        if (valid) {
            QCOMPARE(*a, quint32(value));
            QCOMPARE(*iprange::FromText(iprange::ToText(*a)), *a);
        }
    }

    void rangeSize_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("300") << "192.168.1.1"
                             << "192.168.2.44" << true;
        QTest::newRow("301") << "192.168.1.1"
                             << "192.168.2.45" << false;
        QTest::newRow("one") << "10.0.0.1"
                             << "10.0.0.1" << true;
        QTest::newRow("reversed") << "10.0.0.2"
                                  << "10.0.0.1" << false;
        QTest::newRow("to the top") << "255.255.255.0"
                                    << "255.255.255.255" << true;
    }
    void rangeSize()
    {
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(bool, accepted);
        QCOMPARE(iprange::Accepted(*iprange::FromText(first), *iprange::FromText(last)), accepted);
    }
};

QTEST_GUILESS_MAIN(TestDiscovery)
#include "tst_discovery.moc"
