#pragma once

#include "HelperProtocol.h"
#include "app/CancelToken.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include <sys/types.h>

#include "LibraryTimeout.h"

namespace smb {

// What kind of helper: requests of one kind go to helpers started for it.
struct HelperProfile
{
    bool bNt1Only = false;             // browse lists need SMB1
    int msSmbTimeout = kMsLibraryCall; // the library's own timeout per call
    int nPort = 445;                   // 0: the library tries 139 and 445
    bool operator==(const HelperProfile&) const = default;
};

struct Credentials
{
    QString strWorkgroup;
    QString strUser; // empty: guest (an anonymous logon)
    QString strPassword;
    bool bKerberos = false; // the ticket in the user's credential cache
};

// A helper's question: which login for server, or (bRefused) the login of generation nGen was
// refused by the server (nKind smbproto::kRefusedLogin) or by the share (kRefusedShare).
struct AuthQuestion
{
    QString strServer;
    QString strShare;
    bool bRefused = false;
    quint64 nGen = 0;
    quint64 nKind = 0;
    // False for a share list nobody asked for (a Discover, a scan): a person is never asked
    // about it. Requests on a share, and share lists a search or the person started, may ask.
    bool bMayAsk = true;
};
struct AuthReply
{
    Credentials login;
    quint64 nGen = 0;
    bool bGiveUp = false; // nothing else to try: the request fails
};

using ::CancelToken;
// May wait (for a person); watches cancel while it does.
using CredentialsFn = std::function<AuthReply(const AuthQuestion& q, const CancelToken& cancel)>;

// How one request ended.
struct Reply
{
    int nError = 0; // 0, an errno value or one of ours (smbproto::kErr...)
    // The helper ended before it got to this request (one sent before it failed): it may be
    // sent again to another helper.
    bool bUnanswered = false;
    std::uint64_t nResult = 0; // the Done's result (a size, "found")
    QByteArray data;           // the Done's data (a read block, a workgroup name)
};

// What a connection is bound to while it is lent: the host, the deadlines and whom to ask
// about logins. Set by the pool for each lease.
struct Binding
{
    QString host; // the pool's key of the host the requests go to
    int msRequest = 15000;
    int msConnect = 3000; // added to the first request to a host this helper has not answered for
    int msRequestTotal = 600000;
    CredentialsFn fnCredentials;
    std::function<bool(const QString& server)> fnRefused;                // refused for good
    std::function<void(const QString& server, bool bLoginOk)> fnOutcome; // each request's
    std::function<void(int nPort)> fnAnswered; // a request succeeded: the host is alive
    std::function<void()> fnKilled; // the helper was ended for a deadline, a cancel or a fault
    CancelToken closing;            // the pool shuts down
    bool bShareListAsks = false;    // a share list on this lease is the person's own doing
};

// One helper process and our end of its socket: starts it, writes requests, reads answers in
// order, answers its login questions and keeps the deadlines.
//
// Used by one thread at a time (the lessee). Several requests may be in flight; their answers
// come in the order they were sent. A request that shows no sign of life (no frame) within its
// deadline, a cancel while waiting, a broken frame or the helper's end kill the helper: the
// request waited for gets the error, those sent after it are marked unanswered.
class HelperConnection
{
public:
    using Sink = std::function<void(smbproto::FromHelper&)>;

    // A new helper of profile; null when it cannot be started.
    static std::shared_ptr<HelperConnection>
    Start(const QString& path, const HelperProfile& profile, int nMaxConnections, int nMaxEntries);
    ~HelperConnection();
    HelperConnection(const HelperConnection&) = delete;
    HelperConnection& operator=(const HelperConnection&) = delete;

    void Bind(Binding binding)
    {
        m_binding = std::move(binding);
        m_answeredNoted = {};
    }
    void SetShareListAsks(bool bAsks) { m_binding.bShareListAsks = bAsks; }
    void Kill();
    bool Dead() const { return m_bDead; }
    pid_t Pid() const { return m_pid; }
    const HelperProfile& Profile() const { return m_profile; }
    const QString& LastHost() const { return m_binding.host; }

    // Sends req (written at once) and gives its number for Wait. Data frames of its answer go
    // to sink. msDeadline: its own deadline instead of the binding's (0).
    quint64 Send(const smbproto::ToHelper& req, Sink sink, const CancelToken& cancel,
                 int msDeadline = 0);
    // Reads answers until request n's Done (earlier requests' frames go to their sinks, and
    // their replies are kept for their own Wait).
    Reply Wait(quint64 n, const CancelToken& cancel);
    // Reads what has arrived, without waiting: answers go to their sinks and are kept for
    // their Wait, so InFlight tells what the helper still works on.
    void Absorb(const CancelToken& cancel);
    // Request n's Done has been read (it waits for its Wait).
    bool Answered(quint64 n) const { return m_replies.count(n) > 0; }
    // Requests sent whose Done has not been read.
    std::size_t InFlight() const { return m_inFlight.size(); }

    // When it was given back to the pool (the pool ends helpers idle for too long).
    std::chrono::steady_clock::time_point idleSince;

private:
    using Clock = std::chrono::steady_clock;
    struct Pending
    {
        quint64 n = 0;
        Sink sink;
        QString server; // the server it names: login outcomes are told per server
        int msLimit = 0;
    };
    HelperConnection() = default;
    bool Cancelled(const CancelToken& cancel) const;
    // Waits up to msTimeout for events on fd, or for cancel or the pool's shutdown.
    void PollWith(int fd, short events, int msTimeout, const CancelToken& cancel) const;
    // Ends the helper: the front request gets err, the others are unanswered.
    void Fail(int err, bool bCount = true);
    // The front request's clock starts (again): it became the front, or showed a sign of life.
    void Restart();
    // The front request's clocks (sign of life and whole time) start: it became the front.
    void FrontStarts();
    // Handles one frame from the helper; false when the helper broke the protocol.
    bool Take(smbproto::FromHelper& m, const CancelToken& cancel);
    // Takes in the next whole frame already read from the socket; false when there is none. A
    // corrupt frame ends the helper (and counts as taken).
    bool TakeReadFrame(const CancelToken& cancel);
    bool Answer(const smbproto::AuthAsk& ask, const CancelToken& cancel);
    bool SendAll(const QByteArray& data, const CancelToken& cancel, int* pErr);

    pid_t m_pid = -1;
    int m_fd = -1;
    bool m_bDead = false;
    HelperProfile m_profile;
    Binding m_binding;
    smbproto::FrameReader m_reader;
    std::vector<QString> m_contacted; // hosts this helper has had an answer from
    std::deque<Pending> m_inFlight;
    std::map<quint64, Reply> m_replies; // answered, not yet waited for
    quint64 m_nNext = 1;
    Clock::time_point m_deadline, m_endOfAll;
    Clock::time_point m_answeredNoted; // fnAnswered was last called (for this binding)
};

} // namespace smb
