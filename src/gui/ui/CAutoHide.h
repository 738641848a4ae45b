#pragma once

#include <QHash>
#include <QObject>

class QDockWidget;
class QMainWindow;
class QTimer;
class QToolBar;
class QToolButton;

// Auto-hide for docking bars: the pin in a bar's caption collapses the bar to a tab on its side
// of the frame; while the pointer is on the tab the bar shows over the frame, and it goes again
// when the pointer has left both. The pin of a shown bar docks it back on its side. GUI thread.
class CAutoHide : public QObject
{
    Q_OBJECT
public:
    explicit CAutoHide(QMainWindow* frame);

    // Gives the bar a caption with a pin button.
    void Manage(QDockWidget* bar);
    // Collapses a docked bar to a tab on side (a Qt dock area), or docks it back.
    void Collapse(QDockWidget* bar, Qt::DockWidgetArea side);
    void Restore(QDockWidget* bar);
    bool IsCollapsed(QDockWidget* bar) const { return m_collapsed.contains(bar); }
    Qt::DockWidgetArea SideOf(QDockWidget* bar) const
    {
        return m_collapsed.value(bar, Qt::NoDockWidgetArea);
    }
    // Shows a collapsed bar over the frame (the pointer is on its tab).
    void Popup(QDockWidget* bar);
    // The bar as View shows and hides it: a collapsed bar is shown by its tab (and pops out
    // from there), a docked or floating one by itself.
    bool IsShown(QDockWidget* bar) const;
    void SetShown(QDockWidget* bar, bool bShown);
    QToolButton* TabOf(QDockWidget* bar) const { return m_tabs.value(bar); }
    QToolBar* Strip(Qt::DockWidgetArea side) const { return m_strips.value(side); }

    // Shows the strips that carry tabs and hides the others.
    void SyncStrips();
    // "Aling" values of the sides.
    static int AlingOf(Qt::DockWidgetArea side);
    static Qt::DockWidgetArea SideOfAling(int nAling);

private:
    void OnPin(QDockWidget* bar);
    void CheckPointer();
    QToolBar* StripFor(Qt::DockWidgetArea side);

    QMainWindow* m_frame;
    QHash<QDockWidget*, Qt::DockWidgetArea> m_collapsed;
    QHash<QDockWidget*, QToolButton*> m_tabs;
    QHash<QDockWidget*, class QAction*> m_tabActions; // the tabs' places in their strips
    QHash<int, QToolBar*> m_strips;
    QDockWidget* m_pShown = nullptr;
    QTimer* m_leaveTimer;
};
