#include "NetbiosStatus.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace nbstat {

namespace {

using Clock = std::chrono::steady_clock;
constexpr quint16 kPort = 137;
constexpr int kNameLength = 34;  // length byte, 32 encoded characters, the root label
constexpr int kEntryLength = 18; // 15 characters, type, flags

quint16 Word(const QByteArray& b, int at)
{
    return static_cast<quint16>((static_cast<quint8>(b[at]) << 8) | static_cast<quint8>(b[at + 1]));
}

} // namespace

QByteArray StatusRequest(quint16 nId)
{
    QByteArray q;
    q.append(static_cast<char>(nId >> 8)).append(static_cast<char>(nId & 0xff));
    q.append("\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00", 10); // a query, one question
    // The name "*" padded with NULs, in NetBIOS's first-level encoding.
    q.append(static_cast<char>(32));
    for (int i = 0; i < 16; ++i) {
        const quint8 c = i == 0 ? '*' : 0;
        q.append(static_cast<char>('A' + (c >> 4))).append(static_cast<char>('A' + (c & 0x0f)));
    }
    q.append('\0');
    q.append("\x00\x21\x00\x01", 4); // NBSTAT, IN
    return q;
}

QString WorkgroupFromAnswer(const QByteArray& a, quint16* pId)
{
    if (a.size() < 12)
        return {};
    if (pId)
        *pId = Word(a, 0);
    // A response (top bit), no error, one answer.
    if (!(static_cast<quint8>(a[2]) & 0x80) || (static_cast<quint8>(a[3]) & 0x0f) != 0 ||
        Word(a, 6) < 1)
        return {};
    int at = 12;
    // The answer's name: in full, or a pointer to it.
    if (at < a.size() && (static_cast<quint8>(a[at]) & 0xc0) == 0xc0)
        at += 2;
    else
        at += kNameLength;
    if (at + 10 > a.size() || Word(a, at) != 0x21)
        return {};
    const int nData = Word(a, at + 8);
    at += 10;
    if (at + nData > a.size() || nData < 1)
        return {};
    const int nNames = static_cast<quint8>(a[at]);
    ++at;
    for (int i = 0; i < nNames && at + kEntryLength <= a.size(); ++i, at += kEntryLength) {
        const quint8 type = static_cast<quint8>(a[at + 15]);
        const bool bGroup = static_cast<quint8>(a[at + 16]) & 0x80;
        if (!bGroup || type != 0x00)
            continue;
        // Names travel in the OEM code page; workgroup names are plain ASCII in practice.
        const QString name = QString::fromLatin1(a.constData() + at, 15).trimmed();
        if (!name.isEmpty() && name[0].isPrint())
            return name;
    }
    return {};
}

std::map<QString, QString> Workgroups(const QStringList& addresses, int msTotal,
                                      const CancelToken& cancel)
{
    std::map<QString, QString> found;
    if (addresses.isEmpty() || msTotal <= 0)
        return found;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return found;
    // One transaction id per address: the answer's id says who answered, whatever its source.
    std::vector<sockaddr_in> to;
    std::size_t nValid = 0;
    for (const QString& address : addresses) {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(kPort);
        if (::inet_pton(AF_INET, address.toLatin1().constData(), &sa.sin_addr) == 1) {
            to.push_back(sa);
            ++nValid;
        } else
            to.push_back(sockaddr_in{});
    }
    const quint16 nBase = static_cast<quint16>(Clock::now().time_since_epoch().count() & 0x7fff);
    auto send = [&] {
        for (std::size_t i = 0; i < to.size(); ++i) {
            if (to[i].sin_family != AF_INET || found.count(addresses[int(i)]))
                continue;
            const QByteArray q = StatusRequest(static_cast<quint16>(nBase + i));
            ::sendto(fd, q.constData(), static_cast<std::size_t>(q.size()), MSG_NOSIGNAL,
                     reinterpret_cast<const sockaddr*>(&to[i]), sizeof to[i]);
        }
    };
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::milliseconds(msTotal);
    auto lastSend = start;
    send();
    std::size_t nAnswered = 0;
    char buf[2048];
    while (nAnswered < nValid && !cancel.Cancelled()) {
        const auto now = Clock::now();
        if (now >= deadline)
            break;
        // UDP may lose a question: ask again halfway.
        if (now - lastSend >= std::chrono::milliseconds(msTotal / 2) && lastSend == start) {
            send();
            lastSend = now;
        }
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 20);
        // The deadline and the abort per packet: a flood does not keep this loop.
        for (int nPackets = 0; nPackets < 256; ++nPackets) {
            if (Clock::now() >= deadline || cancel.Cancelled())
                break;
            sockaddr_in from{};
            socklen_t nFrom = sizeof from;
            const ssize_t n =
                ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &nFrom);
            if (n <= 0)
                break;
            quint16 nId = 0;
            const QString wg = WorkgroupFromAnswer(QByteArray(buf, int(n)), &nId);
            const std::size_t i = static_cast<quint16>(nId - nBase);
            // Only the host that was asked, from the address it was asked at.
            if (i >= to.size() || from.sin_addr.s_addr != to[i].sin_addr.s_addr)
                continue;
            const QString& address = addresses[int(i)];
            if (found.count(address))
                continue;
            ++nAnswered;
            if (!wg.isEmpty())
                found[address] = wg;
            else
                found[address] = QString(); // answered, no workgroup: not asked again
        }
    }
    ::close(fd);
    for (auto it = found.begin(); it != found.end();)
        it = it->second.isEmpty() ? found.erase(it) : std::next(it);
    return found;
}

} // namespace nbstat
