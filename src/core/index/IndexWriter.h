#pragma once

#include "IndexStore.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace shareindex {

// The index's one writer: walks hand it each folder they listed (Record, any thread) and go on;
// its own thread writes them in transactions of up to a few thousand folders, at least every
// 200 ms. When it falls far behind (kMaxQueuedEntries), Record waits: a walk slows down rather
// than fill the memory. A walker wakes the writer only when a transaction is due (the first
// folder of one, a full one, Finish), not for every folder: a search of many small folders
// would otherwise pay two thread switches per folder for the index.
//
// Finish() writes what is queued, closes the index and ends the thread; the destructor does the
// same. A write that fails (disk full, the file removed) is counted, and the rest still tried.
class IndexWriter
{
public:
    static constexpr std::size_t kMaxQueuedEntries = 200000;

    // Opens the index on its own thread (a database over the network may take seconds to
    // answer, or not answer): the caller goes on at once. When it cannot be opened or made,
    // fnFailed is called on that thread, and what is handed to Record is dropped.
    using FailedFn = std::function<void(const Error& why, const QString& detail)>;
    static std::shared_ptr<IndexWriter> StartInBackground(const QString& location,
                                                          FailedFn fnFailed);
    // Null with *pError when the index cannot be opened or made.
    static std::shared_ptr<IndexWriter> Start(const QString& location, Error* pError = nullptr,
                                              QString* pDetail = nullptr);
    ~IndexWriter();
    IndexWriter(const IndexWriter&) = delete;
    IndexWriter& operator=(const IndexWriter&) = delete;

    void Record(const QString& folder, const std::vector<FsEntry>& entries);
    void Finish();

    qint64 FoldersWritten() const;
    qint64 Failures() const;

private:
    explicit IndexWriter(std::unique_ptr<IndexStore> store);
    void Run();
    void RunAndClose();

    struct Listing
    {
        QString folder;
        std::vector<FsEntry> entries;
        qint64 msListed = 0;
    };
    std::unique_ptr<IndexStore> m_store; // the writer thread's alone
    bool m_bDropping = false;            // the index could not be opened
    mutable std::mutex m_mutex;
    std::condition_variable m_work; // the writer waits here
    std::condition_variable m_room; // walkers wait here while the queue is full
    bool m_bGathering = false;      // the writer waits for more of a transaction begun
    int m_nWaitingForRoom = 0;
    std::deque<Listing> m_queue;
    std::size_t m_nQueuedEntries = 0;
    bool m_bFinishing = false;
    qint64 m_nWritten = 0;
    qint64 m_nFailures = 0;
    std::thread m_thread;
};

} // namespace shareindex
