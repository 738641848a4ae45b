// The helper's logins: which user it connects as, and what it does when a server refuses.
#include "SmbServer.h"

#include <libsmbclient.h>

#include <algorithm>

#include <cerrno>
#include <cstring>

namespace proto = smbproto;

namespace {

void CopyOut(const QByteArray& s, char* buf, int len)
{
    if (len <= 0)
        return;
    const int n = std::min(static_cast<int>(s.size()), len - 1);
    std::memcpy(buf, s.constData(), static_cast<std::size_t>(n));
    buf[n] = '\0';
}

constexpr int kMaxLoginTries = 4;

} // namespace

bool SmbServer::AskParent(const proto::AuthAsk& ask, proto::AuthAnswer* pAnswer)
{
    // Requests that the parent sent ahead of the answer wait their turn.
    if (!Send(ask))
        return false;
    for (;;) {
        proto::ToHelper m;
        if (!Receive(&m, false))
            return false;
        if (auto* answer = std::get_if<proto::AuthAnswer>(&m)) {
            *pAnswer = std::move(*answer);
            return true;
        }
        m_pending.push_back(std::move(m));
    }
}

SmbServer::Login SmbServer::LoginFrom(const proto::AuthAnswer& answer)
{
    return {answer.workgroup, answer.user, answer.password, answer.nGen, answer.bKerberos != 0};
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
        proto::AuthAsk ask;
        ask.server = server ? QByteArray(server) : QByteArray();
        ask.share = share ? QByteArray(share) : QByteArray();
        proto::AuthAnswer answer;
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

SmbServer::Outcome SmbServer::RunWithLogin(const proto::ToHelper& req)
{
    const proto::Target* at = TargetOf(req);
    if (!at || at->host.isEmpty())
        return Handle(req);
    ForgetLoginsBut(at->host.toLower());
    for (int nTry = 1;; ++nTry) {
        m_nDataFrames = 0;
        Outcome o = Handle(req);
        // Only a request refused before it sent anything is the login's to retry.
        if (m_bBroken || !IsRefusal(o.nError) || m_nDataFrames > 0)
            return o;
        if (nTry >= kMaxLoginTries) {
            const bool bFolderList = std::holds_alternative<proto::ListFolder>(req);
            if (bFolderList && IsShareRoot(*at) && IsNonFileShare(*at))
                o.nError = proto::kErrNotFileShare;
            return o;
        }
        bool bRetry = false;
        o = Refused(*at, o.nError, &bRetry);
        if (!bRetry)
            return o;
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

SmbServer::Outcome SmbServer::Refused(const proto::Target& at, int err, bool* pbRetry)
{
    *pbRetry = false;
    const QByteArray key = at.host.toLower();
    std::uint8_t refusedBy = proto::kRefusedLogin;
    if (!at.share.isEmpty()) {
        const QByteArray shareKey = key + '/' + at.share.toLower();
        if (m_openShares.count(shareKey))
            return {err};
        // A folder or file the user may not open, in a share that opens: not the login's. (When
        // the request was the share's root itself, its failure says already that it does not:
        // one login fewer to try.)
        const proto::Target root{at.host, at.share, {}};
        if (!IsShareRoot(at) && CanOpenFolder(proto::UrlOf(root))) {
            m_openShares.insert(shareKey);
            return {err};
        }
        // The share refuses: the user, or the login itself (then the server's list fails too)?
        if (CanOpenFolder(proto::UrlOf({at.host, {}, {}}))) {
            // The login holds; a printer or IPC share has no folder to open.
            if (IsShareRoot(at) && IsNonFileShare(root))
                return {proto::kErrNotFileShare};
            refusedBy = proto::kRefusedShare;
        }
    }
    const auto it = m_logins.find(key);
    proto::AuthAsk ask;
    ask.server = at.host;
    ask.share = at.share;
    ask.bRefused = 1;
    ask.nGen = it != m_logins.end() ? it->second.nGen : 0;
    ask.refusedBy = refusedBy;
    proto::AuthAnswer answer;
    if (!AskParent(ask, &answer))
        return {err};
    m_logins[key] = LoginFrom(answer);
    if (answer.bGiveUp)
        return {refusedBy == proto::kRefusedLogin ? proto::kErrLoginFailed : err};
    // Shares opened with the old login are tried again with the new one.
    for (auto s = m_openShares.lower_bound(key + '/');
         s != m_openShares.end() && s->startsWith(key + '/');)
        s = m_openShares.erase(s);
    *pbRetry = true;
    return {};
}
