#pragma once

#include "app/Error.h"
#include "search/ShareFs.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// The index of walked shares: every folder a walk listed, with its entries (name, folder bit,
// size, last-write time) and when it was listed. Two homes with the same tables:
// - a file of this machine (SQLite, WAL: readers never wait for the writer, a crash during a
//   write loses at most the transaction in flight), owner only (0600);
// - a PostgreSQL database named by a connection string ("postgresql://…"), where several
//   machines crawl into one index and every client searches it.
// An index of another schema version is rebuilt empty, never read; a database that is not an
// index of this program is refused and left as it is.
//
// One object per thread: a writer (IndexWriter's thread) and readers open their own.
namespace shareindex {

// Where the index is: --index of the command line (SetLocation), else BC_INDEX_FILE (tests,
// benchmarks), else [Index] Location of the settings, else
// $XDG_DATA_HOME/Brindlecove/index.sqlite.
QString DefaultLocation();
void SetLocation(const QString& location);
// A PostgreSQL connection string ("postgresql://…", "postgres://…"), not a file.
bool IsServerLocation(const QString& location);
// The location as a log line may show it: a password in a connection string is left out.
QString ShownLocation(const QString& location);

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
    virtual ~IndexStore() = default;
    IndexStore(const IndexStore&) = delete;
    IndexStore& operator=(const IndexStore&) = delete;

    // Opens (bCreate: creates) the index at location; null with *pError (ENOENT: there is no
    // index yet) and *pDetail when it cannot.
    static std::unique_ptr<IndexStore> Open(const QString& location, bool bCreate, Error* pError,
                                            QString* pDetail = nullptr);

    // One folder's listing replaces what the index held for it; sub-folders it no longer has
    // leave with everything below them. msListed: when it was listed. All of it or nothing.
    virtual bool Record(const QString& folder, const std::vector<FsEntry>& entries,
                        qint64 msListed) = 0;
    // Writes are grouped: Begin, several Record, Commit.
    virtual bool Begin() = 0;
    virtual bool Commit() = 0;

    // Every entry below one of the scopes (\\SERVER, \\SERVER\Share, a folder; empty: all), one
    // call per entry: its folder and the entry itself; *pmsOldest: when the least recent of
    // their folders was listed. A scope is read through the index of the folders' paths, so a
    // share's entries cost what they hold, not what the index holds.
    using EntryFn = std::function<void(const QString& folder, const FsEntry& entry)>;
    virtual void ScanBelow(const QStringList& scopes, const EntryFn& fn, qint64* pmsOldest) = 0;
    // The same, for a caller that keeps only entries whose folded path (patterns::FoldCase)
    // matches one of the folded patterns: a store may leave out others before they reach fn.
    virtual void ScanMatching(const QStringList& scopes, const QStringList& patternList,
                              const EntryFn& fn, qint64* pmsOldest);
    // True when ScanMatching of these patterns gives only entries that match them as the walk
    // tests them (the caller need not test again).
    virtual bool FiltersExactly(const QStringList& patternList) const;
    virtual std::vector<ShareStatus> Status() = 0;
    // A listing recorded for folder (it was walked).
    virtual bool Knows(const QString& folder) = 0;
    // What the index takes on its disk (the file and its journal, or the database's tables).
    virtual qint64 BytesOnDisk() = 0;

protected:
    IndexStore() = default;

    // Of a folder's listing, what a store records: the entries without "." and "..".
    static std::vector<const FsEntry*> Recordable(const std::vector<FsEntry>& entries);
    struct Held
    {
        std::uint32_t nAttributes;
        std::uint64_t nSize, nLastWrite;
    };
    // True when the listing says what the index holds already (then only its time is renewed).
    static bool SameListing(const QHash<QString, Held>& held,
                            const std::vector<const FsEntry*>& now);
    // The paths of the sub-folders held that the new listing no longer has.
    static QStringList GoneFolders(const QString& folder, const QHash<QString, Held>& held,
                                   const std::vector<const FsEntry*>& now);
};

// "\\SERVER\Share" of a folder path (the path itself when it is no deeper).
QString ShareOf(const QString& folder);
// A scope as given (trailing "\" left out), or empty when it repeats one before it.
QStringList DistinctScopes(const QStringList& scopes);

// Deletes the index (the file and its journal, or the database's tables of it); true when
// nothing of it is left. *pDetail: why not.
bool Forget(const QString& location, QString* pDetail = nullptr);

} // namespace shareindex
