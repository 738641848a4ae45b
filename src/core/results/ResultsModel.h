#pragma once

#include "search/SearchTypes.h"

#include <QAbstractTableModel>
#include <QLocale>
#include <QSet>

#include <atomic>
#include <memory>
#include <vector>

// "1023 bytes", "1.50 KB", "900 KB", "2.00 MB", "5.00 GB": at most three significant digits
// (cut, not rounded), a space and the unit; the unit is the largest that keeps the number
// below 1000.
QString FormatByteSize(quint64 nBytes, const QLocale& locale = QLocale::system());
// A file time as UTC: the locale's short date, one space, the time with seconds.
QString FormatFileTime(quint64 nFileTime, const QLocale& locale = QLocale::system());

// The finds of one search: "File Name", "Size", "Timestamp". Rows arrive in batches and are
// only appended (or removed by file actions). Sorting computes its keys and order on a thread
// of its own and applies the new order at once; rows appended meanwhile stay at the end, as
// rows appended after a sort do. GUI-thread object.
class ResultsModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column
    {
        ColName = 0,
        ColSize = 1,
        ColTime = 2
    };
    explicit ResultsModel(QObject* parent = nullptr);
    ~ResultsModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    // Starts a sort in the background; SortApplied() follows.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;

    void AppendBatch(std::vector<SearchResult>&& batch);
    // Removes every row whose path is one of paths; returns how many went.
    int RemovePaths(const QSet<QString>& paths);
    const SearchResult& At(int row) const { return Stored(m_order[static_cast<std::size_t>(row)]); }
    // Sorts at once on the calling thread.
    void SortNow(int column, Qt::SortOrder order);
    bool IsSorting() const { return m_nSortsPending > 0; }
    int SortColumn() const { return m_nSortColumn; }
    Qt::SortOrder SortOrder() const { return m_sortOrder; }

    // Rows live in fixed-size chunks that never move, so a sort on another thread can read the
    // rows that exist while new ones are appended behind them.
    static constexpr std::size_t kChunk = 65536;
    struct Chunk
    {
        Chunk() { rows.reserve(kChunk); }
        std::vector<SearchResult> rows;
    };
    using Storage = std::vector<std::shared_ptr<Chunk>>;
    // The stored rows listed in ids (storage positions), sorted by column; stable. False (ids
    // then in no particular order) when *pCancel was set: the keys are freed as soon as it is
    // seen, which is every few thousand rows.
    static bool SortIds(const Storage& storage, std::vector<std::uint32_t>& ids, int column,
                        Qt::SortOrder order, const std::atomic<bool>* pCancel = nullptr);
    // How many background sorts hold memory right now (all models; benchmarks and tests).
    static int RunningSorts() { return s_nRunningSorts; }
    static int CancelledSorts() { return s_nCancelledSorts; }

signals:
    void SortApplied();

private:
    const SearchResult& Stored(std::uint32_t id) const
    {
        return m_storage[id / kChunk]->rows[id % kChunk];
    }
    // The rows in display order: row i shows the stored row m_order[i].
    void ApplyOrder(std::vector<std::uint32_t>&& sortedHead);

    Storage m_storage;
    std::uint32_t m_nStored = 0;
    std::vector<std::uint32_t> m_order;
    int m_nSortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    quint64 m_nSortSerial = 0;
    int m_nSortsPending = 0;
    // Set when a newer sort (or a removal, or a sort at once) makes the running one stale.
    std::shared_ptr<std::atomic<bool>> m_pSortCancel;
    void CancelSort();
    static inline std::atomic<int> s_nRunningSorts{0};
    static inline std::atomic<int> s_nCancelledSorts{0};
};
