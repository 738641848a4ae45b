#pragma once

#include <QAbstractTableModel>
#include <QDateTime>
#include <QLocale>

#include <vector>

// Timestamp text of a log row: the locale's short date, one space, the time with seconds.
QString FormatLogTimestamp(const QDateTime& when, const QLocale& locale = QLocale::system());

// The rows of the Network Log: "Timestamp" and "Event". Rows are only ever appended (in
// batches) or all removed. GUI-thread object: producers on other threads go through the
// status queue, never here.
class LogModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit LogModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Appends one row per non-empty text, all stamped with the same reading of the clock.
    // Returns the number of rows added.
    int AddEntries(const QStringList& texts, const QDateTime& when = QDateTime::currentDateTime());
    void ClearLog();

    QString Timestamp(int row) const { return m_rows[static_cast<std::size_t>(row)].strTime; }
    QString Event(int row) const { return m_rows[static_cast<std::size_t>(row)].strEvent; }

    // Writes every row as "timestamp<TAB>event" in UTF-8, one per line (LF). Event texts
    // with line breaks or tabs are written with those replaced by spaces. On failure returns
    // false and sets *pError.
    bool SaveLog(const QString& path, QString* pError) const;

private:
    struct Row
    {
        QString strTime;
        QString strEvent;
    };
    std::vector<Row> m_rows;
    qint64 m_nLastStampSecs = -1;
    QString m_strLastStamp;
};
