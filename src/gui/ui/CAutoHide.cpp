#include "CAutoHide.h"

#include <QAction>
#include <QCursor>
#include <QDockWidget>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

namespace {

Qt::ToolBarArea ToolBarAreaOf(Qt::DockWidgetArea side)
{
    switch (side) {
    case Qt::LeftDockWidgetArea:
        return Qt::LeftToolBarArea;
    case Qt::RightDockWidgetArea:
        return Qt::RightToolBarArea;
    case Qt::TopDockWidgetArea:
        return Qt::TopToolBarArea;
    default:
        return Qt::BottomToolBarArea;
    }
}

// Shows the tab of a collapsed bar while the pointer is on it.
class TabHover : public QObject
{
public:
    TabHover(CAutoHide* owner, QDockWidget* bar) : QObject(owner), m_owner(owner), m_bar(bar) {}
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == QEvent::Enter)
            m_owner->Popup(m_bar);
        return QObject::eventFilter(o, e);
    }

private:
    CAutoHide* m_owner;
    QDockWidget* m_bar;
};

} // namespace

CAutoHide::CAutoHide(QMainWindow* frame) : QObject(frame), m_frame(frame)
{
    m_leaveTimer = new QTimer(this);
    m_leaveTimer->setInterval(250);
    connect(m_leaveTimer, &QTimer::timeout, this, &CAutoHide::CheckPointer);
    // Every side has its strip from the start (hidden while empty), so a saved layout always
    // finds the bars it names.
    for (Qt::DockWidgetArea side : {Qt::LeftDockWidgetArea, Qt::TopDockWidgetArea,
                                    Qt::RightDockWidgetArea, Qt::BottomDockWidgetArea})
        StripFor(side)->hide();
}

void CAutoHide::SyncStrips()
{
    for (auto it = m_strips.cbegin(); it != m_strips.cend(); ++it) {
        bool bUsed = false;
        for (auto c = m_collapsed.cbegin(); c != m_collapsed.cend(); ++c)
            bUsed |= c.value() == it.key() && IsShown(c.key());
        it.value()->setVisible(bUsed);
    }
}

int CAutoHide::AlingOf(Qt::DockWidgetArea side)
{
    switch (side) {
    case Qt::LeftDockWidgetArea:
        return 4096;
    case Qt::TopDockWidgetArea:
        return 8192;
    case Qt::RightDockWidgetArea:
        return 16384;
    case Qt::BottomDockWidgetArea:
        return 32768;
    default:
        return 0;
    }
}

Qt::DockWidgetArea CAutoHide::SideOfAling(int nAling)
{
    switch (nAling) {
    case 4096:
        return Qt::LeftDockWidgetArea;
    case 8192:
        return Qt::TopDockWidgetArea;
    case 16384:
        return Qt::RightDockWidgetArea;
    case 32768:
        return Qt::BottomDockWidgetArea;
    default:
        return Qt::NoDockWidgetArea;
    }
}

void CAutoHide::Manage(QDockWidget* bar)
{
    auto* title = new QWidget(bar);
    title->setObjectName(QStringLiteral("caption"));
    auto* row = new QHBoxLayout(title);
    row->setContentsMargins(4, 0, 0, 0);
    row->setSpacing(0);
    auto* label = new QLabel(bar->windowTitle(), title);
    row->addWidget(label, 1);
    auto* pin = new QToolButton(title);
    pin->setObjectName(QStringLiteral("pin"));
    pin->setAutoRaise(true);
    pin->setFixedSize(18, 18);
    pin->setText(QStringLiteral("\u21F2"));
    pin->setToolTip(tr("Auto Hide"));
    pin->setAccessibleName(tr("Auto Hide %1").arg(bar->windowTitle()));
    connect(pin, &QToolButton::clicked, this, [this, bar] { OnPin(bar); });
    row->addWidget(pin);
    auto* close = new QToolButton(title);
    close->setAutoRaise(true);
    close->setFixedSize(18, 18);
    close->setIconSize(QSize(10, 10));
    close->setIcon(bar->style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    close->setToolTip(tr("Close"));
    close->setAccessibleName(tr("Close %1").arg(bar->windowTitle()));
    connect(close, &QToolButton::clicked, this, [this, bar] { SetShown(bar, false); });
    row->addWidget(close);
    bar->setTitleBarWidget(title);
}

QToolBar* CAutoHide::StripFor(Qt::DockWidgetArea side)
{
    QToolBar* strip = m_strips.value(side);
    if (!strip) {
        strip = new QToolBar(m_frame);
        strip->setObjectName(QStringLiteral("AutoHide%1").arg(AlingOf(side)));
        strip->setMovable(false);
        strip->setFloatable(false);
        strip->setToolButtonStyle(Qt::ToolButtonTextOnly);
        m_frame->addToolBar(ToolBarAreaOf(side), strip);
        m_strips.insert(side, strip);
    }
    return strip;
}

void CAutoHide::OnPin(QDockWidget* bar)
{
    if (IsCollapsed(bar))
        Restore(bar);
    else
        Collapse(bar, m_frame->dockWidgetArea(bar));
}

void CAutoHide::Collapse(QDockWidget* bar, Qt::DockWidgetArea side)
{
    if (IsCollapsed(bar) || side == Qt::NoDockWidgetArea)
        return;
    m_collapsed.insert(bar, side);
    QToolBar* strip = StripFor(side);
    auto* tab = new QToolButton(strip);
    tab->setObjectName(QStringLiteral("tab") + bar->objectName());
    tab->setText(bar->windowTitle());
    tab->installEventFilter(new TabHover(this, bar));
    connect(tab, &QToolButton::clicked, this, [this, bar] { Popup(bar); });
    m_tabActions.insert(bar, strip->addWidget(tab));
    strip->show();
    m_tabs.insert(bar, tab);
    bar->hide();
    bar->setFloating(true);
}

void CAutoHide::Popup(QDockWidget* bar)
{
    if (!IsCollapsed(bar))
        return;
    // Over the frame, along its side, the size of the bar when it was docked.
    const QRect area(m_frame->mapToGlobal(m_frame->centralWidget()->geometry().topLeft()),
                     m_frame->centralWidget()->size());
    const QSize size = bar->size().isValid() ? bar->size() : QSize(260, 160);
    QRect r;
    switch (m_collapsed.value(bar)) {
    case Qt::LeftDockWidgetArea:
        r = QRect(area.topLeft(), QSize(size.width(), area.height()));
        break;
    case Qt::RightDockWidgetArea:
        r = QRect(area.right() - size.width() + 1, area.top(), size.width(), area.height());
        break;
    case Qt::TopDockWidgetArea:
        r = QRect(area.topLeft(), QSize(area.width(), size.height()));
        break;
    default:
        r = QRect(area.left(), area.bottom() - size.height() + 1, area.width(), size.height());
        break;
    }
    bar->setGeometry(r);
    bar->show();
    bar->raise();
    m_pShown = bar;
    m_leaveTimer->start();
}

bool CAutoHide::IsShown(QDockWidget* bar) const
{
    if (!IsCollapsed(bar))
        return bar->isVisible();
    const QAction* place = m_tabActions.value(bar);
    return place && place->isVisible();
}

void CAutoHide::SetShown(QDockWidget* bar, bool bShown)
{
    if (!IsCollapsed(bar)) {
        bar->setVisible(bShown);
        return;
    }
    if (QAction* place = m_tabActions.value(bar))
        place->setVisible(bShown);
    if (!bShown && m_pShown == bar) {
        bar->hide();
        m_pShown = nullptr;
        m_leaveTimer->stop();
    }
    SyncStrips();
}

void CAutoHide::CheckPointer()
{
    if (!m_pShown)
        return;
    const QPoint p = QCursor::pos();
    QToolButton* tab = m_tabs.value(m_pShown);
    const bool bOnTab = tab && QRect(tab->mapToGlobal(QPoint(0, 0)), tab->size()).contains(p);
    if (bOnTab || m_pShown->frameGeometry().contains(p))
        return;
    m_pShown->hide();
    m_pShown = nullptr;
    m_leaveTimer->stop();
}

void CAutoHide::Restore(QDockWidget* bar)
{
    if (!IsCollapsed(bar))
        return;
    const Qt::DockWidgetArea side = m_collapsed.take(bar);
    m_tabActions.remove(bar);
    if (QToolButton* tab = m_tabs.take(bar))
        tab->deleteLater();
    SyncStrips();
    if (m_pShown == bar) {
        m_pShown = nullptr;
        m_leaveTimer->stop();
    }
    bar->setFloating(false);
    m_frame->addDockWidget(side, bar);
    bar->show();
}
