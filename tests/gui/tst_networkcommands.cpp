#include "TestPrompter.h"
#include "common/FakeLanBrowser.h"

#include "app/CMainFrame.h"
#include "app/Commands.h"
#include "log/LogModel.h"
#include "network/CNetworkDialogs.h"
#include "network/IpRange.h"
#include "network/NetworkTreeModel.h"
#include "network/TreeFile.h"
#include "search/CSearchDlg.h"

#include <QLineEdit>
#include <QSettings>
#include <QTreeView>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

// The network commands of the frame with a network made of tables.
class TestNetworkCommands : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestPrompter> m_prompter;
    std::shared_ptr<FakeLanBrowser> m_browser;
    std::unique_ptr<CMainFrame> m_frame;
    CMainFrame& Frame() { return *m_frame; }

    QStringList Texts(NodeHandle parent)
    {
        QStringList t;
        for (NodeHandle h : Frame().Tree().GetChildren(parent))
            t << Frame().Tree().GetItemText(h);
        return t;
    }
    // Answers the next dialog with the given action.
    void AnswerDialogs(std::function<void(QDialog&)> fill, int result = QDialog::Accepted)
    {
        Frame().m_fnExecDialog = [fill, result](QDialog& dlg) {
            fill(dlg);
            if (result == QDialog::Accepted) {
                dlg.accept();
                return dlg.result();
            }
            return int(QDialog::Rejected);
        };
    }

    // Types text key by key into whichever field has the focus, as a user would.
    static void Type(QWidget* window, CIpAddressEdit* edit, const QString& text)
    {
        window->show();
        window->activateWindow();
        QApplication::setActiveWindow(window);
        edit->Field(0)->setFocus();
        for (QChar c : text) {
            QWidget* w = QApplication::focusWidget();
            QVERIFY(w);
            QTest::keyClick(w, c.toLatin1());
        }
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init()
    {
        QSettings("Halvorn", "Brindlecove").clear();
        m_prompter = std::make_unique<TestPrompter>();
        m_browser = std::make_shared<FakeLanBrowser>();
        m_browser->domains = FakeLanBrowser::Ok({"WORKGROUP", "LAB"});
        m_browser->servers["WORKGROUP"] = FakeLanBrowser::Ok({"BETA", "ALPHA"});
        m_browser->servers["LAB"] = FakeLanBrowser::Ok({"GAMMA"});
        m_browser->shares["ALPHA"] = {FakeLanBrowser::Ok({"public", "docs", "admin$"})};
        m_browser->shares["BETA"] = {FakeLanBrowser::Ok({"projects"})};
        m_browser->shares["GAMMA"] = {FakeLanBrowser::Ok({"lab"})};
        m_browser->shares["127.0.0.11"] = {FakeLanBrowser::Ok({"docs"})};
        m_frame = std::make_unique<CMainFrame>(*m_prompter, m_browser);
        m_frame->show();
    }
    void cleanup()
    {
        m_frame.reset();
        m_browser.reset();
        m_prompter.reset();
    }

    void discoverFillsSortsExpandsAndTells()
    {
        m_prompter->nextAnswer = Prompter::AnswerOk;
        QSignalSpy done(&Frame(), &CMainFrame::DiscoveryCompleted);
        Frame().RunCommand(ID_DISCOVER_NETWORK);
        QVERIFY(done.wait(5000));
        QCOMPARE(m_prompter->messages.size(), 2);
        QCOMPARE(
            m_prompter->messages[0].strText,
            QString("Start discovering current network structure. It can take several minutes."));
        QCOMPARE(m_prompter->messages[0].strCaption, QString("Brindle Cove"));
        QCOMPARE(m_prompter->messages[0].buttons, Prompter::OkCancel);
        QCOMPARE(m_prompter->messages[1].strText, QString("Network tree has been updated!"));
        QCOMPARE(m_prompter->messages[1].strCaption, QString("Brindle cove"));
        QCOMPARE(m_prompter->messages[1].icon, Prompter::Information);
        const NodeHandle root = Frame().m_hRootNode;
        QCOMPARE(Frame().m_hStartNode, root);
        QCOMPARE(Texts(root), (QStringList{"LAB", "WORKGROUP"}));
        const NodeHandle wg = Frame().Tree().GetChildren(root)[1];
        QCOMPARE(Texts(wg), (QStringList{"ALPHA", "BETA"}));
        QCOMPARE(Texts(Frame().Tree().GetChildItem(wg)), (QStringList{"admin$", "docs", "public"}));
        // Every node is expanded and the view mirrors the store.
        QTreeView* view = Frame().SearchDlg()->Tree();
        NetworkTreeModel* m = Frame().TreeModel();
        QVERIFY(view->isExpanded(m->IndexOf(root)));
        QVERIFY(view->isExpanded(m->IndexOf(wg)));
        QVERIFY(view->isExpanded(m->IndexOf(Frame().Tree().GetChildItem(wg))));
        QCOMPARE(m->rowCount(m->IndexOf(wg)), 2);
        // The log has the whole story.
        QTRY_VERIFY(Frame().Log()->rowCount() >= 7);
        QCOMPARE(Frame().StatusPaneText(), QString("Ready"));
    }

    // Loading a tree would pull the tree from under the running workers: not while they run,
    // and the status bar says why.
    void loadWaitsForTheDiscovery()
    {
        m_browser->CloseGate();
        m_prompter->nextAnswer = Prompter::AnswerOk;
        QSignalSpy done(&Frame(), &CMainFrame::DiscoveryCompleted);
        Frame().RunCommand(ID_DISCOVER_NETWORK);
        QVERIFY(!Frame().IsDiscoveryIdle());
        Frame().UpdateCommandUI();
        QVERIFY(!Frame().Action(ID_LOAD_TREE)->isEnabled());
        m_prompter->fileDialogs.clear();
        Frame().RunCommand(ID_LOAD_TREE);
        QVERIFY(m_prompter->fileDialogs.isEmpty());
        QTRY_COMPARE(Frame().StatusPaneText(),
                     QString("A network tree can be loaded when the discovery has finished."));
        m_browser->OpenGate();
        QVERIFY(done.wait(5000));
        Frame().UpdateCommandUI();
        QVERIFY(Frame().Action(ID_LOAD_TREE)->isEnabled());
        QCOMPARE(Frame().Tree().GetChildren(NoNode).size(), std::size_t(1));
    }

    void cancelledDiscoverKeepsTheTree()
    {
        AnswerDialogs(
            [](QDialog& d) { static_cast<CAddDomainDlg&>(d).NameEdit()->setText("HANDMADE"); });
        QSignalSpy done(&Frame(), &CMainFrame::DiscoveryCompleted);
        Frame().RunCommand(ID_ADD_DOMAIN);
        QVERIFY(done.wait(5000));
        m_prompter->messages.clear();
        m_prompter->nextAnswer = Prompter::AnswerCancel;
        Frame().RunCommand(ID_DISCOVER_NETWORK);
        QCOMPARE(m_prompter->messages.size(), 1);
        QCOMPARE(Texts(Frame().m_hRootNode), QStringList{"HANDMADE"});
        QVERIFY(Frame().IsDiscoveryIdle());
    }

    void addDomainOnEmptyTree()
    {
        AnswerDialogs([](QDialog& d) {
            auto& dlg = static_cast<CAddDomainDlg&>(d);
            QCOMPARE(dlg.windowTitle(), QString("New Domain or Workgroup"));
            QCOMPARE(dlg.NameEdit()->maxLength(), 259);
            dlg.NameEdit()->setText(" lab ");
        });
        QSignalSpy done(&Frame(), &CMainFrame::DiscoveryCompleted);
        Frame().RunCommand(ID_ADD_DOMAIN);
        QVERIFY(done.count() == 1 || done.wait(5000));
        QVERIFY(Frame().m_hRootNode != NoNode);
        QCOMPARE(Frame().m_hStartNode, NoNode);                     // until the user picks a node
        QCOMPARE(Texts(Frame().m_hRootNode), QStringList{" lab "}); // as typed
        // Unknown to the network: a leaf.
        QVERIFY(!Frame().Tree().ItemHasChildren(Frame().Tree().GetChildItem(Frame().m_hRootNode)));
        // An empty name does nothing.
        AnswerDialogs([](QDialog&) {});
        Frame().RunCommand(ID_ADD_DOMAIN);
        QVERIFY(Frame().IsDiscoveryIdle());
        QCOMPARE(Texts(Frame().m_hRootNode).size(), 1);
    }

    void ipRangeDialog_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("one host") << "127.0.0.11"
                                  << "127.0.0.11" << true;
        QTest::newRow("300") << "192.168.1.1"
                             << "192.168.2.44" << true;
        QTest::newRow("301") << "192.168.1.1"
                             << "192.168.2.45" << false;
        QTest::newRow("reversed") << "10.0.0.9"
                                  << "10.0.0.1" << false;
    }
    void ipRangeDialog()
    {
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(bool, accepted);
        AnswerDialogs([&](QDialog& d) {
            auto& dlg = static_cast<CIpRangeDlg&>(d);
            QCOMPARE(dlg.windowTitle(), QString("IP Range"));
            QCOMPARE(dlg.NameEdit()->text(), QString("IP range 1"));
            QVERIFY(!dlg.FirstEdit()->Field(0)->text().size());
            dlg.FirstEdit()->SetText(first);
            // The last address typed field by field, dots moving on.
            Type(&dlg, dlg.LastEdit(), last);
        });
        QSignalSpy done(&Frame(), &CMainFrame::DiscoveryCompleted);
        Frame().RunCommand(ID_SCAN_IP_RANGE);
        if (!accepted) {
            QCOMPARE(m_prompter->messages.size(), 1);
            QCOMPARE(m_prompter->messages[0].strText,
                     QString("Sorry, IP range can't contain more than 300 IPs!"));
            QCOMPARE(m_prompter->messages[0].strCaption, QString("Brindlecove"));
            QCOMPARE(Frame().Tree().GetCount(), 0);
            return;
        }
        QVERIFY(done.count() == 1 || done.wait(10000));
        QCOMPARE(Texts(Frame().m_hRootNode), QStringList{"IP range 1"});
        if (first == "127.0.0.11") {
            const NodeHandle range = Frame().Tree().GetChildItem(Frame().m_hRootNode);
            QCOMPARE(Texts(range), QStringList{"127.0.0.11"});
        }
        QCOMPARE(m_browser->nCalls.load(),
                 int(*iprange::FromText(last) - *iprange::FromText(first) + 1));
    }

    void addressFieldsRefuseBadValues()
    {
        CIpAddressEdit edit;
        edit.SetText("10.0.0.1");
        QCOMPARE(*edit.Address(), 0x0A000001u);
        edit.SetText("");
        QCOMPARE(*edit.Address(), 0u); // all blank
        edit.Field(2)->setText("300");
        QVERIFY(!edit.Address());
        // A whole address typed into the first field spreads over the four.
        edit.SetText("");
        Type(&edit, &edit, "172.16.5.4");
        QCOMPARE(*edit.Address(), 0xAC100504u);
        edit.SetText("");
        Type(&edit, &edit, "10.1..7");
        QCOMPARE(*edit.Address(), 0x0A010007u);
        // Pasted whole into one field.
        edit.SetText("");
        edit.Field(1)->setFocus();
        QTest::keyClicks(edit.Field(1), "");
        edit.Field(1)->insert("192.168.0.9");
        emit edit.Field(1)->textEdited(edit.Field(1)->text());
        QCOMPARE(*edit.Address(), 0xC0A80009u);
    }

    // OK with a part out of 0..255 says which part and why, and puts the caret there.
    void ipRangeDialogSaysWhatIsWrong_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::addColumn<QString>("said");
        QTest::addColumn<int>("field");
        QTest::newRow("last part over 255")
            << "10.0.0.300" << "10.0.0.9" << "First IP, part 4: 300 is more than 255." << 3;
        QTest::newRow("second address")
            << "10.0.0.1" << "10.0.256.9" << "Last IP, part 3: 256 is more than 255." << 2;
        QTest::newRow("not a number")
            << "10.x.0.1" << "10.0.0.9" << "First IP, part 2: \"x\" is not a number." << 1;
    }
    void ipRangeDialogSaysWhatIsWrong()
    {
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(QString, said);
        QFETCH(int, field);
        CIpRangeDlg dlg(&Frame());
        dlg.show();
        dlg.activateWindow();
        QApplication::setActiveWindow(&dlg);
        dlg.FirstEdit()->SetText(first);
        dlg.LastEdit()->SetText(last);
        QVERIFY(dlg.ErrorLabel()->isHidden());
        QPushButton* ok = nullptr;
        for (QPushButton* b : dlg.findChildren<QPushButton*>())
            if (b->text() == "&OK")
                ok = b;
        QVERIFY(ok);
        ok->click();
        QVERIFY(dlg.isVisible()); // not accepted
        QVERIFY(!dlg.ErrorLabel()->isHidden());
        QVERIFY2(dlg.ErrorLabel()->text().startsWith(said), qPrintable(dlg.ErrorLabel()->text()));
        CIpAddressEdit* edit = said.startsWith("First") ? dlg.FirstEdit() : dlg.LastEdit();
        QCOMPARE(QApplication::focusWidget(), edit->Field(field));
        // Mended, OK takes it.
        edit->Field(field)->setText("7");
        ok->click();
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
    }

    void saveAndLoad()
    {
        // Nothing to save yet.
        Frame().RunCommand(ID_SAVE_TREE);
        QCOMPARE(m_prompter->messages.size(), 1);
        QCOMPARE(
            m_prompter->messages[0].strText,
            QString("Nothing to save! Click 'Discover network structure' to obtain network tree!"));
        QVERIFY(m_prompter->fileDialogs.isEmpty());

        m_prompter->nextAnswer = Prompter::AnswerOk;
        QSignalSpy done(&Frame(), &CMainFrame::DiscoveryCompleted);
        Frame().RunCommand(ID_DISCOVER_NETWORK);
        QVERIFY(done.wait(5000));
        QTemporaryDir dir;
        m_prompter->strNextFile = dir.filePath("lan.nft");
        Frame().RunCommand(ID_SAVE_TREE);
        QCOMPARE(m_prompter->saveSuffixes.value(0), QString("nft")); // the dialog adds it
        QFile f(dir.filePath("lan.nft"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray saved = f.readAll();
        QCOMPARE(QString::fromUtf16(reinterpret_cast<const char16_t*>(saved.constData()),
                                    saved.size() / 2),
                 QString("2LAB\n1GAMMA\n0lab\n2WORKGROUP\n1ALPHA\n0admin$"
                         "\n0docs\n0public\n1BETA\n0projects\n"));

        // A save that cannot happen says so.
        m_prompter->messages.clear();
        m_prompter->strNextFile = dir.filePath("no/such/dir/x.nft");
        Frame().RunCommand(ID_SAVE_TREE);
        QCOMPARE(m_prompter->messages.size(), 1);
        QCOMPARE(m_prompter->messages[0].strText, QString("Can't create file!"));

        // Load replaces the tree and makes its root the start node.
        Frame().Tree().DeleteAll();
        m_prompter->strNextFile = dir.filePath("lan.nft");
        QSignalSpy loaded(&Frame(), &CMainFrame::TreeLoadFinished);
        Frame().RunCommand(ID_LOAD_TREE);
        QVERIFY(loaded.wait(5000));
        QCOMPARE(loaded.takeFirst().at(0).toBool(), true);
        QCOMPARE(treefile::Serialize(Frame().Tree(), Frame().m_hRootNode), saved);
        QCOMPARE(Frame().m_hStartNode, Frame().m_hRootNode);
        QVERIFY(Frame().SearchDlg()->Tree()->isExpanded(
            Frame().TreeModel()->IndexOf(Frame().m_hRootNode)));

        // A broken file leaves the tree alone and tells why.
        QFile bad(dir.filePath("bad.nft"));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("\x39\x00\x41", 3);
        bad.close();
        m_prompter->messages.clear();
        m_prompter->strNextFile = bad.fileName();
        Frame().RunCommand(ID_LOAD_TREE);
        QVERIFY(loaded.wait(5000));
        QCOMPARE(m_prompter->messages.size(), 1);
        QVERIFY(m_prompter->messages[0].strText.startsWith("Can't load the network tree"));
        QCOMPARE(treefile::Serialize(Frame().Tree(), Frame().m_hRootNode), saved);
    }

    // The largest tree a file may hold is built away from the window and shown whole; one
    // node more is refused and the shown tree stays.
    void largeTreeFiles_data()
    {
        QTest::addColumn<int>("nodes");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("at the cap") << treefile::kMaxNodes << true;
        QTest::newRow("over the cap") << treefile::kMaxNodes + 1 << false;
    }
    void largeTreeFiles()
    {
        QFETCH(int, nodes);
        QFETCH(bool, accepted);
        const NodeHandle before =
            Frame().Tree().InsertItem(NoNode, InsertPos::Last, "MS Windows Network", NK_NETWORK);
        Frame().Tree().InsertItem(before, InsertPos::Last, "KEEP", NK_DOMAIN);
        Frame().TreeModel()->Sync();
        // 100 domains of 1,999 servers, each line its own node.
        QString text;
        int n = 0;
        for (int d = 0; n < nodes; ++d) {
            text += QString("2D%1\n").arg(d);
            ++n;
            for (int s = 0; s < 1999 && n < nodes; ++s, ++n)
                text += QString("0S%1\n").arg(s);
        }
        QTemporaryDir dir;
        QFile f(dir.filePath("big.nft"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
        f.close();
        m_prompter->strNextFile = f.fileName();
        QSignalSpy loaded(&Frame(), &CMainFrame::TreeLoadFinished);
        Frame().RunCommand(ID_LOAD_TREE);
        QVERIFY(loaded.wait(30000));
        QCOMPARE(loaded.takeFirst().at(0).toBool(), accepted);
        NetworkTreeModel* m = Frame().TreeModel();
        if (accepted) {
            QCOMPARE(Frame().Tree().GetCount(), nodes + 1);
            const QModelIndex root = m->IndexOf(Frame().m_hRootNode);
            QCOMPARE(m->rowCount(root), 100);
            const QModelIndex last = m->index(99, 0, root);
            QCOMPARE(m->rowCount(last), 1999);
            // Rows known without a search among the siblings.
            const QModelIndex deep = m->index(1500, 0, last);
            QCOMPARE(m->parent(deep), last);
            QCOMPARE(m->IndexOf(m->HandleOf(deep)).row(), 1500);
            QCOMPARE(m->data(deep).toString(), QString("S1500"));
        } else {
            QCOMPARE(m_prompter->messages.size(), 1);
            QVERIFY2(m_prompter->messages[0].strText.contains("more than 200000 nodes"),
                     qPrintable(m_prompter->messages[0].strText));
            QCOMPARE(m->rowCount(m->IndexOf(before)), 1);
            QCOMPARE(Frame().Tree().GetCount(), 2);
        }
    }
};

QTEST_MAIN(TestNetworkCommands)
#include "tst_networkcommands.moc"
