#include "Settings.h"

#include "smb/HelperPool.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>

namespace settings {
namespace {
QSettings Open()
{
    return QSettings(QString::fromLatin1(kOrganization), QString::fromLatin1(kApplication));
}

// The settings hold the containing text the user searched for: readable by its owner only, the
// folder that holds the file too (the file is replaced, not rewritten, when it is saved).
void KeepPrivate(const QSettings& s)
{
    const QFileInfo file(s.fileName());
    if (file.dir().exists())
        QFile::setPermissions(file.absolutePath(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (file.exists())
        QFile::setPermissions(file.absoluteFilePath(), QFile::ReadOwner | QFile::WriteOwner);
}
} // namespace

SearchTexts ReadSearchTexts()
{
    QSettings s = Open();
    SearchTexts t;
    s.beginGroup(QStringLiteral("Brindlecove"));
    t.strSearch = s.value(QStringLiteral("strSearch"), QStringLiteral("*")).toString();
    t.strContainingText = s.value(QStringLiteral("strContainingText"), QString()).toString();
    s.endGroup();
    return t;
}

void WriteSearchTexts(const SearchTexts& texts)
{
    QSettings s = Open();
    s.beginGroup(QStringLiteral("Brindlecove"));
    s.setValue(QStringLiteral("strSearch"), texts.strSearch);
    s.setValue(QStringLiteral("strContainingText"), texts.strContainingText);
    s.endGroup();
    KeepPrivate(s);
    s.sync();
    KeepPrivate(s);
}

void ApplyHelperLimits()
{
    QSettings s = Open();
    s.beginGroup(QStringLiteral("SmbHelpers"));
    smb::PoolLimits l;
    auto read = [&s](const char* key, int fallback, int lo, int hi) {
        bool ok = false;
        const int v = s.value(QString::fromLatin1(key)).toInt(&ok);
        return ok ? std::clamp(v, lo, hi) : fallback;
    };
    l.nMaxHelpers = read("nMaxHelpers", l.nMaxHelpers, 1, 256);
    l.nMinHelpers = read("nMinHelpers", l.nMinHelpers, 1, 256);
    l.nMaxPerHost = read("nMaxPerHost", l.nMaxPerHost, 1, 64);
    l.msConnect = read("msConnect", l.msConnect, 100, 60000);
    l.msAnswer = read("msAnswer", l.msAnswer, 100, 60000);
    l.msRequest = read("msRequest", l.msRequest, 500, 600000);
    l.msIdle = read("msIdle", l.msIdle, 0, 3600000);
    l.nMaxConnections = read("nMaxConnections", l.nMaxConnections, 1, 256);
    l.nMaxEntries = read("nMaxEntries", l.nMaxEntries, 1, 100000000);
    l.msRequestTotal = read("msRequestTotal", l.msRequestTotal, 1000, 86400000);
    s.endGroup();
    smb::HelperPool::Instance()->SetLimits(l);
}

int WsDiscoveryMs()
{
    QSettings s = Open();
    bool ok = false;
    const int ms = s.value(QStringLiteral("Discovery/msWsDiscovery")).toInt(&ok);
    return ok ? std::clamp(ms, 0, 30000) : 3000;
}

int MdnsMs()
{
    QSettings s = Open();
    bool ok = false;
    const int ms = s.value(QStringLiteral("Discovery/msMdns")).toInt(&ok);
    return ok ? std::clamp(ms, 0, 30000) : 3000;
}

QString IndexLocation()
{
    return Open().value(QStringLiteral("Index/Location")).toString().trimmed();
}

} // namespace settings
