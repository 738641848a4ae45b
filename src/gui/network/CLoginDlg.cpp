#include "CLoginDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CLoginDlg::CLoginDlg(const QString& server, const QString& reason, const QString& strLastUser,
                     QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Connect to \\\\%1").arg(server));
    auto* layout = new QVBoxLayout(this);
    m_pReason = new QLabel(reason, this);
    m_pReason->setWordWrap(true);
    layout->addWidget(m_pReason);
    auto* form = new QFormLayout;
    m_pUser = new QLineEdit(strLastUser, this);
    m_pUser->setPlaceholderText(tr("DOMAIN\\user"));
    m_pPassword = new QLineEdit(this);
    m_pPassword->setEchoMode(QLineEdit::Password);
    form->addRow(tr("&User name:"), m_pUser);
    form->addRow(tr("&Password:"), m_pPassword);
    layout->addLayout(form);
    m_pRemember = new QCheckBox(tr("&Remember"), this);
    layout->addWidget(m_pRemember);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // A user name is needed; an empty password is a password.
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    auto update = [this, ok] { ok->setEnabled(!m_pUser->text().trimmed().isEmpty()); };
    connect(m_pUser, &QLineEdit::textChanged, this, update);
    update();
    (strLastUser.isEmpty() ? m_pUser : m_pPassword)->setFocus();
    setMinimumWidth(360);
}

smb::Logins::Typed CLoginDlg::Typed() const
{
    return {m_pUser->text().trimmed(), m_pPassword->text(), m_pRemember->isChecked()};
}
