#pragma once

#include "smb/Logins.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;

// "Connect to \\SERVER": user name (DOMAIN\user), password and "Remember", with the reason the
// server gave. GUI thread only; the password field is never read back into settings or logs.
class CLoginDlg : public QDialog
{
    Q_OBJECT
public:
    CLoginDlg(const QString& server, const QString& reason, const QString& strLastUser,
              QWidget* parent = nullptr);
    smb::Logins::Typed Typed() const;

    QLineEdit* UserEdit() const { return m_pUser; }
    QLineEdit* PasswordEdit() const { return m_pPassword; }
    QCheckBox* RememberCheck() const { return m_pRemember; }

private:
    QLabel* m_pReason = nullptr;
    QLineEdit* m_pUser = nullptr;
    QLineEdit* m_pPassword = nullptr;
    QCheckBox* m_pRemember = nullptr;
};
