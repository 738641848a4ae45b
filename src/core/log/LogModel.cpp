#include "LogModel.h"

#include <QSaveFile>

QString FormatLogTimestamp(const QDateTime& when, const QLocale& locale)
{
    // The locale's long time format carries the seconds but also a time-zone name ("t");
    // the log shows local time, so the zone is left out.
    QString strTimeFormat = locale.timeFormat(QLocale::LongFormat);
    strTimeFormat.remove(QLatin1Char('t'));
    strTimeFormat = strTimeFormat.trimmed();
    return locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(when.time(), strTimeFormat);
}

LogModel::LogModel(QObject* parent) : QAbstractTableModel(parent) {}

int LogModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int LogModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 2;
}

QVariant LogModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const Row& row = m_rows[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return index.column() == 0 ? row.strTime : row.strEvent;
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

QVariant LogModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return section == 0 ? tr("Timestamp") : tr("Event");
}

int LogModel::AddEntries(const QStringList& texts, const QDateTime& when)
{
    int nNew = 0;
    for (const QString& s : texts)
        nNew += s.isEmpty() ? 0 : 1;
    if (nNew == 0)
        return 0;
    const qint64 nSecs = when.toSecsSinceEpoch();
    if (nSecs != m_nLastStampSecs) {
        m_nLastStampSecs = nSecs;
        m_strLastStamp = FormatLogTimestamp(when);
    }
    const int nFirst = rowCount();
    beginInsertRows(QModelIndex(), nFirst, nFirst + nNew - 1);
    for (const QString& s : texts)
        if (!s.isEmpty())
            m_rows.push_back({m_strLastStamp, s});
    endInsertRows();
    return nNew;
}

void LogModel::ClearLog()
{
    if (m_rows.empty())
        return;
    beginResetModel();
    m_rows.clear();
    m_rows.shrink_to_fit();
    endResetModel();
}

bool LogModel::SaveLog(const QString& path, QString* pError) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (pError)
            *pError = file.errorString();
        return false;
    }
    QByteArray buf;
    for (const Row& row : m_rows) {
        QString ev = row.strEvent;
        for (QChar& c : ev)
            if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('\t'))
                c = QLatin1Char(' ');
        buf += row.strTime.toUtf8();
        buf += '\t';
        buf += ev.toUtf8();
        buf += '\n';
        if (buf.size() > (1 << 20)) {
            if (file.write(buf) != buf.size())
                break;
            buf.clear();
        }
    }
    if (!buf.isEmpty())
        file.write(buf);
    if (!file.commit()) {
        if (pError)
            *pError = file.errorString();
        return false;
    }
    return true;
}
