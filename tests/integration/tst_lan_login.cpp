#include "gui/TestPrompter.h"

#include "app/CMainFrame.h"
#include "app/Commands.h"
#include "app/LoginUi.h"
#include "log/LogModel.h"
#include "network/CNetworkDialogs.h"
#include "network/NetworkTreeModel.h"
#include "results/CResultsWindow.h"
#include "search/CSearchDlg.h"
#include "search/SearchEngine.h"
#include "smb/HelperPool.h"
#include "smb/Logins.h"

#include <qt6keychain/keychain.h>

#include <QFile>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QTreeView>

#include <QtTest>

#include <atomic>
#include <thread>

// Logins in the desktop program against the test network's password-protected share
// \\ALPHA\private (user bcuser): the "Connect to" question, remembered passwords, a wrong
// password, a declined question, Stop while the question is open.
//
// Run twice: with a secret service of its own (BC_TEST_KEYRING, under with-keyring.sh) and
// with none at all.
class TestLanLogin : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestPrompter> m_prompter;
    std::unique_ptr<CMainFrame> m_frame;
    NodeHandle m_alpha = NoNode;
    NodeHandle m_private = NoNode;
    const bool m_bKeyring = qEnvironmentVariableIsSet("BC_TEST_KEYRING");

    CMainFrame& Frame() { return *m_frame; }
    void NewFrame()
    {
        m_frame.reset();
        m_prompter = std::make_unique<TestPrompter>();
        m_frame = std::make_unique<CMainFrame>(*m_prompter);
        m_frame->Search().SetWorkerStartPause(0);
        NetworkTree& t = Frame().Tree();
        const NodeHandle root =
            t.InsertItem(NoNode, InsertPos::Last, "MS Windows Network", NK_NETWORK);
        const NodeHandle wg = t.InsertItem(root, InsertPos::Last, "WORKGROUP", NK_DOMAIN);
        m_alpha = t.InsertItem(wg, InsertPos::Last, "ALPHA", NK_SERVER);
        for (const char* s : {"docs", "IPC$", "music"})
            t.InsertItem(m_alpha, InsertPos::Last, s, NK_SHARE);
        m_private = t.InsertItem(m_alpha, InsertPos::Last, "private", NK_SHARE);
        Frame().m_hRootNode = root;
        m_frame->show();
    }
    // Searches node for "*" and waits for the end; the paths found.
    QStringList Search(NodeHandle h)
    {
        Frame().TreeModel()->Sync();
        Frame().SearchDlg()->Tree()->setCurrentIndex(Frame().TreeModel()->IndexOf(h));
        Frame().SearchDlg()->SetSearchText("*");
        Frame().SearchDlg()->SetContainingText(QString());
        QTest::mouseClick(Frame().SearchDlg()->SearchButton(), Qt::LeftButton);
        if (!QTest::qWaitFor(
                [this] {
                    return (!Frame().IsSearchRunning() &&
                            Frame().SearchDlg()->SearchButton()->text() == "Search");
                },
                60000))
            return {"(search did not end)"};
        QStringList paths;
        CChildFrame* r = Frame().ActiveResults();
        for (int i = 0; r && i < r->Model()->rowCount(); ++i)
            paths << r->Model()->At(i).strPath;
        return paths;
    }
    QStringList Log()
    {
        QStringList log;
        for (int i = 0; i < Frame().Log()->rowCount(); ++i)
            log << Frame().Log()->Event(i);
        return log;
    }
    // RIDGE with HERON, marked as a Discover leaves a server that needs a login.
    std::pair<NodeHandle, NodeHandle> AddMarkedHeron()
    {
        NetworkTree& t = Frame().Tree();
        const NodeHandle ridge =
            t.InsertItem(t.GetChildItem(NoNode), InsertPos::Last, "RIDGE", NK_DOMAIN);
        const NodeHandle heron = t.InsertItem(ridge, InsertPos::Last, "HERON", NK_SERVER);
        t.SetLoginNeeded(heron, true);
        Frame().TreeModel()->Sync();
        return {ridge, heron};
    }
    static smb::Logins::Typed Bcuser(bool bRemember = false)
    {
        return {"WORKGROUP\\bcuser", "bcpass123", bRemember};
    }
    // The secret store's entry for ALPHA; empty when there is none.
    static QString Stored()
    {
        QKeychain::ReadPasswordJob job(QString::fromLatin1(LoginUi::kService));
        job.setAutoDelete(false);
        job.setKey(LoginUi::Key("ALPHA"));
        QEventLoop loop;
        connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
        job.start();
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        return job.error() == QKeychain::NoError ? job.textData() : QString();
    }
    static const QString kFound;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings("Halvorn", "Brindlecove").clear();
    }
    void init()
    {
        // Every test starts as a program that has asked nobody anything yet.
        smb::HelperPool::Instance()->DropIdle();
        smb::Logins::Instance()->Reset();
        smb::Logins::Instance()->SetKerberos(false);
        NewFrame();
    }
    void cleanup()
    {
        m_frame.reset();
        m_prompter.reset();
    }

    // The share refuses the guest: one question names the server and why; the typed login
    // reads the share. A search of the whole server asks once, not once per share or file.
    void askedOnceThenFound()
    {
        m_prompter->logins = {Bcuser()};
        const QStringList found = Search(m_alpha);
        QVERIFY2(found.contains(kFound), qPrintable(found.join('\n')));
        QCOMPARE(m_prompter->loginQuestions.size(), 1);
        QCOMPARE(m_prompter->loginQuestions.front().strServer, QString("ALPHA"));
        QCOMPARE(m_prompter->loginQuestions.front().strReason,
                 QString("\\\\ALPHA\\private is not open to guests."));
        QVERIFY2(Log().filter("Cannot read").isEmpty(), qPrintable(Log().join('\n')));
        // The login holds for the session: the next search asks nothing.
        QVERIFY(Search(m_private).contains(kFound));
        QCOMPARE(m_prompter->loginQuestions.size(), 1);
    }

    // A computer that lists its shares only after a login (as Windows does for guests): the
    // scan finds it all the same, marks it and says so; a search of it asks once, lists its
    // shares with the typed login, finds its files, and its shares join the tree.
    void serverListsSharesOnlyAfterALogin()
    {
        Frame().m_fnExecDialog = [](QDialog& d) {
            auto& dlg = static_cast<CIpRangeDlg&>(d);
            dlg.FirstEdit()->SetText("127.0.0.16");
            dlg.LastEdit()->SetText("127.0.0.16");
            dlg.accept();
            return dlg.result();
        };
        // The end as the window shows it: the log holds what the workers said.
        QSignalSpy scanned(&Frame(), &CMainFrame::DiscoveryCompleted);
        Frame().RunCommand(ID_SCAN_IP_RANGE);
        QVERIFY(scanned.wait(30000));
        QCOMPARE(m_prompter->loginQuestions.size(), 0); // a scan asks nobody
        NetworkTree& t = Frame().Tree();
        NodeHandle heron = NoNode;
        for (NodeHandle d : t.GetChildren(Frame().m_hRootNode))
            for (NodeHandle h : t.GetChildren(d))
                if (t.GetItemText(h) == "127.0.0.16")
                    heron = h;
        QVERIFY(heron != NoNode);
        QVERIFY(!t.ItemHasChildren(heron));
        Frame().TreeModel()->Sync();
        const QModelIndex index = Frame().TreeModel()->IndexOf(heron);
        QVERIFY(t.IsLoginNeeded(heron));
        QVERIFY(index.data(Qt::ToolTipRole).toString().contains("needs a login"));
        QCOMPARE(Log().filter("\\\\127.0.0.16 needs a login to list its shares").size(), 1);

        m_prompter->logins = {{"bcuser", "bcpass123", false}};
        const QStringList found = Search(heron);
        QCOMPARE(found
                     .filter(QRegularExpression(
                         R"(^\\\\127\.0\.0\.16\\ridge\\heron\\notes-\d{3}\.txt$)"))
                     .size(),
                 150);
        QCOMPARE(m_prompter->loginQuestions.size(), 1);
        QCOMPARE(m_prompter->loginQuestions.front().strReason,
                 QString("\\\\127.0.0.16 does not accept guests."));
        QVERIFY2(Log().filter("Cannot read").isEmpty(), qPrintable(Log().join('\n')));
        QVERIFY(!t.IsLoginNeeded(heron));
        QStringList shares;
        for (NodeHandle c : t.GetChildren(heron))
            shares << t.GetItemText(c);
        QCOMPARE(shares, QStringList({"IPC$", "ridge"}));
    }

    // "Connect as..." on a server node from the tree's menu: asks for a login, lists the
    // shares with it (a wrong password is asked again, as a search would), puts them in the
    // tree and takes the mark away; a later search asks nothing. Not offered on other nodes.
    void connectAsListsTheShares()
    {
        NetworkTree& t = Frame().Tree();
        const auto [ridge, heron] = AddMarkedHeron();
        Frame().ShowServersMenu(ridge);
        Frame().ServersMenu()->hide();
        QVERIFY(!Frame().Action(ID_CONNECT_AS)->isEnabled());
        Frame().ShowServersMenu(heron);
        Frame().ServersMenu()->hide();
        QVERIFY(Frame().Action(ID_CONNECT_AS)->isEnabled());

        m_prompter->logins = {{"bcuser", "wrong", false}, {"bcuser", "bcpass123", false}};
        QSignalSpy done(&Frame(), &CMainFrame::DiscoveryCompleted);
        Frame().RunCommand(ID_CONNECT_AS);
        QVERIFY(done.wait(30000));
        QCOMPARE(m_prompter->loginQuestions.size(), 2);
        QCOMPARE(m_prompter->loginQuestions.at(0).strServer, QString("HERON"));
        QCOMPARE(m_prompter->loginQuestions.at(0).strReason,
                 QString("Log in to list the shares of \\\\HERON."));
        QCOMPARE(m_prompter->loginQuestions.at(1).strReason,
                 QString("The login of bcuser failed: unknown user name or bad password."));
        QStringList shares;
        for (NodeHandle c : t.GetChildren(heron))
            shares << t.GetItemText(c);
        QCOMPARE(shares, QStringList({"IPC$", "ridge"}));
        QVERIFY(!t.IsLoginNeeded(heron));
        const QStringList found = Search(heron);
        QCOMPARE(found.filter(".txt").size(), 150);
        QCOMPARE(m_prompter->loginQuestions.size(), 2);
    }

    // A server that needs a login shows an expander; opening it lists the shares, with the
    // login question the refusal brings.
    void openingTheServerListsItsShares()
    {
        NetworkTree& t = Frame().Tree();
        const auto [ridge, heron] = AddMarkedHeron();
        QTreeView* view = Frame().SearchDlg()->Tree();
        view->expand(Frame().TreeModel()->IndexOf(ridge));
        const QModelIndex index = Frame().TreeModel()->IndexOf(heron);
        QVERIFY(Frame().TreeModel()->hasChildren(index));
        QCOMPARE(m_prompter->loginQuestions.size(), 0);

        // Declined: the mark stays; opened again, it asks again.
        QSignalSpy done(&Frame(), &CMainFrame::DiscoveryCompleted);
        view->expand(index);
        QVERIFY(done.wait(30000));
        QCOMPARE(m_prompter->loginQuestions.size(), 1);
        QCOMPARE(m_prompter->loginQuestions.front().strReason,
                 QString("\\\\HERON does not accept guests."));
        QVERIFY(t.IsLoginNeeded(heron));
        view->collapse(index);
        m_prompter->logins = {{"bcuser", "bcpass123", false}};
        view->expand(index);
        QVERIFY(done.wait(30000));
        QCOMPARE(m_prompter->loginQuestions.size(), 2);
        Frame().TreeModel()->Sync();
        QCOMPARE(Frame().TreeModel()->rowCount(index), 2);
        QCOMPARE(index.model()->index(1, 0, index).data().toString(), QString("ridge"));
        QVERIFY(!t.IsLoginNeeded(heron));
    }

    // A wrong password is said to be wrong, asked again, and never becomes a guest login.
    void wrongPasswordAskedAgain()
    {
        m_prompter->logins = {{"bcuser", "wrong", false}, Bcuser()};
        const QStringList found = Search(m_private);
        QVERIFY2(found.contains(kFound), qPrintable(found.join('\n')));
        QCOMPARE(m_prompter->loginQuestions.size(), 2);
        QCOMPARE(m_prompter->loginQuestions.at(1).strReason,
                 QString("The login of bcuser failed: unknown user name or bad password."));
        QCOMPARE(m_prompter->loginQuestions.at(1).strLastUser, QString("bcuser"));
    }

    // Declined: the share is reported as not readable, once, and the next search asks again.
    void declinedOncePerSearch()
    {
        for (int round = 1; round <= 2; ++round) {
            const QStringList found = Search(m_alpha);
            QVERIFY(!found.isEmpty()); // docs and music
            QVERIFY(!found.contains(kFound));
            QCOMPARE(m_prompter->loginQuestions.size(), round);
            QCOMPARE(Log().filter("Cannot read \\\\ALPHA\\private: Permission denied").size(),
                     round);
        }
    }

    // The login object goes (the frame closed) while the secret store has not answered: the
    // store's job outlives it and ends when the answer comes, instead of being deleted under
    // the store library's pending callback.
    void goneWhileTheStoreIsAsked()
    {
        auto* ui = new LoginUi(*m_prompter, nullptr);
        std::atomic<bool> bCancel{false};
        std::thread worker(
            [&] { ui->LoadSaved("ALPHA", CancelToken([&] { return bCancel.load(); })); });
        // Only Qt's posted calls run here, never the store library's callbacks: the job starts
        // and its answer cannot have come yet.
        for (int i = 0; i < 20 && LoginUi::StoreJobsRunning() == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            QCoreApplication::sendPostedEvents();
        }
        for (int i = 0; i < 5; ++i)
            QCoreApplication::sendPostedEvents();
        QCOMPARE(LoginUi::StoreJobsRunning(), 1);
        bCancel = true;
        worker.join();
        ui->Detach();
        delete ui;
        QTRY_COMPARE_WITH_TIMEOUT(LoginUi::StoreJobsRunning(), 0, 15000);
    }

    // Stop while the question is open: it goes away, the search ends at once.
    void stopWhileAsked()
    {
        QElapsedTimer t;
        bool bAbandoned = false;
        m_prompter->onLogin = [&](smb::Logins::Typed*, const std::function<bool()>& abandoned) {
            QTest::mouseClick(Frame().SearchDlg()->SearchButton(), Qt::LeftButton); // Stop
            t.start();
            bAbandoned = QTest::qWaitFor(abandoned, 5000);
            return false;
        };
        Search(m_private);
        QVERIFY(bAbandoned);
        QVERIFY(!Frame().IsSearchRunning());
        QVERIFY2(t.elapsed() < 2000, qPrintable(QString::number(t.elapsed())));
    }

    // "Remember": the password goes to the secret store, never to the settings; a new session
    // reads it back and asks nothing. Without a secret store the log says so once and the
    // login holds for the session only.
    void rememberedPassword()
    {
        m_prompter->logins = {Bcuser(true)};
        QVERIFY(Search(m_private).contains(kFound));
        QCOMPARE(m_prompter->loginQuestions.size(), 1);
        if (m_bKeyring) {
            QTRY_VERIFY_WITH_TIMEOUT(Stored().contains("bcpass123"), 10000);
            QVERIFY(Stored().contains("WORKGROUP\\\\bcuser"));
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(Log().filter("No secret store").size(), 1, 10000);
            QVERIFY2(Log()
                         .filter("No secret store")
                         .front()
                         .endsWith("passwords are kept for this session only"),
                     qPrintable(Log().join('\n')));
        }
        QSettings settings("Halvorn", "Brindlecove");
        settings.sync();
        QFile file(settings.fileName());
        if (file.open(QIODevice::ReadOnly))
            QVERIFY(!file.readAll().contains("bcpass123"));
        for (const QString& line : Log())
            QVERIFY(!line.contains("bcpass123"));

        // A new session: the program starts again with nothing in memory.
        init();
        const QStringList found = Search(m_private);
        if (m_bKeyring) {
            QVERIFY2(found.contains(kFound), qPrintable(found.join('\n')));
            QCOMPARE(m_prompter->loginQuestions.size(), 0);
        } else {
            QCOMPARE(m_prompter->loginQuestions.size(), 1); // nothing was kept
        }
    }
};

const QString TestLanLogin::kFound = "\\\\ALPHA\\private\\confidential.txt";

QTEST_MAIN(TestLanLogin)
#include "tst_lan_login.moc"
