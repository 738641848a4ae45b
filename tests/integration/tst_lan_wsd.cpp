#include "gui/TestPrompter.h"

#include "app/CMainFrame.h"
#include "app/Commands.h"
#include "network/NetworkTreeModel.h"
#include "network/WsDiscovery.h"
#include "results/CResultsWindow.h"
#include "search/CSearchDlg.h"
#include "search/SearchEngine.h"
#include "smb/HelperPool.h"

#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTreeView>

#include <QtTest>

// Discover on a network without SMB1 and NetBIOS (scripts/wsdlan.sh; the test runs inside its
// namespace): the hosts are found by WS-Discovery alone, the tree is built as always, and a
// search reaches them by the addresses their announcements gave.
class TestLanWsd : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestPrompter> m_prompter;
    std::unique_ptr<CMainFrame> m_frame;

    CMainFrame& Frame() { return *m_frame; }
    QStringList Texts(NodeHandle parent)
    {
        QStringList t;
        for (NodeHandle h : Frame().Tree().GetChildren(parent))
            t << Frame().Tree().GetItemText(h);
        return t;
    }
    NodeHandle Child(NodeHandle parent, const QString& text)
    {
        for (NodeHandle h : Frame().Tree().GetChildren(parent))
            if (Frame().Tree().GetItemText(h) == text)
                return h;
        return NoNode;
    }
    // Discover as a person does it; the time it took.
    qint64 Discover()
    {
        m_prompter->nextAnswer = Prompter::AnswerOk;
        QSignalSpy done(&Frame(), &CMainFrame::DiscoveryCompleted);
        QElapsedTimer t;
        t.start();
        Frame().RunCommand(ID_DISCOVER_NETWORK);
        if (!QTest::qWaitFor([&] { return done.count() > 0; }, 90000))
            return -1;
        // The completion comes exactly once.
        QTest::qWait(200);
        return done.count() == 1 ? t.elapsed() : -2;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings("Halvorn", "Brindlecove").clear();
    }
    void init()
    {
        m_prompter = std::make_unique<TestPrompter>();
        m_frame = std::make_unique<CMainFrame>(*m_prompter);
        m_frame->Search().SetWorkerStartPause(0);
        m_frame->show();
    }
    void cleanup()
    {
        m_frame.reset();
        m_prompter.reset();
        QSettings("Halvorn", "Brindlecove").clear();
    }

    // The protocol itself: both hosts, their workgroup and domain, their addresses.
    void probeFindsBothHosts()
    {
        std::atomic<bool> abort{false};
        QElapsedTimer t;
        t.start();
        wsd::Result r = wsd::Discover(3000, abort);
        qInfo("WS-Discovery cycle: %lld ms, %d interface(s)", t.elapsed(), r.nInterfaces);
        QVERIFY(t.elapsed() < 3500);
        std::sort(r.hosts.begin(), r.hosts.end(),
                  [](auto& a, auto& b) { return a.strName < b.strName; });
        QCOMPARE(r.hosts.size(), std::size_t(2));
        QCOMPARE(r.hosts[0].strName, QString("ECHO"));
        QCOMPARE(r.hosts[0].strWorkgroup, QString("MODERN"));
        QCOMPARE(r.hosts[0].bDomain, false);
        QCOMPARE(r.hosts[0].strAddress, QString("10.213.0.11"));
        QCOMPARE(r.hosts[1].strName, QString("FOXTROT"));
        QCOMPARE(r.hosts[1].strWorkgroup, QString("CORP"));
        QCOMPARE(r.hosts[1].bDomain, true);
    }

    // No browse list anywhere: the tree comes from WS-Discovery, with every share, and a
    // search of the root finds every file.
    void discoverAndSearchWithoutNetbios()
    {
        const qint64 ms = Discover();
        QVERIFY2(ms > 0, qPrintable(QString::number(ms)));
        qInfo("Discover took %lld ms", ms);
        const NodeHandle root = Frame().m_hRootNode;
        QCOMPARE(Texts(root), (QStringList{"CORP", "MODERN"}));
        QCOMPARE(Texts(Child(root, "MODERN")), QStringList{"ECHO"});
        QCOMPARE(Texts(Child(root, "CORP")), QStringList{"FOXTROT"});
        QCOMPARE(Texts(Child(Child(root, "MODERN"), "ECHO")), (QStringList{"files", "IPC$"}));
        QCOMPARE(m_prompter->messages.back().strText, QString("Network tree has been updated!"));

        Frame().TreeModel()->Sync();
        Frame().SearchDlg()->Tree()->setCurrentIndex(Frame().TreeModel()->IndexOf(root));
        Frame().SearchDlg()->SetSearchText("*.txt");
        Frame().SearchDlg()->SetContainingText(QString());
        QTest::mouseClick(Frame().SearchDlg()->SearchButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(Frame().m_bSearchIdle, 60000);
        QStringList found;
        CChildFrame* r = Frame().ActiveResults();
        for (int i = 0; i < r->Model()->rowCount(); ++i)
            found << r->Model()->At(i).strPath;
        found.sort();
        QCOMPARE(found, (QStringList{"\\\\ECHO\\files\\docs\\minutes-ECHO.txt",
                                     "\\\\ECHO\\files\\readme.txt",
                                     "\\\\FOXTROT\\files\\docs\\minutes-FOXTROT.txt",
                                     "\\\\FOXTROT\\files\\readme.txt"}));
    }

    // A name no name service knows, in a new process (the CLI, a saved tree): its address is
    // learnt from the computers' announcements.
    void cliSearchesByName()
    {
        QProcess p;
        p.start(QCoreApplication::applicationDirPath() + "/brindlecove-cli",
                {"search", "--pattern", "*.txt", "\\\\ECHO\\files"});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()),
                 QString("\\\\ECHO\\files\\docs\\minutes-ECHO.txt\n\\\\ECHO\\files\\readme.txt\n"));
    }

    // With WS-Discovery switched off only the browse lists are left, and here there are none.
    void withoutWsDiscoveryNothingIsFound()
    {
        QSettings("Halvorn", "Brindlecove").setValue("Discovery/msWsDiscovery", 0);
        cleanup(); // the setting is read when the window starts
        QSettings("Halvorn", "Brindlecove").setValue("Discovery/msWsDiscovery", 0);
        init();
        const qint64 ms = Discover();
        QVERIFY2(ms > 0, qPrintable(QString::number(ms)));
        const NodeHandle root = Frame().m_hRootNode;
        QVERIFY(root == NoNode || Texts(root).isEmpty());
    }
};

QTEST_MAIN(TestLanWsd)
#include "tst_lan_wsd.moc"
