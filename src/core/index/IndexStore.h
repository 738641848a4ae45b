#pragma once

#include "app/Error.h"
#include "search/ShareFs.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct sqlite3;

// The local index of walked shares: every folder a walk listed, with its entries (name, folder
// bit, size, last-write time) and when it was listed. SQLite in one file (WAL: readers never
// wait for the writer, a crash during a write loses at most the transaction in flight), owner
// only (0600). A file of another schema version is rebuilt empty, never read.
//
// One object per thread: a writer (IndexWriter's thread) and readers open their own.
namespace shareindex {

// $XDG_DATA_HOME/Brindlecove/index.sqlite (or BC_INDEX_FILE, for tests and benchmarks).
QString DefaultPath();

struct ShareStatus
{
    QString strShare; // \\SERVER\Share
    qint64 nFolders = 0;
    qint64 nEntries = 0;
    qint64 msOldest = 0; // when its least recent folder was listed (ms since the epoch)
    qint64 msNewest = 0;
};

class IndexStore
{
public:
    ~IndexStore();
    IndexStore(const IndexStore&) = delete;
    IndexStore& operator=(const IndexStore&) = delete;

    // Opens (bCreate: creates) the index at path; null with *pError when it cannot.
    static std::unique_ptr<IndexStore> Open(const QString& path, bool bCreate, Error* pError,
                                            QString* pDetail = nullptr);

    // One folder's listing replaces what the index held for it; sub-folders it no longer has
    // leave with everything below them. msListed: when it was listed.
    bool Record(const QString& folder, const std::vector<FsEntry>& entries, qint64 msListed);
    // Writes are grouped: Begin, several Record, Commit.
    bool Begin();
    bool Commit();

    // Every entry below one of the scopes (\\SERVER, \\SERVER\Share, a folder; empty: all), in
    // folder order, one call per entry: its folder (the same for the entries of one folder, one
    // after the other) and the entry itself; *pmsOldest: when the least recent of their
    // folders was listed. A scope is read through the index of the folders' paths, so a
    // share's entries cost what they hold, not what the index holds.
    using EntryFn = std::function<void(const QString& folder, const FsEntry& entry)>;
    void ScanBelow(const QStringList& scopes, const EntryFn& fn, qint64* pmsOldest);
    std::vector<ShareStatus> Status();
    // A listing recorded for folder (it was walked).
    bool Knows(const QString& folder);

private:
    explicit IndexStore(sqlite3* db);
    bool Exec(const char* sql);
    bool RecordListing(const QString& folder, const std::vector<FsEntry>& entries, qint64 msListed);
    sqlite3* m_db = nullptr;
    struct Prepared;
    std::unique_ptr<Prepared> m_prepared;
};

// Deletes the index file and its journal; true when nothing of it is left.
bool Forget(const QString& path);

} // namespace shareindex
