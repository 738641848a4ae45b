#pragma once

#include "IndexWriter.h"
#include "app/CancelToken.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace shareindex {

// Keeps one share's part of the index fresh while it runs. A helper of its own holds an SMB2
// change notification on the share (recursive); where the server says something changed, the
// folder that holds it is listed again (through a file system of its own) and recorded, and
// a folder that arrived is walked. When the watch fails (the server refuses it, the connection
// goes, or more changed than the server could tell) the whole share is listed again, and the
// watch starts over after a pause. The watch's helper never takes its server's last place in
// the pool, and the listings' helper goes back after each round of changes: a search of the
// same server always gets a helper.
//
// Two threads of its own: one waits on the watch, one lists. Stop() (or the destructor)
// cancels both: the watching helper is ended, a listing in flight gives up, both are joined.
class ShareWatcher
{
public:
    // share: \\SERVER\Share. fnNote: a line for the log (any thread; may be empty).
    ShareWatcher(QString share, std::shared_ptr<IndexWriter> writer,
                 std::function<void(const QString&)> fnNote = {});
    ~ShareWatcher();
    ShareWatcher(const ShareWatcher&) = delete;
    ShareWatcher& operator=(const ShareWatcher&) = delete;

    const QString& Share() const { return m_share; }
    void Stop();
    // Folders listed again since the start (tests, the log).
    qint64 FoldersRelisted() const;

private:
    void Watch();
    void List();
    void Note(const QString& text) const;
    // A change below the share: the folder to list again, and the path to walk when it is a
    // folder that arrived.
    void Dirty(const QString& folder, const QString& walk);

    QString m_share;
    std::shared_ptr<IndexWriter> m_writer;
    std::function<void(const QString&)> m_fnNote;
    CancelToken m_cancel = CancelToken::Make();
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    QSet<QString> m_dirty; // folders to list again
    QSet<QString> m_walk;  // folders to walk whole
    bool m_bAll = false;   // the whole share
    qint64 m_nRelisted = 0;
    std::thread m_watcher, m_lister;
};

// Of shares (\\SERVER\Share, in the caller's order), those that can be watched at once: at
// most nMax, and per server one less than the pool's places for a server (a watch holds its
// helper for good; the last place is kept for searches and listings). The rest are left out.
QStringList WatchableShares(const QStringList& shares, int nMax);

} // namespace shareindex
