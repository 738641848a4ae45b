#pragma once

#include "HelperBudget.h"
#include "HelperConnection.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <sys/types.h>

// SMB access runs in helper processes (brindlecove-smb), each using the SMB library from one
// thread. The pool starts them (HelperConnection), lends them out, one host at a time, for as
// long as the lessee works there (a share walk, one open file, one share list), and keeps them
// for reuse while they are idle for a short time.
//
// Any thread. Bounds: at most nMaxHelpers processes in all (fewer while the CPU is busy, see
// HelperBudget) and nMaxPerHost lent out per host at once; callers that wait are served host by
// host, the host with the fewest helpers first, so every host gets its turn. A request that shows
// no sign of life within its deadline, or whose caller gives up (cancel), ends its helper with
// SIGKILL; a helper that dies or breaks the protocol is dropped. Either costs that request, never
// the caller.
namespace smb {

// Helpers at most unless the settings say otherwise: eight per core, between 8 and 32. A helper
// that waits on a far server costs no CPU, so many of them walk far servers fast (4 servers
// 1 ms away: 16 helpers on 2 cores took 5.5 s, 8 took 7.8 s); one that lists a near server is
// busy all the time, and there more helpers than the cores can serve only take turns with each
// other and the servers (20 loopback servers on 2 cores: 4 helpers 20 s, 8 helpers 24 s). So
// between a floor and this cap the count follows the idle CPU (HelperBudget).
int DefaultMaxHelpers();
// Helpers the pool may always run: two per core, between 2 and 8.
int DefaultMinHelpers();

struct PoolLimits
{
    int nMaxHelpers = DefaultMaxHelpers();
    int nMinHelpers = DefaultMinHelpers(); // brought under nMaxHelpers
    int nMaxPerHost = 4;                   // helpers (and so connections) one server serves at once
    int msIdle = 10000;                    // an idle helper ends after this long
    int msConnect = 3000;  // TCP connect to a numeric address; added to a first request
    int msAnswer = 5000;   // then its first SMB answer (a host that accepts and is silent)
    int msRequest = 15000; // a request without any sign of life
    // SMB connections (one per server and share) a helper keeps open besides one with an open
    // file; beyond, it closes the least recently used. A helper works for one share at a time,
    // so one is enough: it closes its last connection when it moves on.
    int nMaxConnections = 1;
    // Entries of one folder listing at most: a server that sends more is cut off there (the
    // listing says so).
    int nMaxEntries = 1000000;
    // A request's whole time at most, however often it shows a sign of life (a server that
    // sends a byte at a time keeps none of ours for good).
    int msRequestTotal = 600000;
};

class HelperPool : public std::enable_shared_from_this<HelperPool>
{
public:
    // The process's pool.
    static std::shared_ptr<HelperPool> Instance();

    HelperPool();
    ~HelperPool();
    HelperPool(const HelperPool&) = delete;
    HelperPool& operator=(const HelperPool&) = delete;

    void SetLimits(const PoolLimits& limits);
    // Where the pool reads the machine's CPU time (tests; default /proc/stat).
    void SetCpuTicks(HelperBudget::TicksFn fn);
    PoolLimits Limits() const;
    // Answers the helpers' credential questions (on the requesting thread). Default: guest,
    // and a refusal fails the request.
    void SetCredentials(CredentialsFn fn);
    // Whether a server's login was refused for good (its requests then fail at once, with no
    // login tried), and where each request's outcome is told (bLoginOk: not refused).
    void SetLoginOutcome(std::function<bool(const QString& server)> fnRefused,
                         std::function<void(const QString& server, bool bLoginOk)> fnOutcome);
    // The helper program (default: brindlecove-smb beside this program, or $BC_SMB_HELPER).
    void SetHelperPath(const QString& path);
    QString HelperPath() const;

    // One helper, lent to one caller; given back when destroyed.
    class Lease
    {
    public:
        Lease() = default;
        ~Lease() { Release(); }
        Lease(Lease&& other) noexcept;
        Lease& operator=(Lease&& other) noexcept;
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;

        bool Valid() const { return m_helper != nullptr; }
        // Lent and not ended by a failure.
        bool Alive() const { return m_helper && !m_helper->Dead(); }
        int Error() const { return m_nError; } // why Acquire gave none
        const QString& Host() const { return m_host; }

        // Sends req and waits for its end; data frames go to onFrame. After a failure of ours
        // (a deadline, a cancel, a helper that died) the helper is gone and later calls fail at
        // once. msDeadline: the request's own deadline instead of the pool's (0).
        Reply Call(const smbproto::ToHelper& req, const HelperConnection::Sink& onFrame,
                   const CancelToken& cancel, int msDeadline = 0);
        // Pipelining: several requests sent, each waited for by its number, in any order (the
        // helper answers them in the order sent).
        quint64 Send(const smbproto::ToHelper& req, HelperConnection::Sink sink,
                     const CancelToken& cancel, int msDeadline = 0);
        Reply Wait(quint64 n, const CancelToken& cancel);
        // Takes in the answers that have arrived (never waits), so InFlight is what the
        // helper still works on, not what nobody has read yet.
        void Absorb(const CancelToken& cancel)
        {
            if (m_helper)
                m_helper->Absorb(cancel);
        }
        std::size_t InFlight() const { return m_helper ? m_helper->InFlight() : 0; }
        bool Answered(quint64 n) const { return m_helper && m_helper->Answered(n); }
        // Gives the helper back (one with requests still in flight is ended).
        void Release();
        // A share list on this lease is the person's own doing (a search of a server, "Connect
        // as..."): a refusal there may be asked about.
        void LetShareListAsk(bool bAsks = true);

    private:
        friend class HelperPool;
        std::shared_ptr<HelperPool> m_pool;
        std::shared_ptr<HelperConnection> m_helper;
        QString m_host;
        bool m_bStanding = false; // held in the background (AcquireStanding)
        int m_nError = 0;
    };

    // A helper for requests to host (a server name or address; empty for browse lists). Waits
    // for a turn while the caps are reached; gives an invalid lease when cancelled, when a
    // numeric host does not answer on the profile's port, or when no helper starts. bGreet
    // (share lists of a scan): a numeric host on port 445 must also answer an SMB hello
    // within msAnswer, so one that accepts and stays silent costs seconds, not a helper. A
    // host that answered a request within the last 10 s is not probed: a server that is busy
    // serving a search may be slow to greet a new connection, and is no dead host.
    // Searches do not greet: a busy server that is slow to answer is no reason to skip it.
    Lease Acquire(const QString& host, const HelperProfile& profile, const CancelToken& cancel,
                  bool bGreet = false);
    // A helper held for a long time in the background (a change watch): as Acquire, but it
    // never takes a host's last place, so requests a person waits for (a search, a listing)
    // always find one; with nMaxPerHost 1 it waits until cancelled.
    Lease AcquireStanding(const QString& host, const HelperProfile& profile,
                          const CancelToken& cancel);
    // One more helper for host, only when it costs nobody a turn: nobody waits (a background
    // watch aside), host is below nMaxPerHost and a helper is idle or may start. Never waits
    // (but may start a process).
    Lease TryAcquire(const QString& host, const HelperProfile& profile);
    // Somebody waits for a helper: a lessee with more than one gives back what it can. A
    // waiting background watch (AcquireStanding) does not count: it never slows a search.
    bool HasWaiters() const;

    // Ends every helper now; later Acquires fail, lent helpers end when given back.
    void Shutdown();

    struct Stats
    {
        int nProcesses = 0; // alive or starting
        int nIdle = 0;
        int nLent = 0;
        int nPeakProcesses = 0;
        int nAllowed = 0; // helpers it may run now (HelperBudget)
        int nPeakLentPerHost = 0;
        int nStarted = 0;
        int nKilled = 0; // ended for a deadline, a cancel or a fault
        std::vector<pid_t> pids;
    };
    Stats GetStats() const;
    // Ends idle helpers now (tests).
    void DropIdle();

private:
    // A caller of Acquire waiting for a helper. Only the one whose turn it is can take one, so
    // a change wakes that one alone (and it wakes the next when it leaves), not every waiter.
    struct Waiter
    {
        QString host;
        quint64 nSeq;
        std::condition_variable* wake;
        bool bStanding = false; // its host's cap is one less
    };
    Lease AcquireFor(const QString& host, const HelperProfile& profile, const CancelToken& cancel,
                     bool bGreet, bool bStanding);
    // Somebody other than a background watch waits; m_mutex held.
    bool ForegroundWaits() const;
    // The first waiter of the host that has the fewest helpers, among hosts below their cap;
    // m_mutex held.
    const Waiter* Turn() const;
    // Something changed that may let the waiter whose turn it is go on; m_mutex held.
    void WakeTurn();
    void WakeAll();
    void Give(std::shared_ptr<HelperConnection> helper, const QString& host, bool bStanding);
    // Helpers that count against the budget: all but those held in the background, which wait
    // for changes and cost no CPU; m_mutex held.
    int BudgetedProcesses() const { return m_nProcesses - m_nStanding; }
    // Takes an idle helper of profile (best one that worked for host), or counts a new one;
    // m_mutex held. False when neither is possible.
    bool Take(const QString& host, const HelperProfile& profile, Lease& lease,
              std::shared_ptr<HelperConnection>* pVictim, bool bMayEvict);
    // The budget looks at the CPU; bWants: the caller wants a helper; m_mutex held.
    void UpdateBudget(bool bWants);
    // Starts the helper Take counted, binds the lease; m_mutex not held.
    Lease Finish(Lease lease, const HelperProfile& profile,
                 std::shared_ptr<HelperConnection> victim);
    Binding BindingFor(const QString& host);
    int ProbeHost(const QString& host, int nPort, const CancelToken& cancel, bool bGreet);
    // A request to host succeeded: for the next 10 s it counts as greeted, without a probe.
    void NoteAnswered(const QString& host, int nPort);
    // Drops what is known of host:nPort and every memo past 10 s; m_mutex held.
    void ForgetProbe(const QString& host, int nPort, qint64 msNow);
    void Reaper();
    static QString FindHelper();

    mutable std::mutex m_mutex;
    std::condition_variable m_reaperWake; // shutdown
    PoolLimits m_limits;
    CredentialsFn m_fnCredentials;
    std::function<bool(const QString&)> m_fnRefused;
    std::function<void(const QString&, bool)> m_fnOutcome;
    QString m_helperPath;
    std::vector<std::shared_ptr<HelperConnection>> m_idle;
    std::deque<Waiter> m_waiters;
    quint64 m_nNextSeq = 0;
    std::vector<std::pair<QString, int>> m_lentPerHost;
    int m_nProcesses = 0;
    int m_nStanding = 0; // lent out by AcquireStanding
    HelperBudget m_budget;
    Stats m_stats;
    bool m_bShutdown = false;
    CancelToken m_closing = CancelToken::Make(); // Shutdown: lent helpers' waits end at once
    std::thread m_reaper;
    bool m_bReaperRunning = false;

    struct ProbeMemo
    {
        QString host;
        int nPort;
        int nResult;
        bool bGreeted; // the result of a probe with the SMB hello
        qint64 msAt;
    };
    std::vector<ProbeMemo> m_probes;

    friend class Lease;
    int LentTo(const QString& host) const;
    void AddLent(const QString& host, int n);
};

} // namespace smb
