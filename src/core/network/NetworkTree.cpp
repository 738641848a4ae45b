#include "NetworkTree.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <mutex>

namespace {
constexpr std::uint32_t IndexOf(NodeHandle h)
{
    return static_cast<std::uint32_t>(h & 0xffffffffu);
}
constexpr std::uint32_t GenerationOf(NodeHandle h)
{
    return static_cast<std::uint32_t>(h >> 32);
}
} // namespace

bool NetworkTree::SortsBefore(const QString& a, const QString& b)
{
    // As the user's language sorts (Ä beside A, not after Z), ignoring case, numbers by value
    // (file9 before file10, 127.0.0.9 before 127.0.0.11). A collator per thread: discovery
    // workers sort too.
    thread_local QCollator collator;
    thread_local bool bReady = false;
    const QLocale locale;
    if (!bReady || collator.locale() != locale) {
        collator = QCollator(locale);
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        collator.setNumericMode(true);
        bReady = true;
    }
    return collator.compare(a, b) < 0;
}

NodeHandle NetworkTree::MakeHandle(std::uint32_t nIndex) const
{
    return (static_cast<NodeHandle>(m_nGeneration) << 32) | (nIndex + 1);
}

const NetworkTree::Node* NetworkTree::Find(NodeHandle h) const
{
    if (h == NoNode || GenerationOf(h) != m_nGeneration)
        return nullptr;
    const std::uint32_t i = IndexOf(h);
    if (i == 0 || i > m_nodes.size())
        return nullptr;
    return &m_nodes[i - 1];
}

NetworkTree::Node* NetworkTree::Find(NodeHandle h)
{
    return const_cast<Node*>(static_cast<const NetworkTree*>(this)->Find(h));
}

std::vector<std::uint32_t>* NetworkTree::ChildList(NodeHandle parent)
{
    if (parent == NoNode)
        return &m_top;
    Node* p = Find(parent);
    return p ? &p->children : nullptr;
}

bool NetworkTree::Queue(TreeChange&& change)
{
    if (!m_bFeed)
        return false;
    const bool bWasEmpty = m_changes.empty();
    m_changes.push_back(std::move(change));
    return bWasEmpty;
}

NodeHandle NetworkTree::InsertItem(NodeHandle parent, InsertPos pos, const QString& text,
                                   NodeKind kind)
{
    bool bNotify = false;
    NodeHandle h = NoNode;
    {
        std::unique_lock lock(m_mutex);
        std::vector<std::uint32_t>* pList = ChildList(parent);
        if (!pList)
            return NoNode;
        std::size_t nRow = pList->size();
        if (pos == InsertPos::Sort) {
            // After the last sibling that does not sort after the new text.
            auto it = std::upper_bound(pList->begin(), pList->end(), text,
                                       [this](const QString& t, std::uint32_t idx) {
                                           return SortsBefore(t, m_nodes[idx - 1].strText);
                                       });
            nRow = static_cast<std::size_t>(it - pList->begin());
        }
        Node node;
        node.strText = text;
        node.kind = kind;
        node.nParent = parent == NoNode ? 0 : IndexOf(parent);
        m_nodes.push_back(std::move(node));
        const auto nIndex = static_cast<std::uint32_t>(m_nodes.size());
        pList->insert(pList->begin() + static_cast<std::ptrdiff_t>(nRow), nIndex);
        h = MakeHandle(nIndex - 1);
        TreeChange change;
        change.type = TreeChange::Inserted;
        change.node = h;
        change.parent = parent;
        change.row = static_cast<int>(nRow);
        change.text = text;
        change.kind = kind;
        if (Queue(std::move(change)))
            bNotify = true;
    }
    if (bNotify)
        Notify();
    return h;
}

void NetworkTree::DeleteAll()
{
    bool bNotify = false;
    {
        std::unique_lock lock(m_mutex);
        m_nodes.clear();
        m_top.clear();
        ++m_nGeneration;
        if (m_nGeneration == 0)
            m_nGeneration = 1;
        TreeChange change;
        change.type = TreeChange::Cleared;
        if (m_bFeed) {
            // Changes before a clear no longer matter to the view.
            m_changes.clear();
        }
        if (Queue(std::move(change)))
            bNotify = true;
    }
    if (bNotify)
        Notify();
}

NodeHandle NetworkTree::Adopt(NetworkTree& other)
{
    if (&other == this)
        return GetChildItem(NoNode);
    bool bNotify = false;
    NodeHandle root = NoNode;
    {
        std::scoped_lock lock(m_mutex, other.m_mutex);
        m_nodes = std::move(other.m_nodes);
        m_top = std::move(other.m_top);
        other.m_nodes.clear();
        other.m_top.clear();
        ++other.m_nGeneration;
        if (other.m_nGeneration == 0)
            other.m_nGeneration = 1;
        // Past both trees' generations: no handle of either is taken for one of these nodes.
        m_nGeneration = std::max(m_nGeneration, other.m_nGeneration) + 1;
        if (m_nGeneration == 0)
            m_nGeneration = 1;
        if (!m_top.empty())
            root = MakeHandle(m_top.front() - 1);
        if (m_bFeed)
            m_changes.clear();
        TreeChange change;
        change.type = TreeChange::Replaced;
        if (Queue(std::move(change)))
            bNotify = true;
    }
    if (bNotify)
        Notify();
    return root;
}

int NetworkTree::GetCount() const
{
    std::shared_lock lock(m_mutex);
    return static_cast<int>(m_nodes.size());
}

NodeHandle NetworkTree::GetChildItem(NodeHandle node) const
{
    std::shared_lock lock(m_mutex);
    if (node == NoNode)
        return m_top.empty() ? NoNode : MakeHandle(m_top.front() - 1);
    const Node* p = Find(node);
    if (!p || p->children.empty())
        return NoNode;
    return MakeHandle(p->children.front() - 1);
}

NodeHandle NetworkTree::GetNextSiblingItem(NodeHandle node) const
{
    std::shared_lock lock(m_mutex);
    const Node* p = Find(node);
    if (!p)
        return NoNode;
    const std::vector<std::uint32_t>& list =
        p->nParent == 0 ? m_top : m_nodes[p->nParent - 1].children;
    const std::uint32_t nIndex = IndexOf(node);
    auto it = std::find(list.begin(), list.end(), nIndex);
    if (it == list.end() || ++it == list.end())
        return NoNode;
    return MakeHandle(*it - 1);
}

NodeHandle NetworkTree::GetParentItem(NodeHandle node) const
{
    std::shared_lock lock(m_mutex);
    const Node* p = Find(node);
    if (!p || p->nParent == 0)
        return NoNode;
    return MakeHandle(p->nParent - 1);
}

bool NetworkTree::ItemHasChildren(NodeHandle node) const
{
    std::shared_lock lock(m_mutex);
    const Node* p = Find(node);
    return p && !p->children.empty();
}

QString NetworkTree::GetItemText(NodeHandle node) const
{
    std::shared_lock lock(m_mutex);
    const Node* p = Find(node);
    return p ? p->strText : QString();
}

NodeKind NetworkTree::GetItemKind(NodeHandle node) const
{
    std::shared_lock lock(m_mutex);
    const Node* p = Find(node);
    return p ? p->kind : NK_NETWORK;
}

bool NetworkTree::IsValid(NodeHandle node) const
{
    std::shared_lock lock(m_mutex);
    return Find(node) != nullptr;
}

std::vector<NodeHandle> NetworkTree::GetChildren(NodeHandle node) const
{
    std::shared_lock lock(m_mutex);
    std::vector<NodeHandle> out;
    const std::vector<std::uint32_t>* pList = &m_top;
    if (node != NoNode) {
        const Node* p = Find(node);
        if (!p)
            return out;
        pList = &p->children;
    }
    out.reserve(pList->size());
    for (std::uint32_t i : *pList)
        out.push_back(MakeHandle(i - 1));
    return out;
}

void NetworkTree::SetFlag(NodeHandle node, bool Node::*pFlag, bool bOn, TreeChange::Type type)
{
    bool bNotify = false;
    {
        std::unique_lock lock(m_mutex);
        Node* p = Find(node);
        if (!p || p->*pFlag == bOn)
            return;
        p->*pFlag = bOn;
        TreeChange change;
        change.type = type;
        change.node = node;
        change.bold = type == TreeChange::Bold && bOn;
        change.loginNeeded = type == TreeChange::LoginNeeded && bOn;
        if (Queue(std::move(change)))
            bNotify = true;
    }
    if (bNotify)
        Notify();
}

void NetworkTree::SetBold(NodeHandle node, bool bBold)
{
    SetFlag(node, &Node::bBold, bBold, TreeChange::Bold);
}

void NetworkTree::SetLoginNeeded(NodeHandle node, bool bNeeded)
{
    SetFlag(node, &Node::bLoginNeeded, bNeeded, TreeChange::LoginNeeded);
}

bool NetworkTree::IsLoginNeeded(NodeHandle node) const
{
    std::shared_lock lock(m_mutex);
    const Node* p = Find(node);
    return p && p->bLoginNeeded;
}

bool NetworkTree::IsBold(NodeHandle node) const
{
    std::shared_lock lock(m_mutex);
    const Node* p = Find(node);
    return p && p->bBold;
}

void NetworkTree::SortChildren(NodeHandle node)
{
    bool bNotify = false;
    {
        std::unique_lock lock(m_mutex);
        std::vector<std::uint32_t>* pList = ChildList(node);
        if (!pList || pList->size() < 2)
            return;
        std::stable_sort(pList->begin(), pList->end(), [this](std::uint32_t a, std::uint32_t b) {
            return SortsBefore(m_nodes[a - 1].strText, m_nodes[b - 1].strText);
        });
        TreeChange change;
        change.type = TreeChange::Sorted;
        change.parent = node;
        change.order.reserve(pList->size());
        for (std::uint32_t i : *pList)
            change.order.push_back(MakeHandle(i - 1));
        if (Queue(std::move(change)))
            bNotify = true;
    }
    if (bNotify)
        Notify();
}

void NetworkTree::SetChangeListener(std::function<void()> fnNotify)
{
    std::lock_guard notifyLock(m_notifyMutex);
    {
        std::unique_lock lock(m_mutex);
        m_fnNotify = std::move(fnNotify);
        m_bFeed = static_cast<bool>(m_fnNotify);
        m_changes.clear();
        if (!m_bFeed)
            return;
        // A new listener starts from the whole current tree.
        TreeChange clear;
        clear.type = TreeChange::Cleared;
        m_changes.push_back(std::move(clear));
        std::function<void(std::uint32_t, const std::vector<std::uint32_t>&)> fnReplay =
            [&](std::uint32_t nParent, const std::vector<std::uint32_t>& list) {
                int nRow = 0;
                for (std::uint32_t i : list) {
                    const Node& n = m_nodes[i - 1];
                    TreeChange c;
                    c.type = TreeChange::Inserted;
                    c.node = MakeHandle(i - 1);
                    c.parent = nParent == 0 ? NoNode : MakeHandle(nParent - 1);
                    c.row = nRow++;
                    c.text = n.strText;
                    c.kind = n.kind;
                    m_changes.push_back(std::move(c));
                    // The node's flags that are on, each as the change that set it.
                    for (const auto& [bOn, type] :
                         {std::pair{n.bBold, TreeChange::Bold},
                          std::pair{n.bLoginNeeded, TreeChange::LoginNeeded}}) {
                        if (!bOn)
                            continue;
                        TreeChange f;
                        f.type = type;
                        f.node = MakeHandle(i - 1);
                        f.bold = type == TreeChange::Bold;
                        f.loginNeeded = type == TreeChange::LoginNeeded;
                        m_changes.push_back(std::move(f));
                    }
                    fnReplay(i, n.children);
                }
            };
        fnReplay(0, m_top);
    }
    m_fnNotify();
}

void NetworkTree::Notify()
{
    std::lock_guard notifyLock(m_notifyMutex);
    if (m_fnNotify)
        m_fnNotify();
}

std::vector<TreeChange> NetworkTree::TakeChanges()
{
    std::unique_lock lock(m_mutex);
    std::vector<TreeChange> out;
    out.swap(m_changes);
    return out;
}

void SortTree(NetworkTree& tree, NodeHandle node)
{
    for (NodeHandle child = tree.GetChildItem(node); child != NoNode;
         child = tree.GetNextSiblingItem(child)) {
        if (tree.ItemHasChildren(child)) {
            tree.SortChildren(child);
            SortTree(tree, child);
        }
    }
}
