// The frame's command set: actions, menus, toolbar, status bar and the update rules.
#include "CMainFrame.h"

#include "app/CAboutDlg.h"
#include "app/Commands.h"
#include "app/Manual.h"
#include "app/Prompter.h"
#include "index/IndexStore.h"
#include "log/CLogBar.h"
#include "log/LogModel.h"
#include "network/NetworkTreeModel.h"
#include "results/CResultsWindow.h"
#include "search/CSearchDlg.h"
#include "search/SearchEngine.h"
#include "ui/CAutoHide.h"
#include "ui/LockKeys.h"

#include <QToolButton>

#include <QAbstractItemView>
#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QDockWidget>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QUrl>

void CMainFrame::CreateActions()
{
    static const int kAll[] = {
        ID_DISCOVER_NETWORK, ID_SCAN_IP_RANGE,  ID_ADD_DOMAIN,     ID_LOAD_TREE,
        ID_SAVE_TREE,        ID_HELP_TOPICS,    ID_VIEW_SEARCHBAR, ID_VIEW_NETWORKLOG,
        ID_OPEN_FOLDER,      ID_COPY_FILES,     ID_MOVE_FILES,     ID_DELETE_FILES,
        ID_SAVE_RESULTS,     ID_OPEN_FILE,      ID_CLEAR_LOG,      ID_SAVE_LOG,
        ID_FILE_CLOSE,       ID_WINDOW_ARRANGE, ID_WINDOW_CASCADE, ID_WINDOW_TILE_HORZ,
        ID_APP_ABOUT,        ID_APP_EXIT,       ID_VIEW_TOOLBAR,   ID_VIEW_STATUS_BAR,
        ID_CONNECT_AS,       ID_FORGET_INDEX};
    for (int nId : kAll) {
        auto* a = new QAction(this);
        a->setData(nId);
        const CommandPrompt p = PromptOf(nId);
        a->setStatusTip(p.strPrompt);
        a->setToolTip(p.strToolTip.isEmpty() ? QString() : p.strToolTip);
        const QString strImage = ToolbarImageOf(nId);
        if (!strImage.isEmpty())
            a->setIcon(QIcon(strImage));
        const bool bToggle = nId == ID_VIEW_SEARCHBAR || nId == ID_VIEW_NETWORKLOG ||
                             nId == ID_VIEW_TOOLBAR || nId == ID_VIEW_STATUS_BAR;
        a->setCheckable(bToggle);
        connect(a, &QAction::triggered, this, [this, nId] { RunCommand(nId); });
        m_actions.insert(nId, a);
    }
    // F1 anywhere in the window opens the manual.
    QAction* help = m_actions.value(ID_HELP_TOPICS);
    help->setShortcut(QKeySequence::HelpContents);
    help->setShortcutContext(Qt::WindowShortcut);
    addAction(help);
    // The results tabs by keyboard come with the client area: Ctrl+Tab goes to the next,
    // Ctrl+F4 or Ctrl+W (the results window's own) closes the active one.
}

QMenu* CMainFrame::BuildPopup(int nMenu)
{
    // A context menu resource: its first popup, whose title is never shown.
    auto* menu = new QMenu(this);
    for (const MenuEntry* e = MenuEntries(nMenu); e->pszText; ++e) {
        if (e->nId == -1) {
            menu->setTitle(QString::fromUtf8(e->pszText));
            menu->setObjectName(QString::fromUtf8(e->pszText));
        } else if (e->nId == 0) {
            menu->addSeparator();
        } else {
            QAction* a = m_actions.value(e->nId);
            // Menus carry their own item texts; the action is shared, so a per-menu proxy
            // keeps the text while following the action's state.
            auto* item = menu->addAction(a->icon(), QString::fromUtf8(e->pszText));
            item->setData(e->nId);
            item->setStatusTip(a->statusTip());
            item->setCheckable(a->isCheckable());
            connect(item, &QAction::triggered, a, &QAction::trigger);
        }
    }
    connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
    return menu;
}

void CMainFrame::BuildMenuBar(int nMenu)
{
    QMenuBar* bar = menuBar();
    // The menus of the other resource go with their items (clear() keeps them as children).
    const QList<QAction*> old = bar->actions();
    bar->clear();
    for (QAction* top : old)
        if (QMenu* menu = top->menu())
            menu->deleteLater();
    QMenu* popup = nullptr;
    for (const MenuEntry* e = MenuEntries(nMenu); e->pszText; ++e) {
        if (e->nId == -1) {
            popup = bar->addMenu(QString::fromUtf8(e->pszText));
            connect(popup, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
        } else if (e->nId == 0) {
            popup->addSeparator();
        } else {
            QAction* a = m_actions.value(e->nId);
            auto* item = popup->addAction(a->icon(), QString::fromUtf8(e->pszText));
            item->setData(e->nId);
            item->setStatusTip(a->statusTip());
            item->setCheckable(a->isCheckable());
            connect(item, &QAction::triggered, a, &QAction::trigger);
        }
    }
    m_nMenuResource = nMenu;
    UpdateCommandUI();
}

void CMainFrame::CreateToolBar()
{
    m_wndToolBar = addToolBar(tr("Toolbar"));
    m_wndToolBar->setObjectName(QStringLiteral("ToolBar130"));
    m_wndToolBar->setIconSize(QSize(48, 48));
    m_wndToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    for (const int* p = ToolbarButtons(); *p != -1; ++p) {
        if (*p == 0)
            m_wndToolBar->addSeparator();
        else
            m_wndToolBar->addAction(m_actions.value(*p));
    }
    // Icon-only buttons: a screen reader says the button's tool tip.
    for (QToolButton* b : m_wndToolBar->findChildren<QToolButton*>())
        if (b->defaultAction())
            b->setAccessibleName(b->defaultAction()->toolTip());
}

void CMainFrame::CreateStatusBar()
{
    QStatusBar* bar = statusBar();
    m_wndStatusPane = new QLabel(bar);
    m_wndStatusPane->setObjectName(QStringLiteral("statusPane0"));
    m_wndStatusPane->setMinimumWidth(1);
    bar->addWidget(m_wndStatusPane, 1);
    static const char* const kNames[] = {"CAP", "NUM", "SCRL"};
    for (int i = 0; i < 3; ++i) {
        m_wndIndicators[i] = new QLabel(QString::fromLatin1(kNames[i]), bar);
        m_wndIndicators[i]->setObjectName(QStringLiteral("indicator") +
                                          QString::fromLatin1(kNames[i]));
        m_wndIndicators[i]->setAlignment(Qt::AlignCenter);
        m_wndIndicators[i]->setAccessibleName(QString::fromLatin1(kNames[i]));
        m_wndIndicators[i]->setMinimumWidth(
            m_wndIndicators[i]->fontMetrics().horizontalAdvance(QStringLiteral("SCRL")) + 12);
        m_wndIndicators[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        bar->addPermanentWidget(m_wndIndicators[i]);
    }
    UpdateLockIndicators();
}

void CMainFrame::UpdateLockIndicators()
{
    // An indicator shows its text while its lock is on, and stays blank otherwise.
    static const char* const kNames[] = {"CAP", "NUM", "SCRL"};
    const LockKeyState state = s_fnLockKeys ? s_fnLockKeys() : QueryLockKeys();
    const bool on[3] = {state.bCaps, state.bNum, state.bScroll};
    for (int i = 0; i < 3; ++i) {
        m_wndIndicators[i]->setText(on[i] ? QString::fromLatin1(kNames[i]) : QString());
    }
}

void CMainFrame::UpdateCommandUI()
{
    if (!m_logModel || !m_wndToolBar)
        return; // still being built
    // A tree being loaded counts as a running activity: it replaces the whole tree.
    const bool bDiscoveryIdle = IsDiscoveryIdle() && !m_bLoadingTree;
    // The Search Bar's Discover button is idle-only too: a second discovery would pull the tree
    // from under the running one.
    m_searchDlg->DiscoverButton()->setEnabled(bDiscoveryIdle);
    CChildFrame* results = ActiveResults();
    const bool bHasRows = results && results->Model()->rowCount() > 0;
    const bool bHasSelection = results && results->View()->FirstSelectedRow() >= 0;
    const bool bLogRows = m_logModel->rowCount() > 0;

    for (auto it = m_actions.cbegin(); it != m_actions.cend(); ++it) {
        const int nId = it.key();
        QAction* a = it.value();
        bool bEnabled = true;
        switch (nId) {
        case ID_DISCOVER_NETWORK:
        case ID_SCAN_IP_RANGE:
        case ID_ADD_DOMAIN:
        case ID_LOAD_TREE: // a loaded tree would replace the one the workers fill
            bEnabled = bDiscoveryIdle;
            break;          // OnUpdateNetworkCommands
        case ID_CONNECT_AS: // a server node under the pointer (or selected)
            bEnabled = bDiscoveryIdle && m_tree->GetItemKind(MenuNode()) == NK_SERVER &&
                       m_tree->IsValid(MenuNode());
            break;
        case ID_OPEN_FOLDER:
        case ID_COPY_FILES:
        case ID_MOVE_FILES:
        case ID_DELETE_FILES:
        case ID_OPEN_FILE:
            bEnabled = bHasSelection;
            break; // OnUpdateHasSelection
        case ID_SAVE_RESULTS:
            bEnabled = bHasRows;
            break;            // OnUpdateHasResults
        case ID_FORGET_INDEX: // not under a search that writes it
            bEnabled = m_search->IsIdle();
            break;
        case ID_CLEAR_LOG:
        case ID_SAVE_LOG:
            bEnabled = bLogRows;
            break; // OnUpdateLogCommands
        case ID_FILE_CLOSE:
        case ID_WINDOW_ARRANGE:
        case ID_WINDOW_CASCADE:
        case ID_WINDOW_TILE_HORZ:
            bEnabled = m_mdiArea->activeSubWindow() != nullptr;
            break;
        default:
            bEnabled = true;
            break; // OnUpdateAlwaysEnabled and the toggles
        }
        a->setEnabled(bEnabled);
        if (nId == ID_VIEW_SEARCHBAR)
            a->setChecked(m_autoHide->IsShown(m_wndSearchBar));
        else if (nId == ID_VIEW_NETWORKLOG)
            a->setChecked(m_autoHide->IsShown(m_wndLogBar));
        else if (nId == ID_VIEW_TOOLBAR)
            a->setChecked(m_wndToolBar->isVisible());
        else if (nId == ID_VIEW_STATUS_BAR)
            a->setChecked(statusBar()->isVisible());
    }
    // Menu items mirror their command's state.
    auto mirror = [this](QMenu* menu) {
        if (!menu)
            return;
        for (QAction* item : menu->actions()) {
            if (item->isSeparator())
                continue;
            if (item->menu()) {
                const auto sub = item->menu()->actions();
                for (QAction* s : sub) {
                    if (QAction* a = m_actions.value(s->data().toInt())) {
                        s->setEnabled(a->isEnabled());
                        s->setChecked(a->isChecked());
                    }
                }
            } else if (QAction* a = m_actions.value(item->data().toInt())) {
                item->setEnabled(a->isEnabled());
                item->setChecked(a->isChecked());
            }
        }
    };
    for (QAction* top : menuBar()->actions())
        mirror(top->menu());
    mirror(m_menuFiles);
    mirror(m_menuServers);
    mirror(m_menuLog);
    mirror(m_menuTab);
}

void CMainFrame::RunCommand(int nId)
{
    UpdateCommandUI();
    QAction* a = m_actions.value(nId);
    if (a && !a->isEnabled() && nId == ID_LOAD_TREE)
        PostStatus(tr("A network tree can be loaded when the discovery has finished."));
    if (!a || !a->isEnabled())
        return;
    switch (nId) {
    case ID_DISCOVER_NETWORK:
        OnDiscoverNetwork();
        break;
    case ID_SCAN_IP_RANGE:
        OnScanIpRange();
        break;
    case ID_ADD_DOMAIN:
        OnAddDomain();
        break;
    case ID_CONNECT_AS:
        OnConnectAs(MenuNode());
        break;
    case ID_LOAD_TREE:
        OnLoadNetworkTree();
        break;
    case ID_SAVE_TREE:
        OnSaveNetworkTree();
        break;
    case ID_HELP_TOPICS:
        OnHelpTopics();
        break;
    case ID_OPEN_FILE:
        OnOpenFile();
        break;
    case ID_OPEN_FOLDER:
        OnOpenFolder();
        break;
    case ID_SAVE_RESULTS:
        OnSaveFinds();
        break;
    case ID_COPY_FILES:
        OnCopyFiles(false);
        break;
    case ID_MOVE_FILES:
        OnCopyFiles(true);
        break;
    case ID_DELETE_FILES:
        OnDeleteFiles();
        break;
    case ID_VIEW_SEARCHBAR:
        m_autoHide->SetShown(m_wndSearchBar, !m_autoHide->IsShown(m_wndSearchBar));
        break;
    case ID_VIEW_NETWORKLOG:
        m_autoHide->SetShown(m_wndLogBar, !m_autoHide->IsShown(m_wndLogBar));
        break;
    case ID_VIEW_TOOLBAR:
        ToggleBar(m_wndToolBar);
        break;
    case ID_VIEW_STATUS_BAR:
        ToggleBar(statusBar());
        break;
    case ID_CLEAR_LOG:
        OnClearLog();
        break;
    case ID_FORGET_INDEX:
        OnForgetIndex();
        break;
    case ID_SAVE_LOG:
        OnSaveLog();
        break;
    case ID_APP_ABOUT:
        OnAbout();
        break;
    case ID_APP_EXIT:
        close();
        break;
    case ID_FILE_CLOSE:
        m_mdiArea->closeActiveSubWindow();
        break;
    case ID_WINDOW_CASCADE:
    case ID_WINDOW_TILE_HORZ:
    case ID_WINDOW_ARRANGE:
        ArrangeResults(nId);
        break;
    default:
        OnCommandNotYetAvailable(nId);
        break;
    }
    UpdateCommandUI();
}

QMenu* CMainFrame::createPopupMenu()
{
    // The bars' menu (a right click on the toolbar or a bar's caption): the View menu's bar
    // items, run through the same commands, so a collapsed bar collapses or shows as there.
    UpdateCommandUI();
    auto* menu = new QMenu(this);
    for (const int nId :
         {ID_VIEW_TOOLBAR, ID_VIEW_SEARCHBAR, ID_VIEW_NETWORKLOG, ID_VIEW_STATUS_BAR}) {
        for (const MenuEntry* e = MenuEntries(IDR_MAINFRAME); e->pszText; ++e) {
            if (e->nId != nId)
                continue;
            QAction* a = m_actions.value(nId);
            QAction* item = menu->addAction(QString::fromUtf8(e->pszText));
            item->setData(nId);
            item->setStatusTip(a->statusTip());
            item->setCheckable(true);
            item->setChecked(a->isChecked());
            connect(item, &QAction::triggered, a, &QAction::trigger);
            break;
        }
    }
    return menu;
}

void CMainFrame::ToggleBar(QWidget* bar)
{
    bar->setVisible(!bar->isVisible());
}

void CMainFrame::PopupMenu(QMenu* menu)
{
    UpdateCommandUI();
    // The menu's right edge at the pointer.
    const QPoint pos = QCursor::pos() - QPoint(menu->sizeHint().width(), 0);
    menu->popup(pos);
}

void CMainFrame::ShowFilesMenu()
{
    PopupMenu(m_menuFiles);
}

void CMainFrame::ShowServersMenu(NodeHandle node)
{
    m_hMenuNode = node;
    PopupMenu(m_menuServers);
}

NodeHandle CMainFrame::MenuNode() const
{
    if (m_hMenuNode != NoNode && m_tree->IsValid(m_hMenuNode))
        return m_hMenuNode;
    return m_treeModel->HandleOf(m_searchDlg->Tree()->currentIndex());
}

void CMainFrame::ShowLogMenu()
{
    PopupMenu(m_menuLog);
}

void CMainFrame::OnHelpTopics()
{
    // The manual's pages open in the desktop's browser.
    const QUrl page = manual::Page(QStringLiteral("index.html"));
    if (page.isEmpty()) {
        m_prompter.Message(tr("The manual is not installed. It belongs in "
                              "share/brindlecove/manual beside the program's folder or in a "
                              "data folder of the system."),
                           tr("Brindlecove"), Prompter::Warning, Prompter::Ok);
        return;
    }
    if (!m_prompter.OpenUrl(page))
        m_prompter.Message(tr("No program could open the manual (%1).")
                               .arg(page.toDisplayString(QUrl::PreferLocalFile)),
                           tr("Brindlecove"), Prompter::Warning, Prompter::Ok);
}

QUrl CMainFrame::FeedbackUrl() const
{
    return manual::FeedbackUrl();
}

void CMainFrame::OnAbout()
{
    CAboutDlg dlg(this);
    dlg.exec();
}

void CMainFrame::OnClearLog()
{
    m_logModel->ClearLog();
}

void CMainFrame::OnForgetIndex()
{
    // Away from the window: a database of the index may take its time to answer.
    const QString location = shareindex::DefaultLocation();
    RunChore([location](const std::shared_ptr<ChoreLink>& link) {
        QString detail;
        const QString text = shareindex::Forget(location, &detail)
                                 ? QStringLiteral("The index of the walked shares was deleted")
                                 : QStringLiteral("Cannot delete the index %1: %2")
                                       .arg(shareindex::ShownLocation(location), detail);
        PostFromChore(link, [link, text] {
            if (link->frame)
                link->frame->PostStatus(text);
        });
    });
}

void CMainFrame::OnSaveLog()
{
    const QString path =
        m_prompter.GetSaveFileName(tr("Save Log"), QStringLiteral("network-log.txt"),
                                   tr("Text files (*.txt);;All files (*)"), QStringLiteral("txt"));
    if (path.isEmpty())
        return;
    QString strError;
    if (!m_logModel->SaveLog(path, &strError))
        m_prompter.Message(tr("The log could not be saved to %1: %2").arg(path, strError),
                           tr("Error"), Prompter::Critical, Prompter::Ok);
}

void CMainFrame::ArrangeResults(int nId)
{
    // Cascade and Tile show the results windows side by side instead of as tabs; maximising one
    // of them brings the tabs back. Arrange Icons lines the minimised ones up along the bottom.
    if (nId != ID_WINDOW_ARRANGE)
        m_mdiArea->setViewMode(QMdiArea::SubWindowView);
    const QList<QMdiSubWindow*> windows = m_mdiArea->subWindowList();
    for (QMdiSubWindow* w : windows) {
        if (nId != ID_WINDOW_ARRANGE && w->isMaximized())
            w->showNormal();
        if (w->property("bcWatched").toBool())
            continue;
        w->setProperty("bcWatched", true);
        connect(
            w, &QMdiSubWindow::windowStateChanged, this,
            [this](Qt::WindowStates, Qt::WindowStates now) {
                if ((now & Qt::WindowMaximized) && m_mdiArea->viewMode() == QMdiArea::SubWindowView)
                    QTimer::singleShot(0, this,
                                       [this] { m_mdiArea->setViewMode(QMdiArea::TabbedView); });
            });
    }
    if (nId == ID_WINDOW_CASCADE) {
        m_mdiArea->cascadeSubWindows();
    } else if (nId == ID_WINDOW_TILE_HORZ) {
        m_mdiArea->tileSubWindows();
    } else {
        int x = 0;
        for (QMdiSubWindow* w : windows) {
            if (!w->isMinimized())
                continue;
            w->move(x, m_mdiArea->viewport()->height() - w->height());
            x += w->width();
        }
    }
}
