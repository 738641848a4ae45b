#include "SearchEngine.h"

#include "ContentMatcher.h"
#include "PatternList.h"
#include "app/ThreadCount.h"
#include "app/WorkerPriority.h"
#include "smb/HelperPool.h"
#include "smb/HelperProtocol.h"

#include <QHash>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <shared_mutex>
#include <thread>

struct SearchEngine::State
{
    Callbacks callbacks;
    FsFactory fsFactory;
    std::atomic<int> m_bSearchIdle{1};
    std::atomic<int> m_msWorkerPause{500};
    std::atomic<bool> m_bShutdown{false};
    std::atomic<quint64> m_nCurrentId{0};
    quint64 m_nNextId = 1;        // GUI thread only
    std::shared_ptr<Run> current; // GUI thread only

    std::shared_mutex m_callbackLock;
    bool m_bDetached = false;

    ThreadCount m_threads;

    void Status(const QString& text)
    {
        std::shared_lock lock(m_callbackLock);
        if (!m_bDetached && callbacks.fnStatus)
            callbacks.fnStatus(text);
    }
    void Unreadable(quint64 nId, const QString& path, bool bFolder, const Error& error)
    {
        std::shared_lock lock(m_callbackLock);
        if (m_bDetached)
            return;
        if (callbacks.fnStatus)
            callbacks.fnStatus(QStringLiteral("Cannot read %1: %2").arg(path, ErrorText(error)));
        if (callbacks.fnUnreadable)
            callbacks.fnUnreadable(nId, path, bFolder, error);
    }
};

struct SearchEngine::Run
{
    quint64 nId = 0;
    SearchJob job;
    QStringList patternList;
    std::optional<content::Needles> needles;
    // Stop: every wait of the walk (network, pauses) wakes at once.
    CancelToken cancel = CancelToken::Make();
    std::atomic<bool> m_bHasTarget{true}; // the sink still wants finds
    std::atomic<int> m_nSearchWorkers{0};
    std::mutex m_resultsLock;
    // Files read before the walk met them (fnCandidates), as they were when read; by folded
    // path (the index and the walk may spell a folder in another case).
    struct Checked
    {
        std::uint64_t nSize = 0;
        std::uint64_t nLastWrite = 0;
        bool bFound = false;
    };
    std::mutex m_checkedLock;
    QHash<QString, Checked> m_checked;

    bool Running() const { return !cancel.Cancelled(); }
    void RequestStop()
    {
        cancel.Cancel();
        // Held only around a hand-off's append: once Stop returns, nothing more arrives.
        std::lock_guard lock(m_resultsLock);
        m_bHasTarget = false;
    }
};

namespace {

using State = SearchEngine::State;
using Run = SearchEngine::Run;

// Files of one folder a content search tests at once (and then adds the finds of).
constexpr std::size_t kContentBatch = 64;

// \\SERVER\IPC$, the share every server lists for its named pipes: it holds no files, and a
// walk of it would cost the server a connection and a login for nothing.
bool IsIpcShare(const QString& share)
{
    return share.count(QLatin1Char('\\')) == 3 &&
           share.endsWith(QLatin1String("\\IPC$"), Qt::CaseInsensitive);
}

// One worker's walk. Lives on the worker's thread.
class Walker
{
public:
    Walker(std::shared_ptr<State> state, std::shared_ptr<Run> run)
        : m_state(std::move(state)), m_run(std::move(run)), m_fs(m_state->fsFactory())
    {
        m_fs->SetCancel(m_run->cancel);
    }

    // A node of the tree: children with children get workers, and so do servers (a server
    // without shares in the tree lists them now); other leaves are shares.
    void SearchNode(NodeHandle node);
    // A server whose shares the tree does not hold (its list needed a login, or nobody listed
    // it): the shares as it lists them now, each searched; they join the tree.
    void SearchServer(NodeHandle node);
    // A share or any folder: sub-folders first, the folder's own entries last.
    void SearchShare(const QString& share);

private:
    void Visit(const QString& folder);
    // Announces the sub-folders the walk will enter, so they are listed ahead of it.
    std::vector<QString> SubFolders(const QString& folder, const std::vector<FsEntry>& entries);
    void HandOff(const QString& folder, const std::vector<FsEntry>& entries);
    // Reads the files a content search expects below the share before the walk lists it.
    void CheckCandidates(const QString& share);
    // The walk meets a file read before: true when it need not be read again, because it was a
    // find (reported then, once) or has not changed since the index knew it.
    bool CheckedBefore(const QString& path, const FsEntry& entry);
    void Add(const SearchResult& find);
    // A folder or file that could not be read: logged and reported, unless the search was
    // stopped or it is no failure (printer and IPC shares).
    void Report(const QString& path, bool bFolder, int err);
    // A folder of a share listed in full goes into the index (a cut one would lose what it
    // left out; local folders are not shares).
    void Record(const QString& folder, const std::vector<FsEntry>& entries)
    {
        if (m_run->job.index && m_run->Running() && folder.startsWith(QLatin1String("\\\\")))
            m_run->job.index->Record(folder, entries);
    }

    std::shared_ptr<State> m_state;
    std::shared_ptr<Run> m_run;
    std::unique_ptr<ShareFs> m_fs;
};

void StartWorker(const std::shared_ptr<State>& state, const std::shared_ptr<Run>& run,
                 std::function<void(Walker&)> body);

void EndSearchWorker(const std::shared_ptr<State>& state, const std::shared_ptr<Run>& run)
{
    if (--run->m_nSearchWorkers != 0)
        return;
    // What the walk listed is in the index before anybody hears that it ended.
    if (run->job.index)
        run->job.index->Finish();
    state->Status(QStringLiteral("Search finished"));
    const bool bRanToEnd = run->Running();
    // Only the search that is still current makes the engine idle; a stopped one already did.
    if (state->m_nCurrentId == run->nId && bRanToEnd)
        state->m_bSearchIdle = 1;
    std::shared_lock lock(state->m_callbackLock);
    if (!state->m_bDetached && state->callbacks.fnFinished)
        state->callbacks.fnFinished(run->nId, bRanToEnd);
}

void StartWorker(const std::shared_ptr<State>& state, const std::shared_ptr<Run>& run,
                 std::function<void(Walker&)> body)
{
    ++run->m_nSearchWorkers;
    state->m_threads.Add();
    try {
        std::thread([state, run, body = std::move(body)] {
            LowerThreadPriority();
            if (run->Running()) {
                Walker walker(state, run);
                body(walker);
            }
            EndSearchWorker(state, run);
            state->m_threads.Done();
        }).detach();
    } catch (const std::system_error&) {
        --run->m_nSearchWorkers;
        state->m_threads.Done();
    }
}

void Walker::SearchNode(NodeHandle node)
{
    NetworkTree& tree = *m_run->job.tree;
    const std::vector<NodeHandle> children = tree.GetChildren(node);
    if (children.empty() && tree.GetItemKind(node) == NK_SERVER) {
        SearchServer(node);
        return;
    }
    if (children.empty()) {
        SearchShare(QStringLiteral("\\\\") + tree.GetItemText(tree.GetParentItem(node)) +
                    QLatin1Char('\\') + tree.GetItemText(node));
        return;
    }
    const QString parentText = tree.GetItemText(node);
    for (NodeHandle child : children) {
        if (!m_run->Running())
            return;
        if (tree.ItemHasChildren(child) || tree.GetItemKind(child) == NK_SERVER) {
            StartWorker(m_state, m_run, [child](Walker& w) { w.SearchNode(child); });
            // Staggers the workers' first network accesses; a stop cuts it short.
            m_run->cancel.SleepFor(std::chrono::milliseconds(m_state->m_msWorkerPause.load()));
        } else {
            SearchShare(QStringLiteral("\\\\") + parentText + QLatin1Char('\\') +
                        tree.GetItemText(child));
        }
    }
}

void Walker::SearchServer(NodeHandle node)
{
    NetworkTree& tree = *m_run->job.tree;
    const QString server = QStringLiteral("\\\\") + tree.GetItemText(node);
    m_state->Status(QStringLiteral("Getting information about ") + server);
    std::vector<FsEntry> shares;
    if (const int err = m_fs->ListShares(server, shares); err != 0) {
        if (err == EACCES || err == EPERM || err == smbproto::kErrLoginFailed)
            tree.SetLoginNeeded(node, true);
        Report(server, true, err);
        return;
    }
    // As a Discover would have listed them. (Another search of the same node may have been
    // quicker: its shares are not put in twice.)
    if (!tree.ItemHasChildren(node)) {
        for (const FsEntry& share : shares)
            tree.InsertItem(node, InsertPos::Last, share.strName, NK_SHARE);
        tree.SortChildren(node);
    }
    tree.SetLoginNeeded(node, false);
    for (const FsEntry& share : shares) {
        if (!m_run->Running())
            return;
        // Printer and IPC shares hold no files.
        if (share.nAttributes & kAttrDirectory)
            SearchShare(server + QLatin1Char('\\') + share.strName);
    }
}

std::vector<QString> Walker::SubFolders(const QString& folder, const std::vector<FsEntry>& entries)
{
    // Folders whose names start with "." are neither listed nor entered.
    std::vector<QString> subs;
    const QString prefix = FolderPrefix(folder);
    for (const FsEntry& e : entries)
        if ((e.nAttributes & kAttrDirectory) && !e.strName.startsWith(QLatin1Char('.')))
            subs.push_back(prefix + e.strName);
    m_fs->Announce(subs);
    return subs;
}

void Walker::SearchShare(const QString& share)
{
    if (!m_run->Running() || IsIpcShare(share))
        return;
    CheckCandidates(share);
    // The share's own folder is listed once: its sub-folders are searched first, its own
    // entries handed off last.
    std::vector<FsEntry> entries;
    const int err = m_fs->ListFolder(share, entries);
    // A listing cut at the entry limit is reported, and what it holds is searched.
    const bool bListed = err == 0 || err == smbproto::kErrListingCut;
    if (err != 0)
        Report(share, true, err);
    else
        Record(share, entries);
    if (bListed) {
        for (const QString& sub : SubFolders(share, entries)) {
            if (!m_run->Running())
                return;
            Visit(sub);
        }
    }
    if (!m_run->Running())
        return;
    m_state->Status(QStringLiteral("Searching in ") + share);
    if (bListed)
        HandOff(share, entries);
}

void Walker::Visit(const QString& folder)
{
    if (!m_run->Running())
        return;
    m_state->Status(QStringLiteral("Searching in ") + folder);
    std::vector<FsEntry> entries;
    if (const int err = m_fs->ListFolder(folder, entries); err != 0) {
        Report(folder, true, err);
        if (err != smbproto::kErrListingCut)
            return;
    } else {
        Record(folder, entries);
    }
    const std::vector<QString> subs = SubFolders(folder, entries);
    HandOff(folder, entries);
    for (const QString& sub : subs) {
        if (!m_run->Running())
            return;
        Visit(sub);
    }
}

void Walker::HandOff(const QString& folder, const std::vector<FsEntry>& entries)
{
    const QString prefix = FolderPrefix(folder);
    // A content search tests the folder's files a batch at a time (the file system may test a
    // batch at once) and adds the finds in the folder's order.
    std::vector<const FsEntry*> pending;
    std::vector<ContentTest> tests;
    const auto testPending = [&] {
        m_fs->ContainsEach(tests, *m_run->needles);
        for (std::size_t i = 0; i < tests.size(); ++i) {
            if (!m_run->Running() || !m_run->m_bHasTarget)
                break;
            const ContentTest& t = tests[i];
            const FsEntry& e = *pending[i];
            if (t.nError != 0)
                Report(t.strPath, false, t.nError);
            else if (t.bFound)
                Add({t.strPath, e.nAttributes, e.nSize, e.nLastWrite});
        }
        pending.clear();
        tests.clear();
    };
    for (const FsEntry& e : entries) {
        if (!m_run->Running() || !m_run->m_bHasTarget)
            return;
        QString path = prefix + e.strName;
        if (!patterns::MatchesPatternList(path, m_run->patternList))
            continue;
        if (!m_run->needles) {
            Add({path, e.nAttributes, e.nSize, e.nLastWrite});
            continue;
        }
        if (CheckedBefore(path, e))
            continue; // reported when it was read, if it matched
        if (e.nAttributes & kAttrDirectory)
            continue; // a folder holds no text
        pending.push_back(&e);
        tests.push_back({std::move(path), e.nSize});
        if (tests.size() >= kContentBatch)
            testPending();
    }
    if (!tests.empty() && m_run->Running() && m_run->m_bHasTarget)
        testPending();
}

void Walker::Add(const SearchResult& find)
{
    std::lock_guard lock(m_run->m_resultsLock);
    if (m_run->m_bHasTarget)
        m_run->job.sink->Add(find);
}

void Walker::CheckCandidates(const QString& share)
{
    if (!m_run->needles || !m_run->job.fnCandidates)
        return;
    // Read a batch at a time, as the walk's own files are. A file that cannot be read (gone,
    // renamed, refused) is the walk's to meet and report. A reading that found nothing is kept
    // with the size and time the index knew: the walk reads the file again when its listing
    // shows otherwise (it changed since, before or after this reading). A find is reported now
    // and not read again; it is looked at as it is now, to be shown so (only finds: a look
    // costs the server as much as the read).
    std::vector<ContentTest> tests;
    std::vector<const SearchResult*> known;
    const auto readBatch = [&] {
        m_fs->ContainsEach(tests, *m_run->needles);
        for (std::size_t i = 0; i < tests.size(); ++i) {
            if (!m_run->Running() || !m_run->m_bHasTarget)
                return;
            const ContentTest& t = tests[i];
            FsEntry seen{QString(), known[i]->nAttributes, known[i]->nSize, known[i]->nLastWrite};
            if (t.nError != 0 || (t.bFound && (m_fs->Stat(t.strPath, &seen) != 0 ||
                                               (seen.nAttributes & kAttrDirectory))))
                continue;
            {
                std::lock_guard lock(m_run->m_checkedLock);
                m_run->m_checked.insert(patterns::FoldCase(t.strPath),
                                        {seen.nSize, seen.nLastWrite, t.bFound});
            }
            if (t.bFound)
                Add({t.strPath, seen.nAttributes, seen.nSize, seen.nLastWrite});
        }
        tests.clear();
        known.clear();
    };
    const std::vector<SearchResult> candidates = m_run->job.fnCandidates(share);
    for (const SearchResult& c : candidates) {
        if (!m_run->Running() || !m_run->m_bHasTarget)
            return;
        // The index matches a share in any case: the file is named as this walk names it.
        if ((c.nAttributes & kAttrDirectory) || c.strPath.size() <= share.size() ||
            c.strPath.at(share.size()) != QLatin1Char('\\'))
            continue;
        tests.push_back({share + c.strPath.mid(share.size()), c.nSize});
        known.push_back(&c);
        if (tests.size() >= kContentBatch)
            readBatch();
    }
    if (!tests.empty() && m_run->Running())
        readBatch();
}

bool Walker::CheckedBefore(const QString& path, const FsEntry& entry)
{
    if (!m_run->job.fnCandidates)
        return false;
    const QString key = patterns::FoldCase(path);
    std::lock_guard lock(m_run->m_checkedLock);
    const auto it = m_run->m_checked.constFind(key);
    if (it == m_run->m_checked.constEnd())
        return false;
    // A find is not read again: it is in the results already, and a reading now could neither
    // add it nor take it back. (Its size and time were looked at after it was read, so they
    // may already be those of a change made while it was read.)
    return it->bFound || (it->nSize == entry.nSize && it->nLastWrite == entry.nLastWrite);
}

void Walker::Report(const QString& path, bool bFolder, int err)
{
    if (!m_run->Running() || err == smbproto::kErrNotFileShare || err == smbproto::kErrCancelled ||
        err == ECANCELED)
        return;
    m_state->Unreadable(m_run->nId, path, bFolder, Error::FromCode(err));
}

} // namespace

SearchEngine::SearchEngine(Callbacks callbacks, FsFactory fsFactory)
    : m_state(std::make_shared<State>())
{
    m_state->callbacks = std::move(callbacks);
    m_state->fsFactory = std::move(fsFactory);
}

SearchEngine::~SearchEngine()
{
    Shutdown(3000);
}

bool SearchEngine::IsIdle() const
{
    return m_state->m_bSearchIdle != 0;
}

quint64 SearchEngine::CurrentId() const
{
    return m_state->m_nCurrentId;
}

void SearchEngine::SetWorkerStartPause(int ms)
{
    m_state->m_msWorkerPause = ms;
}

quint64 SearchEngine::Start(const SearchJob& job, Error* pError)
{
    auto fail = [pError](ErrorKind e) {
        if (pError)
            *pError = e;
        return quint64(0);
    };
    State& s = *m_state;
    if (!s.m_bSearchIdle || s.m_bShutdown)
        return fail(ErrorKind::Busy);
    if (job.strContainingText.size() > content::kMaxTextChars)
        return fail(ErrorKind::TextTooLong);
    if (!job.sink || (job.tree ? job.hStartNode == NoNode : job.folders.isEmpty()))
        return fail(ErrorKind::NoTarget);
    auto run = std::make_shared<Run>();
    run->nId = s.m_nNextId++;
    run->job = job;
    run->patternList = patterns::ParsePatternList(job.strPatternText);
    run->needles = content::MakeNeedles(job.strContainingText);
    s.current = run;
    s.m_nCurrentId = run->nId;
    s.m_bSearchIdle = 0;
    // The starting thread holds one count until every first worker has started, so the end
    // cannot come before the last of them is on its way.
    ++run->m_nSearchWorkers;
    if (job.tree) {
        const NodeHandle start = job.hStartNode;
        StartWorker(m_state, run, [start](Walker& w) { w.SearchNode(start); });
    } else {
        for (const QString& folder : job.folders)
            StartWorker(m_state, run, [folder](Walker& w) { w.SearchShare(folder); });
    }
    EndSearchWorker(m_state, run);
    if (pError)
        *pError = {};
    return run->nId;
}

void SearchEngine::Stop()
{
    State& s = *m_state;
    if (s.current)
        s.current->RequestStop();
    s.m_bSearchIdle = 1;
}

bool SearchEngine::Shutdown(int msWait)
{
    State& s = *m_state;
    s.m_bShutdown = true;
    Stop();
    {
        std::unique_lock lock(s.m_callbackLock);
        s.m_bDetached = true;
    }
    return s.m_threads.WaitAll(msWait);
}
