#include "CResizeDlg.h"

#include <QCursor>
#include <QLabel>
#include <QPainter>
#include <QResizeEvent>

namespace {
constexpr int kSizeGripId = 50;

QPixmap GripPixmap()
{
    QPixmap pm(13, 13);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(QPen(QColor(0x80, 0x80, 0x80), 1));
    for (int i = 0; i < 3; ++i)
        p.drawLine(12, 3 + 4 * i, 3 + 4 * i, 12);
    return pm;
}
} // namespace

CResizeDlg::CResizeDlg(QWidget* parent) : QWidget(parent)
{
    m_fnPointer = [] { return QCursor::pos(); };
}

QRect CResizeDlg::ClientOnScreen() const
{
    return QRect(mapToGlobal(QPoint(0, 0)), size());
}

QWidget* CResizeDlg::SizeGrip() const
{
    return m_wndSizeGrip;
}

void CResizeDlg::InitLayout()
{
    m_rcInitial = m_rcLast = ClientOnScreen();
    m_wndSizeGrip = new QLabel(this);
    m_wndSizeGrip->setObjectName(QStringLiteral("sizeGrip"));
    m_wndSizeGrip->setPixmap(GripPixmap());
    m_wndSizeGrip->resize(13, 13);
    m_wndSizeGrip->move(width() - 13, height() - 13);
    m_wndSizeGrip->raise();
    m_wndSizeGrip->show();
    m_controls.insert(kSizeGripId, m_wndSizeGrip);
    m_records.push_back(resize::MakeRecord(kSizeGripId, resize::Move, resize::Move, resize::Move,
                                           resize::Move, 0, -1, -1, -1, -1,
                                           m_wndSizeGrip->geometry(), size()));
    m_nMinWidth = width();
    m_nMinHeight = height();
    setMinimumSize(m_nMinWidth, m_nMinHeight);
    if (!m_bWidthMayChange)
        setMaximumWidth(m_nMinWidth);
    if (!m_bHeightMayChange)
        setMaximumHeight(m_nMinHeight);
}

void CResizeDlg::AddControl(QWidget* control, int left, int right, int top, int bottom, int options,
                            double fxPos, double fxSize, double fyPos, double fySize)
{
    int nId = m_controls.key(control, 0);
    if (nId == 0) {
        nId = m_nNextId++;
        m_controls.insert(nId, control);
    }
    const resize::Record r = resize::MakeRecord(nId, left, right, top, bottom, options, fxPos,
                                                fxSize, fyPos, fySize, control->geometry(), size());
    for (resize::Record& existing : m_records) {
        if (existing.nId == nId) {
            existing = r; // adding again replaces, rectangle included
            return;
        }
    }
    m_records.push_back(r);
}

void CResizeDlg::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_records.empty())
        return;
    const QRect client = ClientOnScreen();
    const resize::Edges edges = resize::GuessMovingEdges(m_rcLast, client, m_fnPointer());
    if (edges.Any()) {
        const QSize delta(client.width() - m_rcLast.width(), client.height() - m_rcLast.height());
        // All moves of one size change land together and are painted once.
        const bool bUpdates = updatesEnabled();
        setUpdatesEnabled(false);
        for (resize::Record& r : m_records) {
            QWidget* w = m_controls.value(r.nId);
            if (!w)
                continue;
            const resize::Outcome o =
                resize::Layout(r, edges, client.size(), m_rcInitial.size(), delta, w->geometry());
            if (!o.bMove)
                continue;
            w->setGeometry(o.rect);
            if (r.bRepaintOnMove)
                w->repaint();
            if (o.bStore)
                r.rect = o.rect;
        }
        setUpdatesEnabled(bUpdates);
    }
    m_rcLast = client;
}
