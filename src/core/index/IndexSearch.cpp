#include "IndexSearch.h"

#include "search/PatternList.h"

namespace shareindex {

IndexFinds SearchIndex(IndexStore& store, const QStringList& scopes, const QStringList& patternList)
{
    IndexFinds out;
    // The folded path is built in one buffer that keeps its memory: no allocation per entry
    // but the name's own, and a path only for a find.
    QString folded;
    store.ScanBelow(
        scopes,
        [&](const QString& folder, const FsEntry& e) {
            ++out.nScanned;
            folded.resize(0);
            folded.append(folder);
            folded.append(QLatin1Char('\\'));
            folded.append(e.strName);
            patterns::FoldCaseInPlace(folded.data(), folded.size());
            if (patterns::MatchesFoldedPath(folded, patternList))
                out.finds.push_back(
                    {folder + QLatin1Char('\\') + e.strName, e.nAttributes, e.nSize, e.nLastWrite});
        },
        &out.msOldest);
    return out;
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
