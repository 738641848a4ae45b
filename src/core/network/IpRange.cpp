#include "IpRange.h"

namespace iprange {

std::optional<quint32> FromFields(const QStringList& fields)
{
    if (fields.size() != 4)
        return std::nullopt;
    quint32 value = 0;
    for (const QString& f : fields) {
        const QString t = f.trimmed();
        uint n = 0;
        if (!t.isEmpty()) {
            bool ok = false;
            n = t.toUInt(&ok, 10);
            if (!ok || n > 255 || t.size() > 3)
                return std::nullopt;
        }
        value = (value << 8) | n;
    }
    return value;
}

std::optional<quint32> FromText(const QString& text)
{
    return FromFields(text.split(QLatin1Char('.')));
}

QString ToText(quint32 a)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(a >> 24)
        .arg((a >> 16) & 0xff)
        .arg((a >> 8) & 0xff)
        .arg(a & 0xff);
}

} // namespace iprange
