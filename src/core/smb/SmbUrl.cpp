#include "SmbUrl.h"

#include "TcpProbe.h"

#include <QHash>
#include <QStringList>

#include <netdb.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace smb {

namespace {
std::mutex g_addressMutex;
QHash<QString, QString>& Addresses()
{
    static QHash<QString, QString> s_addresses; // upper-case name -> address
    return s_addresses;
}

// Which of names the system's resolver (hosts file, DNS) knows, all asked at once on threads
// of their own, so that a DNS server that does not answer costs at most msWait in all.
std::vector<bool> ResolverKnows(const QStringList& names, int msWait)
{
    struct Asks
    {
        std::mutex mutex;
        std::condition_variable done;
        std::vector<int> answers; // -1 not yet, 0 unknown, 1 known
        int nLeft = 0;
    };
    auto asks = std::make_shared<Asks>();
    asks->answers.assign(static_cast<std::size_t>(names.size()), -1);
    constexpr qsizetype kMaxLookups = 256; // beyond, an announcement is taken as it is
    for (qsizetype i = 0; i < names.size() && i < kMaxLookups; ++i) {
        try {
            std::thread([asks, i, host = names[i].toUtf8()] {
                addrinfo hints{};
                hints.ai_family = AF_INET;
                hints.ai_socktype = SOCK_STREAM;
                addrinfo* list = nullptr;
                const bool bKnown = ::getaddrinfo(host.constData(), nullptr, &hints, &list) == 0;
                if (list)
                    ::freeaddrinfo(list);
                std::lock_guard lock(asks->mutex);
                asks->answers[static_cast<std::size_t>(i)] = bKnown ? 1 : 0;
                --asks->nLeft;
                asks->done.notify_all();
            }).detach();
            std::lock_guard lock(asks->mutex);
            ++asks->nLeft;
        } catch (const std::system_error&) {
            break; // no thread to be had: the rest are taken as announced
        }
    }
    std::unique_lock lock(asks->mutex);
    asks->done.wait_for(lock, std::chrono::milliseconds(msWait), [&] { return asks->nLeft <= 0; });
    std::vector<bool> known;
    for (int a : asks->answers)
        known.push_back(a == 1);
    return known;
}

} // namespace

std::vector<Remembered> RememberHostAddresses(const std::vector<NameAddress>& announced,
                                              int msResolve)
{
    std::vector<Remembered> out(announced.size(), Remembered::Yes);
    QStringList ask;
    std::vector<std::size_t> asked;
    {
        std::lock_guard lock(g_addressMutex);
        for (std::size_t i = 0; i < announced.size(); ++i) {
            const auto& [name, address] = announced[i];
            if (name.isEmpty() || IsNumericAddress(name)) {
                out[i] = Remembered::NumericName;
                continue;
            }
            const auto it = Addresses().constFind(name.toUpper());
            if (it != Addresses().constEnd()) {
                out[i] = *it == address ? Remembered::Same : Remembered::OtherAddress;
                continue;
            }
            ask << name;
            asked.push_back(i);
        }
    }
    const std::vector<bool> known = ResolverKnows(ask, msResolve);
    std::lock_guard lock(g_addressMutex);
    for (std::size_t k = 0; k < asked.size(); ++k) {
        const std::size_t i = asked[k];
        const auto& [name, address] = announced[i];
        const QString key = name.toUpper();
        const auto it = Addresses().constFind(key);
        if (known[k])
            out[i] = Remembered::KnownName;
        else if (it != Addresses().constEnd())
            out[i] = *it == address ? Remembered::Same : Remembered::OtherAddress;
        else if (Addresses().size() < 100000)
            Addresses().insert(key, address);
    }
    return out;
}

Remembered RememberHostAddress(const QString& name, const QString& address, int msResolve)
{
    return RememberHostAddresses({{name, address}}, msResolve).front();
}

QString RememberedAddress(const QString& name)
{
    std::lock_guard lock(g_addressMutex);
    return Addresses().value(name.toUpper());
}

QStringList NamesAnnouncedAt(const QString& address)
{
    std::lock_guard lock(g_addressMutex);
    return Addresses().keys(address);
}

QString ResolveHost(const QString& name)
{
    std::lock_guard lock(g_addressMutex);
    return Addresses().value(name.toUpper(), name);
}

std::optional<SmbPath> SmbPath::Parse(const QString& unc)
{
    QString s = unc;
    s.replace(QLatin1Char('/'), QLatin1Char('\\'));
    if (!s.startsWith(QLatin1String("\\\\")))
        return std::nullopt;
    const QStringList parts = s.mid(2).split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return std::nullopt;
    SmbPath p = OfServer(parts[0]);
    p.share = parts.value(1);
    p.folder = parts.mid(2).join(QLatin1Char('\\'));
    return p;
}

SmbPath SmbPath::OfServer(const QString& name)
{
    SmbPath p;
    p.server = name;
    p.host = ResolveHost(name);
    return p;
}

smbproto::Target SmbPath::Target() const
{
    QString path = folder;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return {host.toUtf8(), share.toUtf8(), path.toUtf8()};
}

QByteArray UncToUrl(const QString& unc)
{
    const std::optional<SmbPath> p = SmbPath::Parse(unc);
    return p ? smbproto::UrlOf(p->Target()) : QByteArray();
}

} // namespace smb
