// The frame's network commands: Discover, Scan IP Range, Add domain, Load and Save tree.
#include "CMainFrame.h"

#include "app/Prompter.h"
#include "network/CNetworkDialogs.h"
#include "network/Discovery.h"
#include "network/IpRange.h"
#include "network/NetworkTreeModel.h"
#include "network/TreeFile.h"
#include "search/CSearchDlg.h"
#include "smb/Logins.h"
#include "smb/SmbUrl.h"

#include <QFile>
#include <QFileInfo>
#include <QTreeView>

#include <thread>

namespace {
const QString kTreeFilter = QStringLiteral("Network tree files(*.nft)");
}

void CMainFrame::StartBusyAnimation()
{
    m_searchDlg->StartAnimation();
}

void CMainFrame::OnDiscoverNetwork()
{
    // Reached from the menus (disabled while an activity runs) and from the Search Bar's button
    // (disabled likewise); a call that slips through still leaves the running activity alone.
    if (!IsDiscoveryIdle()) {
        PostStatus(tr("Discovery is still running."));
        return;
    }
    if (m_prompter.Message(tr("Start discovering current network structure. It can take several "
                              "minutes."),
                           tr("Brindle Cove"), Prompter::Warning,
                           Prompter::OkCancel) != Prompter::AnswerOk)
        return;
    StartBusyAnimation();
    m_discovery->DiscoverNetwork();
    m_hRootNode = m_discovery->RootNode();
    m_hStartNode = m_hRootNode;
    UpdateCommandUI();
}

void CMainFrame::OnScanIpRange()
{
    if (!IsDiscoveryIdle())
        return;
    CIpRangeDlg dlg(this);
    if (m_fnExecDialog(dlg) != QDialog::Accepted)
        return;
    if (!iprange::Accepted(dlg.m_dwFirstAddress, dlg.m_dwLastAddress)) {
        m_prompter.Message(tr("Sorry, IP range can't contain more than 300 IPs!"),
                           tr("Brindlecove"), Prompter::Critical, Prompter::Ok);
        return;
    }
    StartBusyAnimation();
    m_discovery->ScanIpRange(dlg.m_strRangeName, dlg.m_dwFirstAddress, dlg.m_dwLastAddress);
    m_hRootNode = m_discovery->RootNode();
    UpdateCommandUI();
}

void CMainFrame::OnAddDomain()
{
    if (!IsDiscoveryIdle())
        return;
    CAddDomainDlg dlg(this);
    if (m_fnExecDialog(dlg) != QDialog::Accepted || dlg.m_szDomain.isEmpty())
        return;
    StartBusyAnimation();
    m_discovery->AddDomain(dlg.m_szDomain);
    m_hRootNode = m_discovery->RootNode();
    UpdateCommandUI();
}

void CMainFrame::OnConnectAs(NodeHandle server)
{
    if (!IsDiscoveryIdle() || m_tree->GetItemKind(server) != NK_SERVER)
        return;
    const QString name = m_tree->GetItemText(server);
    // The login goes where the share list goes: the name, or the address only an
    // announcement gave it.
    const QString host = smb::ResolveHost(name);
    QString reason = tr("Log in to list the shares of \\\\%1.").arg(name);
    if (host.compare(name, Qt::CaseInsensitive) != 0)
        reason += tr(" The login goes to %1, the address announced on the network for \\\\%2.")
                      .arg(host, name);
    smb::Logins::Typed typed;
    if (!m_prompter.AskLogin(name, reason, QString(), &typed, [] { return false; }))
        return;
    smb::Logins::Instance()->UseTyped(host, typed);
    StartBusyAnimation();
    m_discovery->ListServerShares(server);
    UpdateCommandUI();
}

void CMainFrame::OnDiscoveryCompleted()
{
    // The last worker has ended and sorted the tree; the window's part happens here.
    DrainStatus();
    m_searchDlg->StopAnimation();
    ExpandAll();
    UpdateCommandUI();
    emit DiscoveryCompleted();
    m_prompter.Message(tr("Network tree has been updated!"), tr("Brindle cove"),
                       Prompter::Information, Prompter::Ok);
    m_searchDlg->Tree()->viewport()->update();
}

void CMainFrame::OnSaveNetworkTree()
{
    if (m_hRootNode == NoNode || !m_tree->IsValid(m_hRootNode)) {
        m_prompter.Message(
            tr("Nothing to save! Click 'Discover network structure' to obtain network tree!"),
            tr("Brindlecove"), Prompter::Critical, Prompter::Ok);
        return;
    }
    const QString path =
        m_prompter.GetSaveFileName(tr("Save As"), QString(), kTreeFilter, QStringLiteral("nft"));
    if (path.isEmpty())
        return;
    QString err;
    // Written whole or not at all: a failed write keeps the old file and says so.
    if (!treefile::Save(*m_tree, m_hRootNode, path, &err))
        m_prompter.Message(tr("Can't create file!"), tr("Brindlecove"), Prompter::Critical,
                           Prompter::Ok);
}

void CMainFrame::OnLoadNetworkTree()
{
    if (m_bLoadingTree)
        return;
    const QString path = m_prompter.GetOpenFileName(tr("Open"), kTreeFilter);
    if (path.isEmpty())
        return;
    // Read, checked and built into a tree of its own away from the window, so a large file
    // never freezes it and a bad one leaves the shown tree as it was.
    m_bLoadingTree = true;
    UpdateCommandUI();
    if (m_loadThread.joinable())
        m_loadThread.join();
    m_loadThread = std::thread([this, path] {
        auto loaded = std::make_shared<NetworkTree>();
        QString err;
        if (treefile::Load(*loaded, path, &err) == NoNode && err.isEmpty())
            err = tr("The file is no network tree file.");
        // The frame joins this thread before it goes; a call it has not run by then goes unrun.
        PostToGui([this, loaded, path, err] { OnTreeLoaded(loaded, path, err); });
    });
}

void CMainFrame::OnTreeLoaded(std::shared_ptr<NetworkTree> loaded, const QString& path,
                              const QString& strError)
{
    m_bLoadingTree = false;
    if (!strError.isEmpty()) {
        m_prompter.Message(tr("Can't load the network tree from %1: %2").arg(path, strError),
                           tr("Brindlecove"), Prompter::Critical, Prompter::Ok);
        UpdateCommandUI();
        emit TreeLoadFinished(false);
        return;
    }
    const NodeHandle root = m_tree->Adopt(*loaded);
    m_treeModel->Sync();
    m_hRootNode = root;
    m_hStartNode = root;
    m_discovery->SetRootNode(root);
    ExpandAll();
    UpdateCommandUI();
    emit TreeLoadFinished(true);
}
