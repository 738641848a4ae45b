#include "TcpProbe.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace smb {

bool IsNumericAddress(const QString& host)
{
    const QByteArray h = host.toLatin1();
    unsigned char buf[16];
    return inet_pton(AF_INET, h.constData(), buf) == 1 ||
           inet_pton(AF_INET6, h.constData(), buf) == 1;
}

namespace {

// Waits for events on fd; 0 when msTimeout passed or cancel said so.
int WaitFor(int fd, short events, int msTimeout, const CancelToken& cancel)
{
    return std::max(cancel.Poll(fd, events, msTimeout), 0);
}

// A NetBIOS session message holding an SMB1 NEGOTIATE that offers NT LM 0.12, SMB 2.002 and
// SMB 2.??? (the multi-protocol hello SMB2 servers answer too).
QByteArray SmbHello()
{
    static const unsigned char header[] = {0xFF, 'S',  'M', 'B', 0x72, // protocol, NEGOTIATE
                                           0,    0,    0,   0,         // status
                                           0x18,                       // flags
                                           0x01, 0xC8, // flags2: NT status, Unicode, long names
                                           0,    0,    // PID high
                                           0,    0,    0,   0,   0,    0, 0, 0, // security features
                                           0,    0,                             // reserved
                                           0xFF, 0xFF,                          // TID
                                           0xFE, 0xFF,                          // PID
                                           0,    0,                             // UID
                                           0,    0,                             // MID
                                           0};                                  // word count
    static_assert(sizeof header == 33);                                         // word count
    QByteArray dialects;
    for (const char* d : {"NT LM 0.12", "SMB 2.002", "SMB 2.???"})
        dialects += '\x02' + QByteArray(d) + '\0';
    QByteArray smb(reinterpret_cast<const char*>(header), sizeof header);
    smb += char(dialects.size() & 0xFF);
    smb += char(dialects.size() >> 8);
    smb += dialects;
    QByteArray msg(4, '\0');
    msg[2] = char(smb.size() >> 8);
    msg[3] = char(smb.size() & 0xFF);
    return msg + smb;
}

// After a connect: true when the server answers the hello (or closes) within msAnswer.
bool Answers(int fd, int msAnswer, const CancelToken& cancel)
{
    static const QByteArray hello = SmbHello();
    if (::send(fd, hello.constData(), static_cast<size_t>(hello.size()), MSG_NOSIGNAL) !=
        hello.size())
        return true; // broken at once: the library will see why
    if (WaitFor(fd, POLLIN, msAnswer, cancel) == 0)
        return false;
    char c;
    (void)::recv(fd, &c, 1, MSG_DONTWAIT);
    return true;
}

} // namespace

ProbeResult ProbeTcp(const QString& host, int nPort, int msTimeout, const CancelToken& cancel,
                     int msAnswer)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_NUMERICHOST;
    addrinfo* res = nullptr;
    const QByteArray h = host.toUtf8();
    const QByteArray p = QByteArray::number(nPort);
    if (getaddrinfo(h.constData(), p.constData(), &hints, &res) != 0 || !res)
        return ProbeResult::Error;
    ProbeResult result = ProbeResult::Error;
    const int fd = socket(res->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
        int rc = ::connect(fd, res->ai_addr, res->ai_addrlen);
        if (rc == 0) {
            result = ProbeResult::Open;
        } else if (errno == EINPROGRESS) {
            rc = WaitFor(fd, POLLOUT, msTimeout, cancel);
            if (rc == 0) {
                result = ProbeResult::TimedOut;
            } else if (rc > 0) {
                int err = 0;
                socklen_t len = sizeof err;
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
                result = err == 0
                             ? ProbeResult::Open
                             : (err == ECONNREFUSED ? ProbeResult::Refused : ProbeResult::Error);
            }
        } else if (errno == ECONNREFUSED) {
            result = ProbeResult::Refused;
        }
        if (result == ProbeResult::Open && msAnswer > 0 && !Answers(fd, msAnswer, cancel))
            result = ProbeResult::Silent;
        ::close(fd);
    }
    freeaddrinfo(res);
    return result;
}

} // namespace smb
