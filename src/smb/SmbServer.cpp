#include "SmbServer.h"

#include "ConnectionCap.h"
#include "search/ContentMatcher.h"

#include <libsmbclient.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

using smbproto::Message;
using smbproto::Op;

namespace {

SmbServer* g_pServer = nullptr;

void AuthFn(SMBCCTX*, const char* server, const char* share, char* wg, int wglen, char* user,
            int userlen, char* pass, int passlen)
{
    if (g_pServer)
        g_pServer->AskCredentials(server, share, wg, wglen, user, userlen, pass, passlen);
}

constexpr std::uint64_t FileTime(const timespec& ts)
{
    return static_cast<std::uint64_t>((ts.tv_sec + 11644473600LL) * 10000000LL + ts.tv_nsec / 100);
}

// "smb://host/share" (nothing after the share) -> true
bool IsShareRoot(const QByteArray& url)
{
    if (!url.startsWith("smb://"))
        return false;
    QByteArray rest = url.mid(6);
    while (rest.endsWith('/'))
        rest.chop(1);
    return rest.count('/') == 1;
}

constexpr std::size_t kBlock = 4u << 20;

} // namespace

SmbServer::SmbServer(const Options& options) : m_options(options)
{
    g_pServer = this;
    m_testFault = qgetenv("BC_SMB_TEST_FAULT");
    SMBCCTX* ctx = smbc_new_context();
    if (!ctx)
        return;
    smbc_setDebug(ctx, 0);
    smbc_setTimeout(ctx, options.msTimeout);
    smbc_setFunctionAuthDataWithContext(ctx, AuthFn);
    smbc_setOptionUseKerberos(ctx, 0);
    smbc_setOptionFallbackAfterKerberos(ctx, 0);
    // A refused login must fail, not quietly become a guest's.
    smbc_setOptionNoAutoAnonymousLogin(ctx, 1);
    if (options.nPort > 0)
        smbc_setPort(ctx, static_cast<uint16_t>(options.nPort));
    if (options.bNt1Only)
        smbc_setOptionProtocols(ctx, "NT1", "NT1");
    if (!smbc_init_context(ctx)) {
        smbc_free_context(ctx, 1);
        return;
    }
    connection_cap::Install(ctx, static_cast<std::size_t>(std::max(options.nMaxConnections, 1)));
    m_pCtx = ctx;
}

SmbServer::~SmbServer()
{
    if (m_pFile)
        smbc_getFunctionClose(m_pCtx)(m_pCtx, m_pFile);
    if (m_pCtx)
        smbc_free_context(m_pCtx, 1);
    g_pServer = nullptr;
}

bool SmbServer::Receive(Message* pOut, bool bPendingFirst)
{
    if (bPendingFirst && !m_pending.empty()) {
        *pOut = std::move(m_pending.front());
        m_pending.pop_front();
        return true;
    }
    char buf[65536];
    for (;;) {
        switch (m_reader.Next(pOut)) {
        case smbproto::FrameReader::Status::Frame:
            return true;
        case smbproto::FrameReader::Status::Corrupt:
            m_bBroken = true;
            return false;
        case smbproto::FrameReader::Status::NeedMore:
            break;
        }
        const ssize_t got = ::read(m_options.fd, buf, sizeof buf);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            m_bBroken = true;
            return false;
        }
        m_reader.Append(buf, static_cast<std::size_t>(got));
    }
}

bool SmbServer::Send(const Message& m)
{
    // Frames wait in m_out until a Done, a question or a sign of life, or until they add up:
    // a small folder's listing and its Done leave in one write.
    m_out += smbproto::Encode(m);
    if (m.op != Op::Done && m.op != Op::AuthAsk)
        ++m_nDataFrames;
    if (m.op == Op::Entries || m.op == Op::Names)
        return m_out.size() < (256 << 10) || Flush();
    // Requests that came in one batch are answered in one write, too.
    if (m.op == Op::Done && (m_reader.HasFrame() || !m_pending.empty()) &&
        m_out.size() < (256 << 10))
        return true;
    return Flush();
}

bool SmbServer::Flush()
{
    const QByteArray frame = std::move(m_out);
    m_out.clear();
    const char* p = frame.constData();
    std::size_t nLeft = static_cast<std::size_t>(frame.size());
    while (nLeft > 0) {
        const ssize_t put = ::send(m_options.fd, p, nLeft, MSG_NOSIGNAL);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            m_bBroken = true;
            return false;
        }
        p += put;
        nLeft -= static_cast<std::size_t>(put);
    }
    return true;
}

bool SmbServer::Done(int err, std::uint64_t n1, QByteArray s1)
{
    if (m_bCatchRefusal && (err == EACCES || err == EPERM) && m_nDataFrames == 0) {
        m_nRefused = err;
        return true;
    }
    Message m;
    m.op = Op::Done;
    m.n1 = n1;
    m.n2 = static_cast<std::uint64_t>(err);
    m.s1 = std::move(s1);
    return Send(m);
}

int SmbServer::Run()
{
    if (!m_pCtx) {
        // Tell the parent on every request why nothing works.
        Message req;
        while (Receive(&req))
            if (req.op != Op::AuthAnswer && !Done(smbproto::kErrNoHelper))
                break;
        return 1;
    }
    Message req;
    while (!m_bBroken && Receive(&req)) {
        TestFault(req.s1);
        if (!HandleWithLogin(req))
            break;
    }
    return 0;
}

void SmbServer::TestFault(const QByteArray& url)
{
    // For tests of the parent's recovery: BC_SMB_TEST_FAULT=kill:TEXT or hang:TEXT acts when a
    // request's URL contains TEXT.
    if (m_testFault.isEmpty())
        return;
    const qsizetype colon = m_testFault.indexOf(':');
    const QByteArray what = m_testFault.left(colon);
    const QByteArray text = m_testFault.mid(colon + 1);
    if (colon <= 0 || text.isEmpty() || !url.contains(text))
        return;
    if (what == "kill")
        ::raise(SIGKILL);
    if (what == "hang")
        for (;;)
            ::pause();
}

bool SmbServer::Handle(const Message& req)
{
    errno = 0;
    switch (req.op) {
    case Op::ListNames:
        return ListNames(req.s1);
    case Op::ListFolder:
        return ListFolder(req.s1);
    case Op::Contains:
        return Contains(req);
    case Op::OpenRead:
        return OpenFile(req.s1, O_RDONLY);
    case Op::OpenWrite:
        return OpenFile(req.s1, O_WRONLY | O_CREAT | O_TRUNC | (req.n1 ? O_EXCL : 0));
    case Op::Read:
        return ReadFile(req.n1);
    case Op::Write:
        return WriteFile(req.s1);
    case Op::Close:
        return Done(CloseFile());
    case Op::Unlink:
        return Done(smbc_getFunctionUnlink(m_pCtx)(m_pCtx, req.s1.constData()) == 0 ? 0
                                                                                    : ErrnoOr(EIO));
    case Op::Rmdir:
        return Done(smbc_getFunctionRmdir(m_pCtx)(m_pCtx, req.s1.constData()) == 0 ? 0
                                                                                   : ErrnoOr(EIO));
    case Op::Mkdir:
        return Done(smbc_getFunctionMkdir(m_pCtx)(m_pCtx, req.s1.constData(), 0755) == 0
                        ? 0
                        : ErrnoOr(EIO));
    case Op::Rename:
        return Done(smbc_getFunctionRename(m_pCtx)(m_pCtx, req.s1.constData(), m_pCtx,
                                                   req.s2.constData()) == 0
                        ? 0
                        : ErrnoOr(EIO));
    case Op::Stat:
        return StatPath(req.s1);
    case Op::QueryDomain:
        return QueryDomain(req.s1);
    case Op::BrowseMdns:
        return BrowseMdns(req);
    default:
        // Not a request: the parent broke the protocol.
        m_bBroken = true;
        return false;
    }
}

bool SmbServer::ListNames(const QByteArray& url)
{
    SMBCFILE* dir = smbc_getFunctionOpendir(m_pCtx)(m_pCtx, url.constData());
    if (!dir)
        return Done(ErrnoOr(EIO));
    auto readdir = smbc_getFunctionReaddir(m_pCtx);
    Message chunk;
    chunk.op = Op::Names;
    int nEntries = 0;
    int err = 0;
    while (const smbc_dirent* d = readdir(m_pCtx, dir)) {
        if (nEntries >= m_options.nMaxEntries) {
            err = smbproto::kErrListingCut;
            break;
        }
        ++nEntries;
        smbproto::Entry e;
        // name is a trailing array: read it as a C string.
        const char* pszName = d->name;
        e.name = QByteArray(pszName, static_cast<qsizetype>(std::strlen(pszName)));
        e.nAttributes = d->smbc_type;
        if (d->comment)
            e.comment = QByteArray(d->comment);
        if (!AddEntry(chunk, std::move(e)))
            return false;
    }
    smbc_getFunctionClosedir(m_pCtx)(m_pCtx, dir);
    if (!chunk.entries.empty() && !Send(chunk))
        return false;
    return Done(err);
}

bool SmbServer::AddEntry(Message& chunk, smbproto::Entry e)
{
    chunk.entries.push_back(std::move(e));
    if (chunk.entries.size() < smbproto::kEntriesPerFrame)
        return true;
    const bool bSent = Send(chunk);
    chunk.entries.clear();
    return bSent;
}

bool SmbServer::IsNonFileShare(const QByteArray& url)
{
    QByteArray rest = url.mid(6);
    while (rest.endsWith('/'))
        rest.chop(1);
    const qsizetype slash = rest.indexOf('/');
    const QByteArray host = rest.left(slash);
    const QByteArray share = QByteArray::fromPercentEncoding(rest.mid(slash + 1));
    if (share.compare("IPC$", Qt::CaseInsensitive) == 0)
        return true;
    SMBCFILE* dir = smbc_getFunctionOpendir(m_pCtx)(m_pCtx, ("smb://" + host).constData());
    if (!dir)
        return false;
    bool bOther = false;
    while (const smbc_dirent* d = smbc_getFunctionReaddir(m_pCtx)(m_pCtx, dir)) {
        const char* pszName = d->name;
        if (share.compare(QByteArray(pszName), Qt::CaseInsensitive) == 0)
            bOther = d->smbc_type != SMBC_FILE_SHARE;
    }
    smbc_getFunctionClosedir(m_pCtx)(m_pCtx, dir);
    return bOther;
}

bool SmbServer::ListFolder(const QByteArray& url)
{
    SMBCFILE* dir = smbc_getFunctionOpendir(m_pCtx)(m_pCtx, url.constData());
    if (!dir) {
        const int err = ErrnoOr(EIO);
        // A refusal goes to the login step first, which looks at the server's share list once
        // (a wrong password is tried as few times as can be) and tells a printer share too.
        if (m_bCatchRefusal && (err == EACCES || err == EPERM))
            return Done(err);
        if (IsShareRoot(url) && IsNonFileShare(url))
            return Done(smbproto::kErrNotFileShare);
        return Done(err);
    }
    // One call per entry with its attributes, size and times: no stat round trip.
    auto readdirplus2 = smbc_getFunctionReaddirPlus2(m_pCtx);
    Message chunk;
    chunk.op = Op::Entries;
    struct stat st;
    int nEntries = 0;
    int err = 0;
    while (const libsmb_file_info* info = readdirplus2(m_pCtx, dir, &st)) {
        const char* pszName = info->name;
        if (!pszName || std::strcmp(pszName, ".") == 0 || std::strcmp(pszName, "..") == 0)
            continue;
        // A server may send entries without end: the listing stops at the cap, and says so.
        if (nEntries >= m_options.nMaxEntries) {
            err = smbproto::kErrListingCut;
            break;
        }
        ++nEntries;
        smbproto::Entry e;
        e.name = QByteArray(pszName);
        e.nAttributes = info->attrs;
        if (S_ISDIR(st.st_mode))
            e.nAttributes |= 0x10;
        if (e.nAttributes == 0)
            e.nAttributes = 0x80;
        e.nSize = (e.nAttributes & 0x10) ? 0 : info->size;
        e.nTime = FileTime(info->mtime_ts);
        if (!AddEntry(chunk, std::move(e)))
            return false;
    }
    smbc_getFunctionClosedir(m_pCtx)(m_pCtx, dir);
    if (!chunk.entries.empty() && !Send(chunk))
        return false;
    return Done(err);
}

bool SmbServer::Contains(const Message& req)
{
    std::vector<QByteArray> bytes;
    for (const smbproto::Entry& e : req.entries)
        bytes.push_back(e.name);
    const std::optional<content::Needles> needles = content::NeedlesFromBytes(bytes);
    if (!needles)
        return Done(EINVAL);
    SMBCFILE* file = smbc_getFunctionOpen(m_pCtx)(m_pCtx, req.s1.constData(), O_RDONLY, 0);
    if (!file)
        return Done(ErrnoOr(EIO));
    m_buffer.resize(kBlock);
    content::StreamScanner scanner(*needles);
    auto read = smbc_getFunctionRead(m_pCtx);
    // No further than the listed size (else the size the server gives now) and a margin: a
    // server that sends data without end does not keep this helper.
    std::uint64_t nSize = req.n1;
    if (nSize == 0) {
        struct stat st;
        if (smbc_getFunctionFstat(m_pCtx)(m_pCtx, file, &st) == 0 && st.st_size > 0)
            nSize = static_cast<std::uint64_t>(st.st_size);
    }
    constexpr std::uint64_t kMargin = 1u << 20;
    const std::uint64_t nLimit = nSize + kMargin;
    std::uint64_t nDone = 0;
    auto lastSign = std::chrono::steady_clock::now();
    int err = 0;
    bool bFound = false;
    for (;;) {
        if (nDone >= nLimit)
            break;
        const ssize_t got = read(m_pCtx, file, m_buffer.data(),
                                 static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, nLimit - nDone)));
        if (got < 0) {
            err = ErrnoOr(EIO);
            break;
        }
        if (got == 0)
            break;
        nDone += static_cast<std::uint64_t>(got);
        if (scanner.Feed(m_buffer.data(), static_cast<std::size_t>(got))) {
            bFound = true;
            break;
        }
        // A sign of life about once a second on large files.
        const auto now = std::chrono::steady_clock::now();
        if (now - lastSign > std::chrono::seconds(1)) {
            lastSign = now;
            Message progress;
            progress.op = Op::Progress;
            progress.n1 = nDone;
            if (!Send(progress))
                break;
        }
    }
    smbc_getFunctionClose(m_pCtx)(m_pCtx, file);
    return Done(err, bFound ? 1 : 0);
}

bool SmbServer::OpenFile(const QByteArray& url, int flags)
{
    CloseFile(); // one open file at a time; no answer for the implicit close
    m_pFile = smbc_getFunctionOpen(m_pCtx)(m_pCtx, url.constData(), flags, 0644);
    if (!m_pFile)
        return Done(ErrnoOr(EIO));
    struct stat st;
    std::uint64_t nSize = 0;
    if (smbc_getFunctionFstat(m_pCtx)(m_pCtx, m_pFile, &st) == 0)
        nSize = static_cast<std::uint64_t>(st.st_size);
    return Done(0, nSize);
}

bool SmbServer::ReadFile(std::uint64_t n)
{
    if (!m_pFile)
        return Done(EBADF);
    const std::size_t nWant = static_cast<std::size_t>(std::min<std::uint64_t>(n, kBlock));
    QByteArray data(static_cast<qsizetype>(nWant), Qt::Uninitialized);
    const ssize_t got = smbc_getFunctionRead(m_pCtx)(m_pCtx, m_pFile, data.data(), nWant);
    if (got < 0)
        return Done(ErrnoOr(EIO));
    data.truncate(got);
    return Done(0, static_cast<std::uint64_t>(got), std::move(data));
}

bool SmbServer::WriteFile(const QByteArray& data)
{
    if (!m_pFile)
        return Done(EBADF);
    auto write = smbc_getFunctionWrite(m_pCtx);
    qsizetype nPos = 0;
    while (nPos < data.size()) {
        const ssize_t put = write(m_pCtx, m_pFile, data.constData() + nPos,
                                  static_cast<std::size_t>(data.size() - nPos));
        if (put <= 0)
            return Done(ErrnoOr(EIO));
        nPos += put;
    }
    return Done(0, static_cast<std::uint64_t>(nPos));
}

int SmbServer::CloseFile()
{
    if (!m_pFile)
        return 0;
    const int rc = smbc_getFunctionClose(m_pCtx)(m_pCtx, m_pFile);
    m_pFile = nullptr;
    return rc == 0 ? 0 : ErrnoOr(EIO);
}

bool SmbServer::StatPath(const QByteArray& url)
{
    struct stat st;
    if (smbc_getFunctionStat(m_pCtx)(m_pCtx, url.constData(), &st) != 0)
        return Done(ErrnoOr(EIO));
    Message reply;
    reply.op = Op::StatReply;
    smbproto::Entry e;
    e.nAttributes = S_ISDIR(st.st_mode) ? 0x10u : 0x80u;
    e.nSize = S_ISDIR(st.st_mode) ? 0 : static_cast<std::uint64_t>(st.st_size);
    e.nTime = FileTime(st.st_mtim);
    reply.entries.push_back(e);
    reply.n1 = static_cast<std::uint64_t>(st.st_ino);
    reply.n2 = static_cast<std::uint64_t>(st.st_dev);
    return Send(reply) && Done(0);
}
