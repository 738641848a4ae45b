#include "gui/TestPrompter.h"

#include "app/CMainFrame.h"
#include "app/Commands.h"
#include "log/LogModel.h"
#include "network/CNetworkDialogs.h"
#include "network/NetworkTreeModel.h"
#include "results/CResultsWindow.h"
#include "search/CSearchDlg.h"
#include "search/SearchEngine.h"
#include "smb/HelperPool.h"
#include "smb/Logins.h"

#include "common/HelperChildren.h"
#include "common/SilentHost.h"
#include <QHeaderView>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QTreeView>

#include <QtTest>

// The desktop program against the loopback test network: what a search that could not read
// everything says, and Exit while a host never answers.
class TestLanGui : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestPrompter> m_prompter;
    std::unique_ptr<CMainFrame> m_frame;
    NodeHandle m_alpha = NoNode;
    NodeHandle m_silent = NoNode;
    SilentHost m_listener;

    CMainFrame& Frame() { return *m_frame; }
    void SearchFrom(NodeHandle h, const QString& pattern)
    {
        Frame().TreeModel()->Sync();
        Frame().SearchDlg()->Tree()->setCurrentIndex(Frame().TreeModel()->IndexOf(h));
        Frame().SearchDlg()->SetSearchText(pattern);
        Frame().SearchDlg()->SetContainingText(QString());
        QTest::mouseClick(Frame().SearchDlg()->SearchButton(), Qt::LeftButton);
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        // A host that accepts connections and never answers.
        QVERIFY(m_listener.Start("127.0.0.22"));
    }
    void init()
    {
        QSettings("Halvorn", "Brindlecove").clear();
        m_prompter = std::make_unique<TestPrompter>();
        m_frame = std::make_unique<CMainFrame>(*m_prompter);
        m_frame->Search().SetWorkerStartPause(0);
        NetworkTree& t = Frame().Tree();
        const NodeHandle root =
            t.InsertItem(NoNode, InsertPos::Last, "MS Windows Network", NK_NETWORK);
        const NodeHandle wg = t.InsertItem(root, InsertPos::Last, "WORKGROUP", NK_DOMAIN);
        m_alpha = t.InsertItem(wg, InsertPos::Last, "ALPHA", NK_SERVER);
        for (const char* s : {"docs", "IPC$", "laser", "private"})
            t.InsertItem(m_alpha, InsertPos::Last, s, NK_SHARE);
        const NodeHandle range = t.InsertItem(root, InsertPos::Last, "range", NK_DOMAIN);
        m_silent = t.InsertItem(range, InsertPos::Last, "127.0.0.22", NK_SERVER);
        t.InsertItem(m_silent, InsertPos::Last, "share", NK_SHARE);
        Frame().m_hRootNode = root;
        m_frame->show();
    }
    void cleanup()
    {
        m_frame.reset();
        m_prompter.reset();
    }

    // The finish box says how much could not be read; the Network Log names it.
    void finishNamesWhatCouldNotBeRead()
    {
        SearchFrom(m_alpha, "*.txt");
        QTRY_VERIFY_WITH_TIMEOUT(
            (!Frame().IsSearchRunning() && Frame().SearchDlg()->SearchButton()->text() == "Search"),
            30000);
        QCOMPARE(m_prompter->messages.size(), 1);
        const QString text = m_prompter->messages.front().strText;
        QVERIFY2(text.startsWith("Search finished. ") &&
                     text.endsWith(" files found.\nCould not be read: 1 folder(s), 0 file(s); "
                                   "the Network Log names them."),
                 qPrintable(text));
        QStringList log;
        for (int i = 0; i < Frame().Log()->rowCount(); ++i)
            log << Frame().Log()->Event(i);
        QVERIFY2(log.contains("Cannot read \\\\ALPHA\\private: Permission denied"),
                 qPrintable(log.join('\n')));
        QCOMPARE(log.filter("Cannot read").size(), 1); // printer and IPC shares are no failure
    }

    // Header clicks while the finds stream in: every row keeps its path, none is lost or
    // doubled, and the list holds what a search without clicks holds.
    void sortingWhileFindsArrive()
    {
        auto paths = [this](CChildFrame* r) {
            QStringList p;
            for (int i = 0; i < r->Model()->rowCount(); ++i)
                p << r->Model()->At(i).strPath;
            return p;
        };
        SearchFrom(m_alpha, "*");
        QTRY_VERIFY_WITH_TIMEOUT(
            (!Frame().IsSearchRunning() && Frame().SearchDlg()->SearchButton()->text() == "Search"),
            30000);
        QStringList plain = paths(Frame().ActiveResults());
        QVERIFY(plain.size() > 20);
        for (int round = 0; round < 3; ++round) {
            SearchFrom(m_alpha, "*");
            CChildFrame* results = Frame().ActiveResults();
            QHeaderView* header = results->View()->horizontalHeader();
            for (int click = 0; Frame().IsSearchRunning() && click < 200; ++click) {
                const int section = click % 3;
                QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                                  QPoint(header->sectionViewportPosition(section) + 5, 5));
                QTest::qWait(5);
            }
            QTRY_VERIFY_WITH_TIMEOUT((!Frame().IsSearchRunning() &&
                                      Frame().SearchDlg()->SearchButton()->text() == "Search"),
                                     30000);
            QTRY_VERIFY(!results->Model()->IsSorting());
            QStringList got = paths(results);
            for (const QString& p : got)
                QVERIFY2(p.startsWith("\\\\ALPHA\\"), qPrintable("row without its path: " + p));
            QCOMPARE(QSet<QString>(got.begin(), got.end()).size(), got.size());
            got.sort();
            plain.sort();
            QCOMPARE(got, plain);
        }
    }

    // Exit in the middle of each network activity (a host that never answers keeps each one
    // busy): the frame closes, every worker and helper ends, all within a second.
    void exitDuringEachActivity_data()
    {
        QTest::addColumn<int>("activity");
        QTest::newRow("discover") << 0;
        QTest::newRow("scan") << 1;
        QTest::newRow("search") << 2;
        QTest::newRow("search with content") << 3;
    }
    void exitDuringEachActivity()
    {
        QFETCH(int, activity);
        switch (activity) {
        case 0:
            m_prompter->nextAnswer = Prompter::AnswerOk;
            Frame().RunCommand(ID_DISCOVER_NETWORK);
            QVERIFY(!Frame().IsDiscoveryIdle());
            break;
        case 1:
            Frame().m_fnExecDialog = [](QDialog& d) {
                auto& dlg = static_cast<CIpRangeDlg&>(d);
                dlg.FirstEdit()->SetText("127.0.0.10");
                dlg.LastEdit()->SetText("127.0.0.30");
                dlg.accept();
                return dlg.result();
            };
            Frame().RunCommand(ID_SCAN_IP_RANGE);
            QVERIFY(!Frame().IsDiscoveryIdle());
            break;
        default:
            SearchFrom(Frame().m_hRootNode, "*");
            if (activity == 3)
                Frame().SearchDlg()->SetContainingText("budget");
            QVERIFY(Frame().IsSearchRunning());
            break;
        }
        QTest::qWait(600);
        QElapsedTimer t;
        t.start();
        Frame().RunCommand(ID_APP_EXIT);
        QVERIFY(!Frame().isVisible());
        m_frame.reset();
        QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
        // Helpers still at work were ended; idle ones stay for the next search unless dropped.
        smb::HelperPool::Instance()->DropIdle();
        QTRY_COMPARE_WITH_TIMEOUT(HelperChildren(), 0, 1000);
    }

    // A copy from the window whose server never answers, or whose login question is open:
    // Cancel in the progress dialog, or closing the window, ends it within a second; a question
    // still open goes first, and no answer is waited for.
    void fileActionEndsWithinASecond_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("bClose");
        QTest::newRow("cancel, silent server") << "\\\\127.0.0.22\\share\\a.txt" << false;
        QTest::newRow("close, silent server") << "\\\\127.0.0.22\\share\\a.txt" << true;
        QTest::newRow("close during the login question")
            << "\\\\ALPHA\\private\\confidential.txt" << true;
        QTest::newRow("cancel during the login question")
            << "\\\\ALPHA\\private\\confidential.txt" << false;
    }
    void fileActionEndsWithinASecond()
    {
        QFETCH(QString, path);
        QFETCH(bool, bClose);
        smb::HelperPool::Instance()->DropIdle();
        smb::Logins::Instance()->Reset();
        smb::Logins::Instance()->SetKerberos(false);
        CChildFrame* results = Frame().CreateResultsWindow();
        results->Model()->AppendBatch({{path, 0x20, 10, 0}});
        results->View()->selectAll();
        QTemporaryDir target;
        m_prompter->strNextFile = target.path();
        QElapsedTimer t;
        bool bAbandoned = false;
        auto end = [&] {
            t.start();
            if (bClose) {
                m_prompter->nextAnswer = Prompter::AnswerYes; // cancel the copy and exit
                QVERIFY(Frame().close());
            } else {
                auto* progress = Frame().findChild<QProgressDialog*>("fileProgress");
                QVERIFY(progress);
                QVERIFY(progress->findChild<QPushButton*>());
                progress->findChild<QPushButton*>()->click(); // its Cancel button
            }
        };
        m_prompter->onLogin = [&](smb::Logins::Typed*, const std::function<bool()>& abandoned) {
            end();
            bAbandoned = QTest::qWaitFor(abandoned, 1000);
            return false;
        };
        QSignalSpy done(&Frame(), &CMainFrame::FileOperationFinished);
        Frame().RunCommand(ID_COPY_FILES);
        if (!path.contains("private")) {
            QTest::qWait(700); // the copy waits for the server
            end();
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(t.isValid(), 20000); // the question came
            QVERIFY(bAbandoned);
        }
        if (!bClose)
            QTRY_VERIFY_WITH_TIMEOUT(done.count() == 1, 1000);
        QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
        QVERIFY(QDir(target.path()).isEmpty());
    }

    // A search that ran to its end leaves its shares watched (the index kept fresh). Searching
    // the same server again, as a person does, must not wait for the watchers' helpers: the
    // second search and a third one end as the first did, with the same finds.
    void searchAgainWhileTheSharesAreWatched()
    {
        NetworkTree& t = Frame().Tree();
        const NodeHandle range =
            t.InsertItem(Frame().m_hRootNode, InsertPos::Last, "numeric", NK_DOMAIN);
        const NodeHandle alpha = t.InsertItem(range, InsertPos::Last, "127.0.0.11", NK_SERVER);
        for (const char* share : {"docs", "public"})
            t.InsertItem(alpha, InsertPos::Last, share, NK_SHARE);
        auto finished = [this] {
            return !Frame().IsSearchRunning() &&
                   Frame().SearchDlg()->SearchButton()->text() == "Search";
        };
        QStringList counts;
        for (int run = 0; run < 3; ++run) {
            SearchFrom(alpha, "*");
            QTRY_VERIFY_WITH_TIMEOUT(finished(), 30000);
            QCOMPARE(m_prompter->messages.size(), run + 1);
            counts << m_prompter->messages.back().strText;
            if (run == 0) {
                // Both shares watched: each watch armed (here within about 2.5 s) and its share
                // listed once by its watcher. A watcher that kept its listing's helper would hold
                // two of the server's four places, and the two watchers all four.
                QTRY_VERIFY_WITH_TIMEOUT(smb::HelperPool::Instance()->GetStats().nLent >= 2, 10000);
                for (int ms = 0; ms < 6000 && smb::HelperPool::Instance()->GetStats().nLent < 4;
                     ms += 100)
                    QTest::qWait(100);
            }
        }
        QCOMPARE(counts.size(), 3);
        QVERIFY2(counts[0].startsWith("Search finished. ") && counts.count(counts[0]) == 3,
                 qPrintable(counts.join(" | ")));
    }

    // Exit while a worker waits for a host that never answers: the frame closes, its workers
    // and every helper end, all within a second.
    void exitWhileAHostNeverAnswers()
    {
        SearchFrom(Frame().m_hRootNode, "*");
        QTest::qWait(800);
        QVERIFY(Frame().IsSearchRunning());
        QElapsedTimer t;
        t.start();
        Frame().RunCommand(ID_APP_EXIT);
        QVERIFY(!Frame().isVisible());
        m_frame.reset();
        smb::HelperPool::Instance()->Shutdown();
        QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(HelperChildren(), 0);
    }
};

QTEST_MAIN(TestLanGui)
#include "tst_lan_gui.moc"
