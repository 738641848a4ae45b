#include "Manual.h"

#include "app/Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#ifndef BC_FEEDBACK_URL
#define BC_FEEDBACK_URL ""
#endif

namespace manual {
namespace {

QString g_override;
bool g_bOverridden = false;

bool HasIndex(const QString& folder)
{
    return QFileInfo(QDir(folder).filePath(QStringLiteral("index.html"))).isFile();
}

} // namespace

void SetFolderOverride(const QString& folder)
{
    g_override = folder;
    g_bOverridden = !folder.isEmpty();
}

QString Folder()
{
    if (g_bOverridden)
        return HasIndex(g_override) ? QDir(g_override).absolutePath() : QString();
    const QString beside = QDir(QCoreApplication::applicationDirPath())
                               .filePath(QStringLiteral("../share/brindlecove/manual"));
    if (HasIndex(beside))
        return QDir(beside).canonicalPath();
    for (const QString& data :
         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        const QString folder = QDir(data).filePath(QStringLiteral("brindlecove/manual"));
        if (HasIndex(folder))
            return QDir(folder).canonicalPath();
    }
    return {};
}

QUrl Page(const QString& name)
{
    const QString folder = Folder();
    if (folder.isEmpty())
        return {};
    const QString path = QDir(folder).filePath(name);
    return QFileInfo(path).isFile() ? QUrl::fromLocalFile(path) : QUrl();
}

QUrl FeedbackUrl()
{
    QSettings s(QString::fromLatin1(settings::kOrganization),
                QString::fromLatin1(settings::kApplication));
    const QString configured = s.value(QStringLiteral("Brindlecove/urlFeedback")).toString();
    if (!configured.trimmed().isEmpty())
        return QUrl::fromUserInput(configured.trimmed());
    const QString built = QString::fromUtf8(BC_FEEDBACK_URL);
    if (!built.isEmpty())
        return QUrl(built);
    return Page(QStringLiteral("feedback.html"));
}

} // namespace manual
