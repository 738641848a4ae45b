// The helper's logins: which user it connects as, and what it does when a server refuses.
#include "SmbServer.h"

#include <QList>

#include <libsmbclient.h>

#include <algorithm>

#include <cerrno>
#include <cstring>

using smbproto::Message;
using smbproto::Op;

namespace {

void CopyOut(const QByteArray& s, char* buf, int len)
{
    if (len <= 0)
        return;
    const int n = std::min(static_cast<int>(s.size()), len - 1);
    std::memcpy(buf, s.constData(), static_cast<std::size_t>(n));
    buf[n] = '\0';
}

// "smb://host/share/dir" -> host, share (share still percent-encoded, as in the URL)
void SplitUrl(const QByteArray& url, QByteArray* pHost, QByteArray* pShare)
{
    pHost->clear();
    pShare->clear();
    if (!url.startsWith("smb://"))
        return;
    const QList<QByteArray> parts = url.mid(6).split('/');
    *pHost = parts.value(0);
    *pShare = parts.value(1);
}

// Requests that name a server: a refusal there may be the login's.
bool NamesServer(const Message& req)
{
    switch (req.op) {
    case Op::ListNames:
    case Op::ListFolder:
    case Op::Contains:
    case Op::OpenRead:
    case Op::OpenWrite:
    case Op::Unlink:
    case Op::Rmdir:
    case Op::Mkdir:
    case Op::Rename:
    case Op::Stat:
        return true;
    default:
        return false;
    }
}

constexpr int kMaxLoginTries = 4;

} // namespace

bool SmbServer::AskParent(const Message& ask, Message* pAnswer)
{
    // Requests that the parent sent ahead of the answer wait their turn.
    if (!Send(ask))
        return false;
    for (;;) {
        if (!Receive(pAnswer, false))
            return false;
        if (pAnswer->op == Op::AuthAnswer)
            return true;
        m_pending.push_back(std::move(*pAnswer));
    }
}

SmbServer::Login SmbServer::LoginFrom(const Message& answer)
{
    return {answer.s1, answer.s2, answer.s3, answer.n1,
            (answer.n2 & smbproto::kLoginKerberos) != 0};
}

void SmbServer::UseLogin(const Login& login)
{
    // Read by the library after this callback, for the connection it is making.
    smbc_setOptionUseKerberos(m_pCtx, login.bKerberos ? 1 : 0);
    smbc_setOptionUseCCache(m_pCtx, login.bKerberos ? 1 : 0);
}

void SmbServer::AskCredentials(const char* server, const char* share, char* wg, int wglen,
                               char* user, int userlen, char* pass, int passlen)
{
    const QByteArray key = QByteArray(server ? server : "").toLower();
    auto it = m_logins.find(key);
    if (it == m_logins.end()) {
        Message ask;
        ask.op = Op::AuthAsk;
        ask.s1 = server ? QByteArray(server) : QByteArray();
        ask.s2 = share ? QByteArray(share) : QByteArray();
        Message answer;
        // No answer (the parent is gone): no credentials, the call fails on its own.
        if (!AskParent(ask, &answer))
            return;
        it = m_logins.emplace(key, LoginFrom(answer)).first;
    }
    const Login& login = it->second;
    if (!login.workgroup.isEmpty())
        CopyOut(login.workgroup, wg, wglen);
    CopyOut(login.user, user, userlen);
    CopyOut(login.password, pass, passlen);
    UseLogin(login);
}

void SmbServer::ForgetLoginsBut(const QByteArray& key)
{
    // Passwords of servers this helper no longer serves do not stay in its memory: the parent
    // answers again when one is needed.
    for (auto it = m_logins.begin(); it != m_logins.end();) {
        if (it->first == key) {
            ++it;
            continue;
        }
        it->second.password.fill('\0');
        it = m_logins.erase(it);
    }
    for (auto s = m_openShares.begin(); s != m_openShares.end();)
        s = s->startsWith(key + '/') ? std::next(s) : m_openShares.erase(s);
}

bool SmbServer::HandleWithLogin(const Message& req)
{
    if (!NamesServer(req))
        return Handle(req);
    {
        QByteArray host, share;
        SplitUrl(req.s1, &host, &share);
        if (!host.isEmpty())
            ForgetLoginsBut(host.toLower());
    }
    for (int nTry = 1;; ++nTry) {
        m_nRefused = 0;
        m_nDataFrames = 0;
        m_bCatchRefusal = nTry < kMaxLoginTries;
        const bool bOk = Handle(req);
        m_bCatchRefusal = false;
        if (!bOk || m_nRefused == 0)
            return bOk;
        const int err = Refused(req.s1, m_nRefused);
        if (err != 0)
            return Done(err);
    }
}

bool SmbServer::CanOpenFolder(const QByteArray& url)
{
    SMBCFILE* dir = smbc_getFunctionOpendir(m_pCtx)(m_pCtx, url.constData());
    if (!dir)
        return false;
    smbc_getFunctionClosedir(m_pCtx)(m_pCtx, dir);
    return true;
}

int SmbServer::Refused(const QByteArray& url, int err)
{
    QByteArray host, share;
    SplitUrl(url, &host, &share);
    if (host.isEmpty())
        return err;
    const QByteArray key = host.toLower();
    std::uint64_t nKind = smbproto::kRefusedLogin;
    if (!share.isEmpty()) {
        const QByteArray shareKey = key + '/' + share.toLower();
        if (m_openShares.count(shareKey))
            return err;
        // A folder or file the user may not open, in a share that opens: not the login's. (When
        // the request was the share's root itself, its failure says already that it does not:
        // one login fewer to try.)
        const QByteArray root = "smb://" + host + '/' + share;
        QByteArray asked = url;
        while (asked.endsWith('/'))
            asked.chop(1);
        if (asked != root && CanOpenFolder(root)) {
            m_openShares.insert(shareKey);
            return err;
        }
        // The share refuses: the user, or the login itself (then the server's list fails too)?
        if (CanOpenFolder("smb://" + host)) {
            // The login holds; a printer or IPC share has no folder to open.
            if (asked == root && IsNonFileShare(root))
                return smbproto::kErrNotFileShare;
            nKind = smbproto::kRefusedShare;
        }
    }
    const auto it = m_logins.find(key);
    Message ask;
    ask.op = Op::AuthAsk;
    ask.n1 = (it != m_logins.end() ? it->second.nGen : 0) + 1;
    ask.n2 = nKind;
    ask.s1 = host;
    ask.s2 = QByteArray::fromPercentEncoding(share);
    Message answer;
    if (!AskParent(ask, &answer))
        return err;
    const bool bGiveUp = (answer.n2 & smbproto::kLoginGiveUp) != 0;
    m_logins[key] = LoginFrom(answer);
    if (bGiveUp)
        return nKind == smbproto::kRefusedLogin ? smbproto::kErrLoginFailed : err;
    // Shares opened with the old login are tried again with the new one.
    for (auto s = m_openShares.lower_bound(key + '/');
         s != m_openShares.end() && s->startsWith(key + '/');)
        s = m_openShares.erase(s);
    return 0;
}
