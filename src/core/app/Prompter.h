#pragma once

#include "results/FileOps.h"
#include "smb/Logins.h"

#include <QString>
#include <QUrl>

#include <functional>

// Every message box, file dialog and desktop hand-off of the program goes through one
// Prompter, so tests can answer them without a screen. GUI-thread object.
class Prompter
{
public:
    enum Icon
    {
        NoIcon,
        Information,
        Warning,
        Critical,
        Question
    };
    enum Buttons
    {
        Ok,
        YesNo,
        OkCancel
    };
    enum Answer
    {
        AnswerOk,
        AnswerYes,
        AnswerNo,
        AnswerCancel
    };

    virtual ~Prompter() = default;
    virtual Answer Message(const QString& text, const QString& caption, Icon icon,
                           Buttons buttons) = 0;
    // Empty result: the user cancelled. A name typed without a suffix gets strSuffix (no dot)
    // before the overwrite question is asked, so the question is about the file written.
    virtual QString GetSaveFileName(const QString& caption, const QString& suggested,
                                    const QString& filter, const QString& strSuffix) = 0;
    virtual QString GetOpenFileName(const QString& caption, const QString& filter) = 0;
    virtual QString GetExistingDirectory(const QString& caption) = 0;
    // Hands a URL (https:, file:, smb:) to the desktop's default application. False when it
    // could not be handed over. Unless bQuiet, a failure that shows only later (no application
    // for the URL) is reported to the user.
    virtual bool OpenUrl(const QUrl& url, bool bQuiet = false) = 0;
    // A file to copy or move exists at target: replace it, skip, keep both, or cancel all.
    virtual fileops::Clash AskClash(const QString& target, bool* pApplyToAll) = 0;
    // "Connect to \\SERVER": false when the user cancelled. When fnAbandoned turns true
    // (nobody waits for the answer any more: the search stopped) the question goes away as
    // cancelled.
    virtual bool AskLogin(const QString& server, const QString& reason, const QString& strLastUser,
                          smb::Logins::Typed* pTyped, const std::function<bool()>& fnAbandoned) = 0;
};
