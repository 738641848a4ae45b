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

ProbeResult ProbeTcp(const QString& host, int nPort, int msTimeout,
                     const std::function<bool()>& cancel)
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
            pollfd pfd{fd, POLLOUT, 0};
            int msLeft = msTimeout;
            for (;;) {
                const int msSlice = std::min(msLeft, 50);
                rc = ::poll(&pfd, 1, msSlice);
                if (rc < 0 && errno == EINTR)
                    continue;
                if (rc != 0)
                    break;
                msLeft -= msSlice;
                if (msLeft <= 0 || (cancel && cancel()))
                    break;
            }
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
        ::close(fd);
    }
    freeaddrinfo(res);
    return result;
}

} // namespace smb
