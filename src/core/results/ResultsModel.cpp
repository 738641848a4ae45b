#include "ResultsModel.h"

#include "app/ControlChars.h"

#include <QCollator>
#include <QCoreApplication>
#include <QDateTime>
#include <QPointer>
#include <QSet>

#include <algorithm>
#include <numeric>
#include <optional>
#include <thread>

namespace {

// A stable sort on two threads: each half on its own, then one merge, which keeps equal
// elements in their original order.
template <typename Less> void ParallelStableSort(std::vector<std::size_t>& v, Less less)
{
    if (v.size() < 50000 || std::thread::hardware_concurrency() < 2) {
        std::stable_sort(v.begin(), v.end(), less);
        return;
    }
    const auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::thread helper([&] { std::stable_sort(v.begin(), mid, less); });
    std::stable_sort(mid, v.end(), less);
    helper.join();
    std::vector<std::size_t> out(v.size());
    std::merge(v.begin(), mid, mid, v.end(), out.begin(), less);
    v.swap(out);
}

} // namespace

QString FormatByteSize(quint64 nBytes, const QLocale& locale)
{
    if (nBytes < 1024)
        return QStringLiteral("%1 bytes").arg(nBytes);
    static const char* const kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    int nUnit = 0;
    long double value = static_cast<long double>(nBytes) / 1024.0L;
    while (value >= 1000.0L && nUnit < 5) {
        value /= 1024.0L;
        ++nUnit;
    }
    // Three significant digits, cut rather than rounded: 1.999 KB stays 1.99 KB.
    const int nDecimals = value < 10.0L ? 2 : value < 100.0L ? 1 : 0;
    long double scale = 1.0L;
    for (int i = 0; i < nDecimals; ++i)
        scale *= 10.0L;
    const double cut =
        static_cast<double>(static_cast<long double>(static_cast<quint64>(value * scale)) / scale);
    return locale.toString(cut, 'f', nDecimals) + QLatin1Char(' ') + QLatin1String(kUnits[nUnit]);
}

QString FormatFileTime(quint64 nFileTime, const QLocale& locale)
{
    constexpr qint64 kEpochDiff = 11644473600LL; // 1601 -> 1970, seconds
    const qint64 msecs = static_cast<qint64>(nFileTime / 10000) - kEpochDiff * 1000;
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
    QString strTimeFormat = locale.timeFormat(QLocale::LongFormat);
    strTimeFormat.remove(QLatin1Char('t'));
    return locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(when.time(), strTimeFormat.trimmed());
}

ResultsModel::ResultsModel(QObject* parent) : QAbstractTableModel(parent) {}

ResultsModel::~ResultsModel() = default;

int ResultsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_order.size());
}

int ResultsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 3;
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const SearchResult& r = At(index.row());
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        switch (index.column()) {
        case ColName:
            return ctl::ToPictures(r.strPath);
        case ColSize:
            return FormatByteSize(r.nSize);
        case ColTime:
            return FormatFileTime(r.nLastWrite);
        }
    }
    if (role == Qt::TextAlignmentRole && index.column() != ColName)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
    return {};
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case ColName:
        return tr("File Name");
    case ColSize:
        return tr("Size");
    case ColTime:
        return tr("Timestamp");
    }
    return {};
}

void ResultsModel::AppendBatch(std::vector<SearchResult>&& batch)
{
    if (batch.empty())
        return;
    const int nFirst = rowCount();
    if (m_order.capacity() < m_order.size() + batch.size())
        m_order.reserve(std::max(m_order.capacity() * 2, m_order.size() + batch.size()));
    beginInsertRows(QModelIndex(), nFirst, nFirst + static_cast<int>(batch.size()) - 1);
    for (SearchResult& r : batch) {
        if (m_nStored % kChunk == 0)
            m_storage.push_back(std::make_shared<Chunk>());
        m_storage.back()->rows.push_back(std::move(r));
        m_order.push_back(m_nStored++);
    }
    endInsertRows();
}

int ResultsModel::RemovePaths(const QSet<QString>& paths)
{
    if (paths.isEmpty())
        return 0;
    // Runs of rows to remove, from the bottom up so that the rows above keep their numbers.
    std::vector<std::pair<int, int>> runs; // first row, count
    for (int row = rowCount() - 1; row >= 0; --row) {
        if (!paths.contains(At(row).strPath))
            continue;
        if (!runs.empty() && runs.back().first == row + 1) {
            --runs.back().first;
            ++runs.back().second;
        } else {
            runs.emplace_back(row, 1);
        }
    }
    int nRemoved = 0;
    for (const auto& [row, count] : runs)
        nRemoved += count;
    if (runs.size() <= 64) {
        // Few places: each is removed as such, and a selection elsewhere stays.
        for (const auto& [row, count] : runs)
            removeRows(row, count);
        return nRemoved;
    }
    CancelSort();
    beginResetModel();
    std::erase_if(m_order, [&](std::uint32_t id) { return paths.contains(Stored(id).strPath); });
    endResetModel();
    return nRemoved;
}

bool ResultsModel::removeRows(int row, int count, const QModelIndex& parent)
{
    if (parent.isValid() || row < 0 || count <= 0 || row + count > rowCount())
        return false;
    CancelSort(); // a sort computed on the old rows no longer fits
    beginRemoveRows(parent, row, row + count - 1);
    m_order.erase(m_order.begin() + row, m_order.begin() + row + count);
    endRemoveRows();
    return true;
}

bool ResultsModel::SortIds(const Storage& storage, std::vector<std::uint32_t>& ids, int column,
                           Qt::SortOrder order, const std::atomic<bool>* pCancel)
{
    const auto cancelled = [pCancel] {
        return pCancel && pCancel->load(std::memory_order_relaxed);
    };
    auto at = [&storage](std::uint32_t id) -> const SearchResult& {
        return storage[id / kChunk]->rows.data()[id % kChunk];
    };
    const bool bAsc = order == Qt::AscendingOrder;
    // Keys are computed once per row, in the order of ids.
    std::vector<std::size_t> pos(ids.size());
    std::iota(pos.begin(), pos.end(), 0);
    if (column == ColName) {
        // Locale-aware and case-sensitive. In the C locale that is the order of the characters,
        // which needs no collation keys at all.
        if (QLocale().name() == QLatin1String("C")) {
            // A cancelled sort runs on with every pair equal: no more reads of the rows.
            ParallelStableSort(pos, [&](std::size_t a, std::size_t b) {
                if (cancelled())
                    return false;
                const int c = at(ids[a]).strPath.compare(at(ids[b]).strPath);
                return bAsc ? c < 0 : c > 0;
            });
        } else {
            // Key generation is spread over the machine's cores.
            std::vector<std::optional<QCollatorSortKey>> keys(ids.size());
            const std::size_t nParts = std::clamp<std::size_t>(std::thread::hardware_concurrency(),
                                                               1, ids.size() / 20000 + 1);
            auto makeKeys = [&](std::size_t from, std::size_t to) {
                QCollator collator;
                collator.setCaseSensitivity(Qt::CaseSensitive);
                for (std::size_t i = from; i < to; ++i) {
                    if (i % 2048 == 0 && cancelled())
                        return;
                    keys[i].emplace(collator.sortKey(at(ids[i]).strPath));
                }
            };
            std::vector<std::thread> helpers;
            const std::size_t nStep = ids.size() / nParts + 1;
            for (std::size_t p = 1; p < nParts; ++p)
                helpers.emplace_back(makeKeys, std::min(ids.size(), p * nStep),
                                     std::min(ids.size(), (p + 1) * nStep));
            makeKeys(0, std::min(ids.size(), nStep));
            for (std::thread& t : helpers)
                t.join();
            if (cancelled())
                return false;
            ParallelStableSort(pos, [&](std::size_t a, std::size_t b) {
                if (cancelled())
                    return false;
                const int c = keys[a]->compare(*keys[b]);
                return bAsc ? c < 0 : c > 0;
            });
        }
    } else {
        // By the entry's real size or time, not by the texts shown.
        std::vector<quint64> keys(ids.size());
        for (std::size_t i = 0; i < ids.size(); ++i)
            keys[i] = column == ColSize ? at(ids[i]).nSize : at(ids[i]).nLastWrite;
        ParallelStableSort(pos, [&](std::size_t a, std::size_t b) {
            if (cancelled())
                return false;
            return bAsc ? keys[a] < keys[b] : keys[a] > keys[b];
        });
    }
    if (cancelled())
        return false;
    std::vector<std::uint32_t> sorted(ids.size());
    for (std::size_t i = 0; i < pos.size(); ++i)
        sorted[i] = ids[pos[i]];
    ids.swap(sorted);
    return true;
}

void ResultsModel::CancelSort()
{
    ++m_nSortSerial; // whatever is still computed no longer applies
    if (m_pSortCancel)
        *m_pSortCancel = true;
    m_pSortCancel.reset();
}

void ResultsModel::ApplyOrder(std::vector<std::uint32_t>&& sortedHead)
{
    if (sortedHead.size() > m_order.size())
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    const std::size_t nHead = sortedHead.size();
    // The stored row behind each index that views keep track of, and where it stands now.
    std::vector<std::uint32_t> trackedIds;
    trackedIds.reserve(static_cast<std::size_t>(before.size()));
    QHash<std::uint32_t, int> newRow;
    for (const QModelIndex& idx : before) {
        trackedIds.push_back(m_order[static_cast<std::size_t>(idx.row())]);
        newRow.insert(trackedIds.back(), idx.row());
    }
    if (!before.isEmpty())
        for (std::size_t i = 0; i < nHead; ++i)
            if (auto it = newRow.find(sortedHead[i]); it != newRow.end())
                *it = static_cast<int>(i);
    // Rows that arrived during the sort keep their places at the end.
    std::copy(sortedHead.begin(), sortedHead.end(), m_order.begin());
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i)
        after << index(newRow.value(trackedIds[static_cast<std::size_t>(i)]), before[i].column());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void ResultsModel::SortNow(int column, Qt::SortOrder order)
{
    CancelSort();
    m_nSortColumn = column;
    m_sortOrder = order;
    std::vector<std::uint32_t> ids = m_order;
    SortIds(m_storage, ids, column, order);
    ApplyOrder(std::move(ids));
    emit SortApplied();
}

void ResultsModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column > 2)
        return;
    m_nSortColumn = column;
    m_sortOrder = order;
    // The sort still running for an earlier click is stale: it stops and frees its keys.
    CancelSort();
    const quint64 nSerial = m_nSortSerial;
    m_pSortCancel = std::make_shared<std::atomic<bool>>(false);
    ++m_nSortsPending;
    // The sort reads the rows where they are: the chunks never move, and only the list of
    // chunks and the current order are copied here.
    auto job = std::make_shared<std::pair<Storage, std::vector<std::uint32_t>>>(m_storage, m_order);
    QPointer<ResultsModel> self(this);
    ++s_nRunningSorts;
    std::thread([self, job, column, order, nSerial, cancel = m_pSortCancel] {
        if (!SortIds(job->first, job->second, column, order, cancel.get())) {
            job->second.clear(); // nothing of it is applied
            ++s_nCancelledSorts;
        }
        --s_nRunningSorts;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, job, nSerial] {
                if (!self)
                    return;
                --self->m_nSortsPending;
                if (nSerial != self->m_nSortSerial)
                    return; // a later click, or removed rows, made it stale
                self->ApplyOrder(std::move(job->second));
                emit self->SortApplied();
            },
            Qt::QueuedConnection);
    }).detach();
}
