#pragma once

#include "network/NetworkTree.h"

#include <QAbstractItemModel>
#include <QHash>
#include <QIcon>

#include <memory>
#include <vector>

// Shows a NetworkTree one to one. GUI-thread object: it mirrors the store by replaying the
// store's change feed, which workers fill from any thread; the replay is queued to this
// object's thread, so the view only ever sees changes in the order the store made them.
class NetworkTreeModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    explicit NetworkTreeModel(std::shared_ptr<NetworkTree> tree, QObject* parent = nullptr);
    ~NetworkTreeModel() override;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;

    NodeHandle HandleOf(const QModelIndex& index) const;
    QModelIndex IndexOf(NodeHandle h) const;

public slots:
    // Replays every pending change of the store. Called by the queued notification; tests
    // and the frame may call it to bring the view up to date at once.
    void Sync();

private:
    struct MNode
    {
        NodeHandle h = NoNode;
        MNode* pParent = nullptr;
        std::vector<MNode*> children;
        QString strText;
        NodeKind kind = NK_NETWORK;
        bool bBold = false;
        bool bLoginNeeded = false;
        int nRow = 0; // position among its siblings, kept up to date
    };
    int RowOf(const MNode* p) const { return p->nRow; }
    static void Renumber(MNode* pParent, std::size_t nFrom);
    // Rebuilds every node from the store as it is now (after a Replaced change).
    void Rebuild();
    void Apply(const TreeChange& c);
    void Reset();

    std::shared_ptr<NetworkTree> m_tree;
    MNode m_root;
    QHash<NodeHandle, MNode*> m_nodes;
    std::vector<std::unique_ptr<MNode>> m_storage;
    QIcon m_icons[4];
    QIcon m_loginNeededIcon; // the server's icon with a padlock
};

// The tool tip of a server that needs a login to list its shares.
QString LoginNeededTip(const QString& server);
