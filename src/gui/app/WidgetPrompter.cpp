#include "WidgetPrompter.h"

#include "network/CLoginDlg.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>

Prompter::Answer WidgetPrompter::Message(const QString& text, const QString& caption, Icon icon,
                                         Buttons buttons)
{
    QMessageBox box(m_pParent);
    box.setWindowTitle(caption);
    box.setText(text);
    switch (icon) {
    case Information:
        box.setIcon(QMessageBox::Information);
        break;
    case Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case Question:
        box.setIcon(QMessageBox::Question);
        break;
    case NoIcon:
        break;
    }
    switch (buttons) {
    case Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Yes:
        return AnswerYes;
    case QMessageBox::No:
        return AnswerNo;
    case QMessageBox::Cancel:
        return AnswerCancel;
    default:
        return AnswerOk;
    }
}

QString WidgetPrompter::GetSaveFileName(const QString& caption, const QString& suggested,
                                        const QString& filter, const QString& strSuffix)
{
    QFileDialog dlg(m_pParent, caption, suggested, filter);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    // The dialog adds the suffix itself, so its overwrite question names the file written.
    dlg.setDefaultSuffix(strSuffix);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return QString();
    QString path = dlg.selectedFiles().constFirst();
    // A desktop's own dialog may hand the typed name back as it is; the suffix is added
    // here then, and the question asked here about the file that would be replaced.
    if (!strSuffix.isEmpty() && QFileInfo(path).suffix().isEmpty()) {
        path += QLatin1Char('.') + strSuffix;
        if (QFileInfo::exists(path) &&
            Message(QFileDialog::tr("%1 already exists.\nDo you want to replace it?")
                        .arg(QFileInfo(path).fileName()),
                    caption, Warning, YesNo) != AnswerYes)
            return QString();
    }
    return path;
}

QString WidgetPrompter::GetOpenFileName(const QString& caption, const QString& filter)
{
    return QFileDialog::getOpenFileName(m_pParent, caption, QString(), filter);
}

QString WidgetPrompter::GetExistingDirectory(const QString& caption)
{
    return QFileDialog::getExistingDirectory(m_pParent, caption);
}

bool WidgetPrompter::OpenUrl(const QUrl& url, bool bQuiet)
{
    // xdg-open says whether the desktop could open the URL only in its exit code (3: no
    // application for it), which QDesktopServices does not pass on.
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty())
        return QDesktopServices::openUrl(url);
    auto* process = new QProcess;
    QObject::connect(process, &QProcess::finished, process,
                     [process, url, bQuiet,
                      parent = QPointer<QWidget>(m_pParent)](int code, QProcess::ExitStatus) {
                         process->deleteLater();
                         if (code == 0 || bQuiet)
                             return;
                         QMessageBox::warning(parent, QObject::tr("Brindlecove"),
                                              QObject::tr("No application could open %1.")
                                                  .arg(url.toDisplayString(QUrl::PreferLocalFile)));
                     });
    process->start(opener, {url.toString(QUrl::FullyEncoded)});
    if (!process->waitForStarted(3000)) {
        process->deleteLater();
        if (!bQuiet)
            QMessageBox::warning(m_pParent, QObject::tr("Brindlecove"),
                                 QObject::tr("No application could open %1.")
                                     .arg(url.toDisplayString(QUrl::PreferLocalFile)));
        return false;
    }
    return true;
}

fileops::Clash WidgetPrompter::AskClash(const QString& target, bool* pApplyToAll)
{
    QMessageBox box(m_pParent);
    box.setWindowTitle(QObject::tr("Brindlecove"));
    box.setIcon(QMessageBox::Question);
    box.setText(QObject::tr("%1 already exists.").arg(target));
    QPushButton* replace = box.addButton(QObject::tr("&Replace"), QMessageBox::AcceptRole);
    QPushButton* skip = box.addButton(QObject::tr("&Skip"), QMessageBox::RejectRole);
    QPushButton* both = box.addButton(QObject::tr("&Keep both"), QMessageBox::ActionRole);
    box.addButton(QMessageBox::Cancel);
    auto* all = new QCheckBox(QObject::tr("Do the same for the other files"), &box);
    box.setCheckBox(all);
    box.setDefaultButton(skip);
    box.exec();
    *pApplyToAll = all->isChecked();
    if (box.clickedButton() == replace)
        return fileops::Clash::Replace;
    if (box.clickedButton() == skip)
        return fileops::Clash::Skip;
    if (box.clickedButton() == both)
        return fileops::Clash::KeepBoth;
    return fileops::Clash::Cancel;
}

bool WidgetPrompter::AskLogin(const QString& server, const QString& reason,
                              const QString& strLastUser, smb::Logins::Typed* pTyped,
                              const std::function<bool()>& fnAbandoned)
{
    CLoginDlg dlg(server, reason, strLastUser, m_pParent);
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &dlg, [&] {
        if (fnAbandoned && fnAbandoned())
            dlg.reject();
    });
    watch.start(100);
    if (dlg.exec() != QDialog::Accepted)
        return false;
    *pTyped = dlg.Typed();
    return true;
}
