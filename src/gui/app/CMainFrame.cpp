#include "CMainFrame.h"

#include "app/Commands.h"
#include "app/LoginUi.h"
#include "app/Prompter.h"
#include "app/Settings.h"
#include "index/IndexSearch.h"
#include "index/ShareWatcher.h"
#include "log/CLogBar.h"
#include "log/LogModel.h"
#include "network/Discovery.h"
#include "network/NetworkTreeModel.h"
#include "network/SmbLanBrowser.h"
#include "results/CResultsWindow.h"
#include "search/CSearchDlg.h"
#include "search/PatternList.h"
#include "search/SearchEngine.h"
#include "smb/HelperPool.h"
#include "ui/CAutoHide.h"
#include "ui/DockState.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDockWidget>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMoveEvent>
#include <QPointer>
#include <QScreen>
#include <QStatusBar>
#include <QTabBar>
#include <QTimer>
#include <QTreeView>

#include <cstdio>
#include <exception>

// The images live in a static library; make sure they are linked and registered.
static void InitResources()
{
    Q_INIT_RESOURCE(brindlecove);
}

CMainFrame::CMainFrame(Prompter& prompter, std::shared_ptr<LanBrowser> browser, QWidget* parent)
    : QMainWindow(parent), m_prompter(prompter), m_tree(std::make_shared<NetworkTree>())
{
    m_choreLink->frame = this;
    m_fnExecDialog = [](QDialog& dlg) { return dlg.exec(); };
    // Deleted on the GUI thread, whichever thread lets go of it last.
    m_loginUi = std::shared_ptr<LoginUi>(
        new LoginUi(prompter, [this](const QString& text) { PostStatus(text); }),
        [](LoginUi* p) { p->deleteLater(); });
    smb::Logins::Install();
    smb::Logins::Instance()->SetUi(m_loginUi);
    if (!browser)
        browser = std::make_shared<SmbLanBrowser>();
    Discovery::Callbacks cb;
    cb.fnStatus = [this](const QString& text) { PostStatus(text); };
    // Enumeration failures are reported on the standard streams only.
    cb.fnStdout = [](const QString& text) {
        std::fputs(text.toLocal8Bit().constData(), stdout);
        std::fflush(stdout);
    };
    cb.fnStderr = [](const QString& text) { std::fputs(text.toLocal8Bit().constData(), stderr); };
    cb.fnCompleted = [this] { PostToGui([this] { OnDiscoveryCompleted(); }); };
    m_discovery = std::make_unique<Discovery>(m_tree, std::move(browser), std::move(cb));
    SearchEngine::Callbacks scb;
    scb.fnStatus = [this](const QString& text) { PostStatus(text); };
    // Workers hand their news over through a queue of ours under a lock, so what they send is
    // complete before the GUI thread reads it; the queued call only wakes the GUI thread.
    scb.fnFinished = [this](quint64 nId, bool bRanToEnd) {
        PostToGui([this, nId, bRanToEnd] { OnSearchFinished(nId, bRanToEnd); });
    };
    scb.fnUnreadable = [this](quint64 nId, const QString&, bool bFolder, const Error&) {
        PostToGui([this, nId, bFolder] {
            if (nId == m_nUnreadableSearch)
                ++(bFolder ? m_nUnreadableFolders : m_nUnreadableFiles);
        });
    };
    m_search = std::make_unique<SearchEngine>(
        std::move(scb), s_fnShareFsFactory ? s_fnShareFsFactory : [] { return MakeShareFs(); });

    InitResources();
    setObjectName(QStringLiteral("BrindlecoveMain"));
    setWindowTitle(tr("Brindlecove"));
    setWindowIcon(QIcon(QStringLiteral(":/images/brindlecove.png")));
    setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowNestedDocks);
    // Where the frame stood when it last closed (590 x 390 at 10,10 on the first run). The
    // position is the window's outer corner, title bar included (move, not setGeometry, which
    // would put the client area there and the title bar above the screen's top edge); the size
    // is the client area's.
    const dockstate::Placement placement = dockstate::ReadPlacement();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect placed = dockstate::PlaceOnScreen(placement.normal, screen->availableGeometry(),
                                                      screen->geometry().size());
        resize(placed.size());
        move(placed.topLeft());
    }
    m_nShowCommand = placement.nStatus;
    m_nDisplayStyle = placement.nStyle;

    // The multiple-document client area, its children reached through tabs.
    m_mdiArea = new QMdiArea(this);
    m_mdiArea->setViewMode(QMdiArea::TabbedView);
    m_mdiArea->setTabsClosable(true);
    m_mdiArea->setTabsMovable(true);
    m_mdiArea->setDocumentMode(true);
    setCentralWidget(m_mdiArea);
    connect(m_mdiArea, &QMdiArea::subWindowActivated, this, &CMainFrame::OnSubWindowActivated);

    CreateActions();
    BuildMenuBar(IDR_MAINFRAME);
    CreateToolBar();
    CreateStatusBar();

    // The Search Bar, left or right only.
    m_wndSearchBar = new QDockWidget(tr("Search Bar"), this);
    m_wndSearchBar->setObjectName(QStringLiteral("Bar2454"));
    m_wndSearchBar->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    m_searchDlg = new CSearchDlg(m_wndSearchBar);
    m_wndSearchBar->setWidget(m_searchDlg);
    addDockWidget(Qt::LeftDockWidgetArea, m_wndSearchBar);

    m_treeModel = new NetworkTreeModel(m_tree, this);
    QTreeView* tree = m_searchDlg->Tree();
    tree->setModel(m_treeModel);
    connect(tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& now, const QModelIndex& before) {
                OnTreeSelChanged(m_treeModel->HandleOf(now), m_treeModel->HandleOf(before));
            });
    connect(tree, &QTreeView::expanded, this, [this](const QModelIndex& index) {
        OnTreeItemExpanded();
        OnServerOpened(m_treeModel->HandleOf(index));
    });
    connect(tree, &QTreeView::collapsed, this, &CMainFrame::OnTreeItemExpanded);
    connect(m_searchDlg, &CSearchDlg::ToggleSearchRequested, this, &CMainFrame::ToggleSearch);
    // The Discover button runs the command's handler directly.
    connect(m_searchDlg, &CSearchDlg::DiscoverRequested, this, &CMainFrame::OnDiscoverNetwork);
    connect(m_searchDlg, &CSearchDlg::TreeContextMenuRequested, this,
            [this, tree](const QPoint& pos) {
                // The menu's commands that need a node take the one under the pointer.
                const QModelIndex at = tree->indexAt(tree->viewport()->mapFromGlobal(pos));
                ShowServersMenu(m_treeModel->HandleOf(at));
            });

    // The Network Log, any side.
    m_logModel = new LogModel(this);
    m_wndLogBar = new CLogBar(m_logModel, this);
    m_wndLogBar->setAllowedAreas(Qt::AllDockWidgetAreas);
    addDockWidget(Qt::BottomDockWidgetArea, m_wndLogBar);
    connect(m_wndLogBar, &CLogBar::ContextMenuRequested, this,
            [this](const QPoint&) { ShowLogMenu(); });

    ApplyDisplayStyle(32770);
    m_autoHide = new CAutoHide(this);
    m_autoHide->Manage(m_wndSearchBar);
    m_autoHide->Manage(m_wndLogBar);
    // The bar layout of the last run, unless it names bars this frame does not have.
    if (dockstate::RestoreLayout(*this, {m_wndSearchBar, m_wndLogBar}, {2454, 2455})) {
        const QList<QDockWidget*> bars{m_wndSearchBar, m_wndLogBar};
        const QList<int> ids{2454, 2455};
        for (qsizetype i = 0; i < bars.size(); ++i) {
            const dockstate::BarState b = dockstate::ReadBar(ids[i]);
            const Qt::DockWidgetArea side = CAutoHide::SideOfAling(b.nAling);
            if (b.bAutoHide && side != Qt::NoDockWidgetArea)
                m_autoHide->Collapse(bars[i], side);
        }
    }
    m_autoHide->SyncStrips();
    m_menuFiles = BuildPopup(IDR_FILES);
    m_menuServers = BuildPopup(IDR_SERVERS);
    m_menuLog = BuildPopup(IDR_LOG);
    m_menuTab = BuildPopup(IDR_TAB_MENU);

    // The display style is applied once more when the frame is already shown.
    QTimer::singleShot(150, this, &CMainFrame::OnTimer);

    const settings::SearchTexts texts = settings::ReadSearchTexts();
    m_searchDlg->SetSearchText(texts.strSearch);
    m_searchDlg->SetContainingText(texts.strContainingText);

    auto* idle = new QTimer(this);
    connect(idle, &QTimer::timeout, this, [this] {
        UpdateCommandUI();
        UpdateLockIndicators();
    });
    idle->start(200);
    UpdateCommandUI();
}

std::function<std::unique_ptr<ShareFs>()> CMainFrame::s_fnShareFsFactory;
std::function<LockKeyState()> CMainFrame::s_fnLockKeys;

CMainFrame::~CMainFrame()
{
    // The client area's windows go with it; the frame no longer follows them.
    m_mdiArea->disconnect(this);
    for (QMdiSubWindow* w : m_mdiArea->subWindowList())
        w->disconnect(this);
    // Workers that are still listing or searching give up; none of them calls into the frame
    // afterwards, and what they still use they keep alive themselves.
    // A worker waiting for a login question gets its answer (none) at once.
    m_loginUi->Detach();
    smb::Logins::Instance()->SetUi(nullptr);
    m_watchers.clear(); // each ends its helper and joins its threads
    m_search->Shutdown(3000);
    m_discovery->Shutdown(3000);
    StopFileOperation();
    // Reading a tree file is bounded by its size cap; its result call goes with the frame.
    if (m_loadThread.joinable())
        m_loadThread.join();
    // The index's chores still running hand nothing back from now on.
    std::lock_guard lock(m_choreLink->mutex);
    m_choreLink->frame = nullptr;
}

bool CMainFrame::IsSearchRunning() const
{
    return !m_search->IsIdle();
}

bool CMainFrame::IsDiscoveryIdle() const
{
    return m_discovery->IsIdle();
}

void CMainFrame::PostStatus(const QString& text)
{
    // Only the text that finds the queue empty needs to wake the GUI thread: the drain takes
    // everything queued up to that moment.
    if (m_statusQueue.Append(text))
        PostToGui([this] { OnStatusMsg(); });
}

void CMainFrame::PostToGui(std::function<void()> fn)
{
    // The one way from a worker to the GUI thread: calls run in the order posted, and only the
    // call that finds the queue empty wakes the GUI thread.
    bool bWake = false;
    {
        std::lock_guard lock(m_postedLock);
        bWake = m_posted.empty();
        m_posted.push_back(std::move(fn));
    }
    if (bWake)
        QMetaObject::invokeMethod(this, &CMainFrame::RunPosted, Qt::QueuedConnection);
}

void CMainFrame::RunPosted()
{
    std::deque<std::function<void()>> posted;
    {
        std::lock_guard lock(m_postedLock);
        posted.swap(m_posted);
    }
    for (auto& fn : posted)
        fn();
}

void CMainFrame::OnStatusMsg()
{
    // The queue stays filled until the drain, so no further message is posted meanwhile: the
    // timer is what drains it then.
    if (m_statusDrained.isValid() && m_statusDrained.elapsed() < kMsStatusInterval) {
        if (!m_bStatusDrainArmed) {
            m_bStatusDrainArmed = true;
            QTimer::singleShot(kMsStatusInterval - static_cast<int>(m_statusDrained.elapsed()),
                               this, [this] {
                                   m_bStatusDrainArmed = false;
                                   OnStatusMsg();
                               });
        }
        return;
    }
    DrainStatus();
}

void CMainFrame::DrainStatus()
{
    m_statusDrained.start();
    const QStringList texts = m_statusQueue.TakeAll();
    if (texts.isEmpty())
        return;
    // Pane 0 would show each text in turn; only the last one stays.
    m_wndStatusPane->setText(texts.constLast());
    try {
        if (m_logModel->AddEntries(texts) > 0)
            m_wndLogBar->EnsureLastVisible();
    } catch (const std::exception&) {
        m_prompter.Message(tr("Crashed. :("), tr("Brindlecove"), Prompter::NoIcon, Prompter::Ok);
    }
}

void CMainFrame::AddLogEntry(const QString& text)
{
    if (text.isEmpty())
        return;
    try {
        m_logModel->AddEntries({text});
        m_wndLogBar->EnsureLastVisible();
    } catch (const std::exception&) {
        m_prompter.Message(tr("Crashed. :("), tr("Brindlecove"), Prompter::NoIcon, Prompter::Ok);
    }
}

QString CMainFrame::StatusPaneText() const
{
    return m_wndStatusPane->text();
}

void CMainFrame::closeEvent(QCloseEvent* e)
{
    // A copy or move still running is cancelled only when the user says so; what is copied
    // stays, and the file being written is dropped whole (it is written beside its target).
    if (!m_bClosed && m_fileOp && m_fileOp->bRunning) {
        if (m_prompter.Message(tr("Files are still being copied or moved. Cancel that and exit? "
                                  "What is done so far stays."),
                               tr("Brindlecove"), Prompter::Question,
                               Prompter::YesNo) != Prompter::AnswerYes) {
            e->ignore();
            return;
        }
        StopFileOperation();
    }
    if (!m_bClosed) {
        OnClose();
        SaveWindowState();
    }
    e->accept();
}

void CMainFrame::SaveWindowState()
{
    const bool bNormal = !isMaximized() && !isMinimized();
    const int nStatus = isMaximized() ? 3 : isMinimized() ? 2 : 1;
    // Stored relative to the work area, whose origin the next start adds again (a panel at the
    // top or left of the desktop would otherwise move the frame by its size on every start).
    // The outer corner, as the next start places it; the client area's size.
    QRect normal = bNormal ? QRect(frameGeometry().topLeft(), size())
                           : normalGeometry().translated(-m_frameOffset);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        normal.translate(-screen->availableGeometry().topLeft());
    dockstate::WritePlacement(normal, nStatus, m_nDisplayStyle, false);
    QList<dockstate::BarState> states;
    for (QDockWidget* bar : {m_wndSearchBar, static_cast<QDockWidget*>(m_wndLogBar)}) {
        dockstate::BarState b;
        b.bAutoHide = m_autoHide->IsCollapsed(bar);
        b.nAling = CAutoHide::AlingOf(m_autoHide->SideOf(bar));
        states << b;
    }
    dockstate::SaveLayout(*this, {m_wndSearchBar, m_wndLogBar}, {2454, 2455}, states);
}

void CMainFrame::moveEvent(QMoveEvent* e)
{
    QMainWindow::moveEvent(e);
    if (isVisible() && !isMaximized() && !isMinimized() && !isFullScreen())
        m_frameOffset = geometry().topLeft() - frameGeometry().topLeft();
}

void CMainFrame::ShowAsPlaced()
{
    if (m_nShowCommand == 3)
        showMaximized();
    else if (m_nShowCommand == 2)
        showMinimized();
    else
        show();
}

void CMainFrame::OnClose()
{
    m_bClosed = true;
    // 1. A running search stops first.
    if (IsSearchRunning())
        StopSearch();
    // 2. The feedback question; the close goes on whatever the answer.
    const Prompter::Answer a = m_prompter.Message(
        tr("We would like to hear what you think about Brindlecove, so please send us your "
           "comments, suggestions or problems you had using the program. Click 'Yes' to visit "
           "our Web site."),
        tr("Write us"), Prompter::Warning, Prompter::YesNo);
    if (a == Prompter::AnswerYes) {
        const QUrl feedback = FeedbackUrl();
        if (feedback.isEmpty())
            m_prompter.Message(tr("The feedback page is part of the manual, which is not "
                                  "installed."),
                               tr("Brindlecove"), Prompter::Warning, Prompter::Ok);
        else
            m_prompter.OpenUrl(feedback);
    }
    // 3. The search texts.
    settings::WriteSearchTexts({m_searchDlg->SearchText(), m_searchDlg->ContainingText()});
    // 4. Every results window closes; workers of the stopped search end on their own.
    m_mdiArea->closeAllSubWindows();
    emit Closed();
}

void CMainFrame::StopSearch()
{
    m_search->Stop();
    m_pResultsFrame = nullptr;
    m_searchDlg->SetSearching(false);
}

void CMainFrame::ToggleSearch()
{
    if (IsSearchRunning()) {
        StopSearch();
        return;
    }
    if (m_hStartNode == NoNode || !m_tree->IsValid(m_hStartNode)) {
        m_prompter.Message(tr("Select a path for the searching in the left pane\nor press "
                              "'Discover' button in order to retrieve current network tree."),
                           tr("Brindlecove"), Prompter::Critical, Prompter::Ok);
        return;
    }
    const QString strContaining = m_searchDlg->ContainingText();
    if (strContaining.size() > 4095) {
        m_prompter.Message(tr("The containing text is too long: at most 4095 characters can be "
                              "searched for."),
                           tr("Brindlecove"), Prompter::Critical, Prompter::Ok);
        return;
    }
    m_searchDlg->SetSearching(true);
    PostStatus(tr("Searching..."));
    CChildFrame* child = CreateResultsWindow();
    SearchJob job;
    job.tree = m_tree;
    job.hStartNode = m_hStartNode;
    job.strPatternText = m_searchDlg->SearchText();
    job.strContainingText = strContaining;
    job.sink = child->Sink();
    // Every walk records what it lists; without a writable index it still searches.
    job.index = StartIndexWriter();
    // Servers whose login question was declined are asked again in a new search.
    smb::Logins::Instance()->NewSearch();
    // A search of names answers from the index first (its walk's finds wait for that answer);
    // a content search has to read the files anyway.
    const QString index = shareindex::DefaultLocation();
    const bool bHaveIndex = shareindex::IsServerLocation(index) || QFileInfo::exists(index);
    const bool bIndexFirst = strContaining.isEmpty() && bHaveIndex;
    if (bIndexFirst)
        child->AwaitIndex();
    // A content search reads the files the index expects at once, before the walk lists them.
    if (!strContaining.isEmpty() && bHaveIndex)
        job.fnCandidates =
            shareindex::Candidates(index, patterns::ParsePatternList(m_searchDlg->SearchText()));
    Error why;
    const quint64 nId = m_search->Start(job, &why);
    if (nId == 0) {
        // A start that fails leaves the frame idle again, never half running; the log says why.
        PostStatus(QStringLiteral("The search did not start: ") + ErrorText(why));
        child->close();
        m_searchDlg->SetSearching(false);
        m_prompter.Message(tr("Can't create results list."), tr("Brindlecove"), Prompter::Critical,
                           Prompter::Ok);
        return;
    }
    m_pResultsFrame = child;
    child->m_nSearchId = nId;
    if (bIndexFirst)
        AskIndexFirst(child, nId);
    m_nUnreadableSearch = nId;
    m_nUnreadableFolders = m_nUnreadableFiles = 0;
    child->setWindowTitle(m_searchDlg->SearchText());
    OnSubWindowActivated(m_mdiArea->activeSubWindow());
    UpdateCommandUI();
}

void CMainFrame::PostFromChore(const std::shared_ptr<ChoreLink>& link, std::function<void()> fn)
{
    std::lock_guard lock(link->mutex);
    if (link->frame)
        link->frame->PostToGui(std::move(fn));
}

void CMainFrame::RunChore(std::function<void(const std::shared_ptr<ChoreLink>&)> body)
{
    // Detached: a chore may wait for a database (its calls end within their timeouts), and
    // neither the next search nor Exit waits for it. What it hands back goes through the link,
    // which the frame cuts when it goes.
    std::thread([link = m_choreLink, body = std::move(body)] { body(link); }).detach();
}

void CMainFrame::AskIndexFirst(CChildFrame* child, quint64 nId)
{
    const QStringList scopes = shareindex::ScopesOf(*m_tree, m_hStartNode);
    const QStringList patternList = patterns::ParsePatternList(m_searchDlg->SearchText());
    const QString location = shareindex::DefaultLocation();
    QPointer<CChildFrame> target(child);
    RunChore([scopes, patternList, location, target, nId](const std::shared_ptr<ChoreLink>& link) {
        auto store =
            scopes.isEmpty() ? nullptr : shareindex::IndexStore::Open(location, false, nullptr);
        // The rows show part by part as the index finds them; the walk waits for the last.
        auto show = [&link, target, nId](std::vector<SearchResult>&& finds, qint64 msOldest,
                                         bool bLast) {
            auto part = std::make_shared<std::vector<SearchResult>>(std::move(finds));
            PostFromChore(link, [target, nId, part, msOldest, bLast] {
                if (target && target->m_nSearchId == nId)
                    target->ShowIndexed(std::move(*part), msOldest, bLast);
            });
        };
        qint64 msOldest = 0;
        if (store)
            msOldest =
                shareindex::SearchIndex(*store, scopes, patternList,
                                        [&](std::vector<SearchResult>&& part, qint64 msSoFar) {
                                            show(std::move(part), msSoFar, false);
                                        })
                    .msOldest;
        show({}, msOldest, true);
    });
}

void CMainFrame::WatchSearchedShares()
{
    if (s_fnShareFsFactory)
        return; // the shares are not the network's (tests)
    QStringList shares;
    for (const QString& scope : shareindex::ScopesOf(*m_tree, m_hStartNode))
        if (scope.mid(2).count(QLatin1Char('\\')) == 1 && !scope.endsWith(QLatin1Char('$')))
            shares << scope;
    shares = shareindex::WatchableShares(
        shares, std::max(1, smb::HelperPool::Instance()->Limits().nMaxHelpers / 4));
    QStringList watched;
    for (const auto& w : m_watchers)
        watched << w->Share();
    if (watched == shares)
        return;
    m_watchers.clear();
    if (shares.isEmpty())
        return;
    auto writer = StartIndexWriter();
    for (const QString& share : shares) {
        PostStatus(QStringLiteral("Keeping the index of %1 fresh").arg(share));
        m_watchers.push_back(std::make_unique<shareindex::ShareWatcher>(
            share, writer, [this](const QString& note) { PostStatus(note); }));
    }
}

std::shared_ptr<shareindex::IndexWriter> CMainFrame::StartIndexWriter()
{
    // Opened on the writer's own thread: a database over the network never holds the window.
    // Why it could not be opened comes back through the chores' link (the frame may be gone).
    return shareindex::IndexWriter::StartInBackground(
        shareindex::DefaultLocation(),
        [link = m_choreLink](const Error& why, const QString& detail) {
            const QString text = QStringLiteral("The index cannot be written (%1)")
                                     .arg(detail.isEmpty() ? ErrorText(why) : detail);
            PostFromChore(link, [link, text] {
                if (link->frame)
                    link->frame->PostStatus(text);
            });
        });
}

CChildFrame* CMainFrame::CreateResultsWindow()
{
    auto* child = new CChildFrame;
    m_mdiArea->addSubWindow(child);
    connect(child, &CChildFrame::Closing, this, &CMainFrame::OnResultsClosing);
    connect(child->View(), &CBrindlecoveView::ContextMenuRequested, this,
            &CMainFrame::ShowFilesMenu);
    // A double click opens the selected file (the rule of the menu item does not apply).
    connect(child->View(), &CBrindlecoveView::OpenRequested, this, [this](int) { OnOpenFile(); });
    child->show();
    m_mdiArea->setActiveSubWindow(child);
    return child;
}

CChildFrame* CMainFrame::ActiveResults() const
{
    return qobject_cast<CChildFrame*>(m_mdiArea->activeSubWindow());
}

void CMainFrame::OnResultsClosing(CChildFrame* frame)
{
    // Closing any results window stops the running search, whichever window it fills.
    if (IsSearchRunning())
        StopSearch();
    if (m_pResultsFrame == frame)
        m_pResultsFrame = nullptr;
}

void CMainFrame::OnSearchFinished(quint64 nId, bool bRanToEnd)
{
    DrainStatus(); // "Search finished" is queued before this call
    CChildFrame* target = nullptr;
    for (QMdiSubWindow* w : m_mdiArea->subWindowList()) {
        auto* child = qobject_cast<CChildFrame*>(w);
        if (child && child->m_nSearchId == nId) {
            child->SearchEnded(bRanToEnd);
            target = child;
        }
    }
    emit SearchFinished(nId, bRanToEnd);
    if (nId != m_search->CurrentId() || !bRanToEnd)
        return; // a stopped search: its end is only logged
    m_searchDlg->SetSearching(false);
    UpdateCommandUI();
    WatchSearchedShares();
    if (m_pResultsFrame && m_pResultsFrame == target) {
        QString text = tr("Search finished. %1 files found.").arg(target->Model()->rowCount());
        // Finds are incomplete when parts of the network could not be read: say so.
        if (nId == m_nUnreadableSearch && (m_nUnreadableFolders > 0 || m_nUnreadableFiles > 0))
            text += tr("\nCould not be read: %1 folder(s), %2 file(s); the Network Log names them.")
                        .arg(m_nUnreadableFolders)
                        .arg(m_nUnreadableFiles);
        m_prompter.Message(text, tr("Brindle Cove"), Prompter::Information, Prompter::Ok);
    }
}

void CMainFrame::OnCommandNotYetAvailable(int nId)
{
    Q_UNUSED(nId);
    PostStatus(tr("This command is not available in this build yet."));
}

void CMainFrame::OnTreeSelChanged(NodeHandle hNew, NodeHandle hOld)
{
    // A selection that vanished with a rebuilt tree is no choice of the user's.
    if (hNew == NoNode)
        return;
    m_hStartNode = hNew;
    m_tree->SetBold(hNew, true);
    if (hOld != NoNode)
        m_tree->SetBold(hOld, false);
}

void CMainFrame::OnTreeItemExpanded()
{
    if (m_discovery->WorkerCount() > 0)
        m_searchDlg->Tree()->viewport()->update();
}

void CMainFrame::OnServerOpened(NodeHandle node)
{
    // The person opened a server whose share list needed a login: it is listed now, with the
    // login question when the list is refused. (Expanding the whole tree asks nothing.)
    if (m_bExpandingAll || !m_tree->IsLoginNeeded(node) || m_tree->ItemHasChildren(node) ||
        !IsDiscoveryIdle())
        return;
    // Opening it again after a declined question asks again (unless a search runs, whose
    // refusals hold until it ends).
    if (!IsSearchRunning())
        smb::Logins::Instance()->NewSearch();
    StartBusyAnimation();
    m_discovery->ListServerShares(node);
    UpdateCommandUI();
}

void CMainFrame::SortTree(NodeHandle node)
{
    ::SortTree(*m_tree, node);
}

void CMainFrame::ExpandAll()
{
    m_treeModel->Sync();
    const QModelIndex root = m_treeModel->IndexOf(m_hRootNode);
    if (!root.isValid())
        return;
    m_bExpandingAll = true;
    m_searchDlg->Tree()->expandRecursively(root);
    m_bExpandingAll = false;
}

void CMainFrame::OnTimer()
{
    ApplyDisplayStyle(32770);
}

void CMainFrame::ApplyDisplayStyle(int nStyle)
{
    // 32769: the platform's own look. 32770: flat bars with tinted captions.
    m_nDisplayStyle = nStyle;
    if (nStyle == 32770)
        setStyleSheet(QStringLiteral(
            "QToolBar { border: none; spacing: 2px; }"
            "QDockWidget::title { background: #dfe6ee; padding: 4px; text-align: left; }"
            "QStatusBar QLabel[objectName^=\"indicator\"] { color: #22344f; }"));
    else
        setStyleSheet(QString());
}

void CMainFrame::OnSubWindowActivated(QMdiSubWindow* w)
{
    // As a document frame shows it: the program's title, and the active results window's.
    setWindowTitle(w ? tr("Brindlecove") + QStringLiteral(" - ") + w->windowTitle()
                     : tr("Brindlecove"));
    const int nWanted = w ? IDR_BRINDLTYPE : IDR_MAINFRAME;
    if (nWanted != m_nMenuResource)
        BuildMenuBar(nWanted);
    // The tab strip exists once the first results window is there; its tabs get menu 132. Its
    // commands go to the active list, so the tab right-clicked becomes the active one first.
    auto* tabs = m_mdiArea->findChild<QTabBar*>();
    if (tabs && tabs->contextMenuPolicy() != Qt::CustomContextMenu) {
        tabs->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(tabs, &QWidget::customContextMenuRequested, this, [this, tabs](const QPoint& pos) {
            const int index = tabs->tabAt(pos);
            if (index < 0)
                return;
            tabs->setCurrentIndex(index);
            PopupMenu(m_menuTab);
        });
    }
}
