#pragma once

#include "ui/CResizeDlg.h"

#include <QWidget>

#include <QLabel>
class QLineEdit;
class QPushButton;
class QTreeView;

// The dialog that fills the docked Search Bar: pattern box, Search/Stop button, containing-text
// box, the network tree and the Discover button, laid out from a 155 x 211 dialog-unit template
// and kept in place by the resize rules when the bar changes size (boxes and tree stretch, the
// button stays at the right edge, Discover at the bottom, the animation in the middle).
// GUI-thread object; it only reports what the user does, the frame decides what happens.
class CSearchDlg : public CResizeDlg
{
    Q_OBJECT
public:
    explicit CSearchDlg(QWidget* parent = nullptr);

    QString SearchText() const;
    QString ContainingText() const;
    void SetSearchText(const QString& text);
    void SetContainingText(const QString& text);
    // Caption "Search"/"Begin Search" while idle, "Stop"/"Stop Search" while searching.
    void SetSearching(bool bSearching);

    QTreeView* Tree() const { return m_wndTree; }
    QPushButton* SearchButton() const { return m_wndSearchButton; }
    QPushButton* DiscoverButton() const { return m_wndDiscover; }
    QLineEdit* SearchEdit() const { return m_editSearch; }
    QLineEdit* ContainingEdit() const { return m_editContaining; }
    QWidget* Animation() const { return m_wndAnimation; }
    // The busy animation over the middle of the tree, repeating until stopped.
    void StartAnimation();
    void StopAnimation();

signals:
    void ToggleSearchRequested();
    void DiscoverRequested();
    void TreeContextMenuRequested(const QPoint& globalPos);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CentreAnimation();

    QPushButton* m_wndSearchButton = nullptr;
    QLineEdit* m_editSearch = nullptr;
    QTreeView* m_wndTree = nullptr;
    QPushButton* m_wndDiscover = nullptr;
    QLabel* m_wndAnimation = nullptr;
    QLineEdit* m_editContaining = nullptr;
    class QTimer* m_animTimer = nullptr;
    int m_nFrame = 0;
};
