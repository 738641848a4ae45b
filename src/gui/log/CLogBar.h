#pragma once

#include <QDockWidget>

class LogModel;
class QTableView;

// The "Network Log" docking bar: the log list filling the bar. GUI-thread object.
class CLogBar : public QDockWidget
{
    Q_OBJECT
public:
    CLogBar(LogModel* model, QWidget* parent);

    QTableView* List() const { return m_wndLogList; }
    // Scrolls so that the last row is fully visible.
    void EnsureLastVisible();

signals:
    void ContextMenuRequested(const QPoint& globalPos);

private:
    QTableView* m_wndLogList = nullptr;
};
