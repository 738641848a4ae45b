#pragma once

#include "log/StatusQueue.h"
#include "network/NetworkTree.h"

#include <QElapsedTimer>
#include <QHash>
#include <QMainWindow>
#include <QUrl>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class CAutoHide;
class CChildFrame;
namespace shareindex {
class IndexWriter;
class ShareWatcher;
} // namespace shareindex
namespace fileops {
struct Item;
struct Outcome;
} // namespace fileops
class CLogBar;
class SearchEngine;
class Discovery;
class LanBrowser;
class QDialog;
class CSearchDlg;
class LogModel;
class NetworkTreeModel;
class Prompter;
class QAction;
class QDockWidget;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QMenuBar;
class QToolBar;

// The main frame: menu bar, toolbar, status bar, the Search Bar (left), the Network Log
// (bottom) and the tabbed area of results windows. GUI-thread object. It owns the state that
// workers share with the user interface; workers reach it only through PostStatus() and the
// thread-safe members below, never through a widget.
class CMainFrame : public QMainWindow
{
    Q_OBJECT
public:
    // Any thread: the constructor's hook to let tests choose the share file system.
    static std::function<std::unique_ptr<class ShareFs>()> s_fnShareFsFactory;
    // Where the lock keys' state comes from (tests: a keyboard of their own); empty: the
    // platform's.
    static std::function<struct LockKeyState()> s_fnLockKeys;
    // prompter answers every message box and file dialog; it must outlive the frame. browser
    // is the network's browse service (the SMB one when none is given).
    explicit CMainFrame(Prompter& prompter, std::shared_ptr<LanBrowser> browser = nullptr,
                        QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Any thread: queue a status text for pane 0 and the Network Log.
    void PostStatus(const QString& text);
    // GUI thread: appends one log row (no row for an empty text).
    void AddLogEntry(const QString& text);

    // Shows the frame as it was when it last closed: normal, minimised or maximised.
    void ShowAsPlaced();
    int DisplayStyle() const { return m_nDisplayStyle; }
    CAutoHide* AutoHide() const { return m_autoHide; }

    void ShowFilesMenu();
    // The tree's menu; node: the row under the pointer (NoNode: none), for "Connect as...".
    void ShowServersMenu(NodeHandle node = NoNode);
    void ShowLogMenu();

    // The bars' context menu: the toolbar, the Search Bar, the Network Log and the status bar.
    QMenu* createPopupMenu() override;
    // Runs a command as the menus and toolbar do (nothing when its rule disables it).
    void RunCommand(int nId);
    QAction* Action(int nId) const { return m_actions.value(nId); }
    // Applies every update rule to the actions (menus call it before they open).
    void UpdateCommandUI();

    NetworkTree& Tree() { return *m_tree; }
    std::shared_ptr<NetworkTree> TreePtr() { return m_tree; }
    NetworkTreeModel* TreeModel() const { return m_treeModel; }
    LogModel* Log() const { return m_logModel; }
    CSearchDlg* SearchDlg() const { return m_searchDlg; }
    CLogBar* LogBar() const { return m_wndLogBar; }
    QDockWidget* SearchBar() const { return m_wndSearchBar; }
    QMdiArea* MdiArea() const { return m_mdiArea; }
    // A new, empty results window, made active (a search makes one for its finds).
    CChildFrame* CreateResultsWindow();
    QString StatusPaneText() const;
    QMenu* FilesMenu() const { return m_menuFiles; }
    QMenu* ServersMenu() const { return m_menuServers; }
    QMenu* LogMenu() const { return m_menuLog; }
    // The menu bar's resource: 128 while no results window is active, 129 while one is.
    int CurrentMenuResource() const { return m_nMenuResource; }

    // Sorts everything below the root and expands every node (end of a discovery).
    void SortTree(NodeHandle node);
    void ExpandAll();

    Discovery& DiscoveryEngine() { return *m_discovery; }
    SearchEngine& Search() { return *m_search; }
    // The results window that is active, or null.
    CChildFrame* ActiveResults() const;
    bool IsDiscoveryIdle() const;
    // Whether a search runs (the engine's word: it goes idle the moment Stop is pressed or its
    // last worker ends).
    bool IsSearchRunning() const;
    // Runs a modal dialog; tests replace it to fill in and answer the dialog.
    std::function<int(QDialog&)> m_fnExecDialog;

    // Shared with the workers.
    StatusQueue m_statusQueue;
    // Calls that workers hand to the GUI thread (PostToGui), run in order by RunPosted.
    std::mutex m_postedLock;
    std::deque<std::function<void()>> m_posted;
    // GUI thread: the results window the running search fills.
    CChildFrame* m_pResultsFrame = nullptr;
    NodeHandle m_hStartNode = NoNode;
    NodeHandle m_hRootNode = NoNode;

    // Where "Yes" to the feedback question on close takes the user (manual::FeedbackUrl).
    QUrl FeedbackUrl() const;

signals:
    // Emitted once the close sequence has run (tests wait for it).
    void Closed();
    // Emitted on the GUI thread once a discovery activity's completion has run.
    void DiscoveryCompleted();
    // Emitted on the GUI thread when a network tree file has been loaded (or failed to load).
    void TreeLoadFinished(bool bLoaded);
    // Emitted on the GUI thread when a copy, move or delete has ended.
    void FileOperationFinished();
    // Emitted on the GUI thread when the last worker of a search has ended.
    void SearchFinished(quint64 nId, bool bRanToEnd);

protected:
    void closeEvent(QCloseEvent* e) override;
    void moveEvent(QMoveEvent* e) override;

private:
    // The status message: drains the status queue into pane 0 and the log (posted by PostStatus).
    // A search says something per folder: the queue is drained at most every
    // kMsStatusInterval, so that the pane's text and the log's rows change in batches.
    void OnStatusMsg();
    // Drains now, whenever the last drain was: the end of an activity shows at once.
    void DrainStatus();
    static constexpr int kMsStatusInterval = 100;
    QElapsedTimer m_statusDrained;
    bool m_bStatusDrainArmed = false;
    // Any thread: runs fn on the GUI thread, in the order posted. Every call of a worker
    // reaches the GUI thread this way.
    void PostToGui(std::function<void()> fn);
    void RunPosted();
    void OnClose();
    void OnHelpTopics();
    void OnAbout();
    void OnClearLog();
    void OnForgetIndex();
    void OnSaveLog();
    void OnTreeSelChanged(NodeHandle hNew, NodeHandle hOld);
    void OnTreeItemExpanded();
    // A node was expanded by the person: a server that needs a login lists its shares.
    void OnServerOpened(NodeHandle node);
    bool m_bExpandingAll = false;
    void OnTimer();
    void ToggleSearch();
    void StopSearch();
    void OnCommandNotYetAvailable(int nId);
    void OnDiscoverNetwork();
    void OnScanIpRange();
    void OnAddDomain();
    // Asks for a login to server and lists its shares with it.
    void OnConnectAs(NodeHandle server);
    // The node the tree's menu was opened on, else the selected one.
    NodeHandle MenuNode() const;
    NodeHandle m_hMenuNode = NoNode;
    void OnSaveNetworkTree();
    void OnLoadNetworkTree();
    void OnDiscoveryCompleted();
    void OnSearchFinished(quint64 nId, bool bRanToEnd);
    void OnResultsClosing(CChildFrame* frame);
    void StartBusyAnimation();
    // The active results window, or null after telling the user there is none.
    CChildFrame* ActiveResultsOrSay();
    // The first selected row's path of the active results, or empty after telling the user.
    QString SelectedPathOrSay(const QString& strCaption);
    void OnOpenFile();
    void OnOpenFolder();
    void OnSaveFinds();
    enum class FileOpKind
    {
        Copy,
        Move,
        Delete
    };
    void OnCopyFiles(bool bMove);
    void OnDeleteFiles();
    void StopFileOperation();
    QList<fileops::Item> SelectedItems(CChildFrame* results) const;
    void RunFileOperation(FileOpKind kind, const QList<fileops::Item>& items, const QString& target,
                          CChildFrame* results);
    void OnFileOperationDone(FileOpKind kind, const fileops::Outcome& outcome, int nItems,
                             CChildFrame* results);

    void CreateActions();
    QMenu* BuildPopup(int nMenu);
    void BuildMenuBar(int nMenu);
    void CreateToolBar();
    void CreateStatusBar();
    void UpdateLockIndicators();
    void ApplyDisplayStyle(int nStyle);
    void SaveWindowState();
    void OnSubWindowActivated(QMdiSubWindow* w);
    void ToggleBar(QWidget* bar);
    void ArrangeResults(int nId);
    void PopupMenu(QMenu* menu);

    Prompter& m_prompter;
    std::shared_ptr<class LoginUi> m_loginUi; // the logins' questions and secret store
    std::shared_ptr<NetworkTree> m_tree;
    std::unique_ptr<Discovery> m_discovery;
    std::unique_ptr<SearchEngine> m_search;
    // The index's chores (a query, Forget) run on threads of their own and hand back through
    // the link; the frame cuts it (frame = null, under the mutex) when it goes.
    struct ChoreLink
    {
        std::mutex mutex;
        CMainFrame* frame = nullptr;
    };
    std::shared_ptr<ChoreLink> m_choreLink = std::make_shared<ChoreLink>();
    static void PostFromChore(const std::shared_ptr<ChoreLink>& link, std::function<void()> fn);
    void RunChore(std::function<void(const std::shared_ptr<ChoreLink>&)> body);
    std::shared_ptr<shareindex::IndexWriter> StartIndexWriter();
    void AskIndexFirst(CChildFrame* child, quint64 nId);
    // The shares of the last search that ran to its end, kept fresh in the index while the
    // program runs (a helper each: at most a quarter of the helpers).
    std::vector<std::unique_ptr<shareindex::ShareWatcher>> m_watchers;
    void WatchSearchedShares();
    // The running copy, move or delete (one at a time).
    struct FileOperation
    {
        std::thread thread;
        std::atomic<bool> bCancel{false};
        std::atomic<bool> bRunning{false};
    };
    std::unique_ptr<FileOperation> m_fileOp;
    // A tree file is read and built on a thread of its own, then swapped in at once.
    std::thread m_loadThread;
    bool m_bLoadingTree = false;
    void OnTreeLoaded(std::shared_ptr<NetworkTree> loaded, const QString& path,
                      const QString& strError);
    NetworkTreeModel* m_treeModel = nullptr;
    LogModel* m_logModel = nullptr;
    QMdiArea* m_mdiArea = nullptr;
    QDockWidget* m_wndSearchBar = nullptr;
    CSearchDlg* m_searchDlg = nullptr;
    CLogBar* m_wndLogBar = nullptr;
    QToolBar* m_wndToolBar = nullptr;
    CAutoHide* m_autoHide = nullptr;
    QLabel* m_wndStatusPane = nullptr;
    QLabel* m_wndIndicators[3] = {};
    QMenu* m_menuFiles = nullptr;
    QMenu* m_menuServers = nullptr;
    QMenu* m_menuLog = nullptr;
    QMenu* m_menuTab = nullptr;
    QHash<int, QAction*> m_actions;
    int m_nMenuResource = 0;
    int m_nDisplayStyle = 0;
    int m_nShowCommand = 1;
    // The window manager's decorations above and left of the client area, as last seen while
    // the frame was neither maximised nor minimised (a maximised frame may lose its borders).
    QPoint m_frameOffset;
    bool m_bClosed = false;
    // What the current search could not read (counted on the GUI thread).
    quint64 m_nUnreadableSearch = 0;
    int m_nUnreadableFolders = 0;
    int m_nUnreadableFiles = 0;
};
