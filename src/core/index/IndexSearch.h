#pragma once

#include "IndexStore.h"
#include "network/NetworkTree.h"
#include "search/SearchTypes.h"

namespace shareindex {

struct IndexFinds
{
    std::vector<SearchResult> finds; // in the index's folder order
    qint64 msOldest = 0;             // the least recent listing they come from (0: none)
    qint64 nScanned = 0;             // entries looked at
};

// The entries below scopes (see IndexStore::ScanBelow) whose full path matches the pattern
// list, as a walk would test them; the paths are tested on all cores.
IndexFinds SearchIndex(IndexStore& store, const QStringList& scopes,
                       const QStringList& patternList);

// What a search of node walks, as index scopes: \\SERVER\Share for each share below it (or
// it), \\SERVER for a server without shares in the tree; none when nothing below it is either
// (then there is nothing to ask the index: empty scopes would mean all of it).
QStringList ScopesOf(const NetworkTree& tree, NodeHandle node);

} // namespace shareindex
