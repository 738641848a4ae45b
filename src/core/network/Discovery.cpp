#include "Discovery.h"

#include "IpRange.h"
#include "app/ThreadCount.h"
#include "app/WorkerPriority.h"

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <shared_mutex>
#include <thread>

namespace {
const QString kRootText = QStringLiteral("MS Windows Network");
}

struct Discovery::State
{
    std::shared_ptr<NetworkTree> tree;
    std::shared_ptr<LanBrowser> browser;
    Callbacks callbacks;

    std::atomic<int> m_nDiscoveryWorkers{0};
    std::atomic<int> m_bDiscoveryIdle{1};
    std::atomic<NodeHandle> m_hRootNode{NoNode};
    std::atomic<bool> m_bAbort{false};
    std::atomic<int> m_msDomainPause{50};
    // Held around each insertion of a domain or server node, never across a network call.
    std::mutex m_treeMutex;

    // Callbacks are called under a shared lock; Shutdown() takes it exclusively to cut them off.
    std::shared_mutex m_callbackLock;
    bool m_bDetached = false;

    // Running threads, for Shutdown().
    ThreadCount m_threads;

    void Status(const QString& text)
    {
        std::shared_lock lock(m_callbackLock);
        if (!m_bDetached && callbacks.fnStatus)
            callbacks.fnStatus(text);
    }
    void Out(const QString& text)
    {
        std::shared_lock lock(m_callbackLock);
        if (!m_bDetached && callbacks.fnStdout)
            callbacks.fnStdout(text);
    }
    void Err(const QString& text)
    {
        std::shared_lock lock(m_callbackLock);
        if (!m_bDetached && callbacks.fnStderr)
            callbacks.fnStderr(text);
    }

    // Starts fn on a thread of its own, counted in m_nDiscoveryWorkers; the thread ends with
    // EndDiscoveryWorker(). Returns false (count taken back) when no thread could be started.
    bool StartWorker(std::shared_ptr<State> self, std::function<void()> fn)
    {
        ++m_nDiscoveryWorkers;
        m_threads.Add();
        try {
            std::thread([self, fn = std::move(fn)] {
                LowerThreadPriority();
                if (!self->m_bAbort)
                    fn();
                self->EndDiscoveryWorker();
                self->m_threads.Done();
            }).detach();
            return true;
        } catch (const std::system_error&) {
            --m_nDiscoveryWorkers;
            m_threads.Done();
            return false;
        }
    }

    // The log line for work that got no thread: "Cannot scan 10.0.0.2: ...".
    void NoThread(QLatin1String verb, const QString& what)
    {
        Status(QStringLiteral("Cannot %1 %2: no thread could be started").arg(verb, what));
    }

    void EndDiscoveryWorker()
    {
        if (--m_nDiscoveryWorkers != 0)
            return;
        Status(QStringLiteral("Network tree has been updated!"));
        Status(QStringLiteral("Ready"));
        m_bDiscoveryIdle = 1;
        SortTree(*tree, m_hRootNode.load());
        std::shared_lock lock(m_callbackLock);
        if (!m_bDetached && callbacks.fnCompleted)
            callbacks.fnCompleted();
    }

    // Lists the servers of one domain (or, with bDomains, the domains) under parent.
    void EnumServers(bool bDomains, const QString& domain, NodeHandle parent)
    {
        const EnumResult r =
            bDomains ? browser->EnumDomains(m_bAbort) : browser->EnumServers(domain, m_bAbort);
        for (const QString& note : r.notes)
            Status(note);
        if (!r.Usable()) {
            Err(QStringLiteral("A system error has occurred: %1\n").arg(r.nStatus));
            return;
        }
        int nProcessed = 0;
        for (const QString& name : r.names) {
            if (m_bAbort)
                break;
            NodeHandle node;
            {
                std::lock_guard lock(m_treeMutex);
                node = tree->InsertItem(parent, InsertPos::Sort, name,
                                        bDomains ? NK_DOMAIN : NK_SERVER);
            }
            // The tree was replaced (a loaded file) under this worker: nothing of this
            // listing belongs anywhere now.
            if (node == NoNode)
                break;
            ++nProcessed;
            if (!bDomains) {
                Status(QStringLiteral("Getting information about ") + domain + QLatin1Char('\\') +
                       name);
                EnumShares(name, node, false);
            }
        }
        if (r.nStatus == ERROR_MORE_DATA) {
            Err(QStringLiteral("\nMore entries available!!!\n"));
            Err(QStringLiteral("Total entries: %1").arg(r.nTotalEntries));
        }
        Out(QStringLiteral("\nEntries enumerated: %1\n").arg(nProcessed));
    }

    // Lists the shares of server. With bHost (an address of a scanned range) the host node is
    // made under node only when the listing answers; otherwise node is the server's node.
    // With bAsked (the person's own request for one server) a refused login may be asked
    // about, and shares the node holds already are not added again.
    // Why the list failed (none when it answered).
    Error EnumShares(const QString& server, NodeHandle node, bool bHost, bool bAsked = false)
    {
        quint32 nResume = 0;
        NodeHandle hostNode = bHost ? NoNode : node;
        // NoNode is the top level: never where a share goes (the tree was replaced).
        if (node == NoNode)
            return ErrorKind::NoTarget;
        QStringList known;
        if (bAsked)
            for (NodeHandle c : tree->GetChildren(node))
                known << tree->GetItemText(c);
        int nGuard = 0;
        for (;;) {
            const EnumResult r = bAsked ? browser->EnumSharesAsked(server, m_bAbort)
                                        : browser->EnumShares(server, nResume, m_bAbort);
            if (!r.Usable()) {
                if (r.error.NeedsLogin() && !m_bAbort)
                    MarkLoginNeeded(server, node, hostNode);
                return r.error ? r.error : Error::FromCode(EIO);
            }
            if (bHost && hostNode == NoNode) {
                hostNode = tree->InsertItem(node, InsertPos::Last, server, NK_SERVER);
                if (hostNode == NoNode)
                    return ErrorKind::NoTarget;
            }
            tree->SetLoginNeeded(hostNode, false);
            for (const QString& share : r.names)
                if (!known.contains(share, Qt::CaseInsensitive))
                    tree->InsertItem(hostNode, InsertPos::Last, share, NK_SHARE);
            // A server that keeps saying "more" is not asked forever.
            if (bAsked || r.nStatus != ERROR_MORE_DATA || m_bAbort || ++nGuard >= 1000)
                return {};
        }
    }

    // A share list refused for want of a login: the server is there all the same. It is
    // marked and named in the log; nobody is asked during a discovery (one question per
    // computer would be a storm): a search or "Connect as..." of it asks.
    void MarkLoginNeeded(const QString& server, NodeHandle parent, NodeHandle hostNode)
    {
        if (hostNode == NoNode)
            hostNode = tree->InsertItem(parent, InsertPos::Last, server, NK_SERVER);
        if (hostNode == NoNode)
            return;
        tree->SetLoginNeeded(hostNode, true);
        Status(QStringLiteral("\\\\%1 needs a login to list its shares").arg(server));
    }

    NodeHandle EnsureRoot()
    {
        if (tree->GetCount() == 0) {
            const NodeHandle root =
                tree->InsertItem(NoNode, InsertPos::Last, kRootText, NK_NETWORK);
            m_hRootNode = root;
        }
        return m_hRootNode;
    }
};

Discovery::Discovery(std::shared_ptr<NetworkTree> tree, std::shared_ptr<LanBrowser> browser,
                     Callbacks callbacks)
    : m_state(std::make_shared<State>())
{
    m_state->tree = std::move(tree);
    m_state->browser = std::move(browser);
    m_state->callbacks = std::move(callbacks);
}

Discovery::~Discovery()
{
    Shutdown(5000);
}

bool Discovery::IsIdle() const
{
    return m_state->m_bDiscoveryIdle != 0;
}

int Discovery::WorkerCount() const
{
    return m_state->m_nDiscoveryWorkers;
}

NodeHandle Discovery::RootNode() const
{
    return m_state->m_hRootNode;
}

void Discovery::SetRootNode(NodeHandle root)
{
    m_state->m_hRootNode = root;
}

void Discovery::SetDomainStartPause(int ms)
{
    m_state->m_msDomainPause = ms;
}

bool Discovery::DiscoverNetwork()
{
    State& s = *m_state;
    if (!s.m_bDiscoveryIdle || s.m_bAbort)
        return false;
    s.tree->DeleteAll();
    s.m_bDiscoveryIdle = 0;
    const NodeHandle root = s.tree->InsertItem(NoNode, InsertPos::Last, kRootText, NK_NETWORK);
    s.m_hRootNode = root;
    s.Status(QStringLiteral("Retriving network tree..."));
    // The domain list and the worker starts run on a thread of their own, so the window stays
    // responsive; that thread counts as a worker until the last domain worker has started.
    auto self = m_state;
    const bool bStarted = s.StartWorker(self, [self, root] {
        State& st = *self;
        st.EnumServers(true, QString(), root);
        const std::vector<NodeHandle> domains = st.tree->GetChildren(root);
        for (NodeHandle d : domains) {
            if (st.m_bAbort)
                break;
            const QString name = st.tree->GetItemText(d);
            const bool bOk =
                st.StartWorker(self, [self, name, d] { self->EnumServers(false, name, d); });
            if (bOk) {
                st.Status(QStringLiteral("Getting information about ") + name);
                std::this_thread::sleep_for(std::chrono::milliseconds(st.m_msDomainPause.load()));
            } else {
                st.NoThread(QLatin1String("list"), name);
            }
        }
    });
    if (!bStarted) {
        // No thread at all: the activity ends here, as with an empty domain list.
        ++s.m_nDiscoveryWorkers;
        s.EndDiscoveryWorker();
    }
    return true;
}

bool Discovery::AddDomain(const QString& name)
{
    State& s = *m_state;
    if (!s.m_bDiscoveryIdle || s.m_bAbort || name.isEmpty())
        return false;
    s.m_bDiscoveryIdle = 0;
    ++s.m_nDiscoveryWorkers; // this activity's own count while it starts
    const NodeHandle root = s.EnsureRoot();
    const NodeHandle node = s.tree->InsertItem(root, InsertPos::Last, name, NK_DOMAIN);
    s.Status(QStringLiteral("Retriving information about domain... Please wait."));
    auto self = m_state;
    if (!s.StartWorker(self, [self, name, node] { self->EnumServers(false, name, node); }))
        s.NoThread(QLatin1String("list"), name);
    s.EndDiscoveryWorker();
    return true;
}

bool Discovery::ScanIpRange(const QString& rangeName, quint32 first, quint32 last)
{
    State& s = *m_state;
    if (!s.m_bDiscoveryIdle || s.m_bAbort || !iprange::Accepted(first, last))
        return false;
    ++s.m_nDiscoveryWorkers;
    const NodeHandle root = s.EnsureRoot();
    const NodeHandle range = s.tree->InsertItem(root, InsertPos::Last, rangeName, NK_DOMAIN);
    s.m_bDiscoveryIdle = 0;
    auto self = m_state;
    for (quint32 a = first;; ++a) {
        const QString text = iprange::ToText(a);
        const bool bStarted = s.StartWorker(self, [self, text, range] {
            self->Status(QStringLiteral("Retriving information about %1 ...").arg(text));
            self->EnumShares(text, range, true);
        });
        if (!bStarted)
            s.NoThread(QLatin1String("scan"), text);
        if (a == last)
            break; // also ends a range that reaches 255.255.255.255
    }
    s.EndDiscoveryWorker();
    return true;
}

bool Discovery::ListServerShares(NodeHandle server)
{
    State& s = *m_state;
    if (!s.m_bDiscoveryIdle || s.m_bAbort || s.tree->GetItemKind(server) != NK_SERVER ||
        !s.tree->IsValid(server))
        return false;
    ++s.m_nDiscoveryWorkers;
    s.m_bDiscoveryIdle = 0;
    auto self = m_state;
    const QString text = s.tree->GetItemText(server);
    const bool bStarted = s.StartWorker(self, [self, text, server] {
        self->Status(QStringLiteral("Getting information about \\\\") + text);
        const Error error = self->EnumShares(text, server, false, true);
        if (error && !error.NeedsLogin() && !self->m_bAbort)
            self->Status(
                QStringLiteral("Cannot list the shares of \\\\%1: %2").arg(text, ErrorText(error)));
    });
    if (!bStarted)
        s.NoThread(QLatin1String("list the shares of"), text);
    s.EndDiscoveryWorker();
    return true;
}

bool Discovery::Shutdown(int msWait)
{
    State& s = *m_state;
    s.m_bAbort = true;
    {
        // Waits for a callback in progress; none starts afterwards.
        std::unique_lock lock(s.m_callbackLock);
        s.m_bDetached = true;
    }
    return s.m_threads.WaitAll(msWait);
}
