#include "HelperPool.h"

#include "TcpProbe.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>

extern char** environ;

namespace smb {

using smbproto::Message;
using smbproto::Op;
using Clock = std::chrono::steady_clock;

// One helper process and our end of its socket. Used by one thread at a time (its lessee).
class HelperProcess
{
public:
    ~HelperProcess() { Kill(); }
    void Kill()
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

    pid_t m_pid = -1;
    int m_fd = -1;
    HelperProfile m_profile;
    QString m_lastHost;
    std::vector<QString> m_contacted; // hosts this helper has had an answer from
    Clock::time_point m_idleSince;
    bool m_bDead = false;
    smbproto::FrameReader m_reader;
};

namespace {

std::shared_ptr<HelperProcess> Spawn(const QString& path, const HelperProfile& profile,
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
    auto h = std::make_shared<HelperProcess>();
    h->m_pid = pid;
    h->m_fd = sv[0];
    h->m_profile = profile;
    return h;
}

int MsLeft(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

bool FromHelper(Op op)
{
    return op == Op::Names || op == Op::Entries || op == Op::Progress || op == Op::Data ||
           op == Op::StatReply || op == Op::AuthAsk || op == Op::Done;
}

} // namespace

std::shared_ptr<HelperPool> HelperPool::Instance()
{
    static std::shared_ptr<HelperPool> s_pool = std::make_shared<HelperPool>();
    return s_pool;
}

HelperPool::HelperPool() = default;

HelperPool::~HelperPool()
{
    Shutdown();
}

void HelperPool::SetLimits(const PoolLimits& limits)
{
    std::lock_guard lock(m_mutex);
    m_limits = limits;
    m_limits.nMaxHelpers = std::max(1, m_limits.nMaxHelpers);
    m_limits.nMaxPerHost = std::clamp(m_limits.nMaxPerHost, 1, m_limits.nMaxHelpers);
    m_changed.notify_all();
}

PoolLimits HelperPool::Limits() const
{
    std::lock_guard lock(m_mutex);
    return m_limits;
}

void HelperPool::SetLoginOutcome(std::function<bool(const QString&)> fnRefused,
                                 std::function<void(const QString&, bool)> fnOutcome)
{
    std::lock_guard lock(m_mutex);
    m_fnRefused = std::move(fnRefused);
    m_fnOutcome = std::move(fnOutcome);
}

void HelperPool::SetCredentials(CredentialsFn fn)
{
    std::lock_guard lock(m_mutex);
    m_fnCredentials = std::move(fn);
}

void HelperPool::SetHelperPath(const QString& path)
{
    std::lock_guard lock(m_mutex);
    m_helperPath = path;
}

QString HelperPool::HelperPath() const
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_helperPath.isEmpty())
            return m_helperPath;
    }
    // Looked up once: it does not move while the program runs.
    static const QString s_path = FindHelper();
    return s_path;
}

QString HelperPool::FindHelper()
{
    const QByteArray env = qgetenv("BC_SMB_HELPER");
    if (!env.isEmpty())
        return QString::fromLocal8Bit(env);
    const QString dir =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    for (const QString& rel : {QStringLiteral("brindlecove-smb"),
                               QStringLiteral("../libexec/brindlecove/brindlecove-smb")}) {
        const QString candidate = QDir(dir).filePath(rel);
        if (!dir.isEmpty() && QFileInfo(candidate).isExecutable())
            return QDir::cleanPath(candidate);
    }
    return QStringLiteral("/usr/libexec/brindlecove/brindlecove-smb");
}

int HelperPool::LentTo(const QString& host) const
{
    for (const auto& [h, n] : m_lentPerHost)
        if (h == host)
            return n;
    return 0;
}

void HelperPool::AddLent(const QString& host, int n)
{
    for (auto it = m_lentPerHost.begin(); it != m_lentPerHost.end(); ++it) {
        if (it->first == host) {
            it->second += n;
            m_stats.nPeakLentPerHost = std::max(m_stats.nPeakLentPerHost, it->second);
            if (it->second <= 0)
                m_lentPerHost.erase(it);
            return;
        }
    }
    if (n > 0) {
        m_lentPerHost.emplace_back(host, n);
        m_stats.nPeakLentPerHost = std::max(m_stats.nPeakLentPerHost, n);
    }
}

bool HelperPool::IsTurnOf(const Waiter& me) const
{
    // The first waiter of the host that has the fewest helpers, among hosts below their cap.
    const Waiter* best = nullptr;
    int nBest = 0;
    for (const Waiter& w : m_waiters) {
        const int n = LentTo(w.host);
        if (n >= m_limits.nMaxPerHost)
            continue;
        if (!best || n < nBest) {
            best = &w;
            nBest = n;
        }
    }
    return best && best->nSeq == me.nSeq;
}

int HelperPool::ProbeHost(const QString& host, int nPort, const CancelFn& cancel, bool bGreet)
{
    bGreet = bGreet && nPort == 445;
    int msConnect = 0, msAnswer = 0;
    {
        std::lock_guard lock(m_mutex);
        msConnect = m_limits.msConnect;
        msAnswer = bGreet ? m_limits.msAnswer : 0;
        const qint64 msNow = QDateTime::currentMSecsSinceEpoch();
        // A silent greeting says nothing to a caller that does not greet; an open port without
        // a greeting says too little to one that does.
        for (const ProbeMemo& p : m_probes)
            if (p.host == host && p.nPort == nPort && msNow - p.msAt < 10000 &&
                (p.bGreeted == bGreet || (p.nResult == 0) == p.bGreeted))
                return p.nResult;
    }
    const ProbeResult r = ProbeTcp(host, nPort, msConnect, cancel, msAnswer);
    if (cancel && cancel())
        return smbproto::kErrCancelled;
    const int nResult = r == ProbeResult::Open       ? 0
                        : r == ProbeResult::Refused  ? ECONNREFUSED
                        : r == ProbeResult::TimedOut ? ETIMEDOUT
                        : r == ProbeResult::Silent   ? ETIMEDOUT
                                                     : EHOSTUNREACH;
    std::lock_guard lock(m_mutex);
    const qint64 msNow = QDateTime::currentMSecsSinceEpoch();
    ForgetProbe(host, nPort, msNow);
    // A refusal costs nothing to learn again, and a server that was just restarted must not be
    // taken for closed: only what costs the deadline is kept.
    if (nResult != ECONNREFUSED)
        m_probes.push_back({host, nPort, nResult, bGreet, msNow});
    return nResult;
}

void HelperPool::ForgetProbe(const QString& host, int nPort, qint64 msNow)
{
    std::erase_if(m_probes, [&](const ProbeMemo& p) {
        return (p.host == host && p.nPort == nPort) || msNow - p.msAt >= 10000;
    });
}

void HelperPool::NoteAnswered(const QString& host, int nPort)
{
    if (nPort <= 0 || !IsNumericAddress(host))
        return;
    std::lock_guard lock(m_mutex);
    const qint64 msNow = QDateTime::currentMSecsSinceEpoch();
    ForgetProbe(host, nPort, msNow);
    m_probes.push_back({host, nPort, 0, true, msNow});
}

HelperPool::Lease HelperPool::Acquire(const QString& host, const HelperProfile& profile,
                                      const CancelFn& cancel, bool bGreet)
{
    Lease lease;
    auto fail = [&lease](int err) {
        lease.m_nError = err;
        return std::move(lease);
    };
    // A numeric address that does not answer costs the probe, not a helper.
    if (profile.nPort > 0 && IsNumericAddress(host))
        if (const int err = ProbeHost(host, profile.nPort, cancel, bGreet); err != 0)
            return fail(err);
    std::unique_lock lock(m_mutex);
    const Waiter me{host, m_nNextSeq++};
    m_waiters.push_back(me);
    auto leave = [&] {
        std::erase_if(m_waiters, [&](const Waiter& w) { return w.nSeq == me.nSeq; });
        m_changed.notify_all();
    };
    std::shared_ptr<HelperProcess> victim;
    for (;;) {
        if (m_bShutdown || (cancel && cancel())) {
            leave();
            return fail(smbproto::kErrCancelled);
        }
        if (IsTurnOf(me)) {
            // An idle helper of this kind, best one that has talked to this host already.
            auto pick = m_idle.end();
            for (auto it = m_idle.begin(); it != m_idle.end(); ++it) {
                if (!((*it)->m_profile == profile))
                    continue;
                if (pick == m_idle.end() || (*it)->m_lastHost == host)
                    pick = it;
                if ((*it)->m_lastHost == host)
                    break;
            }
            if (pick != m_idle.end()) {
                lease.m_helper = *pick;
                m_idle.erase(pick);
                break;
            }
            if (m_nProcesses < m_limits.nMaxHelpers) {
                ++m_nProcesses;
                break;
            }
            if (!m_idle.empty()) {
                // Full, but an idle helper of another kind can make room.
                victim = m_idle.front();
                m_idle.erase(m_idle.begin());
                break;
            }
        }
        m_changed.wait_for(lock, std::chrono::milliseconds(50));
    }
    AddLent(host, 1);
    leave();
    lease.m_pool = shared_from_this();
    lease.m_host = host;
    if (lease.m_helper)
        return lease;
    const int nMaxConnections = m_limits.nMaxConnections;
    const int nMaxEntries = m_limits.nMaxEntries;
    lock.unlock();
    if (victim)
        victim->Kill();
    auto helper = Spawn(HelperPath(), profile, nMaxConnections, nMaxEntries);
    lock.lock();
    if (!helper) {
        --m_nProcesses;
        AddLent(host, -1);
        m_changed.notify_all();
        lease.m_pool.reset();
        return fail(smbproto::kErrNoHelper);
    }
    ++m_stats.nStarted;
    m_stats.nPeakProcesses = std::max(m_stats.nPeakProcesses, m_nProcesses);
    lease.m_helper = std::move(helper);
    return lease;
}

void HelperPool::Give(std::shared_ptr<HelperProcess> helper, const QString& host)
{
    std::unique_lock lock(m_mutex);
    AddLent(host, -1);
    if (helper->m_bDead || m_bShutdown) {
        --m_nProcesses;
        m_changed.notify_all();
        lock.unlock();
        helper->Kill();
        return;
    }
    helper->m_idleSince = Clock::now();
    helper->m_lastHost = host;
    m_idle.push_back(std::move(helper));
    if (!m_bReaperRunning) {
        m_bReaperRunning = true;
        m_reaper = std::thread([this] { Reaper(); });
    }
    m_changed.notify_all();
}

void HelperPool::Reaper()
{
    std::unique_lock lock(m_mutex);
    while (!m_bShutdown) {
        m_reaperWake.wait_for(lock, std::chrono::milliseconds(500));
        const auto limit = Clock::now() - std::chrono::milliseconds(m_limits.msIdle);
        std::vector<std::shared_ptr<HelperProcess>> old;
        for (auto it = m_idle.begin(); it != m_idle.end();) {
            if ((*it)->m_idleSince < limit) {
                old.push_back(std::move(*it));
                it = m_idle.erase(it);
            } else {
                ++it;
            }
        }
        if (old.empty())
            continue;
        m_nProcesses -= static_cast<int>(old.size());
        m_changed.notify_all();
        lock.unlock();
        old.clear(); // ends them
        lock.lock();
    }
}

void HelperPool::DropIdle()
{
    std::vector<std::shared_ptr<HelperProcess>> idle;
    {
        std::lock_guard lock(m_mutex);
        idle.swap(m_idle);
        m_nProcesses -= static_cast<int>(idle.size());
        m_changed.notify_all();
    }
}

void HelperPool::Shutdown()
{
    std::vector<std::shared_ptr<HelperProcess>> idle;
    {
        std::lock_guard lock(m_mutex);
        m_bShutdown = true;
        m_bClosing = true;
        idle.swap(m_idle);
        m_nProcesses -= static_cast<int>(idle.size());
        m_changed.notify_all();
        m_reaperWake.notify_all();
    }
    idle.clear();
    if (m_reaper.joinable() && m_reaper.get_id() != std::this_thread::get_id())
        m_reaper.join();
}

HelperPool::Stats HelperPool::GetStats() const
{
    std::lock_guard lock(m_mutex);
    Stats s = m_stats;
    s.nProcesses = m_nProcesses;
    s.nIdle = static_cast<int>(m_idle.size());
    for (const auto& [h, n] : m_lentPerHost)
        s.nLent += n;
    for (const auto& h : m_idle)
        s.pids.push_back(h->m_pid);
    return s;
}

HelperPool::Lease::Lease(Lease&& other) noexcept
    : m_pool(std::move(other.m_pool)), m_helper(std::move(other.m_helper)),
      m_host(std::move(other.m_host)), m_nError(other.m_nError),
      m_bShareListAsks(other.m_bShareListAsks)
{}

HelperPool::Lease& HelperPool::Lease::operator=(Lease&& other) noexcept
{
    if (this != &other) {
        Release();
        m_pool = std::move(other.m_pool);
        m_helper = std::move(other.m_helper);
        m_host = std::move(other.m_host);
        m_nError = other.m_nError;
        m_bShareListAsks = other.m_bShareListAsks;
    }
    return *this;
}

void HelperPool::Lease::Release()
{
    if (m_helper && m_pool)
        m_pool->Give(std::move(m_helper), m_host);
    m_helper.reset();
    m_pool.reset();
}

namespace {

// Writes all of data to a non-blocking socket; false (with *pErr) on a failure, the deadline or
// a cancel.
bool SendAll(int fd, const QByteArray& data, Clock::time_point deadline, const CancelFn& cancel,
             const std::atomic<bool>& closing, int* pErr)
{
    const char* p = data.constData();
    std::size_t nLeft = static_cast<std::size_t>(data.size());
    while (nLeft > 0) {
        const ssize_t put = ::send(fd, p, nLeft, MSG_NOSIGNAL);
        if (put > 0) {
            p += put;
            nLeft -= static_cast<std::size_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0 && errno != EAGAIN) {
            *pErr = smbproto::kErrHelperDied;
            return false;
        }
        if ((cancel && cancel()) || closing) {
            *pErr = smbproto::kErrCancelled;
            return false;
        }
        if (MsLeft(deadline) == 0) {
            *pErr = smbproto::kErrHelperTimeout;
            return false;
        }
        pollfd pfd{fd, POLLOUT, 0};
        ::poll(&pfd, 1, std::min(50, MsLeft(deadline)));
    }
    return true;
}

} // namespace

int HelperPool::Lease::Call(const Message& req, const std::function<void(Message&)>& onFrame,
                            Message* pDone, const CancelFn& cancel, int msDeadline)
{
    std::vector<int> errs;
    Exchange(
        {req}, [&](std::size_t, Message& m) { onFrame ? onFrame(m) : void(); }, errs, pDone, cancel,
        msDeadline);
    return errs.front();
}

void HelperPool::Lease::CallMany(const std::vector<Message>& reqs,
                                 const std::function<void(std::size_t, Message&)>& onFrame,
                                 std::vector<int>& errs, const CancelFn& cancel)
{
    Exchange(reqs, onFrame, errs, nullptr, cancel, 0);
}

void HelperPool::Lease::Exchange(const std::vector<Message>& reqs,
                                 const std::function<void(std::size_t, Message&)>& onFrame,
                                 std::vector<int>& errs, Message* pDone, const CancelFn& cancel,
                                 int msDeadline)
{
    errs.assign(reqs.size(), 0);
    std::size_t nAt = 0; // the request whose answer comes next
    auto failRest = [&](int err) {
        for (std::size_t i = nAt; i < errs.size(); ++i)
            errs[i] = err;
    };
    if (!m_helper || m_helper->m_bDead) {
        failRest(smbproto::kErrHelperDied);
        return;
    }
    HelperProcess& h = *m_helper;
    // The server the requests name (one lease serves one host), as the helper's login
    // questions name it.
    QString server;
    if (reqs.front().s1.startsWith("smb://"))
        server = QUrl::fromPercentEncoding(reqs.front().s1.mid(6).split('/').value(0));
    std::function<bool(const QString&)> fnRefused;
    std::function<void(const QString&, bool)> fnOutcome;
    {
        std::lock_guard lock(m_pool->m_mutex);
        fnRefused = m_pool->m_fnRefused;
        fnOutcome = m_pool->m_fnOutcome;
    }
    if (!server.isEmpty() && fnRefused && fnRefused(server)) {
        failRest(smbproto::kErrLoginFailed); // no second try of a refused login
        return;
    }
    const PoolLimits limits = m_pool->Limits();
    const bool bFirst =
        std::find(h.m_contacted.begin(), h.m_contacted.end(), m_host) == h.m_contacted.end();
    const int msLimit =
        msDeadline > 0 ? msDeadline : limits.msRequest + (bFirst ? limits.msConnect : 0);
    auto fail = [&](int err) {
        h.Kill();
        failRest(err);
        std::lock_guard lock(m_pool->m_mutex);
        ++m_pool->m_stats.nKilled;
    };
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(msLimit);
    const Clock::time_point endOfAll =
        Clock::now() + std::chrono::milliseconds(std::max(limits.msRequestTotal, msLimit));
    int err = 0;
    QByteArray frames;
    for (const Message& req : reqs)
        frames += smbproto::Encode(req);
    if (!SendAll(h.m_fd, frames, deadline, cancel, m_pool->m_bClosing, &err))
        return fail(err);
    char buf[65536];
    while (nAt < reqs.size()) {
        Message m;
        const auto status = h.m_reader.Next(&m);
        if (status == smbproto::FrameReader::Status::Corrupt)
            return fail(smbproto::kErrHelperDied);
        if (status == smbproto::FrameReader::Status::Frame) {
            if (!FromHelper(m.op))
                return fail(smbproto::kErrHelperDied);
            // Any frame is a sign of life.
            deadline = Clock::now() + std::chrono::milliseconds(msLimit);
            if (m.op == Op::AuthAsk) {
                CredentialsFn fn;
                {
                    std::lock_guard lock(m_pool->m_mutex);
                    fn = m_pool->m_fnCredentials;
                }
                AuthQuestion q;
                q.strServer = QString::fromUtf8(m.s1);
                q.strShare = QString::fromUtf8(m.s2);
                q.bRefused = m.n1 > 0;
                q.nGen = m.n1 > 0 ? m.n1 - 1 : 0;
                q.nKind = m.n2;
                q.bMayAsk = !q.strShare.isEmpty() || m_bShareListAsks;
                AuthReply reply;
                reply.bGiveUp = q.bRefused;
                if (fn)
                    reply = fn(q, [&] { return (cancel && cancel()) || m_pool->m_bClosing; });
                // Nothing to try for this server (its login was refused for good): the helper
                // waits inside the library's connect for an answer. It gets none: it is ended
                // before it could try any login, and the request fails.
                if (!q.bRefused && reply.bGiveUp) {
                    h.Kill();
                    failRest(smbproto::kErrLoginFailed);
                    return;
                }
                Message answer;
                answer.op = Op::AuthAnswer;
                answer.n1 = reply.nGen;
                answer.n2 = (reply.login.bKerberos ? smbproto::kLoginKerberos : 0) |
                            (reply.bGiveUp ? smbproto::kLoginGiveUp : 0);
                answer.s1 = reply.login.strWorkgroup.toUtf8();
                answer.s2 = reply.login.strUser.toUtf8();
                answer.s3 = reply.login.strPassword.toUtf8();
                // A person may have taken their time: the deadline starts again.
                deadline = Clock::now() + std::chrono::milliseconds(msLimit);
                if ((cancel && cancel()) || m_pool->m_bClosing)
                    return fail(smbproto::kErrCancelled);
                if (!SendAll(h.m_fd, smbproto::Encode(answer), deadline, cancel, m_pool->m_bClosing,
                             &err))
                    return fail(err);
                continue;
            }
            if (m.op == Op::Done) {
                if (bFirst && nAt == 0)
                    h.m_contacted.push_back(m_host);
                if (m.n2 == 0)
                    m_pool->NoteAnswered(m_host, h.m_profile.nPort);
                errs[nAt] = m.n2 > 20000 ? EIO : static_cast<int>(m.n2);
                if (!server.isEmpty() && fnOutcome)
                    fnOutcome(server, errs[nAt] != smbproto::kErrLoginFailed);
                if (pDone)
                    *pDone = std::move(m);
                ++nAt;
                continue;
            }
            if (onFrame)
                onFrame(nAt, m);
            continue;
        }
        if ((cancel && cancel()) || m_pool->m_bClosing)
            return fail(smbproto::kErrCancelled);
        const int msLeft = std::min(MsLeft(deadline), MsLeft(endOfAll));
        if (msLeft == 0)
            return fail(smbproto::kErrHelperTimeout);
        // The answer is often there already: read first, wait only when there is nothing.
        const ssize_t got = ::recv(h.m_fd, buf, sizeof buf, 0);
        if (got > 0) {
            h.m_reader.Append(buf, static_cast<std::size_t>(got));
            continue;
        }
        if (got == 0 || (errno != EINTR && errno != EAGAIN))
            return fail(smbproto::kErrHelperDied);
        pollfd pfd{h.m_fd, POLLIN, 0};
        ::poll(&pfd, 1, std::min(50, msLeft));
    }
}

QString ErrorText(int err)
{
    return QString::fromUtf8(smbproto::ErrorText(err));
}

} // namespace smb
