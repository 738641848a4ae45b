#pragma once

#include "index/IndexReconciler.h"
#include "results/ResultsModel.h"

#include <QHash>
#include <QHeaderView>
#include <QIcon>
#include <QMdiSubWindow>
#include <QTableView>

#include <memory>

class BatchedResults;
class QLabel;
class QTimer;

// The finds of one search with an icon per row, chosen by file name from the MIME database.
class CResultsModel : public ResultsModel
{
    Q_OBJECT
public:
    explicit CResultsModel(QObject* parent = nullptr);
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    QIcon IconFor(const SearchResult& r) const;
    mutable QHash<QString, QIcon> m_icons; // by MIME type name
    QIcon m_fileIcon;
    QIcon m_folderIcon;
};

// The list of a results window.
class CBrindlecoveView : public QTableView
{
    Q_OBJECT
public:
    explicit CBrindlecoveView(QWidget* parent = nullptr);
    // The first selected row, or -1.
    int FirstSelectedRow() const;
    QList<int> SelectedRows() const;

signals:
    // A double-click: on a row, or (-1) on the empty part of the list.
    void OpenRequested(int row);
    void ContextMenuRequested();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

// The list's header: its sort triangle points up for an ascending sort, down for a descending
// one (Qt draws them the other way round).
class CResultsHeader : public QHeaderView
{
    Q_OBJECT
public:
    explicit CResultsHeader(QWidget* parent = nullptr) : QHeaderView(Qt::Horizontal, parent) {}

protected:
    void initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const override;
};

// One results window: its list and the search's sink, drained into the list in batches about
// every 100 ms while the search runs. GUI-thread object; the sink is shared with the search's
// workers, so it outlives the window if they are still running.
class CChildFrame : public QMdiSubWindow
{
    Q_OBJECT
public:
    explicit CChildFrame(QWidget* parent = nullptr);
    ~CChildFrame() override;

    CBrindlecoveView* View() const { return m_view; }
    CResultsModel* Model() const { return m_model; }
    std::shared_ptr<BatchedResults> Sink() const { return m_sink; }
    quint64 m_nSearchId = 0;

    // Moves every find that has arrived into the list (not while the index is awaited: the
    // walk's finds wait in the sink until the index's are shown).
    void Drain();
    // Stops the periodic draining after a last drain (the search has ended). A search that ran
    // to its end takes the index's finds it did not meet out of the list.
    void SearchEnded(bool bRanToEnd = true);

    // The index answers first: the walk's finds wait for ShowIndexed.
    void AwaitIndex();
    // The index's finds (listed at msOldest at the earliest), shown before the walk's.
    // The index's answer comes in parts; the walk's finds wait for the last (bLast).
    void ShowIndexed(std::vector<SearchResult>&& finds, qint64 msOldest, bool bLast = true);
    // "From the index of ...; checking the shares…" while the walk checks the index's rows.
    QString IndexNote() const;

signals:
    void Closing(CChildFrame* frame);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void OnHeaderClicked(int column);

    CBrindlecoveView* m_view;
    CResultsModel* m_model;
    QLabel* m_indexNote;
    shareindex::IndexReconciler m_reconciler;
    bool m_bAwaitingIndex = false;
    bool m_bEnded = false;
    QString m_indexTime;
    std::shared_ptr<BatchedResults> m_sink;
    QTimer* m_drainTimer;
};
