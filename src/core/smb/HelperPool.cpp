#include "HelperPool.h"

#include "TcpProbe.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace smb {

namespace {
// n per core of this machine, kept between lo and hi.
int PerCore(int n, int lo, int hi)
{
    const int nCores = static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(n * std::max(nCores, 1), lo, hi);
}
} // namespace

int DefaultMaxHelpers()
{
    return PerCore(8, 8, 32);
}

int DefaultMinHelpers()
{
    return PerCore(2, 2, 8);
}

using Clock = std::chrono::steady_clock;

std::shared_ptr<HelperPool> HelperPool::Instance()
{
    static std::shared_ptr<HelperPool> s_pool = std::make_shared<HelperPool>();
    return s_pool;
}

HelperPool::HelperPool()
{
    m_budget.SetBounds(m_limits.nMinHelpers, m_limits.nMaxHelpers);
}

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
    m_limits.nMinHelpers = std::clamp(m_limits.nMinHelpers, 1, m_limits.nMaxHelpers);
    m_budget.SetBounds(m_limits.nMinHelpers, m_limits.nMaxHelpers);
    WakeTurn();
}

void HelperPool::SetCpuTicks(HelperBudget::TicksFn fn)
{
    std::lock_guard lock(m_mutex);
    m_budget = HelperBudget(std::move(fn));
    m_budget.SetBounds(m_limits.nMinHelpers, m_limits.nMaxHelpers);
    WakeTurn();
}

void HelperPool::UpdateBudget(bool bWants)
{
    m_budget.Update(bWants && BudgetedProcesses() >= m_budget.Allowed(), Clock::now());
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

const HelperPool::Waiter* HelperPool::Turn() const
{
    const Waiter* best = nullptr;
    int nBest = 0;
    for (const Waiter& w : m_waiters) {
        const int n = LentTo(w.host);
        if (n >= m_limits.nMaxPerHost - (w.bStanding ? 1 : 0))
            continue;
        if (!best || n < nBest) {
            best = &w;
            nBest = n;
        }
    }
    return best;
}

void HelperPool::WakeTurn()
{
    if (const Waiter* w = Turn())
        w->wake->notify_one();
}

void HelperPool::WakeAll()
{
    for (const Waiter& w : m_waiters)
        w.wake->notify_one();
}

int HelperPool::ProbeHost(const QString& host, int nPort, const CancelToken& cancel, bool bGreet)
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
    if (cancel.Cancelled())
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

bool HelperPool::Take(const QString& host, const HelperProfile& profile, Lease& lease,
                      std::shared_ptr<HelperConnection>* pVictim, bool bMayEvict)
{
    // An idle helper of this kind, best one that has worked for this host already.
    auto pick = m_idle.end();
    for (auto it = m_idle.begin(); it != m_idle.end(); ++it) {
        if (!((*it)->Profile() == profile))
            continue;
        if (pick == m_idle.end() || (*it)->LastHost() == host)
            pick = it;
        if ((*it)->LastHost() == host)
            break;
    }
    if (pick != m_idle.end()) {
        lease.m_helper = *pick;
        m_idle.erase(pick);
        return true;
    }
    UpdateBudget(true);
    if (m_nProcesses < m_limits.nMaxHelpers && BudgetedProcesses() < m_budget.Allowed()) {
        ++m_nProcesses;
        return true;
    }
    if (bMayEvict && !m_idle.empty()) {
        // Full, but an idle helper of another kind can make room.
        *pVictim = m_idle.front();
        m_idle.erase(m_idle.begin());
        return true;
    }
    return false;
}

HelperPool::Lease HelperPool::Acquire(const QString& host, const HelperProfile& profile,
                                      const CancelToken& cancel, bool bGreet)
{
    return AcquireFor(host, profile, cancel, bGreet, false);
}

HelperPool::Lease HelperPool::AcquireStanding(const QString& host, const HelperProfile& profile,
                                              const CancelToken& cancel)
{
    return AcquireFor(host, profile, cancel, false, true);
}

HelperPool::Lease HelperPool::AcquireFor(const QString& host, const HelperProfile& profile,
                                         const CancelToken& cancel, bool bGreet, bool bStanding)
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
    std::condition_variable wake;
    // Ends after the lock below is released: its end takes the token's lock, which a cancel
    // holds while it takes this one.
    const CancelToken::Wakeup onCancel = cancel.OnCancel([this, &wake] {
        std::lock_guard lock(m_mutex);
        wake.notify_one();
    });
    std::unique_lock lock(m_mutex);
    const Waiter me{host, m_nNextSeq++, &wake, bStanding};
    m_waiters.push_back(me);
    auto leave = [&] {
        std::erase_if(m_waiters, [&](const Waiter& w) { return w.nSeq == me.nSeq; });
        WakeTurn();
    };
    std::shared_ptr<HelperConnection> victim;
    for (;;) {
        if (m_bShutdown || cancel.Cancelled()) {
            leave();
            return fail(smbproto::kErrCancelled);
        }
        const Waiter* turn = Turn();
        if (turn && turn->nSeq == me.nSeq && Take(host, profile, lease, &victim, true))
            break;
        // Woken by a change or a cancel; the bound covers a token without a wake-up, and a
        // budget that may grow while nothing changes.
        const bool bMyTurn = turn && turn->nSeq == me.nSeq;
        const int msLook =
            bMyTurn && m_budget.MayGrow() ? static_cast<int>(HelperBudget::kPeriod.count()) : 2000;
        wake.wait_for(lock, std::chrono::milliseconds(cancel.Slice(msLook)));
    }
    AddLent(host, 1);
    if (bStanding)
        ++m_nStanding;
    leave();
    lease.m_host = host;
    lease.m_bStanding = bStanding;
    lock.unlock();
    return Finish(std::move(lease), profile, std::move(victim));
}

HelperPool::Lease HelperPool::TryAcquire(const QString& host, const HelperProfile& profile)
{
    Lease lease;
    std::unique_lock lock(m_mutex);
    if (m_bShutdown || ForegroundWaits() || LentTo(host) >= m_limits.nMaxPerHost)
        return lease;
    std::shared_ptr<HelperConnection> victim;
    if (!Take(host, profile, lease, &victim, false))
        return lease;
    AddLent(host, 1);
    lease.m_host = host;
    lock.unlock();
    return Finish(std::move(lease), profile, nullptr);
}

bool HelperPool::HasWaiters() const
{
    std::lock_guard lock(m_mutex);
    return ForegroundWaits();
}

bool HelperPool::ForegroundWaits() const
{
    return std::any_of(m_waiters.begin(), m_waiters.end(),
                       [](const Waiter& w) { return !w.bStanding; });
}

Binding HelperPool::BindingFor(const QString& host)
{
    std::lock_guard lock(m_mutex);
    Binding b;
    b.host = host;
    b.msRequest = m_limits.msRequest;
    b.msConnect = m_limits.msConnect;
    b.msRequestTotal = m_limits.msRequestTotal;
    b.fnCredentials = m_fnCredentials;
    b.fnRefused = m_fnRefused;
    b.fnOutcome = m_fnOutcome;
    b.closing = m_closing;
    std::weak_ptr<HelperPool> weak = weak_from_this();
    b.fnKilled = [weak] {
        if (auto pool = weak.lock()) {
            std::lock_guard lock(pool->m_mutex);
            ++pool->m_stats.nKilled;
        }
    };
    b.fnAnswered = [weak, host](int nPort) {
        if (auto pool = weak.lock())
            pool->NoteAnswered(host, nPort);
    };
    return b;
}

HelperPool::Lease HelperPool::Finish(Lease lease, const HelperProfile& profile,
                                     std::shared_ptr<HelperConnection> victim)
{
    lease.m_pool = shared_from_this();
    if (!lease.m_helper) {
        int nMaxConnections = 0, nMaxEntries = 0;
        {
            std::lock_guard lock(m_mutex);
            nMaxConnections = m_limits.nMaxConnections;
            nMaxEntries = m_limits.nMaxEntries;
        }
        if (victim)
            victim->Kill();
        auto helper = HelperConnection::Start(HelperPath(), profile, nMaxConnections, nMaxEntries);
        std::lock_guard lock(m_mutex);
        if (!helper) {
            --m_nProcesses;
            AddLent(lease.m_host, -1);
            if (lease.m_bStanding)
                --m_nStanding;
            WakeTurn();
            lease.m_pool.reset();
            lease.m_nError = smbproto::kErrNoHelper;
            return lease;
        }
        ++m_stats.nStarted;
        m_stats.nPeakProcesses = std::max(m_stats.nPeakProcesses, m_nProcesses);
        lease.m_helper = std::move(helper);
    }
    lease.m_helper->Bind(BindingFor(lease.m_host));
    return lease;
}

void HelperPool::Give(std::shared_ptr<HelperConnection> helper, const QString& host, bool bStanding)
{
    std::unique_lock lock(m_mutex);
    AddLent(host, -1);
    if (bStanding)
        --m_nStanding;
    UpdateBudget(ForegroundWaits());
    // Beyond the budget (the CPU is busy) a helper that comes back ends.
    if (helper->Dead() || helper->InFlight() > 0 || m_bShutdown ||
        BudgetedProcesses() > m_budget.Allowed()) {
        // Counted until it has ended: a new helper never starts beside one still dying.
        lock.unlock();
        helper->Kill();
        lock.lock();
        --m_nProcesses;
        WakeTurn();
        return;
    }
    helper->idleSince = Clock::now();
    m_idle.push_back(std::move(helper));
    if (!m_bReaperRunning) {
        m_bReaperRunning = true;
        m_reaper = std::thread([this] { Reaper(); });
    }
    WakeTurn();
}

void HelperPool::Reaper()
{
    std::unique_lock lock(m_mutex);
    while (!m_bShutdown) {
        m_reaperWake.wait_for(lock, std::chrono::milliseconds(500));
        const auto limit = Clock::now() - std::chrono::milliseconds(m_limits.msIdle);
        std::vector<std::shared_ptr<HelperConnection>> old;
        for (auto it = m_idle.begin(); it != m_idle.end();) {
            if ((*it)->idleSince < limit) {
                old.push_back(std::move(*it));
                it = m_idle.erase(it);
            } else {
                ++it;
            }
        }
        if (old.empty())
            continue;
        const int nOld = static_cast<int>(old.size());
        lock.unlock();
        old.clear(); // ends them
        lock.lock();
        m_nProcesses -= nOld;
        WakeTurn();
    }
}

void HelperPool::DropIdle()
{
    std::vector<std::shared_ptr<HelperConnection>> idle;
    {
        std::lock_guard lock(m_mutex);
        idle.swap(m_idle);
    }
    const int nIdle = static_cast<int>(idle.size());
    idle.clear(); // ends them
    std::lock_guard lock(m_mutex);
    m_nProcesses -= nIdle;
    WakeTurn();
}

void HelperPool::Shutdown()
{
    std::vector<std::shared_ptr<HelperConnection>> idle;
    {
        std::lock_guard lock(m_mutex);
        m_bShutdown = true;
        idle.swap(m_idle);
        m_nProcesses -= static_cast<int>(idle.size());
        WakeAll();
        m_reaperWake.notify_all();
    }
    m_closing.Cancel();
    idle.clear();
    if (m_reaper.joinable() && m_reaper.get_id() != std::this_thread::get_id())
        m_reaper.join();
}

HelperPool::Stats HelperPool::GetStats() const
{
    std::lock_guard lock(m_mutex);
    Stats s = m_stats;
    s.nProcesses = m_nProcesses;
    s.nAllowed = m_budget.Allowed();
    s.nIdle = static_cast<int>(m_idle.size());
    for (const auto& [h, n] : m_lentPerHost)
        s.nLent += n;
    for (const auto& h : m_idle)
        s.pids.push_back(h->Pid());
    return s;
}

HelperPool::Lease::Lease(Lease&& other) noexcept
    : m_pool(std::move(other.m_pool)), m_helper(std::move(other.m_helper)),
      m_host(std::move(other.m_host)), m_bStanding(other.m_bStanding), m_nError(other.m_nError)
{}

HelperPool::Lease& HelperPool::Lease::operator=(Lease&& other) noexcept
{
    if (this != &other) {
        Release();
        m_pool = std::move(other.m_pool);
        m_helper = std::move(other.m_helper);
        m_host = std::move(other.m_host);
        m_bStanding = other.m_bStanding;
        m_nError = other.m_nError;
    }
    return *this;
}

void HelperPool::Lease::Release()
{
    if (m_helper && m_pool)
        m_pool->Give(std::move(m_helper), m_host, m_bStanding);
    m_helper.reset();
    m_pool.reset();
}

void HelperPool::Lease::LetShareListAsk(bool bAsks)
{
    if (m_helper)
        m_helper->SetShareListAsks(bAsks);
}

Reply HelperPool::Lease::Call(const smbproto::ToHelper& req, const HelperConnection::Sink& onFrame,
                              const CancelToken& cancel, int msDeadline)
{
    return Wait(Send(req, onFrame, cancel, msDeadline), cancel);
}

quint64 HelperPool::Lease::Send(const smbproto::ToHelper& req, HelperConnection::Sink sink,
                                const CancelToken& cancel, int msDeadline)
{
    if (!m_helper)
        return 0;
    return m_helper->Send(req, std::move(sink), cancel, msDeadline);
}

Reply HelperPool::Lease::Wait(quint64 n, const CancelToken& cancel)
{
    if (!m_helper)
        return Reply{smbproto::kErrHelperDied, false, 0, {}};
    return m_helper->Wait(n, cancel);
}

} // namespace smb
