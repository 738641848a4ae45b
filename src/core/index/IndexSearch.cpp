#include "IndexSearch.h"

#include "search/PatternList.h"

#include <QElapsedTimer>

namespace shareindex {

namespace {
// A part is handed on when it is this big, or this old.
constexpr std::size_t kFindsPerPart = 2000;
constexpr qint64 kMsPerPart = 40;
} // namespace

IndexFinds SearchIndex(IndexStore& store, const QStringList& scopes, const QStringList& patternList,
                       const FindsFn& onFinds)
{
    IndexFinds out;
    QElapsedTimer sinceHanded;
    sinceHanded.start();
    auto found = [&](SearchResult&& r) {
        out.finds.push_back(std::move(r));
        ++out.nFound;
        if (onFinds && (out.finds.size() >= kFindsPerPart || sinceHanded.elapsed() >= kMsPerPart)) {
            onFinds(std::move(out.finds), out.msOldest);
            out.finds.clear();
            sinceHanded.restart();
        }
    };
    // The folded path is built in one buffer that keeps its memory: no allocation per entry
    // but the name's own, and a path only for a find.
    QString folded;
    const bool bTested = store.FiltersExactly(patternList);
    store.ScanMatching(
        scopes, patternList,
        [&](const QString& folder, const FsEntry& e) {
            ++out.nScanned;
            if (bTested) {
                found(
                    {folder + QLatin1Char('\\') + e.strName, e.nAttributes, e.nSize, e.nLastWrite});
                return;
            }
            folded.resize(0);
            folded.append(folder);
            folded.append(QLatin1Char('\\'));
            folded.append(e.strName);
            patterns::FoldCaseInPlace(folded.data(), folded.size());
            if (patterns::MatchesFoldedPath(folded, patternList))
                found(
                    {folder + QLatin1Char('\\') + e.strName, e.nAttributes, e.nSize, e.nLastWrite});
        },
        &out.msOldest);
    if (onFinds && !out.finds.empty()) {
        onFinds(std::move(out.finds), out.msOldest);
        out.finds.clear();
    }
    return out;
}

std::function<std::vector<SearchResult>(const QString& share)>
Candidates(const QString& location, const QStringList& patternList)
{
    return [location, patternList](const QString& share) {
        auto store = IndexStore::Open(location, false, nullptr);
        if (!store)
            return std::vector<SearchResult>();
        return SearchIndex(*store, {share}, patternList).finds;
    };
}

QStringList ScopesOf(const NetworkTree& tree, NodeHandle node)
{
    // As the walk goes: a leaf below a server is a share of it, a server without shares in the
    // tree is searched whole (all the shares it lists).
    QStringList scopes;
    const std::vector<NodeHandle> children = tree.GetChildren(node);
    const QString text = tree.GetItemText(node);
    if (children.empty() && tree.GetItemKind(node) == NK_SERVER) {
        scopes << QStringLiteral("\\\\") + text;
    } else if (children.empty()) {
        const NodeHandle parent = tree.GetParentItem(node);
        if (parent != NoNode)
            scopes << QStringLiteral("\\\\") + tree.GetItemText(parent) + QLatin1Char('\\') + text;
    } else {
        for (NodeHandle c : children)
            scopes << ScopesOf(tree, c);
    }
    return scopes;
}

} // namespace shareindex
