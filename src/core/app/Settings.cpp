#include "Settings.h"

#include "smb/HelperPool.h"

#include <QSettings>

#include <algorithm>

namespace settings {
namespace {
QSettings Open()
{
    return QSettings(QString::fromLatin1(kOrganization), QString::fromLatin1(kApplication));
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
    s.sync();
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
    l.nMaxPerHost = read("nMaxPerHost", l.nMaxPerHost, 1, 64);
    l.msConnect = read("msConnect", l.msConnect, 100, 60000);
    l.msRequest = read("msRequest", l.msRequest, 500, 600000);
    l.msIdle = read("msIdle", l.msIdle, 0, 3600000);
    s.endGroup();
    smb::HelperPool::Instance()->SetLimits(l);
}

} // namespace settings
