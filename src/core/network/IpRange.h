#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// IPv4 addresses as 32-bit values in host order: the first field of the dotted form is the most
// significant byte.
namespace iprange {

constexpr quint32 kMaxAddresses = 300;

// Four fields of 0 to 255; a blank field counts as 0. Empty when a field is not a number in
// that range or there are not four fields.
std::optional<quint32> FromFields(const QStringList& fields);
// "a.b.c.d" with four fields as above (blank fields allowed: "10..0.1" is 10.0.0.1).
std::optional<quint32> FromText(const QString& text);
QString ToText(quint32 address);
// A range is accepted when it holds 1 to 300 addresses: last - first, as an unsigned 32-bit
// difference, is less than 300 (a reversed range wraps to a huge difference and is refused).
inline bool Accepted(quint32 first, quint32 last)
{
    return static_cast<quint32>(last - first) < kMaxAddresses;
}

} // namespace iprange
