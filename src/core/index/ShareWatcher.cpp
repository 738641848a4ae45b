#include "ShareWatcher.h"

#include "search/ShareFs.h"
#include "smb/HelperPool.h"
#include "smb/HelperProtocol.h"
#include "smb/SmbUrl.h"

#include <QHash>

#include <chrono>

namespace shareindex {
namespace {
// Changes that come together are listed together: a copy of many files is one listing.
constexpr std::chrono::milliseconds kSettle{300};
// After a watch that failed, before the next one (and between the share's full listings).
constexpr std::chrono::milliseconds kRetry{5000};
// A watch's request is meant to last: only its helper's silence (no sign of life for the
// pool's msRequest, while the helper says one every second) ends it.
constexpr int kMsWatchTotal = 7 * 24 * 3600 * 1000;

QString ParentOf(const QString& path)
{
    const qsizetype i = path.lastIndexOf(QLatin1Char('\\'));
    return i > 1 ? path.left(i) : path;
}
} // namespace

QStringList WatchableShares(const QStringList& shares, int nMax)
{
    const int nPerServer = smb::HelperPool::Instance()->Limits().nMaxPerHost - 1;
    QStringList out;
    QHash<QString, int> perServer;
    for (const QString& share : shares) {
        const auto path = smb::SmbPath::Parse(share);
        if (out.size() >= nMax || !path || path->share.isEmpty())
            continue;
        int& n = perServer[path->Key()];
        if (n < nPerServer) {
            ++n;
            out << share;
        }
    }
    return out;
}

ShareWatcher::ShareWatcher(QString share, std::shared_ptr<IndexWriter> writer,
                           std::function<void(const QString&)> fnNote)
    : m_share(std::move(share)), m_writer(std::move(writer)), m_fnNote(std::move(fnNote))
{
    m_watcher = std::thread([this] { Watch(); });
    m_lister = std::thread([this] { List(); });
}

ShareWatcher::~ShareWatcher()
{
    Stop();
}

void ShareWatcher::Stop()
{
    m_cancel.Cancel();
    {
        std::lock_guard lock(m_mutex);
        m_changed.notify_all();
    }
    if (m_watcher.joinable())
        m_watcher.join();
    if (m_lister.joinable())
        m_lister.join();
}

qint64 ShareWatcher::FoldersRelisted() const
{
    std::lock_guard lock(m_mutex);
    return m_nRelisted;
}

void ShareWatcher::Note(const QString& text) const
{
    if (m_fnNote)
        m_fnNote(text);
}

void ShareWatcher::Dirty(const QString& folder, const QString& walk)
{
    std::lock_guard lock(m_mutex);
    if (folder.isEmpty())
        m_bAll = true;
    else
        m_dirty.insert(folder);
    if (!walk.isEmpty())
        m_walk.insert(walk);
    m_changed.notify_all();
}

void ShareWatcher::Watch()
{
    const auto parsed = smb::SmbPath::Parse(m_share);
    if (!parsed) {
        Note(QStringLiteral("Cannot watch %1: not a share").arg(m_share));
        return;
    }
    const smb::SmbPath path = *parsed;
    int nFailedInARow = 0;
    while (!m_cancel.Cancelled()) {
        smb::HelperPool::Lease lease = smb::HelperPool::Instance()->AcquireStanding(
            path.Key(), smb::HelperProfile{}, m_cancel);
        Error why = Error::FromCode(lease.Error());
        if (lease.Valid()) {
            bool bArmed = false;
            const auto sink = [this, &bArmed](smbproto::FromHelper& m) {
                // The first word from the watch says the server holds it: what changed before
                // (since the last walk, or while no watch was held) is found by listing the
                // share once.
                if (!bArmed) {
                    bArmed = true;
                    Dirty(QString(), QString());
                }
                const auto* changes = std::get_if<smbproto::Changes>(&m);
                if (!changes)
                    return;
                for (const smbproto::Change& c : changes->changes) {
                    if (c.name.isEmpty()) {
                        Dirty(QString(), QString()); // more than the server could tell
                        continue;
                    }
                    QString name = QString::fromUtf8(c.name);
                    name.replace(QLatin1Char('/'), QLatin1Char('\\'));
                    const QString full = m_share + QLatin1Char('\\') + name;
                    // What arrived may be a folder with its own contents: walked as well.
                    const bool bArrived = c.nAction == 1 || c.nAction == 5;
                    Dirty(ParentOf(full), bArrived ? full : QString());
                }
            };
            const auto started = std::chrono::steady_clock::now();
            const quint64 n =
                lease.Send(smbproto::Watch{path.Target()}, sink, m_cancel, kMsWatchTotal);
            why = Error::FromCode(lease.Wait(n, m_cancel).nError);
            // A watch that held a while was no failure of the server's.
            if (std::chrono::steady_clock::now() - started > 2 * kRetry)
                nFailedInARow = 0;
        }
        const bool bWatched = lease.Valid();
        lease.Release(); // no helper held while it waits
        if (m_cancel.Cancelled())
            return;
        // The watch ended: what changed meanwhile is found by listing the share again. A share
        // that keeps failing is tried less and less often (up to every 5 minutes), and named
        // in the log once.
        if (nFailedInARow == 0)
            Note(QStringLiteral("The watch of %1 ended (%2); the share is listed again")
                     .arg(m_share, ErrorText(why)));
        if (bWatched)
            Dirty(QString(), QString());
        m_cancel.SleepFor(std::min(kRetry * (1 << std::min(nFailedInARow, 6)),
                                   std::chrono::milliseconds(300000)));
        ++nFailedInARow;
    }
}

void ShareWatcher::List()
{
    // A file system of each round's own: its helper goes back to the pool when the round ends,
    // so a watcher holds one helper between changes (its watch), not two, and a search of the
    // same server finds its places free.
    std::unique_ptr<ShareFs> fs;
    // Lists one folder into the index, and walks the sub-folders deep says (all with bAll).
    const std::function<void(const QString&, const QSet<QString>&, bool)> list =
        [&](const QString& folder, const QSet<QString>& deep, bool bAll) {
            if (m_cancel.Cancelled())
                return;
            std::vector<FsEntry> entries;
            if (fs->ListFolder(folder, entries) != 0)
                return; // gone (its parent's listing takes it out) or unreadable
            m_writer->Record(folder, entries);
            {
                std::lock_guard lock(m_mutex);
                ++m_nRelisted;
            }
            for (const FsEntry& e : entries) {
                const QString sub = folder + QLatin1Char('\\') + e.strName;
                if ((e.nAttributes & kAttrDirectory) && !e.strName.startsWith(QLatin1Char('.')) &&
                    (bAll || deep.contains(sub)))
                    list(sub, {}, true);
            }
        };
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] {
            return m_cancel.Cancelled() || m_bAll || !m_dirty.isEmpty() || !m_walk.isEmpty();
        });
        if (m_cancel.Cancelled())
            return;
        // Let the changes that belong together arrive.
        lock.unlock();
        m_cancel.SleepFor(kSettle);
        lock.lock();
        const bool bAll = m_bAll;
        const QSet<QString> dirty = std::move(m_dirty);
        const QSet<QString> walk = std::move(m_walk);
        m_bAll = false;
        m_dirty.clear();
        m_walk.clear();
        lock.unlock();
        fs = MakeSmbShareFs();
        fs->SetCancel(m_cancel);
        if (bAll) {
            list(m_share, {}, true);
        } else {
            // A folder that arrived is walked from its parent's new listing (an arrived file
            // costs no request).
            for (const QString& folder : dirty)
                list(folder, walk, false);
        }
        fs.reset();
        lock.lock();
    }
}

} // namespace shareindex
