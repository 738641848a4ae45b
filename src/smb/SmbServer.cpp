#include "SmbServer.h"

#include "ConnectionCap.h"
#include "search/ContentMatcher.h"

#include <libsmbclient.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace proto = smbproto;

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

constexpr std::size_t kBlock = 4u << 20;
// A connection unused this long is closed.
constexpr int kMsIdleConnection = 250;

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

bool SmbServer::Receive(proto::ToHelper* pOut, bool bPendingFirst)
{
    if (bPendingFirst && !m_pending.empty()) {
        *pOut = std::move(m_pending.front());
        m_pending.pop_front();
        return true;
    }
    char buf[65536];
    for (;;) {
        switch (m_reader.Next(pOut)) {
        case proto::FrameReader::Status::Frame:
            return true;
        case proto::FrameReader::Status::Corrupt:
            m_bBroken = true;
            return false;
        case proto::FrameReader::Status::NeedMore:
            break;
        }
        // A helper without work closes its connections soon: the parent has given it back (or
        // moved on), and a server should not keep a connection nobody uses. Only an open file
        // keeps its own.
        if (m_bConnected && m_pCtx && !m_bServing) {
            pollfd pfd{m_options.fd, POLLIN, 0};
            if (::poll(&pfd, 1, kMsIdleConnection) == 0) {
                smbc_getFunctionPurgeCachedServers(m_pCtx)(m_pCtx);
                m_bConnected = m_pFile != nullptr;
            }
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

bool SmbServer::Send(const proto::FromHelper& m)
{
    if (m_bBroken)
        return false;
    // Data frames wait in m_out until they add up, or until a Done or a question: a small
    // folder's listing and its Done leave in one write. A Done leaves at once, whatever the
    // parent has sent after it.
    m_out += proto::Encode(m);
    const bool bData = std::holds_alternative<proto::Entries>(m) ||
                       std::holds_alternative<proto::Names>(m) ||
                       std::holds_alternative<proto::StatReply>(m);
    if (!std::holds_alternative<proto::Done>(m) && !std::holds_alternative<proto::AuthAsk>(m))
        ++m_nDataFrames;
    if (bData && m_out.size() < (256 << 10))
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

int SmbServer::Run()
{
    proto::ToHelper req;
    if (!m_pCtx) {
        // Tell the parent on every request why nothing works.
        while (Receive(&req))
            if (!std::holds_alternative<proto::AuthAnswer>(req) &&
                !Send(proto::Done{proto::kErrNoHelper, 0, {}}))
                break;
        return 1;
    }
    while (!m_bBroken && Receive(&req)) {
        if (const proto::Target* at = TargetOf(req))
            TestFault(proto::UrlOf(*at));
        m_bServing = true; // the library may ask for a login (Receive) inside a request
        const Outcome o = RunWithLogin(req);
        m_bServing = false;
        m_bConnected = true;
        if (m_bBroken ||
            !Send(proto::Done{static_cast<std::uint32_t>(o.nError), o.nResult, o.data}))
            break;
    }
    return 0;
}

void SmbServer::TestFault(const QByteArray& url)
{
    // For tests of the parent's recovery: BC_SMB_TEST_FAULT=kill:TEXT or hang:TEXT acts when a
    // request's URL contains TEXT; slow:TEXT answers 300 ms late when the URL ends with TEXT
    // (one folder, as a far server would).
    if (m_testFault.isEmpty())
        return;
    const qsizetype colon = m_testFault.indexOf(':');
    const QByteArray what = m_testFault.left(colon);
    const QByteArray text = m_testFault.mid(colon + 1);
    if (colon <= 0 || text.isEmpty() || !url.contains(text))
        return;
    if (what == "slow") {
        if (url.endsWith(text))
            ::usleep(300 * 1000);
        return;
    }
    if (what == "kill")
        ::raise(SIGKILL);
    if (what == "hang") {
        // No answer, ever; the helper ends when the parent closes its end (or kills it).
        char buf[4096];
        for (;;) {
            const ssize_t got = ::read(m_options.fd, buf, sizeof buf);
            if (got == 0 || (got < 0 && errno != EINTR))
                ::_exit(0);
        }
    }
}

SmbServer::Outcome SmbServer::Handle(const proto::ToHelper& req)
{
    errno = 0;
    return std::visit(
        [&](const auto& r) -> Outcome {
            using T = std::decay_t<decltype(r)>;
            if constexpr (std::is_same_v<T, proto::ListNames>)
                return ListNames(proto::UrlOf(r.at));
            else if constexpr (std::is_same_v<T, proto::ListFolder>) {
                Outcome o = ListFolder(proto::UrlOf(r.at));
                // A printer or IPC share has no folder to open. (A refusal goes to the login
                // step first, which tells these apart itself.)
                if (o.nError != 0 && !IsRefusal(o.nError) && IsShareRoot(r.at) &&
                    IsNonFileShare(r.at))
                    o.nError = proto::kErrNotFileShare;
                return o;
            } else if constexpr (std::is_same_v<T, proto::Contains>)
                return Contains(r);
            else if constexpr (std::is_same_v<T, proto::OpenRead>)
                return OpenFile(proto::UrlOf(r.at));
            else if constexpr (std::is_same_v<T, proto::Read>)
                return ReadFile(r.nMax);
            else if constexpr (std::is_same_v<T, proto::Close>)
                return Outcome{CloseFile(), 0, {}};
            else if constexpr (std::is_same_v<T, proto::Remove>)
                return Remove(r);
            else if constexpr (std::is_same_v<T, proto::Stat>)
                return StatPath(proto::UrlOf(r.at));
            else if constexpr (std::is_same_v<T, proto::QueryDomain>)
                return QueryDomain(r.at);
            else if constexpr (std::is_same_v<T, proto::BrowseMdns>)
                return BrowseMdns(r);
            else if constexpr (std::is_same_v<T, proto::Watch>)
                return WatchFolder(proto::UrlOf(r.at));
            else {
                // An answer nobody asked for: the parent broke the protocol.
                m_bBroken = true;
                return Outcome{EPROTO, 0, {}};
            }
        },
        req);
}

SmbServer::Outcome SmbServer::ListNames(const QByteArray& url)
{
    SMBCFILE* dir = smbc_getFunctionOpendir(m_pCtx)(m_pCtx, url.constData());
    if (!dir)
        return {ErrnoOr(EIO)};
    auto readdir = smbc_getFunctionReaddir(m_pCtx);
    proto::Names chunk;
    int nEntries = 0;
    int err = 0;
    while (const smbc_dirent* d = readdir(m_pCtx, dir)) {
        if (nEntries >= m_options.nMaxEntries) {
            err = proto::kErrListingCut;
            break;
        }
        ++nEntries;
        proto::NameEntry e;
        // name is a trailing array: read it as a C string.
        const char* pszName = d->name;
        e.name = QByteArray(pszName, static_cast<qsizetype>(std::strlen(pszName)));
        e.nType = d->smbc_type;
        if (d->comment)
            e.comment = QByteArray(d->comment);
        if (!AddEntry(chunk, chunk.names, std::move(e)))
            break;
    }
    smbc_getFunctionClosedir(m_pCtx)(m_pCtx, dir);
    if (!chunk.names.empty())
        Send(chunk);
    return {err};
}

bool SmbServer::IsNonFileShare(const proto::Target& root)
{
    if (root.share.compare("IPC$", Qt::CaseInsensitive) == 0)
        return true;
    SMBCFILE* dir =
        smbc_getFunctionOpendir(m_pCtx)(m_pCtx, proto::UrlOf({root.host, {}, {}}).constData());
    if (!dir)
        return false;
    bool bOther = false;
    while (const smbc_dirent* d = smbc_getFunctionReaddir(m_pCtx)(m_pCtx, dir)) {
        const char* pszName = d->name;
        if (root.share.compare(QByteArray(pszName), Qt::CaseInsensitive) == 0)
            bOther = d->smbc_type != SMBC_FILE_SHARE;
    }
    smbc_getFunctionClosedir(m_pCtx)(m_pCtx, dir);
    return bOther;
}

SmbServer::Outcome SmbServer::WatchFolder(const QByteArray& url)
{
    SMBCFILE* dir = smbc_getFunctionOpendir(m_pCtx)(m_pCtx, url.constData());
    if (!dir)
        return {ErrnoOr(EIO)};
    struct Watching
    {
        SmbServer* self;
        int nChanges = 0;
    } watching{this};
    // Each answer of the server is passed on at once; a quiet second is a sign of life. A
    // parent that is gone ends the watch (and this process).
    auto onChange = [](const smbc_notify_callback_action* actions, size_t nActions,
                       void* p) -> int {
        auto* w = static_cast<Watching*>(p);
        if (nActions == 0)
            return w->self->Send(proto::Progress{static_cast<std::uint64_t>(w->nChanges)}) ? 0 : 1;
        constexpr auto kMax = static_cast<std::size_t>(proto::kEntriesPerFrame);
        proto::Changes changes;
        for (std::size_t i = 0; i < nActions && i < kMax; ++i)
            changes.changes.push_back(
                {actions[i].action, QByteArray(actions[i].filename ? actions[i].filename : "")});
        // More than a frame holds: the folder is listed again whole.
        if (nActions > kMax)
            changes.changes.push_back({0, {}});
        w->nChanges += static_cast<int>(nActions);
        return w->self->Send(changes) ? 0 : 1;
    };
    const std::uint32_t filter = SMBC_NOTIFY_CHANGE_FILE_NAME | SMBC_NOTIFY_CHANGE_DIR_NAME |
                                 SMBC_NOTIFY_CHANGE_SIZE | SMBC_NOTIFY_CHANGE_LAST_WRITE;
    const int rc =
        smbc_getFunctionNotify(m_pCtx)(m_pCtx, dir, 1, filter, 1000, onChange, &watching);
    const int err = rc < 0 ? ErrnoOr(EIO) : 0;
    smbc_getFunctionClosedir(m_pCtx)(m_pCtx, dir);
    // A watch that ends without a failure lost its parent: nothing to tell.
    return {err != 0 ? err : ECONNRESET};
}

SmbServer::Outcome SmbServer::ListFolder(const QByteArray& url)
{
    SMBCFILE* dir = smbc_getFunctionOpendir(m_pCtx)(m_pCtx, url.constData());
    if (!dir)
        return {ErrnoOr(EIO)};
    // One call per entry with its attributes, size and times, from the listing itself: no
    // stat round trip, and none of the per-entry server lookup the stat-filling variant makes
    // (it cost a quarter of the helper's time on large folders).
    auto readdirplus = smbc_getFunctionReaddirPlus(m_pCtx);
    proto::Entries chunk;
    int nEntries = 0;
    int err = 0;
    while (const libsmb_file_info* info = readdirplus(m_pCtx, dir)) {
        const char* pszName = info->name;
        if (!pszName || std::strcmp(pszName, ".") == 0 || std::strcmp(pszName, "..") == 0)
            continue;
        // A server may send entries without end: the listing stops at the cap, and says so.
        if (nEntries >= m_options.nMaxEntries) {
            err = proto::kErrListingCut;
            break;
        }
        ++nEntries;
        proto::FileEntry e;
        e.name = QByteArray(pszName);
        e.nAttributes = info->attrs;
        if (e.nAttributes == 0)
            e.nAttributes = 0x80;
        e.nSize = (e.nAttributes & 0x10) ? 0 : info->size;
        e.nTime = FileTime(info->mtime_ts);
        if (!AddEntry(chunk, chunk.entries, std::move(e)))
            break;
    }
    smbc_getFunctionClosedir(m_pCtx)(m_pCtx, dir);
    if (!chunk.entries.empty())
        Send(chunk);
    return {err};
}

SmbServer::Outcome SmbServer::Contains(const proto::Contains& req)
{
    const std::optional<content::Needles> needles = content::NeedlesFromBytes(req.needles);
    if (!needles)
        return {EINVAL};
    SMBCFILE* file =
        smbc_getFunctionOpen(m_pCtx)(m_pCtx, proto::UrlOf(req.at).constData(), O_RDONLY, 0);
    if (!file)
        return {ErrnoOr(EIO)};
    m_buffer.resize(kBlock);
    content::StreamScanner scanner(*needles);
    auto read = smbc_getFunctionRead(m_pCtx);
    // No further than the listed size (else the size the server gives now) and a margin: a
    // server that sends data without end does not keep this helper.
    std::uint64_t nSize = req.nListedSize;
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
    while (nDone < nLimit) {
        // The first read asks for one byte more than the size: a file as it was listed comes
        // whole in one request, and coming short tells its end (the library reads on to the
        // size asked unless the file ends), so no request goes out only to meet the end. A
        // small file costs the server an open, one read and a close.
        std::uint64_t nAsk = std::min<std::uint64_t>(kBlock, nLimit - nDone);
        if (nDone == 0 && nSize > 0)
            nAsk = std::min<std::uint64_t>(nAsk, nSize + 1);
        const ssize_t got = read(m_pCtx, file, m_buffer.data(), static_cast<std::size_t>(nAsk));
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
        if (static_cast<std::uint64_t>(got) < nAsk)
            break;
        // A sign of life about once a second on large files.
        const auto now = std::chrono::steady_clock::now();
        if (now - lastSign > std::chrono::seconds(1)) {
            lastSign = now;
            if (!Send(proto::Progress{nDone}))
                break;
        }
    }
    smbc_getFunctionClose(m_pCtx)(m_pCtx, file);
    return {err, bFound ? 1u : 0u};
}

SmbServer::Outcome SmbServer::OpenFile(const QByteArray& url)
{
    CloseFile(); // one open file at a time; no answer for the implicit close
    m_pFile = smbc_getFunctionOpen(m_pCtx)(m_pCtx, url.constData(), O_RDONLY, 0);
    if (!m_pFile)
        return {ErrnoOr(EIO)};
    struct stat st;
    std::uint64_t nSize = 0;
    if (smbc_getFunctionFstat(m_pCtx)(m_pCtx, m_pFile, &st) == 0)
        nSize = static_cast<std::uint64_t>(st.st_size);
    return {0, nSize};
}

SmbServer::Outcome SmbServer::ReadFile(std::uint64_t n)
{
    if (!m_pFile)
        return {EBADF};
    const std::size_t nWant = static_cast<std::size_t>(std::min<std::uint64_t>(n, kBlock));
    QByteArray data(static_cast<qsizetype>(nWant), Qt::Uninitialized);
    const ssize_t got = smbc_getFunctionRead(m_pCtx)(m_pCtx, m_pFile, data.data(), nWant);
    if (got < 0)
        return {ErrnoOr(EIO)};
    data.truncate(got);
    return {0, static_cast<std::uint64_t>(got), std::move(data)};
}

int SmbServer::CloseFile()
{
    if (!m_pFile)
        return 0;
    const int rc = smbc_getFunctionClose(m_pCtx)(m_pCtx, m_pFile);
    m_pFile = nullptr;
    return rc == 0 ? 0 : ErrnoOr(EIO);
}

SmbServer::Outcome SmbServer::Remove(const proto::Remove& req)
{
    const QByteArray url = proto::UrlOf(req.at);
    const int rc = req.bFolder ? smbc_getFunctionRmdir(m_pCtx)(m_pCtx, url.constData())
                               : smbc_getFunctionUnlink(m_pCtx)(m_pCtx, url.constData());
    return {rc == 0 ? 0 : ErrnoOr(EIO)};
}

SmbServer::Outcome SmbServer::StatPath(const QByteArray& url)
{
    struct stat st;
    if (smbc_getFunctionStat(m_pCtx)(m_pCtx, url.constData(), &st) != 0)
        return {ErrnoOr(EIO)};
    proto::StatReply reply;
    reply.entry.nAttributes = S_ISDIR(st.st_mode) ? 0x10u : 0x80u;
    reply.entry.nSize = S_ISDIR(st.st_mode) ? 0 : static_cast<std::uint64_t>(st.st_size);
    reply.entry.nTime = FileTime(st.st_mtim);
    reply.nInode = static_cast<std::uint64_t>(st.st_ino);
    reply.nDevice = static_cast<std::uint64_t>(st.st_dev);
    Send(reply);
    return {0};
}
