#include "SmbContext.h"

#include "SmbLibrary.h"

#include <libsmbclient.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace smb {
namespace {

void CopyOut(const QString& s, char* buf, int len)
{
    if (len <= 0)
        return;
    const QByteArray b = s.toUtf8();
    const int n = std::min(static_cast<int>(b.size()), len - 1);
    std::memcpy(buf, b.constData(), static_cast<std::size_t>(n));
    buf[n] = '\0';
}

void AuthFn(SMBCCTX*, const char* server, const char* share, char* wg, int wglen, char* user,
            int userlen, char* pass, int passlen)
{
    const Credentials c = AskCredentials(QString::fromUtf8(server), QString::fromUtf8(share));
    if (!c.strWorkgroup.isEmpty())
        CopyOut(c.strWorkgroup, wg, wglen);
    CopyOut(c.strUser, user, userlen);
    CopyOut(c.strPassword, pass, passlen);
}

} // namespace

ProbeResult ProbeTcp(const QString& host, int nPort, int msTimeout)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
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
            rc = ::poll(&pfd, 1, msTimeout);
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

SmbContext::SmbContext(int msTimeout, Protocol proto, int nPort)
{
    InitSmbLibrary();
    std::lock_guard lock(SmbContextLock());
    SMBCCTX* ctx = smbc_new_context();
    if (!ctx)
        return;
    smbc_setDebug(ctx, 0);
    smbc_setTimeout(ctx, msTimeout);
    smbc_setFunctionAuthDataWithContext(ctx, AuthFn);
    smbc_setOptionUseKerberos(ctx, 0);
    smbc_setOptionFallbackAfterKerberos(ctx, 1);
    smbc_setOptionNoAutoAnonymousLogin(ctx, 0);
    if (nPort > 0)
        smbc_setPort(ctx, static_cast<uint16_t>(nPort));
    if (proto == Protocol::Nt1Only)
        smbc_setOptionProtocols(ctx, "NT1", "NT1");
    if (!smbc_init_context(ctx)) {
        smbc_free_context(ctx, 1);
        return;
    }
    m_pCtx = ctx;
}

SmbContext::~SmbContext()
{
    if (!m_pCtx)
        return;
    std::lock_guard lock(SmbContextLock());
    smbc_free_context(m_pCtx, 1);
}

namespace {
// "smb://server/share/dir" -> "server/share"
QByteArray ConnectionKey(const QByteArray& url)
{
    const QList<QByteArray> parts = url.mid(6).split('/');
    return parts.value(0).toLower() + '/' + parts.value(1);
}
std::mutex g_logonLock;
} // namespace

int SmbContext::Guarded(const QByteArray& url, const std::function<int()>& fn)
{
    const QByteArray key = ConnectionKey(url);
    if (m_connected.contains(key))
        return fn();
    // Held across one connection set-up, which the caller bounds (probe and timeout).
    std::lock_guard lock(g_logonLock);
    const int err = fn();
    if (err == 0)
        m_connected.insert(key);
    return err;
}

int SmbContext::ListDir(const QByteArray& url, std::vector<DirEntry>& out)
{
    out.clear();
    if (!m_pCtx)
        return EINVAL;
    SMBCFILE* dir = nullptr;
    const int err = Guarded(url, [&] {
        errno = 0;
        dir = smbc_getFunctionOpendir(m_pCtx)(m_pCtx, url.constData());
        return dir ? 0 : (errno ? errno : EIO);
    });
    if (!dir)
        return err;
    auto readdir = smbc_getFunctionReaddir(m_pCtx);
    while (const smbc_dirent* d = readdir(m_pCtx, dir)) {
        DirEntry e;
        // name is a trailing array: read it as a C string, not as a one-character array.
        const char* pszName = d->name;
        e.strName = QString::fromUtf8(pszName, static_cast<qsizetype>(std::strlen(pszName)));
        e.type = d->smbc_type;
        e.strComment = d->comment ? QString::fromUtf8(d->comment) : QString();
        out.push_back(std::move(e));
    }
    smbc_getFunctionClosedir(m_pCtx)(m_pCtx, dir);
    return 0;
}

} // namespace smb
