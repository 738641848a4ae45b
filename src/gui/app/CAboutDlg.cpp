#include "CAboutDlg.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("About Brindlecove"));
    auto* icon = new QLabel(this);
    icon->setPixmap(QPixmap(QStringLiteral(":/images/brindlecove.png")));
    auto* banner = new QLabel(this);
    banner->setPixmap(QPixmap(QStringLiteral(":/images/banner.png")));
    auto* text = new QLabel(tr("Brindlecove Version 2.1"), this);
    text->setObjectName(QStringLiteral("versionText"));
    auto* ok = new QPushButton(tr("&OK"), this);
    ok->setObjectName(QStringLiteral("btnOk"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* grid = new QGridLayout(this);
    grid->addWidget(icon, 0, 0, Qt::AlignTop);
    grid->addWidget(banner, 0, 1);
    grid->addWidget(text, 1, 1);
    grid->addWidget(ok, 2, 1, Qt::AlignRight);
}
