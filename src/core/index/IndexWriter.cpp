#include "IndexWriter.h"

#include <QDateTime>

#include <chrono>

namespace shareindex {
namespace {
constexpr std::size_t kMaxPerTransaction = 4000;
constexpr auto kMaxDelay = std::chrono::milliseconds(200);
} // namespace

std::shared_ptr<IndexWriter> IndexWriter::Start(const QString& path, Error* pError)
{
    std::unique_ptr<IndexStore> store = IndexStore::Open(path, true, pError);
    if (!store)
        return nullptr;
    std::shared_ptr<IndexWriter> w(new IndexWriter(std::move(store)));
    w->m_thread = std::thread([raw = w.get()] { raw->Run(); });
    return w;
}

IndexWriter::IndexWriter(std::unique_ptr<IndexStore> store) : m_store(std::move(store)) {}

IndexWriter::~IndexWriter()
{
    Finish();
}

void IndexWriter::Record(const QString& folder, const std::vector<FsEntry>& entries)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] {
        return m_bFinishing || m_nQueuedEntries < kMaxQueuedEntries || m_queue.empty();
    });
    if (m_bFinishing)
        return;
    m_queue.push_back({folder, entries, QDateTime::currentMSecsSinceEpoch()});
    m_nQueuedEntries += entries.size();
    m_changed.notify_all();
}

void IndexWriter::Finish()
{
    {
        std::lock_guard lock(m_mutex);
        m_bFinishing = true;
        m_changed.notify_all();
    }
    if (m_thread.joinable())
        m_thread.join();
}

qint64 IndexWriter::FoldersWritten() const
{
    std::lock_guard lock(m_mutex);
    return m_nWritten;
}

qint64 IndexWriter::Failures() const
{
    std::lock_guard lock(m_mutex);
    return m_nFailures;
}

void IndexWriter::Run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return m_bFinishing || !m_queue.empty(); });
        if (m_queue.empty() && m_bFinishing)
            return;
        // A little more may come before the transaction is worth its sync.
        if (!m_bFinishing && m_queue.size() < kMaxPerTransaction)
            m_changed.wait_for(lock, kMaxDelay, [&] {
                return m_bFinishing || m_queue.size() >= kMaxPerTransaction;
            });
        std::vector<Listing> batch;
        while (!m_queue.empty() && batch.size() < kMaxPerTransaction) {
            m_nQueuedEntries -= m_queue.front().entries.size();
            batch.push_back(std::move(m_queue.front()));
            m_queue.pop_front();
        }
        m_changed.notify_all(); // room for the walkers again
        lock.unlock();
        qint64 nOk = 0, nFailed = 0;
        const bool bBegun = m_store->Begin();
        for (const Listing& l : batch)
            (bBegun && m_store->Record(l.folder, l.entries, l.msListed) ? nOk : nFailed) += 1;
        if (bBegun && !m_store->Commit()) {
            nFailed += nOk;
            nOk = 0;
        }
        lock.lock();
        m_nWritten += nOk;
        m_nFailures += nFailed;
    }
}

} // namespace shareindex
