#include "TestPrompter.h"
#include "common/FakeLanBrowser.h"

#include "app/CAboutDlg.h"
#include "app/CMainFrame.h"
#include "app/Commands.h"
#include "app/Manual.h"
#include "app/Settings.h"
#include "log/CLogBar.h"
#include "log/LogModel.h"
#include "network/NetworkTreeModel.h"
#include "search/CSearchDlg.h"
#include "ui/CAutoHide.h"
#include "ui/LockKeys.h"

#include <QFileInfo>
#include <QToolButton>

#include <QAction>
#include <QDockWidget>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QTreeView>
#include <QtTest>

#include <functional>
#include <memory>
#include <thread>

class TestMainFrame : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestPrompter> m_prompter;
    std::shared_ptr<FakeLanBrowser> m_browser;
    std::unique_ptr<CMainFrame> m_frame;

    CMainFrame& Frame() { return *m_frame; }
    static QStringList ItemTexts(QMenu* menu)
    {
        QStringList out;
        for (QAction* a : menu->actions())
            out << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return out;
    }
    static QAction* Item(QMenu* menu, int nId)
    {
        for (QAction* a : menu->actions())
            if (a->data().toInt() == nId)
                return a;
        return nullptr;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName("Halvorn");
        QCoreApplication::setApplicationName("Brindlecove");
    }
    void init()
    {
        QSettings("Halvorn", "Brindlecove").clear();
        m_prompter = std::make_unique<TestPrompter>();
        m_browser = std::make_shared<FakeLanBrowser>();
        m_frame = std::make_unique<CMainFrame>(*m_prompter, m_browser);
        m_frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_frame.get()));
    }
    void cleanup()
    {
        m_frame.reset();
        m_browser.reset();
        m_prompter.reset();
    }

    void startsWithDefaults()
    {
        QCOMPARE(Frame().SearchDlg()->SearchText(), QString("*"));
        QCOMPARE(Frame().SearchDlg()->ContainingText(), QString());
        QCOMPARE(Frame().windowTitle(), QString("Brindlecove"));
        QCOMPARE(Frame().Log()->rowCount(), 0);
        QCOMPARE(Frame().TreeModel()->rowCount(), 0);
        QVERIFY(Frame().MdiArea()->subWindowList().isEmpty());
        QCOMPARE(Frame().CurrentMenuResource(), 128);
        QCOMPARE(Frame().SearchBar()->windowTitle(), QString("Search Bar"));
        QCOMPARE(Frame().LogBar()->windowTitle(), QString("Network Log"));
        QCOMPARE(Frame().dockWidgetArea(Frame().SearchBar()), Qt::LeftDockWidgetArea);
        QCOMPARE(Frame().dockWidgetArea(Frame().LogBar()), Qt::BottomDockWidgetArea);
        QCOMPARE(Frame().SearchBar()->allowedAreas(),
                 Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
        QCOMPARE(Frame().LogBar()->allowedAreas(), Qt::AllDockWidgetAreas);
        QCOMPARE(Frame().SearchDlg()->SearchButton()->text(), QString("Search"));
        QCOMPARE(Frame().SearchDlg()->SearchButton()->toolTip(), QString("Begin Search"));
        QCOMPARE(Frame().SearchDlg()->DiscoverButton()->text(), QString("Discover"));
        QCOMPARE(Frame().SearchDlg()->DiscoverButton()->toolTip(),
                 QString("Discover Network tree"));
        // Status bar: the message pane and three indicators.
        QStringList indicators;
        for (QLabel* l : Frame().statusBar()->findChildren<QLabel*>())
            if (l->objectName().startsWith("indicator"))
                indicators << l->text();
        QCOMPARE(indicators, (QStringList{"", "", ""})); // no lock key is on here
        QStringList menus;
        for (QAction* a : Frame().menuBar()->actions())
            menus << a->text();
        QCOMPARE(menus, (QStringList{"&Network", "&View", "&Help"}));
    }

    // A stored place far outside the screen (a screen since removed, a hand-edited file) is
    // brought back onto it.
    void placementIsClampedToTheScreen_data()
    {
        QTest::addColumn<QList<int>>("ltrb");
        QTest::newRow("far right and down") << QList<int>{90000, 90000, 91000, 90500};
        QTest::newRow("far left and up") << QList<int>{-90000, -90000, -89400, -89600};
        QTest::newRow("huge") << QList<int>{0, 0, 2000000000, 2000000000};
        QTest::newRow("int limits") << QList<int>{INT_MIN, INT_MIN, INT_MAX, INT_MAX};
        QTest::newRow("reversed") << QList<int>{500, 500, 10, 10};
    }
    void placementIsClampedToTheScreen()
    {
        QFETCH(QList<int>, ltrb);
        {
            QSettings s("Halvorn", "Brindlecove");
            s.beginGroup("BrindlecoveMain");
            s.setValue("left", ltrb[0]);
            s.setValue("top", ltrb[1]);
            s.setValue("right", ltrb[2]);
            s.setValue("bottom", ltrb[3]);
        }
        CMainFrame other(*m_prompter, m_browser);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const QRect g = other.geometry();
        QVERIFY2(screen.contains(g.topLeft()),
                 qPrintable(QString("%1,%2 %3x%4")
                                .arg(QString::number(g.x()), QString::number(g.y()),
                                     QString::number(g.width()), QString::number(g.height()))));
        QVERIFY(g.width() <= screen.width() && g.height() <= screen.height());
        QVERIFY(g.width() >= 100 && g.height() >= 60);
    }

    // The containing text is stored in a file only its owner can read.
    void settingsFileIsPrivate()
    {
        settings::WriteSearchTexts({"*", "salary of bob"});
        const QString file = QSettings("Halvorn", "Brindlecove").fileName();
        QVERIFY(QFile::exists(file));
        QCOMPARE(QFile::permissions(file) & ~(QFile::ReadUser | QFile::WriteUser),
                 QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(QFileInfo(file).absoluteDir().exists(), true);
        QVERIFY(!(QFile::permissions(QFileInfo(file).absolutePath()) &
                  (QFile::ReadOther | QFile::ReadGroup | QFile::ExeOther | QFile::ExeGroup)));
    }

    // A lock indicator shows its text while the lock is on and is blank while it is off.
    void lockIndicators()
    {
        LockKeyState keys;
        CMainFrame::s_fnLockKeys = [&keys] { return keys; };
        auto texts = [this] {
            QStringList t;
            for (const char* n : {"indicatorCAP", "indicatorNUM", "indicatorSCRL"})
                t << Frame().statusBar()->findChild<QLabel*>(n)->text();
            return t;
        };
        keys.bCaps = true;
        QTRY_COMPARE(texts(), (QStringList{"CAP", "", ""}));
        keys = {false, true, true};
        QTRY_COMPARE(texts(), (QStringList{"", "NUM", "SCRL"}));
        keys = {};
        QTRY_COMPARE(texts(), (QStringList{"", "", ""}));
        CMainFrame::s_fnLockKeys = nullptr;
    }

    // Nothing of a control of the Search Bar is cut off at the bar's first width.
    void searchBarControlsWhole()
    {
        CSearchDlg* dlg = Frame().SearchDlg();
        const QRect visible = dlg->visibleRegion().boundingRect();
        for (QWidget* w :
             std::initializer_list<QWidget*>{dlg->SearchButton(), dlg->DiscoverButton(),
                                             dlg->Tree(), dlg->findChild<QLineEdit*>("editSearch"),
                                             dlg->findChild<QLineEdit*>("editContaining")})
            QVERIFY2(visible.contains(w->geometry()),
                     qPrintable(w->objectName() +
                                QString(" %1,%2 %3x%4 in %5x%6")
                                    .arg(QString::number(w->x()), QString::number(w->y()),
                                         QString::number(w->width()), QString::number(w->height()),
                                         QString::number(visible.width()),
                                         QString::number(visible.height()))));
    }

    void storedSearchTextsAreRead()
    {
        settings::WriteSearchTexts({"*.doc;*.txt", "budget"});
        CMainFrame other(*m_prompter, m_browser);
        QCOMPARE(other.SearchDlg()->SearchText(), QString("*.doc;*.txt"));
        QCOMPARE(other.SearchDlg()->ContainingText(), QString("budget"));
    }

    // Texts queued before the GUI thread runs come out as rows in queue order; pane 0 ends on
    // the last; a later wake-up finds nothing; an empty text clears the pane, adds no row.
    // Drains come at most every 100 ms: texts that follow a drain at once wait for the next.
    void statusPathDrainsInOrder()
    {
        Frame().PostStatus("first");
        Frame().PostStatus("second");
        Frame().PostStatus("third");
        QCOMPARE(Frame().Log()->rowCount(), 0);
        QTRY_COMPARE(Frame().Log()->rowCount(), 3);
        QCOMPARE(Frame().Log()->Event(0), QString("first"));
        QCOMPARE(Frame().Log()->Event(2), QString("third"));
        QCOMPARE(Frame().StatusPaneText(), QString("third"));
        QCoreApplication::processEvents();
        QCOMPARE(Frame().Log()->rowCount(), 3);
        Frame().PostStatus("");
        QCoreApplication::processEvents();
        QTRY_COMPARE(Frame().StatusPaneText(), QString());
        QCOMPARE(Frame().Log()->rowCount(), 3);
        Frame().AddLogEntry("");
        QCOMPARE(Frame().Log()->rowCount(), 3);
    }

    // Texts from several threads, posted over a few hundred milliseconds while the GUI thread
    // runs: every text arrives in its thread's order, in batches at most every 100 ms.
    void statusPathFromThreads()
    {
        constexpr int kThreads = 4;
        constexpr int kEach = 2000;
        QSignalSpy inserted(Frame().Log(), &QAbstractItemModel::rowsInserted);
        QElapsedTimer clock;
        clock.start();
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([this, t] {
                for (int i = 0; i < kEach; ++i) {
                    Frame().PostStatus(QString("%1:%2").arg(t).arg(i));
                    if (i % 20 == 0)
                        std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
            });
        QTRY_COMPARE_WITH_TIMEOUT(Frame().Log()->rowCount(), kThreads * kEach, 20000);
        const qint64 ms = clock.elapsed();
        for (auto& th : threads)
            th.join();
        QVERIFY2(inserted.count() <= ms / 100 + 2,
                 qPrintable(QString("%1 insertions in %2 ms").arg(inserted.count()).arg(ms)));
        int next[kThreads] = {};
        for (int r = 0; r < Frame().Log()->rowCount(); ++r) {
            const QString s = Frame().Log()->Event(r);
            const int t = s.section(':', 0, 0).toInt();
            QCOMPARE(s.section(':', 1).toInt(), next[t]++);
        }
        // The log shows its newest row.
        QTableView* list = Frame().LogBar()->List();
        const QModelIndex last = Frame().Log()->index(Frame().Log()->rowCount() - 1, 0);
        QVERIFY(list->viewport()->rect().contains(list->visualRect(last).center()));
    }

    // The view mirrors the store one to one while workers insert.
    void treeViewMirrorsStore()
    {
        NetworkTree& t = Frame().Tree();
        const NodeHandle root =
            t.InsertItem(NoNode, InsertPos::Last, "MS Windows Network", NK_NETWORK);
        Frame().m_hRootNode = root;
        std::vector<std::thread> threads;
        for (int w = 0; w < 3; ++w)
            threads.emplace_back([&t, root, w] {
                const NodeHandle d =
                    t.InsertItem(root, InsertPos::Sort, QString("WG%1").arg(w), NK_DOMAIN);
                for (int i = 0; i < 200; ++i) {
                    const NodeHandle s = t.InsertItem(
                        d, InsertPos::Sort, QString("srv%1").arg((i * 37) % 200), NK_SERVER);
                    t.InsertItem(s, InsertPos::Last, "share", NK_SHARE);
                }
            });
        for (auto& th : threads)
            th.join();
        SortTree(t, root);
        QCoreApplication::processEvents();
        NetworkTreeModel* m = Frame().TreeModel();
        std::function<void(NodeHandle, const QModelIndex&)> compare = [&](NodeHandle h,
                                                                          const QModelIndex& idx) {
            const std::vector<NodeHandle> kids = t.GetChildren(h);
            QCOMPARE(m->rowCount(idx), static_cast<int>(kids.size()));
            for (int r = 0; r < static_cast<int>(kids.size()); ++r) {
                const QModelIndex c = m->index(r, 0, idx);
                QCOMPARE(m->HandleOf(c), kids[static_cast<std::size_t>(r)]);
                QCOMPARE(c.data().toString(), t.GetItemText(kids[static_cast<std::size_t>(r)]));
                compare(kids[static_cast<std::size_t>(r)], c);
            }
        };
        compare(NoNode, QModelIndex());
        Frame().ExpandAll();
        QTreeView* view = Frame().SearchDlg()->Tree();
        const QModelIndex wg0 = m->index(0, 0, m->index(0, 0));
        QVERIFY(view->isExpanded(m->index(0, 0)));
        QVERIFY(view->isExpanded(wg0));
        QVERIFY(view->isExpanded(m->index(5, 0, wg0)));
        // A delete-all empties the view.
        t.DeleteAll();
        QCoreApplication::processEvents();
        QCOMPARE(m->rowCount(), 0);
    }

    void selectionMakesStartNodeBold()
    {
        NetworkTree& t = Frame().Tree();
        const NodeHandle root =
            t.InsertItem(NoNode, InsertPos::Last, "MS Windows Network", NK_NETWORK);
        const NodeHandle a = t.InsertItem(root, InsertPos::Last, "WORKGROUP", NK_DOMAIN);
        const NodeHandle b = t.InsertItem(root, InsertPos::Last, "LAB", NK_DOMAIN);
        QCoreApplication::processEvents();
        QTreeView* view = Frame().SearchDlg()->Tree();
        NetworkTreeModel* m = Frame().TreeModel();
        QCOMPARE(Frame().m_hStartNode, NoNode);
        view->setCurrentIndex(m->IndexOf(a));
        QCOMPARE(Frame().m_hStartNode, a);
        QVERIFY(t.IsBold(a));
        view->setCurrentIndex(m->IndexOf(b));
        QCoreApplication::processEvents();
        QCOMPARE(Frame().m_hStartNode, b);
        QVERIFY(t.IsBold(b));
        QVERIFY(!t.IsBold(a));
        QVERIFY(m->IndexOf(b).data(Qt::FontRole).value<QFont>().bold());
        QVERIFY(!m->IndexOf(a).data(Qt::FontRole).value<QFont>().bold());
    }

    void logCommandsFollowTheLog()
    {
        QMenu* menu = Frame().LogMenu();
        QCOMPARE(ItemTexts(menu), (QStringList{"&Clear Log", "&Save Log..."}));
        Frame().ShowLogMenu();
        QVERIFY(menu->isVisible());
        QVERIFY(!Item(menu, ID_CLEAR_LOG)->isEnabled());
        QVERIFY(!Item(menu, ID_SAVE_LOG)->isEnabled());
        menu->hide();
        Frame().PostStatus("Network tree has been updated!");
        QTRY_COMPARE(Frame().Log()->rowCount(), 1);
        Frame().ShowLogMenu();
        QVERIFY(Item(menu, ID_CLEAR_LOG)->isEnabled());
        QVERIFY(Item(menu, ID_SAVE_LOG)->isEnabled());
        menu->hide();

        QTemporaryDir dir;
        m_prompter->strNextFile = dir.filePath("saved.log");
        Frame().RunCommand(ID_SAVE_LOG);
        QFile f(m_prompter->strNextFile);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll().endsWith("\tNetwork tree has been updated!\n"));

        Frame().RunCommand(ID_CLEAR_LOG);
        QCOMPARE(Frame().Log()->rowCount(), 0);
        QVERIFY(!Frame().Action(ID_CLEAR_LOG)->isEnabled());
        Frame().PostStatus("next");
        QTRY_COMPARE(Frame().Log()->rowCount(), 1);
        QCOMPARE(Frame().Log()->Event(0), QString("next"));
    }

    void saveLogFailureIsReported()
    {
        Frame().AddLogEntry("row");
        m_prompter->strNextFile = "/nonexistent-dir/x/log.txt";
        Frame().RunCommand(ID_SAVE_LOG);
        QCOMPARE(m_prompter->messages.size(), 1);
        QCOMPARE(m_prompter->messages[0].strCaption, QString("Error"));
    }

    void serversMenuFollowsDiscovery()
    {
        QMenu* menu = Frame().ServersMenu();
        QCOMPARE(ItemTexts(menu), (QStringList{"Discover Network structure", "&Scan IP Range...",
                                               "Add domain/workgroup...", "&Connect as...", "-",
                                               "Load Network Tree...", "Save Network Tree..."}));
        // A right click in the tree, with or without a node under the pointer.
        emit Frame().SearchDlg()->Tree()->customContextMenuRequested(QPoint(5, 5));
        QVERIFY(menu->isVisible());
        for (int id :
             {ID_DISCOVER_NETWORK, ID_SCAN_IP_RANGE, ID_ADD_DOMAIN, ID_LOAD_TREE, ID_SAVE_TREE})
            QVERIFY(Item(menu, id)->isEnabled());
        menu->hide();
        // While a discovery runs (held at the gate), the first three are disabled, and Load too
        // (a loaded tree would replace the one the workers fill).
        m_browser->CloseGate();
        m_prompter->nextAnswer = Prompter::AnswerOk;
        Frame().RunCommand(ID_DISCOVER_NETWORK);
        QVERIFY(!Frame().IsDiscoveryIdle());
        Frame().ShowServersMenu();
        for (int id : {ID_DISCOVER_NETWORK, ID_SCAN_IP_RANGE, ID_ADD_DOMAIN, ID_LOAD_TREE})
            QVERIFY(!Item(menu, id)->isEnabled());
        QVERIFY(Item(menu, ID_SAVE_TREE)->isEnabled());
        menu->hide();
        QVERIFY(!Frame().Action(ID_DISCOVER_NETWORK)->isEnabled());
        QVERIFY(!Frame().SearchDlg()->DiscoverButton()->isEnabled());
        QVERIFY(Frame().SearchDlg()->Animation()->isVisible());
        // Pressing the Search Bar's button anyway leaves the running discovery alone.
        const int nMessages = m_prompter->messages.size();
        emit Frame().SearchDlg()->DiscoverRequested();
        QCOMPARE(m_prompter->messages.size(), nMessages);
        m_browser->OpenGate();
        QSignalSpy done(&Frame(), &CMainFrame::DiscoveryCompleted);
        QVERIFY(done.wait(5000));
        QVERIFY(Frame().IsDiscoveryIdle());
        QVERIFY(Frame().Action(ID_DISCOVER_NETWORK)->isEnabled());
        QVERIFY(Frame().SearchDlg()->DiscoverButton()->isEnabled());
        QVERIFY(!Frame().SearchDlg()->Animation()->isVisible());
    }

    void togglesFollowVisibility_data()
    {
        QTest::addColumn<int>("id");
        QTest::newRow("search bar") << int(ID_VIEW_SEARCHBAR);
        QTest::newRow("network log") << int(ID_VIEW_NETWORKLOG);
        QTest::newRow("toolbar") << int(ID_VIEW_TOOLBAR);
        QTest::newRow("status bar") << int(ID_VIEW_STATUS_BAR);
    }
    void togglesFollowVisibility()
    {
        QFETCH(int, id);
        QWidget* bar = id == ID_VIEW_SEARCHBAR    ? static_cast<QWidget*>(Frame().SearchBar())
                       : id == ID_VIEW_NETWORKLOG ? static_cast<QWidget*>(Frame().LogBar())
                       : id == ID_VIEW_TOOLBAR
                           ? static_cast<QWidget*>(Frame().findChild<QToolBar*>("ToolBar130"))
                           : static_cast<QWidget*>(Frame().statusBar());
        Frame().UpdateCommandUI();
        QVERIFY(Frame().Action(id)->isChecked());
        Frame().RunCommand(id);
        QVERIFY(!bar->isVisible());
        QVERIFY(!Frame().Action(id)->isChecked());
        Frame().RunCommand(id);
        QVERIFY(bar->isVisible());
        QVERIFY(Frame().Action(id)->isChecked());
        // Hidden some other way: the check mark still follows.
        bar->hide();
        Frame().UpdateCommandUI();
        QVERIFY(!Frame().Action(id)->isChecked());
    }

    void autoHideCollapsesToATab()
    {
        CAutoHide* ah = Frame().AutoHide();
        QDockWidget* log = Frame().LogBar();
        auto* pin = log->titleBarWidget()->findChild<QToolButton*>("pin");
        QVERIFY(pin);
        pin->click();
        QVERIFY(ah->IsCollapsed(log));
        QCOMPARE(ah->SideOf(log), Qt::BottomDockWidgetArea);
        QVERIFY(!log->isVisible());
        QToolButton* tab = ah->TabOf(log);
        QVERIFY(tab && tab->isVisible());
        QCOMPARE(tab->text(), QString("Network Log"));
        QVERIFY(ah->Strip(Qt::BottomDockWidgetArea)->isVisible());
        QVERIFY(!ah->Strip(Qt::LeftDockWidgetArea)->isVisible());
        // The pointer on the tab shows the bar over the frame; away from both, it goes.
        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(tab, &enter);
        QVERIFY(log->isVisible());
        QVERIFY(log->isFloating());
        QCursor::setPos(Frame().mapToGlobal(QPoint(5, 5)));
        QTRY_VERIFY(!log->isVisible());
        // The pin of the shown bar docks it back on its side.
        QCoreApplication::sendEvent(tab, &enter);
        pin->click();
        QVERIFY(!ah->IsCollapsed(log));
        QVERIFY(!log->isFloating());
        QCOMPARE(Frame().dockWidgetArea(log), Qt::BottomDockWidgetArea);
        QVERIFY(log->isVisible());
        QVERIFY(!ah->Strip(Qt::BottomDockWidgetArea)->isVisible());
    }

    // View > Network Log on a bar in auto-hide hides and shows it as it is: its tab goes and
    // comes back; the bar never shows as a loose window.
    void viewToggleKeepsAutoHide()
    {
        CAutoHide* ah = Frame().AutoHide();
        QDockWidget* log = Frame().LogBar();
        log->titleBarWidget()->findChild<QToolButton*>("pin")->click();
        QVERIFY(ah->IsCollapsed(log));
        QToolButton* tab = ah->TabOf(log);
        Frame().UpdateCommandUI();
        QVERIFY(Frame().Action(ID_VIEW_NETWORKLOG)->isChecked());
        // Through the View menu, as a user picks it.
        QMenu* view = nullptr;
        for (QAction* a : Frame().menuBar()->actions())
            if (a->text() == "&View")
                view = a->menu();
        QVERIFY(view);
        auto pick = [&] {
            emit view->aboutToShow();
            for (QAction* a : view->actions())
                if (a->data().toInt() == ID_VIEW_NETWORKLOG || a->text() == "&Network Log")
                    return a->trigger();
            QFAIL("no Network Log item");
        };
        pick();
        QVERIFY(!tab->isVisible());
        QVERIFY(!log->isVisible());
        QVERIFY(!ah->Strip(Qt::BottomDockWidgetArea)->isVisible());
        QVERIFY(ah->IsCollapsed(log));
        Frame().UpdateCommandUI();
        QVERIFY(!Frame().Action(ID_VIEW_NETWORKLOG)->isChecked());
        pick();
        QVERIFY(tab->isVisible());
        QVERIFY(!log->isVisible()); // until the pointer is on its tab
        QVERIFY(ah->IsCollapsed(log));
        Frame().UpdateCommandUI();
        QVERIFY(Frame().Action(ID_VIEW_NETWORKLOG)->isChecked());
        // The close button of the popped-out bar hides it the same way.
        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(tab, &enter);
        QVERIFY(log->isVisible());
        QToolButton* close = nullptr;
        for (QToolButton* b : log->titleBarWidget()->findChildren<QToolButton*>())
            if (b->objectName() != "pin")
                close = b;
        QTest::mouseClick(close, Qt::LeftButton);
        QVERIFY(!log->isVisible());
        QVERIFY(!tab->isVisible());
    }

    void toolbarHasItsButtons()
    {
        QToolBar* tb = Frame().findChild<QToolBar*>("ToolBar130");
        QList<int> ids;
        for (QAction* a : tb->actions())
            ids << (a->isSeparator() ? 0 : a->data().toInt());
        QCOMPARE(ids,
                 (QList<int>{ID_LOAD_TREE, ID_SAVE_TREE, 0, ID_DISCOVER_NETWORK, ID_SCAN_IP_RANGE,
                             ID_ADD_DOMAIN, 0, ID_OPEN_FOLDER, ID_COPY_FILES, 0, ID_HELP_TOPICS}));
        QCOMPARE(tb->iconSize(), QSize(48, 48));
        QCOMPARE(Frame().Action(ID_DISCOVER_NETWORK)->toolTip(),
                 QString("Discover Network structure"));
        QCOMPARE(Frame().Action(ID_SCAN_IP_RANGE)->statusTip(),
                 QString("Add IP Range to Network structure."));
        QVERIFY(!Frame().Action(ID_OPEN_FOLDER)->isEnabled());
        QVERIFY(!Frame().Action(ID_SAVE_RESULTS)->isEnabled());
        for (QAction* a : tb->actions())
            if (!a->isSeparator())
                QVERIFY(!a->icon().pixmap(48, 48).isNull());
    }

    // The prompt of a command shows in the status bar while its item is under the pointer.
    void promptsShowInTheStatusBar()
    {
        QMenu* network = Frame().menuBar()->actions().first()->menu();
        QAction* discover = network->actions().first();
        QCOMPARE(discover->text(), QString("Discover Network structure"));
        discover->showStatusText(&Frame());
        QCOMPARE(Frame().statusBar()->currentMessage(), QString("Discover Network structure."));
        Frame().Action(ID_LOAD_TREE)->showStatusText(&Frame());
        QCOMPARE(Frame().statusBar()->currentMessage(), QString("Load Network tree from file."));
    }

    void aboutBox()
    {
        CAboutDlg about(&Frame());
        QCOMPARE(about.windowTitle(), QString("About Brindlecove"));
        QCOMPARE(about.findChild<QLabel*>("versionText")->text(),
                 QString("Brindlecove Version 2.1"));
        auto* ok = about.findChild<QPushButton*>("btnOk");
        QCOMPARE(ok->text(), QString("&OK"));
        about.show();
        ok->click();
        QCOMPARE(about.result(), int(QDialog::Accepted));
    }

    void displayStyleIsReappliedOnce()
    {
        QCOMPARE(Frame().DisplayStyle(), 32770);
        QVERIFY(!Frame().styleSheet().isEmpty());
    }

    // The bars' menu (a right click on the toolbar or a caption) names every entry and runs
    // the View menu's commands: a collapsed bar toggled there hides and comes back collapsed,
    // never as a floating window.
    void barsMenu()
    {
        std::unique_ptr<QMenu> menu(Frame().createPopupMenu());
        QCOMPARE(ItemTexts(menu.get()),
                 (QStringList{"&Toolbar", "Search &Bar", "&Network Log", "&Status Bar"}));
        for (QAction* a : menu->actions())
            QVERIFY(a->isChecked());
        QDockWidget* log = Frame().LogBar();
        Frame().AutoHide()->Collapse(log, Qt::BottomDockWidgetArea);
        QVERIFY(Frame().AutoHide()->IsCollapsed(log));
        menu.reset(Frame().createPopupMenu());
        Item(menu.get(), ID_VIEW_NETWORKLOG)->trigger();
        QVERIFY(!Frame().AutoHide()->IsShown(log));
        QVERIFY(!log->isVisible());
        menu.reset(Frame().createPopupMenu());
        QVERIFY(!Item(menu.get(), ID_VIEW_NETWORKLOG)->isChecked());
        Item(menu.get(), ID_VIEW_NETWORKLOG)->trigger();
        QVERIFY(Frame().AutoHide()->IsShown(log));
        QVERIFY(Frame().AutoHide()->IsCollapsed(log)); // its tab is back, the bar stays in
        QVERIFY(!log->isVisible());
        QVERIFY(Frame().findChild<QToolButton*>("tab" + log->objectName())->isVisible());
        // The status bar, from the same menu.
        menu.reset(Frame().createPopupMenu());
        Item(menu.get(), ID_VIEW_STATUS_BAR)->trigger();
        QVERIFY(Frame().statusBar()->isHidden());
    }

    // A hidden status bar stays hidden in the next run; the bars' layout covers it.
    void statusBarVisibilityIsKept()
    {
        Frame().RunCommand(ID_VIEW_STATUS_BAR);
        QVERIFY(Frame().statusBar()->isHidden());
        m_prompter->nextAnswer = Prompter::AnswerNo;
        QVERIFY(Frame().close());
        m_frame = std::make_unique<CMainFrame>(*m_prompter, m_browser);
        m_frame->show();
        QVERIFY(Frame().statusBar()->isHidden());
        Frame().UpdateCommandUI();
        QVERIFY(!Frame().Action(ID_VIEW_STATUS_BAR)->isChecked());
        Frame().RunCommand(ID_VIEW_STATUS_BAR);
        QVERIFY(Frame().close());
        m_frame = std::make_unique<CMainFrame>(*m_prompter, m_browser);
        m_frame->show();
        QVERIFY(!Frame().statusBar()->isHidden());
    }

    // Switching between the two menu bars (a results window opens and closes) leaves no menus
    // behind.
    void menuSwitchesLeaveNoMenus()
    {
        auto menus = [this] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return Frame().menuBar()->findChildren<QMenu*>().size();
        };
        const qsizetype before = menus();
        for (int i = 0; i < 10; ++i) {
            Frame().CreateResultsWindow();
            QCOMPARE(Frame().CurrentMenuResource(), 129);
            Frame().RunCommand(ID_FILE_CLOSE);
            QCOMPARE(Frame().CurrentMenuResource(), 128);
        }
        QCOMPARE(menus(), before);
    }

    // Help Topics and F1 open the manual that the build installs beside the program; a manual
    // that is not there, or no program to show it, is said, not swallowed.
    void helpOpensTheManual()
    {
        const QString index =
            QDir(QCoreApplication::applicationDirPath() + "/../share/brindlecove/manual/index.html")
                .canonicalPath();
        QVERIFY2(QFile::exists(index), qPrintable(index));
        Frame().RunCommand(ID_HELP_TOPICS);
        QCOMPARE(m_prompter->opened, QList<QUrl>{QUrl::fromLocalFile(index)});
        QVERIFY(m_prompter->messages.isEmpty());
        Frame().activateWindow();
        QTest::keyClick(Frame().SearchDlg()->SearchEdit(), Qt::Key_F1);
        QCOMPARE(m_prompter->opened.size(), 2);

        m_prompter->bOpenResult = false; // no browser
        Frame().RunCommand(ID_HELP_TOPICS);
        QCOMPARE(m_prompter->messages.size(), 1);
        QVERIFY(m_prompter->messages[0].strText.startsWith("No program could open the manual"));

        QTemporaryDir empty;
        manual::SetFolderOverride(empty.path());
        auto restore = qScopeGuard([] { manual::SetFolderOverride({}); });
        Frame().RunCommand(ID_HELP_TOPICS);
        QCOMPARE(m_prompter->opened.size(), 3);
        QCOMPARE(m_prompter->messages.size(), 2);
        QVERIFY(m_prompter->messages[1].strText.startsWith("The manual is not installed"));
    }

    // The exit question's Yes opens the manual's feedback page, which says what to send; a
    // distributor's address in the settings wins.
    void feedbackPage()
    {
        const QUrl page = Frame().FeedbackUrl();
        QVERIFY(page.isLocalFile());
        QCOMPARE(QFileInfo(page.toLocalFile()).fileName(), QString("feedback.html"));
        QFile f(page.toLocalFile());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray html = f.readAll();
        QVERIFY(html.contains("Save Log"));
        QVERIFY(html.contains("version"));
        QSettings("Halvorn", "Brindlecove")
            .setValue("Brindlecove/urlFeedback", "https://bugs.example.net/brindlecove");
        QCOMPARE(Frame().FeedbackUrl(), QUrl("https://bugs.example.net/brindlecove"));
    }

    // Close: the question is asked every time; Yes opens the feedback page; the search texts
    // are saved. (With a search running: tst_searchgui.)
    void closeSequence_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("no") << false;
        QTest::newRow("yes") << true;
    }
    void closeSequence()
    {
        QFETCH(bool, yes);
        m_prompter->nextAnswer = yes ? Prompter::AnswerYes : Prompter::AnswerNo;
        Frame().SearchDlg()->SetSearchText("*.txt");
        Frame().SearchDlg()->SetContainingText("needle");
        QSignalSpy closed(&Frame(), &CMainFrame::Closed);
        QVERIFY(Frame().close());
        QCOMPARE(closed.count(), 1);
        QCOMPARE(m_prompter->messages.size(), 1);
        const TestPrompter::Asked& q = m_prompter->messages[0];
        QCOMPARE(q.strCaption, QString("Write us"));
        QCOMPARE(q.strText, QString("We would like to hear what you think about Brindlecove, so "
                                    "please send us your comments, suggestions or problems you had "
                                    "using the program. Click 'Yes' to visit our Web site."));
        QCOMPARE(q.buttons, Prompter::YesNo);
        QCOMPARE(m_prompter->opened.size(), yes ? 1 : 0);
        if (yes)
            QCOMPARE(m_prompter->opened[0], Frame().FeedbackUrl());
        QSettings s("Halvorn", "Brindlecove");
        QCOMPARE(s.value("Brindlecove/strSearch").toString(), QString("*.txt"));
        QCOMPARE(s.value("Brindlecove/strContainingText").toString(), QString("needle"));
    }
};

QTEST_MAIN(TestMainFrame)
#include "tst_mainframe.moc"
