#include "SmbUrl.h"

#include <QHash>
#include <QStringList>

#include <mutex>

namespace smb {

namespace {
std::mutex g_addressMutex;
QHash<QString, QString>& Addresses()
{
    static QHash<QString, QString> s_addresses; // upper-case name -> address
    return s_addresses;
}
} // namespace

void RememberHostAddress(const QString& name, const QString& address)
{
    std::lock_guard lock(g_addressMutex);
    if (Addresses().size() < 100000)
        Addresses().insert(name.toUpper(), address);
}

QString ResolveHost(const QString& name)
{
    std::lock_guard lock(g_addressMutex);
    return Addresses().value(name.toUpper(), name);
}

QByteArray HostUrl(const QString& name)
{
    return ServerUrl(ResolveHost(name));
}

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
    for (qsizetype i = 0; i < parts.size(); ++i) {
        url += '/';
        url += EncodeComponent(i == 0 ? ResolveHost(parts[i]) : parts[i]);
    }
    return url;
}

} // namespace smb
