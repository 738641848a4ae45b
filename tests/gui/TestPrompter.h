#pragma once

#include "app/Prompter.h"

#include <QList>
#include <QStringList>
#include <QUrl>

#include <functional>

// Answers every prompt from a script and records what was asked.
class TestPrompter : public Prompter
{
public:
    struct Asked
    {
        QString strText;
        QString strCaption;
        Icon icon;
        Buttons buttons;
    };
    QList<Asked> messages;
    QList<QUrl> opened;
    QList<bool> quiet;
    QStringList fileDialogs;
    Answer nextAnswer = AnswerNo;
    QString strNextFile;
    bool bOpenResult = true;
    std::function<void(const Asked&)> onMessage;

    Answer Message(const QString& text, const QString& caption, Icon icon, Buttons buttons) override
    {
        messages.append({text, caption, icon, buttons});
        if (onMessage)
            onMessage(messages.back());
        return buttons == Ok ? AnswerOk : nextAnswer;
    }
    QStringList saveSuffixes;
    QString GetSaveFileName(const QString& caption, const QString&, const QString&,
                            const QString& strSuffix) override
    {
        fileDialogs << caption;
        saveSuffixes << strSuffix;
        return strNextFile;
    }
    QString GetOpenFileName(const QString& caption, const QString&) override
    {
        fileDialogs << caption;
        return strNextFile;
    }
    QString GetExistingDirectory(const QString& caption) override
    {
        fileDialogs << caption;
        return strNextFile;
    }
    QList<fileops::Clash> clashAnswers; // taken in turn; Skip when empty
    bool bClashApplyAll = false;
    QStringList clashes;
    fileops::Clash AskClash(const QString& target, bool* pApplyToAll) override
    {
        clashes << target;
        *pApplyToAll = bClashApplyAll;
        return clashAnswers.isEmpty() ? fileops::Clash::Skip : clashAnswers.takeFirst();
    }
    // Login questions: answered from logins in turn (cancelled when empty) unless onLogin is set.
    struct LoginAsked
    {
        QString strServer, strReason, strLastUser;
    };
    QList<LoginAsked> loginQuestions;
    QList<smb::Logins::Typed> logins;
    std::function<bool(smb::Logins::Typed*, const std::function<bool()>&)> onLogin;
    bool AskLogin(const QString& server, const QString& reason, const QString& strLastUser,
                  smb::Logins::Typed* pTyped, const std::function<bool()>& fnAbandoned) override
    {
        loginQuestions.append({server, reason, strLastUser});
        if (onLogin)
            return onLogin(pTyped, fnAbandoned);
        if (logins.isEmpty())
            return false;
        *pTyped = logins.takeFirst();
        return true;
    }
    bool OpenUrl(const QUrl& url, bool bQuiet = false) override
    {
        quiet << bQuiet;
        opened << url;
        return bOpenResult;
    }
};
