#pragma once

#include "LanBrowser.h"
#include "NetworkTree.h"

#include <QString>

#include <functional>
#include <memory>

// Fills the network tree from the network: Discover (every workgroup and domain, their servers,
// their shares), Add domain (one named workgroup), Scan IP range (the shares of every address
// of a range) and the shares of one server. A server whose share list is refused for want of a
// login stays in the tree with a mark and a log line; nobody is asked during a discovery.
//
// Created and driven on one thread (the GUI's, or the CLI's main thread). Each activity runs on
// worker threads: one per domain, one per address. Workers of all running activities share one
// count; the worker whose end brings it to 0 runs the completion exactly once: "Network tree
// has been updated!" and "Ready", idle again, the tree sorted, then Callbacks::fnCompleted. Each
// activity holds one count itself while it starts its workers, so an early worker cannot end the
// activity before its last sibling has started.
//
// Workers keep the engine's state alive on their own; after Shutdown() no callback is called any
// more, so the owner may go even if a worker is still stuck in a network call.
class Discovery
{
public:
    struct Callbacks
    {
        std::function<void(const QString&)> fnStatus; // any thread
        std::function<void(const QString&)> fnStdout; // diagnostics, any thread
        std::function<void(const QString&)> fnStderr; // diagnostics, any thread
        std::function<void()> fnCompleted;            // the last worker's thread
    };

    Discovery(std::shared_ptr<NetworkTree> tree, std::shared_ptr<LanBrowser> browser,
              Callbacks callbacks);
    ~Discovery();
    Discovery(const Discovery&) = delete;
    Discovery& operator=(const Discovery&) = delete;

    bool IsIdle() const;
    int WorkerCount() const;
    NodeHandle RootNode() const;

    // Each returns false, doing nothing, while an activity runs.
    // Deletes every node, inserts the root and lists domains, servers and shares.
    bool DiscoverNetwork();
    // Appends name under the root (created if the tree is empty) and lists its servers.
    bool AddDomain(const QString& name);
    // Appends a range node and asks every address from first to last for its shares. The range
    // must be accepted (iprange::Accepted).
    bool ScanIpRange(const QString& rangeName, quint32 first, quint32 last);

    // Lists the shares of one server node again, on the person's request ("Connect as..."): a
    // refused login may be asked about. Shares the node lacks are added; the login mark goes
    // when the list comes, and comes when it is refused.
    bool ListServerShares(NodeHandle server);

    // Adopts a root made elsewhere (a loaded tree file).
    void SetRootNode(NodeHandle root);

    // Asks workers to give up and waits for them at most msWait. Afterwards no callback runs.
    // Returns true when every worker has ended.
    bool Shutdown(int msWait);

    // Inter-start pause of domain workers (ms); tests shorten it.
    void SetDomainStartPause(int ms);

    struct State;

private:
    std::shared_ptr<State> m_state;
};
