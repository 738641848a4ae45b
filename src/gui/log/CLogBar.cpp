#include "CLogBar.h"

#include "log/LogModel.h"

#include <QHeaderView>
#include <QIcon>
#include <QIdentityProxyModel>
#include <QTableView>

namespace {
// Every row shows the log icon beside its timestamp.
class LogIconProxy : public QIdentityProxyModel
{
public:
    explicit LogIconProxy(QObject* parent) : QIdentityProxyModel(parent) {}
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role == Qt::DecorationRole && index.isValid() && index.column() == 0)
            return m_icon;
        return QIdentityProxyModel::data(index, role);
    }

private:
    QIcon m_icon{QStringLiteral(":/images/log.png")};
};
} // namespace

CLogBar::CLogBar(LogModel* model, QWidget* parent) : QDockWidget(tr("Network Log"), parent)
{
    setObjectName(QStringLiteral("Bar2455"));
    m_wndLogList = new QTableView(this);
    m_wndLogList->setObjectName(QStringLiteral("listLog"));
    m_wndLogList->setAccessibleName(tr("Network Log"));
    auto* proxy = new LogIconProxy(m_wndLogList);
    proxy->setSourceModel(model);
    m_wndLogList->setModel(proxy);
    m_wndLogList->setIconSize(QSize(16, 16));
    m_wndLogList->setShowGrid(true);
    m_wndLogList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_wndLogList->setWordWrap(false);
    m_wndLogList->verticalHeader()->hide();
    // Fixed row height: the view never measures rows, so hundreds of thousands stay cheap.
    m_wndLogList->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_wndLogList->verticalHeader()->setDefaultSectionSize(m_wndLogList->fontMetrics().height() + 4);
    m_wndLogList->horizontalHeader()->setHighlightSections(false);
    m_wndLogList->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_wndLogList->setColumnWidth(0, 200);
    m_wndLogList->setColumnWidth(1, 300);
    m_wndLogList->horizontalHeader()->setStretchLastSection(true);
    m_wndLogList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_wndLogList, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        emit ContextMenuRequested(m_wndLogList->viewport()->mapToGlobal(pos));
    });
    setWidget(m_wndLogList);
}

void CLogBar::EnsureLastVisible()
{
    // Lays out pending rows first, so the new last row is really in view.
    m_wndLogList->scrollToBottom();
}
