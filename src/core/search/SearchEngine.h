#pragma once

#include "SearchTypes.h"
#include "ShareFs.h"
#include "app/Error.h"
#include "index/IndexWriter.h"
#include "network/NetworkTree.h"

#include <QStringList>

#include <functional>
#include <memory>

// What one search is asked to do.
struct SearchJob
{
    // Tree mode: the start node; every node below it with children gets a worker, every leaf
    // is taken as a share \\<parent>\<leaf>.
    std::shared_ptr<NetworkTree> tree;
    NodeHandle hStartNode = NoNode;
    // Folder mode (when tree is null): each folder is searched like a share, on its own worker.
    QStringList folders;

    QString strPatternText;    // "*.doc;*.txt"
    QString strContainingText; // may be empty
    std::shared_ptr<ResultSink> sink;
    // Where every folder listed in full is recorded (the index of walked shares); may be null.
    std::shared_ptr<shareindex::IndexWriter> index = nullptr;
    // A content search may start with the files it expects to meet (the index's files of the
    // pattern below a share): called on the share's worker before it lists the share, and each
    // file is read at once. The walk reads such a file again only when its listing shows
    // another size or time than the candidate's (it changed since the index knew it); a find
    // is reported once.
    std::function<std::vector<SearchResult>(const QString& share)> fnCandidates = nullptr;
};

// Runs searches: walks the shares below a node on worker threads, tests every entry's full path
// against the pattern list and, with a containing text, the file's contents, and hands every
// find to the search's sink.
//
// Driven from one thread (the GUI's). Each search has its own run state; workers of a stopped
// search only ever see their own run, so they never join a later search and never add to its
// sink. Stop() cancels the run's token: it takes effect at the workers' next check (before every
// entry and every node), and a worker waiting for the network wakes at once (its share file
// system polls the token beside the helpers' sockets). Every folder or file that cannot be read is
// reported (fnUnreadable and a status text), never skipped silently. The pattern and content tests
// run without a lock; only the hand-off to the sink is serialised. Workers keep their run and the
// engine's state alive themselves; after Shutdown() no callback is called.
class SearchEngine
{
public:
    struct Callbacks
    {
        std::function<void(const QString&)> fnStatus; // any thread
        // The last worker of search nId has ended; bRanToEnd is false when it was stopped.
        std::function<void(quint64 nId, bool bRanToEnd)> fnFinished;
        // A folder (bFolder) or a file of search nId could not be read, and why; any thread,
        // before fnFinished. Printer and IPC shares and a stopped search's calls are no failure.
        std::function<void(quint64 nId, const QString& path, bool bFolder, const Error& why)>
            fnUnreadable;
    };
    using FsFactory = std::function<std::unique_ptr<ShareFs>()>;

    SearchEngine(Callbacks callbacks, FsFactory fsFactory);
    ~SearchEngine();
    SearchEngine(const SearchEngine&) = delete;
    SearchEngine& operator=(const SearchEngine&) = delete;

    // Starts a search; returns its id (0 when it did not start, with the reason in *pError:
    // ErrorKind::Busy, TextTooLong or NoTarget).
    quint64 Start(const SearchJob& job, Error* pError = nullptr);
    // Stops the running search, if any: idle at once; its workers end on their own.
    void Stop();
    bool IsIdle() const;
    quint64 CurrentId() const;

    // Pause after a worker starts another one (staggers first network accesses); 0 for none.
    void SetWorkerStartPause(int ms);
    // Stops, cuts off callbacks and waits for workers at most msWait; true when all ended.
    bool Shutdown(int msWait);

    struct State;
    struct Run;

private:
    std::shared_ptr<State> m_state;
};
