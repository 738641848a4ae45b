#include "HelperConnection.h"

#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

extern char** environ;

namespace smb {

namespace proto = smbproto;

namespace {

int MsLeft(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

} // namespace

std::shared_ptr<HelperConnection> HelperConnection::Start(const QString& path,
                                                          const HelperProfile& profile,
                                                          int nMaxConnections, int nMaxEntries)
{
    if (::access(QFile::encodeName(path).constData(), X_OK) != 0)
        return nullptr;
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
        return nullptr;
    std::vector<std::string> args{path.toStdString(),
                                  "--fd",
                                  "3",
                                  "--timeout",
                                  std::to_string(profile.msSmbTimeout),
                                  "--connections",
                                  std::to_string(nMaxConnections),
                                  "--max-entries",
                                  std::to_string(nMaxEntries)};
    if (profile.nPort > 0) {
        args.push_back("--port");
        args.push_back(std::to_string(profile.nPort));
    }
    if (profile.bNt1Only)
        args.push_back("--nt1");
    std::vector<char*> argv;
    for (std::string& s : args)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, sv[1], 3);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(sv[1]);
    if (rc != 0) {
        ::close(sv[0]);
        return nullptr;
    }
    ::fcntl(sv[0], F_SETFL, ::fcntl(sv[0], F_GETFL) | O_NONBLOCK);
    std::shared_ptr<HelperConnection> h(new HelperConnection);
    h->m_pid = pid;
    h->m_fd = sv[0];
    h->m_profile = profile;
    return h;
}

HelperConnection::~HelperConnection()
{
    Kill();
}

void HelperConnection::Kill()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_bDead = true;
}

void HelperConnection::PollWith(int fd, short events, int msTimeout,
                                const CancelToken& cancel) const
{
    // Wakes for the helper's socket, the caller's cancel and the pool's shutdown alike; a
    // token without a descriptor is looked at between slices.
    const int fdCancel = cancel.Fd(), fdClosing = m_binding.closing.Fd();
    pollfd fds[3] = {{fd, events, 0}, {fdCancel, POLLIN, 0}, {fdClosing, POLLIN, 0}};
    const int msSlice = m_binding.closing.Slice(cancel.Slice(msTimeout));
    ::poll(fds, 3, msSlice);
}

bool HelperConnection::Cancelled(const CancelToken& cancel) const
{
    return cancel.Cancelled() || m_binding.closing.Cancelled();
}

void HelperConnection::Fail(int err, bool bCount)
{
    const bool bWasAlive = !m_bDead;
    Kill();
    for (std::size_t i = 0; i < m_inFlight.size(); ++i)
        m_replies[m_inFlight[i].n] = Reply{err, i > 0, 0, {}};
    m_inFlight.clear();
    if (bWasAlive && bCount && m_binding.fnKilled)
        m_binding.fnKilled();
}

void HelperConnection::Restart()
{
    if (m_inFlight.empty())
        return;
    const auto now = Clock::now();
    m_deadline = now + std::chrono::milliseconds(m_inFlight.front().msLimit);
}

void HelperConnection::FrontStarts()
{
    if (m_inFlight.empty())
        return;
    Restart();
    m_endOfAll = Clock::now() + std::chrono::milliseconds(
                                    std::max(m_binding.msRequestTotal, m_inFlight.front().msLimit));
}

bool HelperConnection::SendAll(const QByteArray& data, const CancelToken& cancel, int* pErr)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_binding.msRequest);
    const char* p = data.constData();
    std::size_t nLeft = static_cast<std::size_t>(data.size());
    while (nLeft > 0) {
        const ssize_t put = ::send(m_fd, p, nLeft, MSG_NOSIGNAL);
        if (put > 0) {
            p += put;
            nLeft -= static_cast<std::size_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0 && errno != EAGAIN) {
            *pErr = proto::kErrHelperDied;
            return false;
        }
        if (Cancelled(cancel)) {
            *pErr = proto::kErrCancelled;
            return false;
        }
        if (MsLeft(deadline) == 0) {
            *pErr = proto::kErrHelperTimeout;
            return false;
        }
        PollWith(m_fd, POLLOUT, MsLeft(deadline), cancel);
    }
    return true;
}

quint64 HelperConnection::Send(const proto::ToHelper& req, Sink sink, const CancelToken& cancel,
                               int msDeadline)
{
    const quint64 n = m_nNext++;
    const proto::Target* at = proto::TargetOf(req);
    const QString server = at ? QString::fromUtf8(at->host) : QString();
    if (m_bDead) {
        m_replies[n] = Reply{proto::kErrHelperDied, true, 0, {}};
        return n;
    }
    // No second try of a login that was refused for good.
    if (!server.isEmpty() && m_binding.fnRefused && m_binding.fnRefused(server)) {
        m_replies[n] = Reply{proto::kErrLoginFailed, false, 0, {}};
        return n;
    }
    const bool bFirst =
        std::find(m_contacted.begin(), m_contacted.end(), m_binding.host) == m_contacted.end();
    const int msLimit =
        msDeadline > 0 ? msDeadline : m_binding.msRequest + (bFirst ? m_binding.msConnect : 0);
    m_inFlight.push_back({n, std::move(sink), server, msLimit});
    if (m_inFlight.size() == 1) {
        Restart();
        m_endOfAll =
            Clock::now() + std::chrono::milliseconds(std::max(m_binding.msRequestTotal, msLimit));
    }
    int err = 0;
    if (!SendAll(proto::Encode(req), cancel, &err))
        Fail(err);
    return n;
}

bool HelperConnection::Answer(const proto::AuthAsk& ask, const CancelToken& cancel)
{
    AuthQuestion q;
    q.strServer = QString::fromUtf8(ask.server);
    q.strShare = QString::fromUtf8(ask.share);
    q.bRefused = ask.bRefused != 0;
    q.nGen = ask.nGen;
    q.nKind = ask.refusedBy;
    q.bMayAsk = !q.strShare.isEmpty() || m_binding.bShareListAsks;
    AuthReply reply;
    reply.bGiveUp = q.bRefused;
    if (m_binding.fnCredentials)
        reply = m_binding.fnCredentials(q, CancelToken([&] { return Cancelled(cancel); }));
    // Nothing to try for this server (its login was refused for good): the helper waits inside
    // the library's connect for an answer. It gets none: it is ended before it could try any
    // login, and the request fails.
    if (!q.bRefused && reply.bGiveUp) {
        Fail(proto::kErrLoginFailed, false);
        return false;
    }
    proto::AuthAnswer answer;
    answer.workgroup = reply.login.strWorkgroup.toUtf8();
    answer.user = reply.login.strUser.toUtf8();
    answer.password = reply.login.strPassword.toUtf8();
    answer.nGen = reply.nGen;
    answer.bKerberos = reply.login.bKerberos ? 1 : 0;
    answer.bGiveUp = reply.bGiveUp ? 1 : 0;
    // A person may have taken their time: the deadline starts again.
    Restart();
    if (Cancelled(cancel)) {
        Fail(proto::kErrCancelled);
        return false;
    }
    int err = 0;
    const bool bSent = SendAll(proto::Encode(proto::ToHelper(std::move(answer))), cancel, &err);
    answer.password.fill('\0');
    if (!bSent) {
        Fail(err);
        return false;
    }
    return true;
}

bool HelperConnection::Take(proto::FromHelper& m, const CancelToken& cancel)
{
    if (m_inFlight.empty())
        return false; // nothing was asked: the helper broke the protocol
    // Any frame is a sign of life.
    Restart();
    if (const auto* ask = std::get_if<proto::AuthAsk>(&m)) {
        Answer(*ask, cancel); // a failure has ended the helper and failed the requests
        return true;
    }
    Pending& front = m_inFlight.front();
    auto* done = std::get_if<proto::Done>(&m);
    if (!done) {
        if (front.sink)
            front.sink(m);
        return true;
    }
    Reply r;
    r.nError = done->nError > 20000 ? EIO : static_cast<int>(done->nError);
    r.nResult = done->nResult;
    r.data = std::move(done->data);
    if (std::find(m_contacted.begin(), m_contacted.end(), m_binding.host) == m_contacted.end())
        m_contacted.push_back(m_binding.host);
    // The pool remembers a host that answers for ten seconds: telling it once a second spares
    // every walker the pool's lock on each folder.
    if (const auto now = Clock::now();
        r.nError == 0 && m_binding.fnAnswered && now - m_answeredNoted >= std::chrono::seconds(1)) {
        m_answeredNoted = now;
        m_binding.fnAnswered(m_profile.nPort);
    }
    if (!front.server.isEmpty() && m_binding.fnOutcome)
        m_binding.fnOutcome(front.server, r.nError != proto::kErrLoginFailed);
    m_replies[front.n] = std::move(r);
    m_inFlight.pop_front();
    // The next request's clocks start now: it waited behind this one.
    FrontStarts();
    return true;
}

bool HelperConnection::TakeReadFrame(const CancelToken& cancel)
{
    proto::FromHelper m;
    switch (m_reader.Next(&m)) {
    case proto::FrameReader::Status::Frame:
        if (!Take(m, cancel))
            Fail(proto::kErrHelperDied);
        return true;
    case proto::FrameReader::Status::Corrupt:
        Fail(proto::kErrHelperDied);
        return true;
    default:
        return false;
    }
}

void HelperConnection::Absorb(const CancelToken& cancel)
{
    char buf[65536];
    // Bounded: what a few reads bring, however fast the helper sends.
    for (int nReads = 0; !m_bDead && !m_inFlight.empty();) {
        if (TakeReadFrame(cancel))
            continue;
        if (nReads++ == 8)
            return;
        const ssize_t got = ::recv(m_fd, buf, sizeof buf, MSG_DONTWAIT);
        if (got > 0)
            m_reader.Append(buf, static_cast<std::size_t>(got));
        else if (got == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK))
            Fail(proto::kErrHelperDied);
        else
            return;
    }
}

Reply HelperConnection::Wait(quint64 n, const CancelToken& cancel)
{
    // Silence counts only while somebody listens: a lessee busy elsewhere (a long content test
    // on another helper, a slow results window) while the answers wait in the socket has not
    // seen the helper miss its deadline.
    if (!m_inFlight.empty() && Clock::now() >= m_deadline)
        Restart();
    char buf[65536];
    for (;;) {
        if (auto it = m_replies.find(n); it != m_replies.end()) {
            Reply r = std::move(it->second);
            m_replies.erase(it);
            return r;
        }
        const bool bWaiting = std::any_of(m_inFlight.begin(), m_inFlight.end(),
                                          [n](const Pending& p) { return p.n == n; });
        if (!bWaiting || m_bDead)
            return Reply{proto::kErrHelperDied, false, 0, {}};
        if (TakeReadFrame(cancel))
            continue;
        if (Cancelled(cancel)) {
            Fail(proto::kErrCancelled);
            continue;
        }
        // What has arrived is read before any deadline is looked at.
        const ssize_t got = ::recv(m_fd, buf, sizeof buf, 0);
        if (got > 0) {
            m_reader.Append(buf, static_cast<std::size_t>(got));
            continue;
        }
        if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
            Fail(proto::kErrHelperDied);
            continue;
        }
        const int msLeft = std::min(MsLeft(m_deadline), MsLeft(m_endOfAll));
        if (msLeft == 0) {
            Fail(proto::kErrHelperTimeout);
            continue;
        }
        PollWith(m_fd, POLLIN, msLeft, cancel);
    }
}

} // namespace smb
