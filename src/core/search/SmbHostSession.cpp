#include "SmbHostSession.h"

#include <algorithm>
#include <chrono>

namespace {
// Listings in flight on one helper: enough that it never waits for the walker between folders.
// (A share of 52,020 entries in 2,000 folders: 1.74 s with 4, 1.62 s with 8, 1.43 s with 16.)
constexpr std::size_t kDepth = 16;
// Content tests in flight on one helper: one it works on and one next, so it never waits for
// the walker; a test costs the server an open, reads and a close, so the rest go to the other
// helpers (or wait for more of them) rather than queue behind it.
constexpr std::size_t kContentDepth = 2;
// Listings sent ahead that the helpers work on, in all.
constexpr std::size_t kMaxAhead = 64;
// Listings answered and not yet taken by the walker: memory only (the walk takes each in the
// end), but a bound on what a share of many folders holds at once.
constexpr qsizetype kMaxUntaken = 256;
// Folders queued at most (announced, or found below listings answered ahead).
constexpr std::size_t kMaxQueued = 4096;
// The walker's time spent waiting for listings before another helper (another connection,
// another login on the server) is taken: a connection costs the server a process and a
// session, worth it only where the helpers, not the walker, hold the walk up. A share of a
// hundred small folders on a near server never waits that long; a big share on a far one does.
// Each further helper waits longer (times the helpers held): it adds less than the one before.
// A helper's first listing waits for its connection and login too; that wait does not count
// (it made a small share's walk take a second connection as soon as it began).
constexpr std::chrono::milliseconds kWaitBeforeMore{100};

void AddEntries(const smbproto::Entries& chunk, std::vector<FsEntry>& out)
{
    for (const smbproto::FileEntry& e : chunk.entries)
        out.push_back({QString::fromUtf8(e.name), e.nAttributes, e.nSize, e.nTime});
}
} // namespace

SmbHostSession::SmbHostSession(std::shared_ptr<smb::HelperPool> pool,
                               const smb::HelperProfile& profile, QString host,
                               const CancelToken& cancel)
    : m_pool(std::move(pool)), m_profile(profile), m_host(std::move(host)), m_cancel(cancel)
{}

SmbHostSession::~SmbHostSession()
{
    m_sent.clear();
    m_lanes.clear();
}

std::size_t SmbHostSession::Absorb()
{
    std::size_t nInFlight = 0;
    for (const auto& lane : m_lanes) {
        // Answers nobody has read yet are no work of the helper's.
        lane->lease.Absorb(m_cancel);
        nInFlight += lane->lease.InFlight();
    }
    return nInFlight;
}

SmbHostSession::Lane* SmbHostSession::LaneFor(bool bMust, std::size_t nDepth)
{
    Absorb();
    return PickLane(bMust, nDepth);
}

SmbHostSession::Lane* SmbHostSession::PickLane(bool bMust, std::size_t nDepth)
{
    Lane* best = nullptr;
    for (const auto& lane : m_lanes)
        if (lane->lease.Alive() && (!best || lane->lease.InFlight() < best->lease.InFlight()))
            best = lane.get();
    if (best && best->lease.InFlight() < nDepth)
        return best;
    if (best) {
        // Busy, more to list, and the walker has waited for the helpers: another helper of
        // this server, when nobody waits for one.
        if (m_waited >= kWaitBeforeMore * static_cast<int>(m_lanes.size())) {
            smb::HelperPool::Lease more = m_pool->TryAcquire(m_host, m_profile);
            if (more.Valid()) {
                m_waited = {};
                m_lanes.push_back(std::make_unique<Lane>(Lane{std::move(more), 0}));
                return m_lanes.back().get();
            }
        }
        return bMust ? best : nullptr;
    }
    if (!bMust)
        return nullptr;
    // The first helper: waited for (the pool gives every server its turn).
    Trim();
    smb::HelperPool::Lease first = m_pool->Acquire(m_host, m_profile, m_cancel);
    if (!first.Valid()) {
        m_nAcquireError = first.Error();
        return nullptr;
    }
    m_lanes.push_back(std::make_unique<Lane>(Lane{std::move(first), 0}));
    return m_lanes.back().get();
}

SmbHostSession::Sent SmbHostSession::SendListing(Lane& lane, const smbproto::Target& at)
{
    Sent s;
    s.lane = &lane;
    s.listing = std::make_shared<Listing>();
    s.at = at;
    s.n = lane.lease.Send(
        smbproto::ListFolder{at},
        [listing = s.listing](smbproto::FromHelper& m) {
            if (const auto* chunk = std::get_if<smbproto::Entries>(&m))
                AddEntries(*chunk, listing->entries);
        },
        m_cancel);
    ++lane.nUntaken;
    return s;
}

void SmbHostSession::Collect(Sent& s)
{
    if (!s.lane)
        return;
    const smb::Reply r = s.lane->lease.Wait(s.n, m_cancel);
    --s.lane->nUntaken;
    s.lane->bAnswered = true;
    s.lane = nullptr;
    s.listing->nError = r.nError;
    s.listing->bUnanswered = r.bUnanswered;
}

void SmbHostSession::Announce(const std::vector<std::pair<QString, smb::SmbPath>>& folders)
{
    // The first sub-folder goes to the very front: the walk enters it next.
    for (auto it = folders.rbegin(); it != folders.rend(); ++it)
        if (it->second.Key() == m_host && !m_sent.contains(it->first))
            m_queue.emplace_front(it->first, it->second.Target());
    SendAhead();
}

void SmbHostSession::LookBelow()
{
    for (auto next = m_unlooked.begin(); next != m_unlooked.end() && m_queue.size() < kMaxQueued;) {
        const auto it = m_sent.constFind(*next);
        // Taken by the walk, or failed with its helper: nothing to look at.
        if (it == m_sent.cend() || !it->lane) {
            next = m_unlooked.erase(next);
            continue;
        }
        if (!it->lane->lease.Answered(it->n)) {
            ++next;
            continue;
        }
        next = m_unlooked.erase(next);
        // As the walk names and enters them: folders, not hidden by a leading ".".
        const QString prefix = FolderPrefix(it.key());
        for (const FsEntry& e : it->listing->entries) {
            if (!(e.nAttributes & kAttrDirectory) || e.strName.isEmpty() ||
                e.strName.startsWith(QLatin1Char('.')) || e.strName.contains(QLatin1Char('/')) ||
                e.strName.contains(QLatin1Char('\\')))
                continue;
            QString unc = prefix + e.strName;
            if (unc.size() > kMaxFolderPath || m_sent.contains(unc) || m_taken.contains(unc))
                continue;
            smbproto::Target at = it->at;
            at.path = at.path.isEmpty() ? e.strName.toUtf8() : at.path + '/' + e.strName.toUtf8();
            m_queue.emplace_back(std::move(unc), std::move(at));
        }
    }
}

void SmbHostSession::SendAhead()
{
    // A walk that tests content sends one listing ahead per helper: a helper answers in the
    // order sent, so a folder's tests would wait behind every listing sent before them.
    const std::size_t maxAhead = m_bTests ? std::max<std::size_t>(1, m_lanes.size()) : kMaxAhead;
    if (!m_bTests)
        LookBelow();
    while (!m_queue.empty() && m_sent.size() < kMaxUntaken && Absorb() < maxAhead) {
        // The answers that arrived were just taken in.
        Lane* lane = PickLane(false, m_bTests ? 1 : kDepth);
        if (!lane)
            break;
        auto [unc, at] = std::move(m_queue.front());
        m_queue.pop_front();
        if (!m_sent.contains(unc) && !m_taken.contains(unc)) { // announced twice
            m_sent.insert(unc, SendListing(*lane, at));
            m_unlooked.push_back(std::move(unc));
        }
    }
}

int SmbHostSession::List(const QString& unc, const smb::SmbPath& folder, std::vector<FsEntry>& out)
{
    out.clear();
    m_taken.insert(unc);
    Sent s;
    if (auto it = m_sent.find(unc); it != m_sent.end()) {
        s = std::move(it.value());
        m_sent.erase(it);
    } else {
        // Nobody sent it: out of the queue, and sent now.
        if (!m_queue.empty() && m_queue.front().first == unc)
            m_queue.pop_front();
        else
            std::erase_if(m_queue, [&](const auto& q) { return q.first == unc; });
        Lane* lane = LaneFor(true, kDepth);
        if (!lane)
            return m_nAcquireError;
        s = SendListing(*lane, folder.Target());
    }
    // The helpers go on with what comes next while this one is waited for.
    SendAhead();
    const bool bWaitCounts = s.lane && s.lane->bAnswered;
    const auto waitStart = std::chrono::steady_clock::now();
    Collect(s);
    if (bWaitCounts)
        m_waited += std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - waitStart);
    if (s.listing->bUnanswered && !m_cancel.Cancelled()) {
        // Its helper ended over an earlier request: once more, on a helper that lives.
        Trim();
        Lane* lane = LaneFor(true, kDepth);
        if (!lane)
            return m_nAcquireError;
        s = SendListing(*lane, s.at);
        Collect(s);
    }
    Trim();
    const int err = s.listing->nError;
    if (err == 0 || err == smbproto::kErrListingCut)
        out = std::move(s.listing->entries);
    return err;
}

smb::Reply SmbHostSession::Call(const smbproto::ToHelper& req,
                                const smb::HelperConnection::Sink& sink, bool bShareListAsks)
{
    for (int nTry = 0;; ++nTry) {
        Lane* lane = nullptr;
        for (const auto& l : m_lanes)
            if (l->lease.Alive() && (!lane || l->lease.InFlight() < lane->lease.InFlight()))
                lane = l.get();
        if (!lane)
            lane = LaneFor(true, kDepth);
        if (!lane)
            return smb::Reply{m_nAcquireError, false, 0, {}};
        lane->lease.LetShareListAsk(bShareListAsks);
        smb::Reply r = lane->lease.Call(req, sink, m_cancel);
        lane->lease.LetShareListAsk(false);
        Trim();
        if (!r.bUnanswered || nTry > 0 || m_cancel.Cancelled())
            return r;
    }
}

std::vector<smb::Reply> SmbHostSession::CallEach(const std::vector<smbproto::ToHelper>& requests)
{
    std::vector<smb::Reply> replies(requests.size());
    m_bTests = true;
    struct Flying
    {
        Lane* lane;
        quint64 n;
        std::size_t i;
    };
    // Lanes are only added here (Trim, which drops them, runs once nothing of ours flies).
    std::deque<Flying> flying;
    std::size_t next = 0;
    const auto sendMore = [&] {
        while (next < requests.size() && !m_cancel.Cancelled()) {
            Lane* lane = LaneFor(flying.empty(), kContentDepth);
            if (!lane)
                return;
            flying.push_back({lane, lane->lease.Send(requests[next], {}, m_cancel), next});
            ++lane->nUntaken;
            ++next;
        }
    };
    sendMore();
    while (!flying.empty()) {
        const Flying f = flying.front();
        flying.pop_front();
        const bool bWaitCounts = f.lane->bAnswered;
        const auto waitStart = std::chrono::steady_clock::now();
        replies[f.i] = f.lane->lease.Wait(f.n, m_cancel);
        --f.lane->nUntaken;
        f.lane->bAnswered = true;
        if (bWaitCounts)
            m_waited += std::chrono::duration_cast<std::chrono::microseconds>(
                std::chrono::steady_clock::now() - waitStart);
        sendMore();
    }
    // Not sent: no helper (then the pool's reason), or cancelled.
    for (std::size_t i = next; i < requests.size(); ++i)
        replies[i] = smb::Reply{
            m_cancel.Cancelled() ? smbproto::kErrCancelled : m_nAcquireError, false, 0, {}};
    Trim();
    for (std::size_t i = 0; i < next; ++i)
        if (replies[i].bUnanswered && !m_cancel.Cancelled())
            replies[i] = Call(requests[i], {});
    return replies;
}

void SmbHostSession::Trim()
{
    for (auto it = m_lanes.begin(); it != m_lanes.end();) {
        Lane* lane = it->get();
        const bool bDead = !lane->lease.Alive();
        // Beyond the first, a helper that holds nothing goes back when somebody else needs it
        // or this walk has nothing more for it (a walk that tests content has the next
        // folder's files for it).
        const bool bSpare = it != m_lanes.begin() && lane->nUntaken == 0 &&
                            lane->lease.InFlight() == 0 &&
                            ((m_queue.empty() && !m_bTests) || m_pool->HasWaiters());
        if (!bDead && !bSpare) {
            ++it;
            continue;
        }
        if (bDead && lane->nUntaken > 0)
            for (Sent& s : m_sent)
                if (s.lane == lane)
                    Collect(s); // answered already: the helper's end failed them
        it = m_lanes.erase(it);
    }
}

void SmbHostSession::Drain()
{
    for (Sent& s : m_sent)
        Collect(s);
    m_sent.clear();
    m_unlooked.clear();
    m_queue.clear();
    m_taken.clear();
    m_lanes.clear();
}
