#pragma once

#include "search/SearchTypes.h"

#include <QHash>
#include <QSet>

#include <vector>

namespace shareindex {

// A results list that shows the index's finds first and then the walk behind them: each walk
// find is matched by path against what the index showed. The same entry (same size and time)
// is shown already and is not added again; a changed one replaces its row; a new one is added.
// When the walk has run to its end, the index's finds it did not meet are gone from the shares
// and leave the list, which then holds what a walk alone gives.
//
// Owned by the list's thread (the GUI's).
class IndexReconciler
{
public:
    // The finds the index answered with (the rows shown first).
    void SetIndexed(const std::vector<SearchResult>& finds);
    // More of them (an answer that comes in parts).
    void AddIndexed(const std::vector<SearchResult>& finds);
    bool Active() const { return m_bActive; }
    // A batch of walk finds: what is to be added; *pStale gets the paths whose rows from the
    // index are out of date (to be removed first).
    std::vector<SearchResult> Walked(std::vector<SearchResult>&& batch, QSet<QString>* pStale);
    // The walk ran to its end: the paths shown from the index that it did not find. The
    // reconciler is done afterwards.
    QSet<QString> Unconfirmed();

private:
    struct Shown
    {
        std::uint64_t nSize = 0;
        std::uint64_t nLastWrite = 0;
    };
    QHash<QString, Shown> m_unconfirmed; // shown from the index, not met by the walk yet
    bool m_bActive = false;
};

} // namespace shareindex
