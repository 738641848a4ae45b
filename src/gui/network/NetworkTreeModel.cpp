#include "NetworkTreeModel.h"

#include "app/ControlChars.h"

#include <QFont>
#include <QMetaObject>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>

namespace {

// A small padlock at the lower right of the icon.
QIcon WithPadlock(const QIcon& base)
{
    QIcon out;
    for (const int side : {16, 24, 32, 48}) {
        QPixmap pm = base.pixmap(side, side);
        if (pm.isNull())
            continue;
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal s = side / 16.0;
        const QRectF body(8.5 * s, 9.5 * s, 7 * s, 6 * s);
        QPainterPath shackle;
        shackle.addRoundedRect(QRectF(10 * s, 6.5 * s, 4 * s, 6 * s), 2 * s, 2 * s);
        p.setPen(QPen(QColor(60, 60, 60), 1.4 * s));
        p.setBrush(Qt::NoBrush);
        p.drawPath(shackle);
        p.setPen(QPen(QColor(90, 60, 0), 0.8 * s));
        p.setBrush(QColor(240, 190, 40));
        p.drawRoundedRect(body, 1 * s, 1 * s);
        p.end();
        out.addPixmap(pm);
    }
    return out;
}

} // namespace

QString LoginNeededTip(const QString& server)
{
    return NetworkTreeModel::tr("%1 needs a login to list its shares: search it, or use "
                                "\"Connect as...\", to log in.")
        .arg(server);
}

NetworkTreeModel::NetworkTreeModel(std::shared_ptr<NetworkTree> tree, QObject* parent)
    : QAbstractItemModel(parent), m_tree(std::move(tree))
{
    m_icons[NK_NETWORK] = QIcon(QStringLiteral(":/images/tree_network.png"));
    m_icons[NK_DOMAIN] = QIcon(QStringLiteral(":/images/tree_domain.png"));
    m_icons[NK_SERVER] = QIcon(QStringLiteral(":/images/tree_server.png"));
    m_icons[NK_SHARE] = QIcon(QStringLiteral(":/images/tree_share.png"));
    m_loginNeededIcon = WithPadlock(m_icons[NK_SERVER]);
    // Any thread: queue a replay on the model's thread. The destructor unregisters the
    // listener, and the store guarantees it is not running after that; a replay still queued
    // then is dropped with the object.
    m_tree->SetChangeListener(
        [this] { QMetaObject::invokeMethod(this, &NetworkTreeModel::Sync, Qt::QueuedConnection); });
    Sync();
}

NetworkTreeModel::~NetworkTreeModel()
{
    m_tree->SetChangeListener({});
}

void NetworkTreeModel::Renumber(MNode* pParent, std::size_t nFrom)
{
    for (std::size_t i = nFrom; i < pParent->children.size(); ++i)
        pParent->children[i]->nRow = static_cast<int>(i);
}

void NetworkTreeModel::Rebuild()
{
    Reset();
    // Breadth first over the store; each node's children in their order.
    std::vector<std::pair<NodeHandle, MNode*>> pending{{NoNode, &m_root}};
    for (std::size_t i = 0; i < pending.size(); ++i) {
        const auto [h, pParent] = pending[i];
        const std::vector<NodeHandle> children = m_tree->GetChildren(h);
        pParent->children.reserve(children.size());
        for (NodeHandle c : children) {
            auto node = std::make_unique<MNode>();
            node->h = c;
            node->pParent = pParent;
            node->strText = m_tree->GetItemText(c);
            node->kind = m_tree->GetItemKind(c);
            node->bBold = m_tree->IsBold(c);
            node->bLoginNeeded = m_tree->IsLoginNeeded(c);
            node->nRow = static_cast<int>(pParent->children.size());
            MNode* p = node.get();
            m_storage.push_back(std::move(node));
            pParent->children.push_back(p);
            m_nodes.insert(c, p);
            pending.emplace_back(c, p);
        }
    }
}

QModelIndex NetworkTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || row < 0)
        return {};
    const MNode* p =
        parent.isValid() ? static_cast<const MNode*>(parent.internalPointer()) : &m_root;
    if (row >= static_cast<int>(p->children.size()))
        return {};
    return createIndex(row, 0, p->children[static_cast<std::size_t>(row)]);
}

QModelIndex NetworkTreeModel::parent(const QModelIndex& child) const
{
    if (!child.isValid())
        return {};
    const MNode* p = static_cast<const MNode*>(child.internalPointer())->pParent;
    if (!p || p == &m_root)
        return {};
    return createIndex(RowOf(p), 0, const_cast<MNode*>(p));
}

int NetworkTreeModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0)
        return 0;
    const MNode* p =
        parent.isValid() ? static_cast<const MNode*>(parent.internalPointer()) : &m_root;
    return static_cast<int>(p->children.size());
}

int NetworkTreeModel::columnCount(const QModelIndex&) const
{
    return 1;
}

bool NetworkTreeModel::hasChildren(const QModelIndex& parent) const
{
    // A server that needs a login has shares nobody has seen yet: opening it lists them.
    if (parent.isValid() && static_cast<const MNode*>(parent.internalPointer())->bLoginNeeded)
        return true;
    return rowCount(parent) > 0;
}

QVariant NetworkTreeModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const auto* p = static_cast<const MNode*>(index.internalPointer());
    switch (role) {
    case Qt::DisplayRole:
        return ctl::ToPictures(p->strText);
    case Qt::ToolTipRole:
        if (p->bLoginNeeded)
            return LoginNeededTip(QStringLiteral("\\\\") + ctl::ToPictures(p->strText));
        return ctl::ToPictures(p->strText);
    case Qt::DecorationRole:
        return p->bLoginNeeded ? m_loginNeededIcon : m_icons[p->kind & 3];
    case Qt::FontRole:
        if (p->bBold) {
            QFont f;
            f.setBold(true);
            return f;
        }
        return {};
    default:
        return {};
    }
}

NodeHandle NetworkTreeModel::HandleOf(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<const MNode*>(index.internalPointer())->h : NoNode;
}

QModelIndex NetworkTreeModel::IndexOf(NodeHandle h) const
{
    MNode* p = m_nodes.value(h, nullptr);
    if (!p)
        return {};
    return createIndex(RowOf(p), 0, p);
}

void NetworkTreeModel::Reset()
{
    m_root.children.clear();
    m_nodes.reserve(static_cast<qsizetype>(m_tree->GetCount()));
    m_nodes.clear();
    m_storage.clear();
}

void NetworkTreeModel::Sync()
{
    const std::vector<TreeChange> changes = m_tree->TakeChanges();
    for (const TreeChange& c : changes)
        Apply(c);
}

void NetworkTreeModel::Apply(const TreeChange& c)
{
    switch (c.type) {
    case TreeChange::Cleared:
        beginResetModel();
        Reset();
        endResetModel();
        break;
    case TreeChange::Replaced:
        beginResetModel();
        Rebuild();
        endResetModel();
        break;
    case TreeChange::Inserted: {
        MNode* pParent = c.parent == NoNode ? &m_root : m_nodes.value(c.parent, nullptr);
        // A node already there came with a rebuild from the store.
        if (!pParent || m_nodes.contains(c.node))
            break;
        const int nRow = std::clamp(c.row, 0, static_cast<int>(pParent->children.size()));
        const QModelIndex parentIndex =
            pParent == &m_root ? QModelIndex() : createIndex(RowOf(pParent), 0, pParent);
        beginInsertRows(parentIndex, nRow, nRow);
        auto node = std::make_unique<MNode>();
        node->h = c.node;
        node->pParent = pParent;
        node->strText = c.text;
        node->kind = c.kind;
        MNode* p = node.get();
        m_storage.push_back(std::move(node));
        pParent->children.insert(pParent->children.begin() + nRow, p);
        Renumber(pParent, static_cast<std::size_t>(nRow));
        m_nodes.insert(c.node, p);
        endInsertRows();
        break;
    }
    case TreeChange::Sorted: {
        MNode* pParent = c.parent == NoNode ? &m_root : m_nodes.value(c.parent, nullptr);
        if (!pParent || c.order.size() != pParent->children.size())
            break;
        const QModelIndex parentIndex =
            pParent == &m_root ? QModelIndex() : createIndex(RowOf(pParent), 0, pParent);
        emit layoutAboutToBeChanged({QPersistentModelIndex(parentIndex)});
        const QModelIndexList oldList = persistentIndexList();
        std::vector<MNode*> sorted;
        sorted.reserve(c.order.size());
        for (NodeHandle h : c.order)
            if (MNode* p = m_nodes.value(h, nullptr); p && p->pParent == pParent)
                sorted.push_back(p);
        if (sorted.size() == pParent->children.size())
            pParent->children = std::move(sorted);
        Renumber(pParent, 0);
        for (const QModelIndex& old : oldList) {
            auto* p = static_cast<MNode*>(old.internalPointer());
            if (p->pParent == pParent)
                changePersistentIndex(old, createIndex(RowOf(p), old.column(), p));
        }
        emit layoutChanged({QPersistentModelIndex(parentIndex)});
        break;
    }
    case TreeChange::Bold: {
        MNode* p = m_nodes.value(c.node, nullptr);
        if (!p)
            break;
        p->bBold = c.bold;
        const QModelIndex idx = createIndex(RowOf(p), 0, p);
        emit dataChanged(idx, idx, {Qt::FontRole});
        break;
    }
    case TreeChange::LoginNeeded: {
        MNode* p = m_nodes.value(c.node, nullptr);
        if (!p)
            break;
        // The expander comes and goes with the mark: the view asks hasChildren again only
        // after a layout change.
        const QModelIndex parentIndex =
            p->pParent == &m_root ? QModelIndex() : createIndex(RowOf(p->pParent), 0, p->pParent);
        emit layoutAboutToBeChanged({QPersistentModelIndex(parentIndex)});
        p->bLoginNeeded = c.loginNeeded;
        emit layoutChanged({QPersistentModelIndex(parentIndex)});
        const QModelIndex idx = createIndex(RowOf(p), 0, p);
        emit dataChanged(idx, idx, {Qt::DecorationRole, Qt::ToolTipRole});
        break;
    }
    }
}
