#pragma once

#include "app/Prompter.h"

class QWidget;

// The prompter users meet: message boxes, file dialogs and the desktop's default handler.
class WidgetPrompter : public Prompter
{
public:
    explicit WidgetPrompter(QWidget* parent = nullptr) : m_pParent(parent) {}
    void SetParent(QWidget* parent) { m_pParent = parent; }

    Answer Message(const QString& text, const QString& caption, Icon icon,
                   Buttons buttons) override;
    QString GetSaveFileName(const QString& caption, const QString& suggested, const QString& filter,
                            const QString& strSuffix) override;
    QString GetOpenFileName(const QString& caption, const QString& filter) override;
    QString GetExistingDirectory(const QString& caption) override;
    bool OpenUrl(const QUrl& url, bool bQuiet = false) override;
    fileops::Clash AskClash(const QString& target, bool* pApplyToAll) override;
    bool AskLogin(const QString& server, const QString& reason, const QString& strLastUser,
                  smb::Logins::Typed* pTyped, const std::function<bool()>& fnAbandoned) override;

private:
    QWidget* m_pParent;
};
