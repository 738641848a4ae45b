#pragma once

#include "IndexStore.h"
#include "network/NetworkTree.h"
#include "search/SearchTypes.h"

namespace shareindex {

struct IndexFinds
{
    std::vector<SearchResult> finds; // in the index's folder order (those not handed on)
    qint64 msOldest = 0;             // the least recent listing they come from (0: none)
    qint64 nScanned = 0;             // entries looked at
    qint64 nFound = 0;               // finds in all, handed on or not
};

// Takes finds as the search goes, so that the first rows show at once; msOldest: the least
// recent listing read so far (0 while the store does not know yet; known with the last part).
using FindsFn = std::function<void(std::vector<SearchResult>&& finds, qint64 msOldest)>;

// The entries below scopes (see IndexStore::ScanBelow) whose full path matches the pattern
// list, as a walk would test them. With onFinds, the finds are handed on in parts as they come
// (the first within a few tens of milliseconds), and the answer keeps none.
IndexFinds SearchIndex(IndexStore& store, const QStringList& scopes, const QStringList& patternList,
                       const FindsFn& onFinds = {});

// For a content search (SearchJob::fnCandidates): the index's finds of the pattern list below a
// share, asked on the caller's thread (each call opens the index at location; none when there
// is no index there).
std::function<std::vector<SearchResult>(const QString& share)>
Candidates(const QString& location, const QStringList& patternList);

// What a search of node walks, as index scopes: \\SERVER\Share for each share below it (or
// it), \\SERVER for a server without shares in the tree; none when nothing below it is either
// (then there is nothing to ask the index: empty scopes would mean all of it).
QStringList ScopesOf(const NetworkTree& tree, NodeHandle node);

} // namespace shareindex
