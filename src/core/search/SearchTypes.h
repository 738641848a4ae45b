#pragma once

#include <QString>

#include <cstdint>
#include <mutex>
#include <vector>

// One find: the entry's full path as the search composed it, and its directory entry.
struct SearchResult
{
    QString strPath;
    std::uint32_t nAttributes = 0;
    std::uint64_t nSize = 0;
    std::uint64_t nLastWrite = 0; // 100-ns intervals since 1601-01-01 UTC
};

// Where a search puts its finds. Add() is called by the search's workers one at a time (under
// the search's results lock), in the order they are found.
class ResultSink
{
public:
    virtual ~ResultSink() = default;
    virtual void Add(const SearchResult& result) = 0;
};

// Collects finds for a consumer on another thread, which takes them in batches.
class BatchedResults : public ResultSink
{
public:
    void Add(const SearchResult& result) override
    {
        std::lock_guard lock(m_mutex);
        m_pending.push_back(result);
        ++m_nTotal;
    }
    std::vector<SearchResult> TakeAll()
    {
        std::vector<SearchResult> out;
        std::lock_guard lock(m_mutex);
        out.swap(m_pending);
        return out;
    }
    std::uint64_t Total() const
    {
        std::lock_guard lock(m_mutex);
        return m_nTotal;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<SearchResult> m_pending;
    std::uint64_t m_nTotal = 0;
};
