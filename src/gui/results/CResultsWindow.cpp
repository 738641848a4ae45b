#include "CResultsWindow.h"

#include "search/SearchTypes.h"
#include "search/ShareFs.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMimeDatabase>
#include <QMouseEvent>
#include <QStyleOptionHeader>
#include <QTimer>
#include <QVBoxLayout>

CResultsModel::CResultsModel(QObject* parent) : ResultsModel(parent)
{
    m_fileIcon = QIcon(QStringLiteral(":/images/file.png"));
    m_folderIcon = QIcon(QStringLiteral(":/images/folder.png"));
}

QIcon CResultsModel::IconFor(const SearchResult& r) const
{
    if (r.nAttributes & kAttrDirectory)
        return m_folderIcon;
    // By name only: the file is never opened for its icon.
    static const QMimeDatabase db;
    const QString name = r.strPath.section(QLatin1Char('\\'), -1).section(QLatin1Char('/'), -1);
    const QMimeType mime = db.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    auto it = m_icons.constFind(mime.name());
    if (it != m_icons.constEnd())
        return *it;
    QIcon icon = QIcon::fromTheme(mime.iconName(), QIcon::fromTheme(mime.genericIconName()));
    if (icon.isNull())
        icon = m_fileIcon;
    m_icons.insert(mime.name(), icon);
    return icon;
}

QVariant CResultsModel::data(const QModelIndex& index, int role) const
{
    if (role == Qt::DecorationRole && index.isValid() && index.column() == ColName &&
        index.row() < rowCount())
        return IconFor(At(index.row()));
    return ResultsModel::data(index, role);
}

void CResultsHeader::initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const
{
    QHeaderView::initStyleOptionForIndex(option, logicalIndex);
    if (option->sortIndicator == QStyleOptionHeader::SortDown)
        option->sortIndicator = QStyleOptionHeader::SortUp;
    else if (option->sortIndicator == QStyleOptionHeader::SortUp)
        option->sortIndicator = QStyleOptionHeader::SortDown;
}

CBrindlecoveView::CBrindlecoveView(QWidget* parent) : QTableView(parent)
{
    setObjectName(QStringLiteral("listResults"));
    setHorizontalHeader(new CResultsHeader(this));
    setAccessibleName(tr("Found files"));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setShowGrid(true);
    setWordWrap(false);
    setIconSize(QSize(16, 16));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    horizontalHeader()->setSortIndicatorShown(false);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this,
            [this](const QPoint&) { emit ContextMenuRequested(); });
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& idx) {
        if (idx.isValid())
            emit OpenRequested(idx.row());
    });
}

void CBrindlecoveView::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTableView::mouseDoubleClickEvent(event);
    // Below the last row: the open command is asked all the same, and says what is missing.
    if (event->button() == Qt::LeftButton && !indexAt(event->position().toPoint()).isValid())
        emit OpenRequested(-1);
}

int CBrindlecoveView::FirstSelectedRow() const
{
    const QList<int> rows = SelectedRows();
    return rows.isEmpty() ? -1 : rows.front();
}

QList<int> CBrindlecoveView::SelectedRows() const
{
    QList<int> rows;
    if (!selectionModel())
        return rows;
    for (const QModelIndex& idx : selectionModel()->selectedRows())
        rows << idx.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

CChildFrame::CChildFrame(QWidget* parent)
    : QMdiSubWindow(parent), m_sink(std::make_shared<BatchedResults>())
{
    setAttribute(Qt::WA_DeleteOnClose);
    // Said by a screen reader: the results and their search's patterns.
    setAccessibleName(tr("Results"));
    connect(this, &QWidget::windowTitleChanged, this,
            [this](const QString& title) { setAccessibleName(tr("Results of %1").arg(title)); });
    setWindowIcon(QIcon(QStringLiteral(":/images/log.png")));
    m_view = new CBrindlecoveView(this);
    m_model = new CResultsModel(m_view);
    m_view->setModel(m_model);
    m_view->setColumnWidth(0, 300);
    m_view->setColumnWidth(1, 100);
    m_view->setColumnWidth(2, 170);
    // Above the list, only while finds from the index are being checked.
    auto* body = new QWidget(this);
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_indexNote = new QLabel(body);
    m_indexNote->setContentsMargins(6, 3, 6, 3);
    m_indexNote->setAutoFillBackground(true);
    m_indexNote->setBackgroundRole(QPalette::ToolTipBase);
    m_indexNote->setForegroundRole(QPalette::ToolTipText);
    m_indexNote->hide();
    layout->addWidget(m_indexNote);
    layout->addWidget(m_view);
    setWidget(body);
    connect(m_view->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &CChildFrame::OnHeaderClicked);
    m_drainTimer = new QTimer(this);
    m_drainTimer->setInterval(100);
    connect(m_drainTimer, &QTimer::timeout, this, &CChildFrame::Drain);
    m_drainTimer->start();
}

CChildFrame::~CChildFrame() = default;

void CChildFrame::Drain()
{
    if (m_bAwaitingIndex)
        return;
    std::vector<SearchResult> batch = m_sink->TakeAll();
    if (batch.empty())
        return;
    QSet<QString> stale;
    batch = m_reconciler.Walked(std::move(batch), &stale);
    m_model->RemovePaths(stale);
    m_model->AppendBatch(std::move(batch));
}

void CChildFrame::SearchEnded(bool bRanToEnd)
{
    // An index that answers after the walk has nothing to add to it.
    m_bAwaitingIndex = false;
    m_bEnded = true;
    Drain();
    m_drainTimer->stop();
    if (!m_reconciler.Active())
        return;
    if (bRanToEnd) {
        m_model->RemovePaths(m_reconciler.Unconfirmed());
        m_indexNote->hide();
    } else {
        m_indexNote->setText(
            tr("From the index of %1; the check of the shares was stopped").arg(m_indexTime));
    }
}

void CChildFrame::AwaitIndex()
{
    m_bAwaitingIndex = true;
}

void CChildFrame::ShowIndexed(std::vector<SearchResult>&& finds, qint64 msOldest, bool bLast)
{
    if (!m_bAwaitingIndex || m_bEnded)
        return;
    if (msOldest > 0)
        m_indexTime = QLocale::system().toString(QDateTime::fromMSecsSinceEpoch(msOldest),
                                                 QLocale::ShortFormat);
    if (!finds.empty()) {
        m_reconciler.AddIndexed(finds);
        m_model->AppendBatch(std::move(finds));
    }
    if (m_reconciler.Active()) {
        // How old the listings are is known once the index has answered whole.
        m_indexNote->setText(m_indexTime.isEmpty()
                                 ? tr("From the index; checking the shares%1").arg(QChar(0x2026))
                                 : tr("From the index of %1; checking the shares%2")
                                       .arg(m_indexTime, QChar(0x2026)));
        m_indexNote->show();
    }
    if (!bLast)
        return;
    // The index has answered whole: the walk's finds join it now.
    m_bAwaitingIndex = false;
    Drain();
}

QString CChildFrame::IndexNote() const
{
    return m_indexNote->isHidden() ? QString() : m_indexNote->text();
}

void CChildFrame::OnHeaderClicked(int column)
{
    // The first click on a column sorts ascending, each further click on it turns the order.
    QHeaderView* header = m_view->horizontalHeader();
    Qt::SortOrder order = Qt::AscendingOrder;
    if (m_model->SortColumn() == column && m_model->SortOrder() == Qt::AscendingOrder)
        order = Qt::DescendingOrder;
    header->setSortIndicatorShown(true);
    header->setSortIndicator(column, order);
    Drain();
    m_model->sort(column, order);
}

void CChildFrame::closeEvent(QCloseEvent* event)
{
    emit Closing(this);
    QMdiSubWindow::closeEvent(event);
}
