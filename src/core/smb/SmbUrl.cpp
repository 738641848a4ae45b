#include "SmbUrl.h"

#include <QStringList>

namespace smb {

QByteArray EncodeComponent(const QString& component)
{
    return component.toUtf8().toPercentEncoding();
}

QByteArray ServerUrl(const QString& name)
{
    return QByteArrayLiteral("smb://") + EncodeComponent(name);
}

QByteArray UncToUrl(const QString& unc)
{
    QString s = unc;
    s.replace(QLatin1Char('/'), QLatin1Char('\\'));
    if (!s.startsWith(QLatin1String("\\\\")))
        return {};
    const QStringList parts = s.mid(2).split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return {};
    QByteArray url = QByteArrayLiteral("smb:/");
    for (const QString& part : parts) {
        url += '/';
        url += EncodeComponent(part);
    }
    return url;
}

} // namespace smb
