#include "Settings.h"

#include <QSettings>

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

} // namespace settings
