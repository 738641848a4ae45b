#include "FolderPrefetcher.h"

#include "app/WorkerPriority.h"

namespace {
// Finished listings that may wait for the walker before helpers pause.
constexpr int kMaxUntaken = 64;
// Folders one helper thread lists in one go.
constexpr std::size_t kBatch = 4;
} // namespace

FolderPrefetcher::FolderPrefetcher(int nThreads,
                                   std::function<std::unique_ptr<ShareFs>()> fsFactory,
                                   const std::atomic<bool>& bRunning)
    : m_bRunning(bRunning), m_fsFactory(std::move(fsFactory)), m_nThreads(nThreads)
{}

FolderPrefetcher::~FolderPrefetcher()
{
    {
        std::lock_guard lock(m_mutex);
        m_bQuit = true;
    }
    m_work.notify_all();
    for (std::thread& t : m_threads)
        t.join();
}

void FolderPrefetcher::Announce(const std::vector<QString>& folders)
{
    if (m_nThreads <= 0 || folders.empty())
        return;
    {
        std::lock_guard lock(m_mutex);
        // The first sub-folder goes to the very front: the walk enters it next.
        for (auto it = folders.rbegin(); it != folders.rend(); ++it)
            m_queue.push_front(*it);
        if (m_threads.empty()) {
            try {
                for (int i = 0; i < m_nThreads; ++i)
                    m_threads.emplace_back([this] {
                        LowerThreadPriority();
                        Helper();
                    });
            } catch (const std::system_error&) {
                // Fewer helpers, or none: the walker lists for itself.
            }
        }
    }
    m_work.notify_all();
}

int FolderPrefetcher::Take(const QString& folder, ShareFs& own, std::vector<FsEntry>& out)
{
    {
        std::unique_lock lock(m_mutex);
        auto it = m_results.find(folder);
        if (it == m_results.end()) {
            // Nobody has started it: drop it from the queue and list it here.
            for (auto q = m_queue.begin(); q != m_queue.end(); ++q)
                if (*q == folder) {
                    m_queue.erase(q);
                    break;
                }
        } else {
            m_done.wait(lock, [&] { return m_results[folder].bDone; });
            Result r = std::move(m_results[folder]);
            m_results.remove(folder);
            --m_nUntaken;
            lock.unlock();
            m_work.notify_all();
            out = std::move(r.entries);
            return r.nError;
        }
    }
    return own.ListFolder(folder, out);
}

void FolderPrefetcher::Helper()
{
    std::unique_ptr<ShareFs> fs;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_work.wait(lock, [&] {
            return m_bQuit || !m_bRunning || (!m_queue.empty() && m_nUntaken < kMaxUntaken);
        });
        if (m_bQuit || !m_bRunning)
            return;
        // A few folders at once: over SMB they go to one helper in one exchange.
        std::vector<QString> batch;
        while (!m_queue.empty() && batch.size() < kBatch &&
               m_nUntaken + static_cast<int>(batch.size()) < kMaxUntaken) {
            batch.push_back(m_queue.front());
            m_queue.pop_front();
            m_results.insert(batch.back(), Result{});
        }
        lock.unlock();
        if (!fs) {
            fs = m_fsFactory();
            fs->SetCancel([this] { return m_bQuit || !m_bRunning; });
        }
        std::vector<int> errors;
        std::vector<std::vector<FsEntry>> listings;
        fs->ListFolders(batch, errors, listings);
        lock.lock();
        for (std::size_t i = 0; i < batch.size(); ++i) {
            Result& r = m_results[batch[i]];
            r.nError = errors[i];
            r.entries = std::move(listings[i]);
            r.bDone = true;
            ++m_nUntaken;
        }
        m_done.notify_all();
    }
}
