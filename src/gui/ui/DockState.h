#pragma once

#include <QList>
#include <QRect>

class QDockWidget;
class QMainWindow;

// The frame's placement and bar layout, kept across runs in QSettings("Halvorn","Brindlecove"):
// section "BrindlecoveMain" (left, top, right, bottom, status, Style, Theme), the dock layout
// under profile "GuiTabbed", and one section per bar, "GuiTabbed-Bar<id>" (sizeHorz.cx/cy,
// sizeVert.cx/cy, AutoHide, Aling). Read once before the frame is shown, written once when it
// closes. GUI thread.
namespace dockstate {

struct Placement
{
    QRect normal =
        QRect(QPoint(10, 10), QPoint(599, 399)); // left 10, top 10, right 600, bottom 400
    int nStatus = 1;                             // 1 normal, 2 minimised, 3 maximised
    int nStyle = 32769;
};
Placement ReadPlacement();
void WritePlacement(const QRect& normal, int nStatus, int nStyle, bool bTheme);

// Where the frame goes: the stored rectangle moved by the work area's origin, its corner kept at
// least an icon's size inside the screen. A stored size or corner far outside any screen (a
// screen since removed, a hand-edited file) is brought back: at most the work area's size, the
// corner not left of or above the work area.
QRect PlaceOnScreen(const QRect& normal, const QRect& workArea, const QSize& screen,
                    const QSize& icon = QSize(32, 32));

// Auto-hide sides as stored in "Aling".
enum Side : int
{
    SideNone = 0,
    SideLeft = 4096,
    SideTop = 8192,
    SideRight = 16384,
    SideBottom = 32768
};

struct BarState
{
    QSize sizeHorz = QSize(200, 100); // docked at the top or bottom
    QSize sizeVert = QSize(200, 100); // docked at the left or right
    bool bAutoHide = false;
    int nAling = SideNone;
};
BarState ReadBar(int nId);
void WriteBar(int nId, const BarState& state);

// Restores the dock layout unless it names a bar the frame does not have (then nothing of it
// is restored) and applies each bar's stored size. Returns whether the layout was restored.
bool RestoreLayout(QMainWindow& frame, const QList<QDockWidget*>& bars, const QList<int>& ids);
// Saves the dock layout and each bar's section. states carries each bar's auto-hide part.
void SaveLayout(QMainWindow& frame, const QList<QDockWidget*>& bars, const QList<int>& ids,
                const QList<BarState>& states);

} // namespace dockstate
