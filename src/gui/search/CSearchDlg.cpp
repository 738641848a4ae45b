#include "CSearchDlg.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QMouseEvent>
#include <QTreeView>

#include <algorithm>

CSearchDlg::CSearchDlg(QWidget* parent) : CResizeDlg(parent)
{
    setObjectName(QStringLiteral("SearchDlg"));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);

    auto* labelSearch = new QLabel(tr("Search for files (wildcards allowed):"), this);
    m_editSearch = new QLineEdit(this);
    m_editSearch->setObjectName(QStringLiteral("editSearch"));
    m_wndSearchButton = new QPushButton(this);
    m_wndSearchButton->setObjectName(QStringLiteral("btnSearch"));
    auto* labelContaining = new QLabel(tr("Containing text (optionally):"), this);
    m_editContaining = new QLineEdit(this);
    m_editContaining->setObjectName(QStringLiteral("editContaining"));
    m_wndTree = new QTreeView(this);
    m_wndTree->setObjectName(QStringLiteral("treeNetwork"));
    m_wndTree->setHeaderHidden(true);
    m_wndTree->setRootIsDecorated(true);
    m_wndTree->setUniformRowHeights(true);
    m_wndTree->setIconSize(QSize(16, 16));
    m_wndTree->setContextMenuPolicy(Qt::CustomContextMenu);
    m_wndDiscover = new QPushButton(tr("Discover"), this);
    m_wndDiscover->setObjectName(QStringLiteral("btnDiscover"));
    m_wndDiscover->setToolTip(tr("Discover Network tree"));
    m_wndAnimation = new QLabel(this);
    m_wndAnimation->setObjectName(QStringLiteral("animDiscover"));
    m_wndAnimation->setAlignment(Qt::AlignCenter);
    m_wndAnimation->setAttribute(Qt::WA_TranslucentBackground);
    m_animTimer = new QTimer(this);
    m_animTimer->setInterval(90);
    connect(m_animTimer, &QTimer::timeout, this, [this] {
        m_nFrame = (m_nFrame + 1) % 8;
        m_wndAnimation->setPixmap(QPixmap(QStringLiteral(":/images/busy%1.png").arg(m_nFrame)));
    });
    m_wndAnimation->hide();
    m_wndAnimation->setEnabled(false);

    // The template, in dialog units of the dialog's font.
    const QFontMetrics fm(font());
    // Horizontal units from the average width of the letters, as dialog templates count them.
    const double duX = (fm.horizontalAdvance(QStringLiteral(
                            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ")) /
                            26.0 +
                        1) /
                       2 / 4.0;
    const double duY = fm.height() / 8.0;
    auto place = [&](QWidget* w, int x, int y, int cx, int cy) {
        w->setGeometry(qRound(x * duX), qRound(y * duY), qRound(cx * duX), qRound(cy * duY));
    };
    place(labelSearch, 5, 2, 114, 8);
    place(m_editSearch, 1, 13, 105, 14);
    place(m_wndSearchButton, 107, 13, 49, 14);
    place(labelContaining, 5, 28, 91, 8);
    place(m_editContaining, 1, 37, 153, 14);
    place(m_wndTree, 0, 52, 155, 144);
    place(m_wndDiscover, 0, 197, 155, 14);
    place(m_wndAnimation, 56, 87, 40, 33);
    // Large enough for every control: the Search button reaches one unit past the template's
    // width, and rounding may put the Discover button's bottom a pixel below its height.
    QRect used;
    for (QWidget* w : std::initializer_list<QWidget*>{m_editSearch, m_wndSearchButton,
                                                      m_editContaining, m_wndTree, m_wndDiscover})
        used |= w->geometry();
    resize(std::max(qRound(155 * duX), used.right() + 1),
           std::max(qRound(211 * duY), used.bottom() + 1));
    InitLayout();
    AddControl(m_editSearch, resize::Stretch, resize::Stretch, resize::Stay, resize::Stay);
    AddControl(m_wndSearchButton, resize::Move, resize::Move, resize::Stay, resize::Stay);
    AddControl(m_editContaining, resize::Stretch, resize::Stretch, resize::Stay, resize::Stay);
    AddControl(m_wndTree, resize::Stretch, resize::Stretch, resize::Stretch, resize::Stretch);
    AddControl(m_wndDiscover, resize::Stretch, resize::Stretch, resize::Move, resize::Move);
    // The bar may be shorter than the template, down to a tree of three rows: a docked bar that
    // insisted on the whole template height would force the frame itself to grow.
    setMinimumHeight(height() - m_wndTree->height() + 3 * (fm.height() + 4));

    SetSearching(false);
    connect(m_wndSearchButton, &QPushButton::clicked, this, &CSearchDlg::ToggleSearchRequested);
    // Enter anywhere in the bar starts or stops the search, as a dialog's default button
    // would; on a focused button it presses that button.
    for (QWidget* w : std::initializer_list<QWidget*>{this, m_editSearch, m_editContaining,
                                                      m_wndTree, m_wndSearchButton, m_wndDiscover})
        w->installEventFilter(this);

    // What a screen reader says for each control.
    labelSearch->setBuddy(m_editSearch);
    labelContaining->setBuddy(m_editContaining);
    m_editSearch->setAccessibleName(tr("Search for files"));
    m_editContaining->setAccessibleName(tr("Containing text"));
    m_wndTree->setAccessibleName(tr("Network tree"));
    m_wndTree->setAccessibleDescription(tr("Select the node to search below"));
    m_wndAnimation->setAccessibleName(tr("Discovery running"));
    setTabOrder(m_editSearch, m_wndSearchButton);
    setTabOrder(m_wndSearchButton, m_editContaining);
    setTabOrder(m_editContaining, m_wndTree);
    setTabOrder(m_wndTree, m_wndDiscover);
    connect(m_wndDiscover, &QPushButton::clicked, this, &CSearchDlg::DiscoverRequested);
    connect(m_wndTree, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        emit TreeContextMenuRequested(m_wndTree->viewport()->mapToGlobal(pos));
    });
    // The start node follows the selection the user makes: a right click only opens the menu
    // (the view would make the clicked row current, and so the start node).
    m_wndTree->viewport()->installEventFilter(this);
}

QString CSearchDlg::SearchText() const
{
    return m_editSearch->text();
}

QString CSearchDlg::ContainingText() const
{
    return m_editContaining->text();
}

void CSearchDlg::SetSearchText(const QString& text)
{
    m_editSearch->setText(text);
}

void CSearchDlg::SetContainingText(const QString& text)
{
    m_editContaining->setText(text);
}

void CSearchDlg::SetSearching(bool bSearching)
{
    m_wndSearchButton->setText(bSearching ? tr("Stop") : tr("Search"));
    m_wndSearchButton->setToolTip(bSearching ? tr("Stop Search") : tr("Begin Search"));
}

bool CSearchDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_wndTree->viewport() &&
        (event->type() == QEvent::MouseButtonPress ||
         event->type() == QEvent::MouseButtonRelease ||
         event->type() == QEvent::MouseButtonDblClick) &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton)
        return true; // the context menu event that follows still comes
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            if (auto* button = qobject_cast<QPushButton*>(watched)) {
                if (button->isEnabled())
                    button->click();
            } else {
                emit ToggleSearchRequested();
            }
            return true;
        }
    }
    return CResizeDlg::eventFilter(watched, event);
}

void CSearchDlg::resizeEvent(QResizeEvent* event)
{
    CResizeDlg::resizeEvent(event);
    CentreAnimation();
}

void CSearchDlg::CentreAnimation()
{
    const QSize anim = m_wndAnimation->size();
    m_wndAnimation->move(width() / 2 - anim.width() / 2, height() / 2 - anim.height() / 2);
    m_wndAnimation->raise();
}

void CSearchDlg::StartAnimation()
{
    m_nFrame = 0;
    m_wndAnimation->setPixmap(QPixmap(QStringLiteral(":/images/busy0.png")));
    m_wndAnimation->setEnabled(true);
    CentreAnimation();
    m_wndAnimation->show();
    m_animTimer->start();
}

void CSearchDlg::StopAnimation()
{
    m_animTimer->stop();
    m_wndAnimation->hide();
    m_wndAnimation->setEnabled(false);
}
