#pragma once

#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <vector>

// Handle of one node. 0 means "none". A handle stays valid until the next DeleteAll();
// after that every operation given an old handle answers "none" (or does nothing).
using NodeHandle = std::uint64_t;
constexpr NodeHandle NoNode = 0;

enum NodeKind : int
{
    NK_NETWORK = 0,
    NK_DOMAIN = 1,
    NK_SERVER = 2,
    NK_SHARE = 3
};

enum class InsertPos
{
    Last,
    Sort
};

// One change of the store, as the view has to replay it.
struct TreeChange
{
    enum Type
    {
        Inserted,
        Cleared,
        Sorted,
        Bold,
        LoginNeeded, // a server's shares could not be listed without a login
        Replaced     // every node replaced at once (Adopt): the view rebuilds from the store
    };
    Type type = Inserted;
    NodeHandle node = NoNode;      // Inserted, Bold, LoginNeeded
    NodeHandle parent = NoNode;    // Inserted, Sorted (NoNode = top level)
    int row = 0;                   // Inserted: position among the siblings
    QString text;                  // Inserted
    NodeKind kind = NK_NETWORK;    // Inserted
    bool bold = false;             // Bold
    bool loginNeeded = false;      // LoginNeeded
    std::vector<NodeHandle> order; // Sorted: the children in their new order
};

// The network tree: network -> domains/workgroups/IP ranges -> servers/hosts -> shares.
//
// Thread-safe store. Every single operation is atomic and may be called from any thread; a
// reader walking the tree while workers insert sees each node whole or not at all. Nodes are
// never removed one by one: they live until DeleteAll(). Nothing here blocks on I/O, so the
// internal lock is only ever held for the in-memory operation itself.
//
// A view mirrors the store by replaying the change feed: set a listener, which is called (from
// the changing thread, without the lock) whenever the feed turns non-empty, and drain the feed
// with TakeChanges() on the view's thread. Once SetChangeListener({}) has returned, the old
// listener is not running and will not be called again.
class NetworkTree
{
public:
    NetworkTree() = default;
    NetworkTree(const NetworkTree&) = delete;
    NetworkTree& operator=(const NetworkTree&) = delete;

    // parent NoNode inserts at top level. Returns NoNode if parent is stale.
    NodeHandle InsertItem(NodeHandle parent, InsertPos pos, const QString& text, NodeKind kind);
    void DeleteAll();
    // Takes every node of other (left empty) in place of this tree's own, as one change, so a
    // tree built elsewhere (a loaded file, on a worker thread) is swapped in at once. Old
    // handles go stale as with DeleteAll(). Returns other's first top-level node as it is here.
    NodeHandle Adopt(NetworkTree& other);

    int GetCount() const;
    NodeHandle GetChildItem(NodeHandle node) const; // NoNode: first top-level node
    NodeHandle GetNextSiblingItem(NodeHandle node) const;
    NodeHandle GetParentItem(NodeHandle node) const;
    bool ItemHasChildren(NodeHandle node) const;
    QString GetItemText(NodeHandle node) const;
    NodeKind GetItemKind(NodeHandle node) const;
    bool IsValid(NodeHandle node) const;
    std::vector<NodeHandle> GetChildren(NodeHandle node) const; // snapshot, NoNode: top level

    void SetBold(NodeHandle node, bool bBold);
    bool IsBold(NodeHandle node) const;
    // A server whose share list was refused for want of a login: shown with a mark until its
    // shares are listed. Not saved in tree files.
    void SetLoginNeeded(NodeHandle node, bool bNeeded);
    bool IsLoginNeeded(NodeHandle node) const;
    // Sorts the direct children of node (not recursive), ignoring case, stable.
    void SortChildren(NodeHandle node);

    void SetChangeListener(std::function<void()> fnNotify);
    std::vector<TreeChange> TakeChanges();

    // The ordering the tree sorts by: alphabetical, ignoring case.
    static bool SortsBefore(const QString& a, const QString& b);

private:
    struct Node
    {
        QString strText;
        NodeKind kind = NK_NETWORK;
        bool bBold = false;
        bool bLoginNeeded = false;
        std::uint32_t nParent = 0; // index + 1, 0 = top level
        std::vector<std::uint32_t> children;
    };

    const Node* Find(NodeHandle h) const;
    Node* Find(NodeHandle h);
    NodeHandle MakeHandle(std::uint32_t nIndex) const;
    std::vector<std::uint32_t>* ChildList(NodeHandle parent);
    bool Queue(TreeChange&& change); // under m_mutex; true when the feed turned non-empty
    void SetFlag(NodeHandle node, bool Node::*pFlag, bool bOn, TreeChange::Type type);
    void Notify(); // without m_mutex

    mutable std::shared_mutex m_mutex;
    std::deque<Node> m_nodes;
    std::vector<std::uint32_t> m_top;
    std::uint32_t m_nGeneration = 1;

    // Held while the listener runs, so that once SetChangeListener({}) returns the old
    // listener is never called again.
    std::mutex m_notifyMutex;
    std::function<void()> m_fnNotify; // guarded by both locks; read under either
    bool m_bFeed = false;
    std::vector<TreeChange> m_changes;
};

// Sorts everything below node: for each child that has children, its children are sorted and
// the same is done below it. node's own children keep their order.
void SortTree(NetworkTree& tree, NodeHandle node);
