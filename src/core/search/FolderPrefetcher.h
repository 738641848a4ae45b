#pragma once

#include "ShareFs.h"

#include <QHash>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Lists folders ahead of a walker that visits them depth-first, on a few threads with file
// systems of their own, so the walker rarely waits for the network. The walker still takes
// every listing in its own order, so what it finds and in which order does not change.
//
// Owned by one walker thread. Folders announced last are listed first (they are the ones a
// depth-first walk needs next). Cancelling: when bRunning turns false (or the prefetcher is
// destroyed) the helpers' file systems give up their current listing within 50 ms; the
// destructor waits for them.
class FolderPrefetcher
{
public:
    FolderPrefetcher(int nThreads, std::function<std::unique_ptr<ShareFs>()> fsFactory,
                     const std::atomic<bool>& bRunning);
    ~FolderPrefetcher();
    FolderPrefetcher(const FolderPrefetcher&) = delete;
    FolderPrefetcher& operator=(const FolderPrefetcher&) = delete;

    // Announces the sub-folders of one folder, in the order they will be visited.
    void Announce(const std::vector<QString>& folders);
    // The listing of folder: taken from a helper, or made here with own when nobody started it.
    int Take(const QString& folder, ShareFs& own, std::vector<FsEntry>& out);

private:
    struct Result
    {
        bool bDone = false;
        int nError = 0;
        std::vector<FsEntry> entries;
    };
    void Helper();

    const std::atomic<bool>& m_bRunning;
    std::function<std::unique_ptr<ShareFs>()> m_fsFactory;
    std::mutex m_mutex;
    std::condition_variable m_work;   // helpers wait for folders
    std::condition_variable m_done;   // the walker waits for a listing
    std::deque<QString> m_queue;      // front: needed soonest
    QHash<QString, Result> m_results; // started or finished, not yet taken
    int m_nUntaken = 0;               // finished listings waiting for the walker
    std::atomic<bool> m_bQuit{false};
    std::vector<std::thread> m_threads;
    int m_nThreads;
};
