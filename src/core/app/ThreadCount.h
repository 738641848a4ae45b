#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// Counts running worker threads so that their owner can wait for them, bounded in time. Any
// thread.
class ThreadCount
{
public:
    void Add()
    {
        std::lock_guard lock(m_mutex);
        ++m_nThreads;
    }
    void Done()
    {
        std::lock_guard lock(m_mutex);
        if (--m_nThreads == 0)
            m_allDone.notify_all();
    }
    // True when every counted thread has ended within msWait.
    bool WaitAll(int msWait)
    {
        std::unique_lock lock(m_mutex);
        return m_allDone.wait_for(lock, std::chrono::milliseconds(msWait),
                                  [this] { return m_nThreads == 0; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_allDone;
    int m_nThreads = 0;
};
