#include "ResultsModel.h"

#include <QCollator>
#include <QCoreApplication>
#include <QDateTime>
#include <QPointer>

#include <algorithm>
#include <numeric>
#include <thread>

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
    const double cut = static_cast<double>(static_cast<long double>(static_cast<quint64>(value * scale)) / scale);
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

ResultsModel::ResultsModel(QObject* parent) : QAbstractTableModel(parent)
{
    m_rows.reserve(4096);
}

ResultsModel::~ResultsModel() = default;

int ResultsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int ResultsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 3;
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const SearchResult& r = m_rows[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        switch (index.column()) {
        case ColName: return r.strPath;
        case ColSize: return FormatByteSize(r.nSize);
        case ColTime: return FormatFileTime(r.nLastWrite);
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
    case ColName: return tr("File Name");
    case ColSize: return tr("Size");
    case ColTime: return tr("Timestamp");
    }
    return {};
}

void ResultsModel::AppendBatch(std::vector<SearchResult>&& batch)
{
    if (batch.empty())
        return;
    const int nFirst = rowCount();
    // Grow in large steps: a million rows must not copy themselves a thousand times.
    if (m_rows.capacity() < m_rows.size() + batch.size())
        m_rows.reserve(std::max(m_rows.capacity() * 2, m_rows.size() + batch.size()));
    beginInsertRows(QModelIndex(), nFirst, nFirst + static_cast<int>(batch.size()) - 1);
    std::move(batch.begin(), batch.end(), std::back_inserter(m_rows));
    endInsertRows();
}

bool ResultsModel::removeRows(int row, int count, const QModelIndex& parent)
{
    if (parent.isValid() || row < 0 || count <= 0 || row + count > rowCount())
        return false;
    ++m_nSortSerial; // a sort computed on the old rows no longer fits
    beginRemoveRows(parent, row, row + count - 1);
    m_rows.erase(m_rows.begin() + row, m_rows.begin() + row + count);
    endRemoveRows();
    return true;
}

std::vector<int> ResultsModel::ComputeOrder(const std::vector<SearchResult>& rows, int column,
                                            Qt::SortOrder order)
{
    std::vector<int> idx(rows.size());
    std::iota(idx.begin(), idx.end(), 0);
    const bool bAsc = order == Qt::AscendingOrder;
    if (column == ColName) {
        // Locale-aware and case-sensitive, with keys computed once per row.
        QCollator collator;
        collator.setCaseSensitivity(Qt::CaseSensitive);
        collator.setNumericMode(false);
        std::vector<QCollatorSortKey> keys;
        keys.reserve(rows.size());
        for (const SearchResult& r : rows)
            keys.push_back(collator.sortKey(r.strPath));
        std::stable_sort(idx.begin(), idx.end(), [&](int a, int b) {
            const int c = keys[static_cast<std::size_t>(a)].compare(keys[static_cast<std::size_t>(b)]);
            return bAsc ? c < 0 : c > 0;
        });
    } else {
        // By the entry's real size or time, not by the texts shown.
        std::vector<quint64> keys(rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i)
            keys[i] = column == ColSize ? rows[i].nSize : rows[i].nLastWrite;
        std::stable_sort(idx.begin(), idx.end(), [&](int a, int b) {
            const quint64 ka = keys[static_cast<std::size_t>(a)];
            const quint64 kb = keys[static_cast<std::size_t>(b)];
            return bAsc ? ka < kb : ka > kb;
        });
    }
    return idx;
}

void ResultsModel::ApplyOrder(const std::vector<int>& order)
{
    if (order.size() > m_rows.size())
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newRowOf(order.size());
    std::vector<SearchResult> sorted;
    sorted.reserve(m_rows.capacity());
    for (std::size_t i = 0; i < order.size(); ++i) {
        sorted.push_back(std::move(m_rows[static_cast<std::size_t>(order[i])]));
        newRowOf[static_cast<std::size_t>(order[i])] = static_cast<int>(i);
    }
    for (std::size_t i = order.size(); i < m_rows.size(); ++i)
        sorted.push_back(std::move(m_rows[i]));
    m_rows.swap(sorted);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& idx : before) {
        const int r = idx.row();
        const int nr = r < static_cast<int>(newRowOf.size()) ? newRowOf[static_cast<std::size_t>(r)] : r;
        after << index(nr, idx.column());
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void ResultsModel::SortNow(int column, Qt::SortOrder order)
{
    m_nSortColumn = column;
    m_sortOrder = order;
    ApplyOrder(ComputeOrder(m_rows, column, order));
    emit SortApplied();
}

void ResultsModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column > 2)
        return;
    m_nSortColumn = column;
    m_sortOrder = order;
    const quint64 nSerial = ++m_nSortSerial;
    ++m_nSortsPending;
    // The keys are taken from a copy of the rows as they are now; the copy is cheap next to the
    // sort and leaves the model free to take new rows meanwhile.
    auto snapshot = std::make_shared<std::vector<SearchResult>>(m_rows);
    QPointer<ResultsModel> self(this);
    std::thread([self, snapshot, column, order, nSerial] {
        auto result = std::make_shared<std::vector<int>>(ComputeOrder(*snapshot, column, order));
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, result, nSerial] {
                if (!self)
                    return;
                --self->m_nSortsPending;
                if (nSerial != self->m_nSortSerial)
                    return; // a later click, or removed rows, made it stale
                self->ApplyOrder(*result);
                emit self->SortApplied();
            },
            Qt::QueuedConnection);
    }).detach();
}
