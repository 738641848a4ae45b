#include "IndexWriter.h"

#include <QDateTime>

#include <chrono>

namespace shareindex {
namespace {
constexpr std::size_t kMaxPerTransaction = 4000;
constexpr auto kMaxDelay = std::chrono::milliseconds(200);
constexpr auto kMaxTransaction = std::chrono::milliseconds(500);
} // namespace

std::shared_ptr<IndexWriter> IndexWriter::Start(const QString& location, Error* pError,
                                                QString* pDetail)
{
    std::unique_ptr<IndexStore> store = IndexStore::Open(location, true, pError, pDetail);
    if (!store)
        return nullptr;
    std::shared_ptr<IndexWriter> w(new IndexWriter(std::move(store)));
    w->m_thread = std::thread([raw = w.get()] { raw->RunAndClose(); });
    return w;
}

std::shared_ptr<IndexWriter> IndexWriter::StartInBackground(const QString& location,
                                                            FailedFn fnFailed)
{
    std::shared_ptr<IndexWriter> w(new IndexWriter(nullptr));
    w->m_thread = std::thread([raw = w.get(), location, fnFailed = std::move(fnFailed)] {
        Error why;
        QString detail;
        raw->m_store = IndexStore::Open(location, true, &why, &detail);
        if (!raw->m_store) {
            {
                std::lock_guard lock(raw->m_mutex);
                raw->m_bDropping = true;
                raw->m_nFailures += static_cast<qint64>(raw->m_queue.size());
                raw->m_queue.clear();
                raw->m_nQueuedEntries = 0;
                raw->m_room.notify_all();
            }
            if (fnFailed)
                fnFailed(why, detail);
            return;
        }
        raw->RunAndClose();
    });
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
    auto hasRoom = [&] {
        return m_bFinishing || m_nQueuedEntries < kMaxQueuedEntries || m_queue.empty();
    };
    if (!hasRoom()) {
        ++m_nWaitingForRoom;
        m_room.wait(lock, hasRoom);
        --m_nWaitingForRoom;
    }
    if (m_bFinishing)
        return;
    if (m_bDropping) {
        ++m_nFailures;
        return;
    }
    m_queue.push_back({folder, entries, QDateTime::currentMSecsSinceEpoch()});
    m_nQueuedEntries += entries.size();
    // The writer sleeps until a transaction is due: the first folder starts its clock, a full
    // one is written at once. Between the two it sleeps on.
    if ((m_queue.size() == 1 && !m_bGathering) || m_queue.size() == kMaxPerTransaction ||
        m_nQueuedEntries >= kMaxQueuedEntries)
        m_work.notify_one();
}

void IndexWriter::Finish()
{
    {
        std::lock_guard lock(m_mutex);
        m_bFinishing = true;
        m_work.notify_one();
        m_room.notify_all();
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

void IndexWriter::RunAndClose()
{
    Run();
    // Closed by the writer itself before Finish returns: the last connection to go tidies the
    // file (under a lock the next search's reader would wait for), and a thread that ends a
    // search late, on a busy machine, must not hold the next search's index answer.
    m_store.reset();
}

void IndexWriter::Run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_work.wait(lock, [&] { return m_bFinishing || !m_queue.empty(); });
        if (m_queue.empty() && m_bFinishing)
            return;
        // A little more may come before the transaction is worth its sync.
        if (!m_bFinishing && m_queue.size() < kMaxPerTransaction) {
            m_bGathering = true;
            m_work.wait_for(lock, kMaxDelay, [&] {
                return m_bFinishing || m_queue.size() >= kMaxPerTransaction ||
                       m_nQueuedEntries >= kMaxQueuedEntries;
            });
            m_bGathering = false;
        }
        std::vector<Listing> batch;
        while (!m_queue.empty() && batch.size() < kMaxPerTransaction) {
            m_nQueuedEntries -= m_queue.front().entries.size();
            batch.push_back(std::move(m_queue.front()));
            m_queue.pop_front();
        }
        if (m_nWaitingForRoom > 0)
            m_room.notify_all(); // room for the walkers again
        lock.unlock();
        // A transaction also ends after kMaxTransaction of writing (a database over the
        // network takes longer per folder than a file): what it wrote is there for readers and
        // a crash, and other machines writing the same index wait less for its locks.
        qint64 nOk = 0, nFailed = 0, nDone = 0;
        bool bBegun = m_store->Begin();
        auto started = std::chrono::steady_clock::now();
        auto commit = [&] {
            if (bBegun && !m_store->Commit()) {
                nFailed += nOk;
                nOk = 0;
            }
            nDone += nOk;
            nOk = 0;
        };
        for (const Listing& l : batch) {
            if (std::chrono::steady_clock::now() - started > kMaxTransaction) {
                commit();
                bBegun = m_store->Begin();
                started = std::chrono::steady_clock::now();
            }
            (bBegun && m_store->Record(l.folder, l.entries, l.msListed) ? nOk : nFailed) += 1;
        }
        commit();
        lock.lock();
        m_nWritten += nDone;
        m_nFailures += nFailed;
    }
}

} // namespace shareindex
