#include "WsDiscovery.h"

#include "app/Settings.h"
#include "smb/SmbUrl.h"

#include <QSet>
#include <QUrl>
#include <QUuid>
#include <QXmlStreamReader>

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <linux/filter.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

namespace wsd {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kGroup = "239.255.255.250";
constexpr quint16 kPort = 3702;
constexpr int kMsQuiet = 1200;                // after the last probe, answers have come
constexpr int kMsResend = 400;                // the probe goes out three times: UDP may lose it
constexpr int kMsGet = 2000;                  // one metadata Get
constexpr int kMaxHosts = 1024;               // a hostile network cannot make this grow without end
constexpr int kMaxPerSource = 8;              // computers one answering address may announce
constexpr int kPacketsPerRound = 256;         // read from one socket before the others get a turn
constexpr qsizetype kMaxSeen = 8192;          // MessageIDs remembered
constexpr qsizetype kMaxMetadata = 256 << 10; // one metadata answer
constexpr int kMaxProbes = 6;

QString NewId()
{
    return QStringLiteral("urn:uuid:") + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QByteArray Envelope(const QString& to, const QString& action, const QString& messageId,
                    const QString& extraHeader, const QString& body)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                          "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\" "
                          "xmlns:wsa=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
                          "xmlns:wsd=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\" "
                          "xmlns:wsdp=\"http://schemas.xmlsoap.org/ws/2006/02/devprof\">"
                          "<soap:Header><wsa:To>%1</wsa:To><wsa:Action>%2</wsa:Action>"
                          "<wsa:MessageID>%3</wsa:MessageID>%4</soap:Header>"
                          "<soap:Body>%5</soap:Body></soap:Envelope>")
        .arg(to, action, messageId, extraHeader, body)
        .toUtf8();
}

struct Get
{
    int fd = -1;
    QString strEndpoint;
    QString strAddress;
    QByteArray request;
    QByteArray response;
    qsizetype nSent = 0;
    bool bConnected = false;
    Clock::time_point deadline;
};

// http://A.B.C.D:PORT/PATH with a numeric IPv4 host; false for anything else.
bool SplitXAddr(const QString& xaddr, sockaddr_in* pAddr, QString* pHost, QString* pPath)
{
    const QUrl url(xaddr);
    if (url.scheme() != QLatin1String("http"))
        return false;
    in_addr a{};
    if (::inet_pton(AF_INET, url.host().toLatin1().constData(), &a) != 1)
        return false;
    *pAddr = sockaddr_in{};
    pAddr->sin_family = AF_INET;
    pAddr->sin_addr = a;
    pAddr->sin_port = htons(static_cast<quint16>(url.port(80)));
    *pHost = url.host();
    *pPath = url.path(QUrl::FullyEncoded);
    if (pPath->isEmpty())
        *pPath = QStringLiteral("/");
    return true;
}

// The body of an HTTP response once it is whole (Content-Length, or the end of the stream).
bool HttpBody(const QByteArray& response, bool bEof, QByteArray* pBody)
{
    const qsizetype nHead = response.indexOf("\r\n\r\n");
    if (nHead < 0)
        return false;
    const QByteArray head = response.left(nHead).toLower();
    const QByteArray body = response.mid(nHead + 4);
    const qsizetype at = head.indexOf("content-length:");
    if (at >= 0) {
        const qsizetype end = head.indexOf('\r', at);
        const qint64 n = head.mid(at + 15, end < 0 ? -1 : end - at - 15).trimmed().toLongLong();
        if (body.size() < n)
            return false;
        *pBody = body.left(n);
        return true;
    }
    if (!bEof)
        return false;
    *pBody = body;
    return true;
}

// Drops, in the kernel, the datagrams of addresses that have announced all they may: a flood
// from there then takes no room in the receive buffer, and the real hosts' answers find room
// even while this thread waits for the CPU. (A classic socket filter: any process may attach
// one to its own socket.)
void DropSources(int fd, const std::vector<in_addr_t>& sources)
{
    const std::size_t n = std::min<std::size_t>(sources.size(), 200); // jumps are 8 bits wide
    std::vector<sock_filter> code;
    // The IPv4 source address, in the network header before the UDP datagram.
    code.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, static_cast<__u32>(SKF_NET_OFF + 12)));
    for (std::size_t i = 0; i < n; ++i)
        code.push_back(
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ntohl(sources[i]), static_cast<__u8>(n - i), 0));
    code.push_back(BPF_STMT(BPF_RET | BPF_K, 0xFFFFFFFFu)); // keep
    code.push_back(BPF_STMT(BPF_RET | BPF_K, 0));           // drop
    sock_fprog prog{static_cast<unsigned short>(code.size()), code.data()};
    ::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &prog, sizeof prog);
}

} // namespace

QByteArray ProbeMessage(const QString& messageId)
{
    return Envelope(QStringLiteral("urn:schemas-xmlsoap-org:ws:2005:04:discovery"),
                    QStringLiteral("http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe"),
                    messageId, QString(),
                    QStringLiteral("<wsd:Probe><wsd:Types>wsdp:Device</wsd:Types></wsd:Probe>"));
}

QByteArray ResolveMessage(const QString& messageId, const QString& endpoint)
{
    return Envelope(QStringLiteral("urn:schemas-xmlsoap-org:ws:2005:04:discovery"),
                    QStringLiteral("http://schemas.xmlsoap.org/ws/2005/04/discovery/Resolve"),
                    messageId, QString(),
                    QStringLiteral("<wsd:Resolve><wsa:EndpointReference><wsa:Address>%1"
                                   "</wsa:Address></wsa:EndpointReference></wsd:Resolve>")
                        .arg(endpoint.toHtmlEscaped()));
}

QByteArray GetMessage(const QString& messageId, const QString& endpoint, const QString& from)
{
    return Envelope(endpoint.toHtmlEscaped(),
                    QStringLiteral("http://schemas.xmlsoap.org/ws/2004/09/transfer/Get"), messageId,
                    QStringLiteral("<wsa:ReplyTo><wsa:Address>http://schemas.xmlsoap.org/ws/2004/"
                                   "08/addressing/role/anonymous</wsa:Address></wsa:ReplyTo>"
                                   "<wsa:From><wsa:Address>%1</wsa:Address></wsa:From>")
                        .arg(from),
                    QString());
}

Parsed Parse(const QByteArray& xml)
{
    Parsed p;
    QXmlStreamReader r(xml);
    bool bInEndpoint = false;
    while (!r.atEnd()) {
        if (r.readNext() != QXmlStreamReader::StartElement) {
            if (r.isEndElement() && r.name() == QLatin1String("EndpointReference"))
                bInEndpoint = false;
            continue;
        }
        const auto name = r.name();
        if (name == QLatin1String("EndpointReference")) {
            bInEndpoint = true;
        } else if (name == QLatin1String("Action")) {
            p.strAction = r.readElementText().trimmed().section(QLatin1Char('/'), -1);
        } else if (name == QLatin1String("MessageID")) {
            p.strMessageId = r.readElementText().trimmed();
        } else if (name == QLatin1String("Address") && bInEndpoint && p.strEndpoint.isEmpty()) {
            p.strEndpoint = r.readElementText().trimmed();
        } else if (name == QLatin1String("XAddrs")) {
            p.xaddrs = r.readElementText().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        } else if (name == QLatin1String("Computer")) {
            p.strComputer = r.readElementText().trimmed();
        }
    }
    return p;
}

bool ParseComputer(const QString& text, Host* pHost)
{
    const qsizetype slash = text.indexOf(QLatin1Char('/'));
    if (slash <= 0)
        return false;
    const QString rest = text.mid(slash + 1);
    const qsizetype colon = rest.indexOf(QLatin1Char(':'));
    if (colon <= 0 || colon + 1 >= rest.size())
        return false;
    const QString kind = rest.left(colon);
    if (kind != QLatin1String("Workgroup") && kind != QLatin1String("Domain"))
        return false;
    pHost->strName = text.left(slash).toUpper();
    pHost->strWorkgroup = rest.mid(colon + 1).toUpper();
    pHost->bDomain = kind == QLatin1String("Domain");
    return !pHost->strName.isEmpty();
}

Result Discover(int msTotal, const std::atomic<bool>& abort)
{
    return Discover(msTotal, CancelToken([&abort] { return abort.load(); }));
}

bool Learn(const QString& name, const CancelToken& cancel)
{
    // One probe at a time for the whole program, but no lock held while it listens: a second
    // thread waits for the first (watching its own abort) and then looks at what it learnt.
    static std::mutex s_mutex;
    static std::condition_variable s_done;
    static bool s_bProbing = false;
    static std::map<QString, Clock::time_point> s_tried;
    const int msTotal = settings::WsDiscoveryMs();
    if (msTotal <= 0 || name.isEmpty())
        return false;
    const QString key = name.toUpper();
    std::unique_lock lock(s_mutex);
    while (s_bProbing) {
        if (cancel.Cancelled())
            return false;
        s_done.wait_for(lock, std::chrono::milliseconds(50));
    }
    if (smb::ResolveHost(key) != key)
        return true; // another thread learnt it meanwhile
    const auto now = Clock::now();
    const auto it = s_tried.find(key);
    if (it != s_tried.end() && now - it->second < std::chrono::minutes(1))
        return false;
    if (s_tried.size() > 4096)
        s_tried.clear();
    s_tried[key] = now;
    s_bProbing = true;
    lock.unlock();
    struct Done
    {
        ~Done()
        {
            std::lock_guard lock(s_mutex);
            s_bProbing = false;
            s_done.notify_all();
        }
    } done;
    bool bFound = false;
    const std::vector<Host> hosts = Discover(msTotal, cancel).hosts;
    std::vector<smb::NameAddress> pairs;
    for (const Host& h : hosts)
        pairs.emplace_back(h.strName, h.strAddress);
    const std::vector<smb::Remembered> taken = smb::RememberHostAddresses(pairs);
    for (std::size_t i = 0; i < hosts.size(); ++i)
        bFound = bFound || (hosts[i].strName == key && (taken[i] == smb::Remembered::Yes ||
                                                        taken[i] == smb::Remembered::Same));
    return bFound;
}

Result Discover(int msTotal, const CancelToken& cancel)
{
    Result result;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::milliseconds(msTotal);
    std::vector<int> udp;
    // BC_WSD_INTERFACES=lo,eth1 limits the probe to those interfaces (the tests keep it on
    // loopback and their own namespaces).
    const QList<QByteArray> only = qgetenv("BC_WSD_INTERFACES").split(',');
    const bool bLimited = qEnvironmentVariableIsSet("BC_WSD_INTERFACES");
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) == 0) {
        QSet<QByteArray> seen; // one socket per interface, whatever its number of addresses
        for (ifaddrs* i = list; i; i = i->ifa_next) {
            if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET)
                continue;
            if (!(i->ifa_flags & IFF_UP) || !(i->ifa_flags & IFF_MULTICAST))
                continue;
            sockaddr_in local = *reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
            const QByteArray name(i->ifa_name);
            if (seen.contains(name) || (bLimited && !only.contains(name)))
                continue;
            seen.insert(name);
            const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (fd < 0)
                continue;
            local.sin_port = 0;
            const unsigned char ttl = 1;
            if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
                ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &local.sin_addr,
                             sizeof local.sin_addr) != 0 ||
                ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0) {
                ::close(fd);
                continue;
            }
            // Room for the answers of a busy network while this thread is elsewhere.
            const int nRcvBuf = 1 << 20;
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &nRcvBuf, sizeof nRcvBuf);
            udp.push_back(fd);
        }
        ::freeifaddrs(list);
    }
    result.nInterfaces = static_cast<int>(udp.size());
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(kPort);
    ::inet_pton(AF_INET, kGroup, &group.sin_addr);
    auto multicast = [&](int fd, const QByteArray& msg) {
        ::sendto(fd, msg.constData(), static_cast<std::size_t>(msg.size()), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&group), sizeof group);
    };

    const QString self = NewId();
    QSet<QString> messages;             // MessageIDs seen
    QSet<QString> resolved;             // endpoints asked for their address
    std::map<QString, bool> asked;      // endpoints whose metadata was asked for
    std::map<in_addr_t, int> perSource; // endpoints asked for, per answering address
    std::vector<Get> gets;
    int nProbes = 0;
    Clock::time_point lastProbe = start;
    std::vector<pollfd> fds;
    char buf[65536];

    while (!udp.empty() && !cancel.Cancelled()) {
        const auto now = Clock::now();
        if (now >= deadline)
            break;
        // The Probe again during the listening time (UDP may lose it, or its answers). Each
        // one is a new message: a responder answers a repeated MessageID once, and an answer
        // lost among a flood of others would then not come again.
        if ((nProbes < 3 || (nProbes < kMaxProbes && !gets.empty())) &&
            (nProbes == 0 || now - lastProbe >= std::chrono::milliseconds(kMsResend))) {
            const QByteArray probe = ProbeMessage(NewId());
            for (int fd : udp)
                multicast(fd, probe);
            ++nProbes;
            lastProbe = now;
        }
        if (nProbes == 3 && gets.empty() && now - lastProbe >= std::chrono::milliseconds(kMsQuiet))
            break;
        fds.clear();
        for (int fd : udp)
            fds.push_back({fd, POLLIN, 0});
        for (const Get& g : gets)
            fds.push_back(
                {g.fd,
                 static_cast<short>(g.bConnected ? (g.nSent < g.request.size() ? POLLOUT : POLLIN)
                                                 : POLLOUT),
                 0});
        ::poll(fds.data(), fds.size(), 20);

        for (std::size_t k = 0; k < udp.size(); ++k) {
            if (!(fds[k].revents & POLLIN))
                continue;
            // A flood must not keep this loop: the deadline and the abort are looked at per
            // packet, and each round reads a bounded number before the others get a turn.
            for (int nPackets = 0; nPackets < kPacketsPerRound; ++nPackets) {
                if (Clock::now() >= deadline || cancel.Cancelled())
                    break;
                sockaddr_in from{};
                socklen_t fromLen = sizeof from;
                const ssize_t n = ::recvfrom(udp[k], buf, sizeof buf, 0,
                                             reinterpret_cast<sockaddr*>(&from), &fromLen);
                if (n <= 0)
                    break;
                // An address that has announced all it may is not even parsed: a flood from
                // there costs a read per packet, and the real hosts' answers get their turn.
                if (const auto full = perSource.find(from.sin_addr.s_addr);
                    full != perSource.end() && full->second >= kMaxPerSource)
                    continue;
                const Parsed p = Parse(QByteArray(buf, n));
                if (p.strMessageId.isEmpty() || messages.contains(p.strMessageId))
                    continue;
                if (messages.size() >= kMaxSeen)
                    messages.clear(); // what was asked stays in asked
                messages.insert(p.strMessageId);
                if ((p.strAction != QLatin1String("ProbeMatches") &&
                     p.strAction != QLatin1String("ResolveMatches")) ||
                    p.strEndpoint.isEmpty() || asked.count(p.strEndpoint) ||
                    int(asked.size()) >= kMaxHosts)
                    continue;
                // One machine speaks for a few computers at most: made-up ones do not crowd
                // out the real ones.
                int& nFromThere = perSource[from.sin_addr.s_addr];
                if (nFromThere >= kMaxPerSource)
                    continue;
                sockaddr_in addr{};
                QString host, path;
                // Metadata is asked of the answering machine itself, never of an address or
                // port elsewhere that an answer names.
                const auto xaddr = std::find_if(p.xaddrs.begin(), p.xaddrs.end(), [&](auto& x) {
                    return SplitXAddr(x, &addr, &host, &path) &&
                           addr.sin_addr.s_addr == from.sin_addr.s_addr;
                });
                if (xaddr == p.xaddrs.end()) {
                    if (!resolved.contains(p.strEndpoint)) {
                        resolved.insert(p.strEndpoint);
                        multicast(udp[k], ResolveMessage(NewId(), p.strEndpoint));
                    }
                    continue;
                }
                asked[p.strEndpoint] = true;
                if (++nFromThere == kMaxPerSource) {
                    std::vector<in_addr_t> full;
                    for (const auto& [source, nAsked] : perSource)
                        if (nAsked >= kMaxPerSource)
                            full.push_back(source);
                    for (int fd : udp)
                        DropSources(fd, full);
                }
                Get g;
                g.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
                if (g.fd < 0)
                    continue;
                if (::connect(g.fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 &&
                    errno != EINPROGRESS) {
                    ::close(g.fd);
                    continue;
                }
                const QByteArray body = GetMessage(NewId(), p.strEndpoint, self);
                g.request = QStringLiteral("POST %1 HTTP/1.1\r\nHost: %2:%3\r\n"
                                           "Content-Type: application/soap+xml\r\n"
                                           "User-Agent: wsd\r\nContent-Length: %4\r\n"
                                           "Connection: close\r\n\r\n")
                                .arg(path, host)
                                .arg(ntohs(addr.sin_port))
                                .arg(body.size())
                                .toLatin1() +
                            body;
                g.strEndpoint = p.strEndpoint;
                g.strAddress = host;
                g.deadline = Clock::now() + std::chrono::milliseconds(kMsGet);
                gets.push_back(std::move(g));
            }
        }

        // The metadata Gets; fds past the UDP sockets are theirs, in order.
        std::vector<Get> still;
        for (std::size_t k = 0; k < gets.size(); ++k) {
            Get& g = gets[k];
            const std::size_t at = udp.size() + k;
            const short ev = at < fds.size() ? fds[at].revents : 0;
            bool bDone = Clock::now() >= g.deadline;
            if (!bDone && (ev & (POLLOUT | POLLERR | POLLHUP)) && !g.bConnected) {
                int err = 0;
                socklen_t len = sizeof err;
                ::getsockopt(g.fd, SOL_SOCKET, SO_ERROR, &err, &len);
                if (err != 0)
                    bDone = true;
                else
                    g.bConnected = true;
            }
            if (!bDone && g.bConnected && g.nSent < g.request.size()) {
                const ssize_t n =
                    ::send(g.fd, g.request.constData() + g.nSent,
                           static_cast<std::size_t>(g.request.size() - g.nSent), MSG_NOSIGNAL);
                if (n > 0)
                    g.nSent += n;
                else if (n < 0 && errno != EAGAIN)
                    bDone = true;
            }
            if (!bDone && g.bConnected && g.nSent == g.request.size()) {
                bool bEof = false;
                for (;;) {
                    const ssize_t n = ::recv(g.fd, buf, sizeof buf, 0);
                    if (n > 0 && g.response.size() < kMaxMetadata) {
                        g.response.append(buf, n);
                        continue;
                    }
                    bEof = n == 0 || (n < 0 && errno != EAGAIN) || n > 0;
                    break;
                }
                QByteArray body;
                if (HttpBody(g.response, bEof, &body)) {
                    Host h;
                    if (ParseComputer(Parse(body).strComputer, &h)) {
                        h.strAddress = g.strAddress;
                        const bool bKnown =
                            std::any_of(result.hosts.begin(), result.hosts.end(), [&](auto& o) {
                                return o.strName == h.strName && o.strWorkgroup == h.strWorkgroup;
                            });
                        if (!bKnown)
                            result.hosts.push_back(h);
                    }
                    bDone = true;
                } else if (bEof) {
                    bDone = true;
                }
            }
            if (bDone)
                ::close(g.fd);
            else
                still.push_back(std::move(g));
        }
        gets = std::move(still);
    }
    for (const Get& g : gets)
        ::close(g.fd);
    for (int fd : udp)
        ::close(fd);
    return result;
}

} // namespace wsd
