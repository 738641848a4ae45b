#pragma once

#include "ResizeRules.h"

#include <QHash>
#include <QWidget>

#include <functional>
#include <vector>

class QLabel;

// A dialog whose controls follow its size by one rule per edge (see resize::Rule). GUI-thread
// object. A derived dialog places its controls, calls InitLayout() and then AddControl() for
// each control that should follow; every size change then lays them out again in one go. The
// dialog cannot be made smaller than it was at InitLayout(); a size grip sits in the
// bottom-right corner.
class CResizeDlg : public QWidget
{
    Q_OBJECT
public:
    explicit CResizeDlg(QWidget* parent = nullptr);

    // options: bit 0 exclude from erase, bit 1 repaint on move.
    void AddControl(QWidget* control, int left, int right, int top, int bottom, int options = 0,
                    double fxPos = -1, double fxSize = -1, double fyPos = -1, double fySize = -1);
    const std::vector<resize::Record>& Records() const { return m_records; }
    QWidget* SizeGrip() const;

    // Where the pointer is, for the guess of the moving edge (tests replace it).
    std::function<QPoint()> m_fnPointer;
    bool m_bWidthMayChange = true;
    bool m_bHeightMayChange = true;

protected:
    void InitLayout();
    void resizeEvent(QResizeEvent* event) override;

private:
    QRect ClientOnScreen() const;

    std::vector<resize::Record> m_records;
    QHash<int, QWidget*> m_controls;
    QRect m_rcLast;
    QRect m_rcInitial;
    int m_nMinWidth = 32;
    int m_nMinHeight = 32;
    QLabel* m_wndSizeGrip = nullptr;
    int m_nNextId = 1000;
};
