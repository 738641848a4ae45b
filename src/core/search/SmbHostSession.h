#pragma once

#include "ShareFs.h"
#include "smb/HelperPool.h"
#include "smb/SmbUrl.h"

#include <QHash>
#include <QSet>

#include <chrono>
#include <deque>
#include <memory>
#include <vector>

// The helpers one walker holds for one server while it works there (a share walk, its content
// tests, a share list), and the folder listings in flight on them.
//
// A walk tells which folders it will list next (Announce, soonest first); they are sent ahead,
// a few per helper, so no helper waits for the walker between folders, and the walker takes
// each listing in its own order (List). The first helper is waited for; more helpers of the
// same server are taken only when the walker has waited for listings a while (kWaitBeforeMore)
// and nobody waits for a helper (work stealing, within the pool's nMaxPerHost), and are given
// back as soon as somebody does (or, in a walk without content tests, once it has nothing more
// to list).
//
// Owned by one thread (the walker's file system, whose cancel token it watches: the token may
// be set again between calls). Cancelling: every wait wakes when the token is cancelled; a
// helper whose request is cancelled is ended (its other listings fail with it).
// Destroying the session waits for nothing: helpers with requests in flight are ended.
class SmbHostSession
{
public:
    SmbHostSession(std::shared_ptr<smb::HelperPool> pool, const smb::HelperProfile& profile,
                   QString host, const CancelToken& cancel);
    ~SmbHostSession();
    SmbHostSession(const SmbHostSession&) = delete;
    SmbHostSession& operator=(const SmbHostSession&) = delete;

    // The pool's key of the server.
    const QString& Host() const { return m_host; }

    // Folders (of this server) the walk will list, soonest needed first.
    void Announce(const std::vector<std::pair<QString, smb::SmbPath>>& folders);
    // The listing of folder (unc as the walker names it): the one sent ahead, or sent now.
    int List(const QString& unc, const smb::SmbPath& folder, std::vector<FsEntry>& out);
    // One request on the session's first helper; bShareListAsks: a share list the person asked
    // for (a refused login may be asked about).
    smb::Reply Call(const smbproto::ToHelper& req, const smb::HelperConnection::Sink& sink,
                    bool bShareListAsks = false);
    // Requests without data frames (content tests), several in flight on the session's
    // helpers, a few per helper, so a walker that waits for them takes more helpers as it does
    // for listings; the replies in the order of the requests. One whose helper ended over an
    // earlier request is sent once more.
    std::vector<smb::Reply> CallEach(const std::vector<smbproto::ToHelper>& requests);
    // Waits for the listings in flight (so their helpers can go back to the pool whole), then
    // gives every helper back.
    void Drain();

private:
    struct Lane
    {
        smb::HelperPool::Lease lease;
        int nUntaken = 0;       // listings sent on it and not yet taken by the walker
        bool bAnswered = false; // it has answered a listing: its connection and login are done
    };
    struct Listing
    {
        int nError = 0;
        bool bUnanswered = false; // its helper ended over an earlier request
        std::vector<FsEntry> entries;
    };
    struct Sent
    {
        Lane* lane = nullptr;
        quint64 n = 0;
        std::shared_ptr<Listing> listing;
        smbproto::Target at;
    };

    // A lane to send on: the least loaded one below nDepth requests in flight, else a new one
    // when nobody waits for a helper; null when neither (bMust: then the least loaded, or one
    // waited for). Answers that arrived are taken in first.
    Lane* LaneFor(bool bMust, std::size_t nDepth);
    // LaneFor, for a caller that has just taken in what arrived.
    Lane* PickLane(bool bMust, std::size_t nDepth);
    // Takes in what the helpers have answered; the requests they still work on.
    std::size_t Absorb();
    void SendAhead();
    // The sub-folders of listings answered ahead of the walk, queued behind what the walk
    // announced: the walk enters them later, and a deep tree (a folder or two per level)
    // otherwise waits for each level's listing in turn.
    void LookBelow();
    Sent SendListing(Lane& lane, const smbproto::Target& at);
    // Waits for a sent listing's end (kept in its Listing); its lane is no longer needed for it.
    void Collect(Sent& s);
    // Gives back helpers beyond the first that hold nothing, when others need them; drops
    // lanes whose helper died once nothing of theirs is left.
    void Trim();

    std::shared_ptr<smb::HelperPool> m_pool;
    smb::HelperProfile m_profile;
    QString m_host;
    const CancelToken& m_cancel; // the owner's: it may be set again between calls
    int m_nAcquireError = 0;
    std::chrono::microseconds m_waited{0}; // on answering helpers, since one was taken
    bool m_bTests = false;                 // content tests were sent (CallEach)
    std::vector<std::unique_ptr<Lane>> m_lanes;
    std::deque<std::pair<QString, smbproto::Target>> m_queue; // announced, not sent
    QHash<QString, Sent> m_sent;                              // sent, not taken
    // Sent, in the order sent, whose sub-folders are not queued yet: LookBelow visits these
    // only, not every listing held for the walk.
    std::deque<QString> m_unlooked;
    QSet<QString> m_taken; // listed for the walk: never sent again (a folder queued twice)
};
