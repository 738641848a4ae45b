#include "CSearchDlg.h"

#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>

CSearchDlg::CSearchDlg(QWidget* parent) : QWidget(parent)
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
    m_wndAnimation->setFixedSize(40, 40);
    m_wndAnimation->setAttribute(Qt::WA_TranslucentBackground);
    m_animTimer = new QTimer(this);
    m_animTimer->setInterval(90);
    connect(m_animTimer, &QTimer::timeout, this, [this] {
        m_nFrame = (m_nFrame + 1) % 8;
        m_wndAnimation->setPixmap(QPixmap(QStringLiteral(":/images/busy%1.png").arg(m_nFrame)));
    });
    m_wndAnimation->hide();
    m_wndAnimation->setEnabled(false);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(2, 2, 2, 2);
    grid->setSpacing(3);
    grid->addWidget(labelSearch, 0, 0, 1, 2);
    grid->addWidget(m_editSearch, 1, 0);
    grid->addWidget(m_wndSearchButton, 1, 1);
    grid->addWidget(labelContaining, 2, 0, 1, 2);
    grid->addWidget(m_editContaining, 3, 0, 1, 2);
    grid->addWidget(m_wndTree, 4, 0, 1, 2);
    grid->addWidget(m_wndDiscover, 5, 0, 1, 2);
    grid->setRowStretch(4, 1);
    grid->setColumnStretch(0, 1);

    SetSearching(false);
    connect(m_wndSearchButton, &QPushButton::clicked, this, &CSearchDlg::ToggleSearchRequested);
    connect(m_editSearch, &QLineEdit::returnPressed, this, &CSearchDlg::ToggleSearchRequested);
    connect(m_editContaining, &QLineEdit::returnPressed, this, &CSearchDlg::ToggleSearchRequested);
    connect(m_wndDiscover, &QPushButton::clicked, this, &CSearchDlg::DiscoverRequested);
    connect(m_wndTree, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        emit TreeContextMenuRequested(m_wndTree->viewport()->mapToGlobal(pos));
    });
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

void CSearchDlg::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
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
