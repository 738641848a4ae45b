#include "DockState.h"

#include <QDockWidget>
#include <QMainWindow>
#include <QSettings>
#include <QStatusBar>
#include <QToolBar>

#include <algorithm>

namespace dockstate {
namespace {

QSettings Open()
{
    return QSettings(QStringLiteral("Halvorn"), QStringLiteral("Brindlecove"));
}

const QString kProfile = QStringLiteral("GuiTabbed");

QString BarSection(int nId)
{
    return QStringLiteral("%1-Bar%2").arg(kProfile).arg(nId);
}

// Values come back as strings from a settings file: always convert.
int Int(const QSettings& s, const QString& key, int def)
{
    bool ok = false;
    const int v = s.value(key, def).toInt(&ok);
    return ok ? v : def;
}

} // namespace

Placement ReadPlacement()
{
    QSettings s = Open();
    s.beginGroup(QStringLiteral("BrindlecoveMain"));
    Placement p;
    const int left = Int(s, QStringLiteral("left"), 10);
    const int top = Int(s, QStringLiteral("top"), 10);
    const int right = Int(s, QStringLiteral("right"), 600);
    const int bottom = Int(s, QStringLiteral("bottom"), 400);
    // Differences in 64 bits: the stored numbers may be anything an int holds.
    const auto extent = [](int from, int to) {
        return static_cast<int>(std::clamp<qint64>(qint64(to) - from, 1, 100000));
    };
    p.normal = QRect(left, top, extent(left, right), extent(top, bottom));
    p.nStatus = Int(s, QStringLiteral("status"), 1);
    p.nStyle = Int(s, QStringLiteral("Style"), 32769);
    return p;
}

void WritePlacement(const QRect& normal, int nStatus, int nStyle, bool bTheme)
{
    QSettings s = Open();
    s.remove(QStringLiteral("BrindlecoveMain"));
    s.beginGroup(QStringLiteral("BrindlecoveMain"));
    s.setValue(QStringLiteral("left"), normal.left());
    s.setValue(QStringLiteral("right"), normal.left() + normal.width());
    s.setValue(QStringLiteral("bottom"), normal.top() + normal.height());
    s.setValue(QStringLiteral("top"), normal.top());
    s.setValue(QStringLiteral("status"), nStatus);
    s.setValue(QStringLiteral("Style"), nStyle);
    s.setValue(QStringLiteral("Theme"), bTheme ? 1 : 0);
}

QRect PlaceOnScreen(const QRect& normal, const QRect& workArea, const QSize& screen,
                    const QSize& icon)
{
    // 64-bit sums: the stored numbers may be anything an int holds.
    auto clamp = [](qint64 v, qint64 lo, qint64 hi) {
        return static_cast<int>(std::clamp(v, lo, std::max(lo, hi)));
    };
    const int w = clamp(normal.width(), 100, workArea.width());
    const int h = clamp(normal.height(), 60, workArea.height());
    const int x = clamp(qint64(normal.left()) + workArea.left(), workArea.left(),
                        screen.width() - icon.width());
    const int y = clamp(qint64(normal.top()) + workArea.top(), workArea.top(),
                        screen.height() - icon.height());
    return QRect(x, y, w, h);
}

BarState ReadBar(int nId)
{
    QSettings s = Open();
    s.beginGroup(BarSection(nId));
    BarState b;
    b.sizeHorz = QSize(Int(s, QStringLiteral("sizeHorz.cx"), 200),
                       Int(s, QStringLiteral("sizeHorz.cy"), 100));
    b.sizeVert = QSize(Int(s, QStringLiteral("sizeVert.cx"), 200),
                       Int(s, QStringLiteral("sizeVert.cy"), 100));
    b.bAutoHide = Int(s, QStringLiteral("AutoHide"), 0) == 1;
    b.nAling = Int(s, QStringLiteral("Aling"), 0);
    return b;
}

void WriteBar(int nId, const BarState& b)
{
    QSettings s = Open();
    s.remove(BarSection(nId));
    s.beginGroup(BarSection(nId));
    s.setValue(QStringLiteral("sizeHorz.cx"), b.sizeHorz.width());
    s.setValue(QStringLiteral("sizeHorz.cy"), b.sizeHorz.height());
    s.setValue(QStringLiteral("sizeVert.cx"), b.sizeVert.width());
    s.setValue(QStringLiteral("sizeVert.cy"), b.sizeVert.height());
    s.setValue(QStringLiteral("AutoHide"), b.bAutoHide ? 1 : 0);
    s.setValue(QStringLiteral("Aling"), b.bAutoHide ? b.nAling : 0);
}

bool RestoreLayout(QMainWindow& frame, const QList<QDockWidget*>& bars, const QList<int>& ids)
{
    QSettings s = Open();
    s.beginGroup(kProfile);
    const QByteArray state = s.value(QStringLiteral("DockState")).toByteArray();
    const QStringList named = s.value(QStringLiteral("Bars")).toStringList();
    const int nStatusBar = s.value(QStringLiteral("StatusBar"), 1).toInt();
    s.endGroup();
    // Verify: every bar the stored layout names must exist, or nothing of it is used.
    for (const QString& name : named) {
        if (!frame.findChild<QDockWidget*>(name) && !frame.findChild<QToolBar*>(name))
            return false;
    }
    if (!state.isEmpty() && !frame.restoreState(state, 1))
        return false;
    // The dock state covers docks and toolbars; the status bar is one more bar.
    if (nStatusBar == 0)
        frame.statusBar()->hide();
    for (qsizetype i = 0; i < bars.size(); ++i) {
        // Without a stored size a bar keeps the size its contents ask for.
        if (!Open().childGroups().contains(BarSection(ids[i])))
            continue;
        const BarState b = ReadBar(ids[i]);
        const Qt::DockWidgetArea area = frame.dockWidgetArea(bars[i]);
        if (area == Qt::LeftDockWidgetArea || area == Qt::RightDockWidgetArea)
            frame.resizeDocks({bars[i]}, {b.sizeVert.width()}, Qt::Horizontal);
        else if (area == Qt::TopDockWidgetArea || area == Qt::BottomDockWidgetArea)
            frame.resizeDocks({bars[i]}, {b.sizeHorz.height()}, Qt::Vertical);
    }
    return true;
}

void SaveLayout(QMainWindow& frame, const QList<QDockWidget*>& bars, const QList<int>& ids,
                const QList<BarState>& states)
{
    QStringList named;
    for (QDockWidget* d : frame.findChildren<QDockWidget*>())
        named << d->objectName();
    for (QToolBar* t : frame.findChildren<QToolBar*>())
        named << t->objectName();
    {
        QSettings s = Open();
        s.beginGroup(kProfile);
        s.setValue(QStringLiteral("DockState"), frame.saveState(1));
        s.setValue(QStringLiteral("Bars"), named);
        s.setValue(QStringLiteral("StatusBar"), frame.statusBar()->isHidden() ? 0 : 1);
    }
    for (qsizetype i = 0; i < bars.size(); ++i) {
        BarState b = ReadBar(ids[i]);
        const Qt::DockWidgetArea area = frame.dockWidgetArea(bars[i]);
        if (!bars[i]->isFloating()) {
            if (area == Qt::LeftDockWidgetArea || area == Qt::RightDockWidgetArea)
                b.sizeVert = bars[i]->size();
            else if (area == Qt::TopDockWidgetArea || area == Qt::BottomDockWidgetArea)
                b.sizeHorz = bars[i]->size();
        }
        b.bAutoHide = states.value(i).bAutoHide;
        b.nAling = states.value(i).nAling;
        WriteBar(ids[i], b);
    }
}

} // namespace dockstate
