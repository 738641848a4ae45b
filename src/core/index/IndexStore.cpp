#include "IndexStore.h"

#include "PgIndexStore.h"
#include "SqliteIndexStore.h"
#include "app/Settings.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QUrl>

#include <mutex>

namespace shareindex {
namespace {
std::mutex g_locationMutex;
QString g_location; // --index of the command line
} // namespace

void SetLocation(const QString& location)
{
    std::lock_guard lock(g_locationMutex);
    g_location = location;
}

QString DefaultLocation()
{
    {
        std::lock_guard lock(g_locationMutex);
        if (!g_location.isEmpty())
            return g_location;
    }
    const QString forced = qEnvironmentVariable("BC_INDEX_FILE");
    if (!forced.isEmpty())
        return forced;
    const QString configured = settings::IndexLocation();
    if (!configured.isEmpty())
        return configured;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Brindlecove/index.sqlite");
}

bool IsServerLocation(const QString& location)
{
    return location.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive) ||
           location.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

QString ShownLocation(const QString& location)
{
    if (!IsServerLocation(location))
        return location;
    QUrl url(location);
    if (!url.isValid())
        return QStringLiteral("postgresql://…");
    url.setPassword(QString());
    QString shown = url.toString();
    // A password may also come as a parameter.
    static const QRegularExpression kPassword(QStringLiteral("([?&]password=)[^&]*"),
                                              QRegularExpression::CaseInsensitiveOption);
    shown.replace(kPassword, QStringLiteral("\\1…"));
    return shown;
}

std::unique_ptr<IndexStore> IndexStore::Open(const QString& location, bool bCreate, Error* pError,
                                             QString* pDetail)
{
    if (IsServerLocation(location))
        return OpenPgIndex(location, bCreate, pError, pDetail);
    return OpenSqliteIndex(location, bCreate, pError, pDetail);
}

void IndexStore::ScanMatching(const QStringList& scopes, const QStringList&, const EntryFn& fn,
                              qint64* pmsOldest)
{
    ScanBelow(scopes, fn, pmsOldest);
}

bool IndexStore::FiltersExactly(const QStringList&) const
{
    return false;
}

std::vector<const FsEntry*> IndexStore::Recordable(const std::vector<FsEntry>& entries)
{
    std::vector<const FsEntry*> now;
    now.reserve(entries.size());
    for (const FsEntry& e : entries)
        if (!e.strName.isEmpty() && e.strName != QLatin1String(".") &&
            e.strName != QLatin1String(".."))
            now.push_back(&e);
    return now;
}

bool IndexStore::SameListing(const QHash<QString, Held>& held,
                             const std::vector<const FsEntry*>& now)
{
    if (held.size() != static_cast<qsizetype>(now.size()))
        return false;
    for (const FsEntry* e : now) {
        const auto it = held.constFind(e->strName);
        if (it == held.constEnd() || it->nAttributes != e->nAttributes || it->nSize != e->nSize ||
            it->nLastWrite != e->nLastWrite)
            return false;
    }
    return true;
}

QStringList IndexStore::GoneFolders(const QString& folder, const QHash<QString, Held>& held,
                                    const std::vector<const FsEntry*>& now)
{
    QSet<QString> subsNow;
    for (const FsEntry* e : now)
        if (e->nAttributes & kAttrDirectory)
            subsNow.insert(e->strName.toCaseFolded());
    QStringList gone;
    for (auto it = held.constBegin(); it != held.constEnd(); ++it)
        if ((it->nAttributes & kAttrDirectory) && !subsNow.contains(it.key().toCaseFolded()))
            gone << folder + QLatin1Char('\\') + it.key();
    return gone;
}

QString ShareOf(const QString& folder)
{
    const qsizetype i = folder.indexOf(QLatin1Char('\\'), 2);
    if (!folder.startsWith(QLatin1String("\\\\")) || i < 0)
        return folder;
    const qsizetype j = folder.indexOf(QLatin1Char('\\'), i + 1);
    return j < 0 ? folder : folder.left(j);
}

QStringList DistinctScopes(const QStringList& scopes)
{
    QStringList seen;
    for (QString scope : scopes) {
        while (scope.endsWith(QLatin1Char('\\')) && scope.size() > 2)
            scope.chop(1);
        if (!seen.contains(scope, Qt::CaseInsensitive))
            seen << scope;
    }
    return seen;
}

bool Forget(const QString& location, QString* pDetail)
{
    if (IsServerLocation(location))
        return ForgetPgIndex(location, pDetail);
    bool bOk = true;
    for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
        QFile f(location + suffix);
        if (f.exists() && !f.remove()) {
            bOk = false;
            if (pDetail)
                *pDetail = f.errorString();
        }
    }
    return bOk;
}

} // namespace shareindex
