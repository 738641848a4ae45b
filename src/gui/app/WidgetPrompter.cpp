#include "WidgetPrompter.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>

Prompter::Answer WidgetPrompter::Message(const QString& text, const QString& caption, Icon icon,
                                         Buttons buttons)
{
    QMessageBox box(m_pParent);
    box.setWindowTitle(caption);
    box.setText(text);
    switch (icon) {
    case Information: box.setIcon(QMessageBox::Information); break;
    case Warning: box.setIcon(QMessageBox::Warning); break;
    case Critical: box.setIcon(QMessageBox::Critical); break;
    case Question: box.setIcon(QMessageBox::Question); break;
    case NoIcon: break;
    }
    switch (buttons) {
    case Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    }
    switch (box.exec()) {
    case QMessageBox::Yes: return AnswerYes;
    case QMessageBox::No: return AnswerNo;
    case QMessageBox::Cancel: return AnswerCancel;
    default: return AnswerOk;
    }
}

QString WidgetPrompter::GetSaveFileName(const QString& caption, const QString& suggested,
                                        const QString& filter)
{
    return QFileDialog::getSaveFileName(m_pParent, caption, suggested, filter);
}

QString WidgetPrompter::GetOpenFileName(const QString& caption, const QString& filter)
{
    return QFileDialog::getOpenFileName(m_pParent, caption, QString(), filter);
}

QString WidgetPrompter::GetExistingDirectory(const QString& caption)
{
    return QFileDialog::getExistingDirectory(m_pParent, caption);
}

bool WidgetPrompter::OpenUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}
