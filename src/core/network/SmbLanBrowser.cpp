#include "SmbLanBrowser.h"

#include "app/Settings.h"
#include "smb/HelperPool.h"
#include "smb/SmbUrl.h"

#include <cerrno>
#include <cstdio>
#include <thread>

using smbproto::Message;
using smbproto::Op;

namespace {

// Errors of the helpers as the enumeration's result codes.
int CodeFromError(int err)
{
    switch (err) {
    case 0:
        return ERROR_NO_BROWSER_SERVERS_FOUND;
    case EACCES:
    case EPERM:
        return ERROR_ACCESS_DENIED;
    case smbproto::kErrLoginFailed:
        return ERROR_LOGON_FAILURE;
    case ETIMEDOUT:
    case smbproto::kErrHelperTimeout:
        return ERROR_TIMEOUT_CODE;
    case ENOENT:
    case ECONNREFUSED:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case smbproto::kErrCancelled:
        return ERROR_BAD_NETPATH;
    default:
        return 2100 + err; // a stable code that still tells the error
    }
}

// Lists url in a helper of profile, keeping the entries of the wanted browse types.
EnumResult List(const QString& host, const smb::HelperProfile& profile, const QByteArray& url,
                std::initializer_list<std::uint32_t> wanted, int msDeadline,
                const std::atomic<bool>& abort, bool bGreet = false)
{
    EnumResult r;
    const smb::CancelFn cancel = [&abort] { return abort.load(); };
    smb::HelperPool::Lease lease =
        smb::HelperPool::Instance()->Acquire(host, profile, cancel, bGreet);
    int err = lease.Valid() ? 0 : lease.Error();
    if (lease.Valid()) {
        Message req;
        req.op = Op::ListNames;
        req.s1 = url;
        err = lease.Call(
            req,
            [&](Message& m) {
                if (m.op != Op::Names)
                    return;
                for (const smbproto::Entry& e : m.entries)
                    if (std::find(wanted.begin(), wanted.end(), e.nAttributes) != wanted.end())
                        r.names << QString::fromUtf8(e.name);
            },
            nullptr, cancel, msDeadline);
    }
    if (err != 0) {
        r.names.clear();
        r.nStatus = CodeFromError(err);
        if (qEnvironmentVariableIsSet("BC_DEBUG"))
            std::fprintf(stderr, "listing %s failed: %s\n", url.constData(),
                         qPrintable(smb::ErrorText(err)));
    }
    r.nTotalEntries = static_cast<quint32>(r.names.size());
    return r;
}

smb::HelperProfile BrowseProfile()
{
    smb::HelperProfile p;
    p.bNt1Only = true;
    p.msSmbTimeout = 5000;
    p.nPort = 0; // browse lists come over NetBIOS (139) as well
    return p;
}

} // namespace

QString EnumStatusText(int nStatus)
{
    switch (nStatus) {
    case ERROR_ACCESS_DENIED:
        return QStringLiteral("access denied");
    case ERROR_LOGON_FAILURE:
        return QStringLiteral("login failed: unknown user name or bad password");
    case ERROR_BAD_NETPATH:
        return QStringLiteral("the network path was not found");
    case ERROR_TIMEOUT_CODE:
        return QStringLiteral("no answer in time");
    case ERROR_NO_BROWSER_SERVERS_FOUND:
        return QStringLiteral("no browse server found");
    default:
        return QStringLiteral("error %1").arg(nStatus);
    }
}

SmbLanBrowser::SmbLanBrowser()
{
    m_timeouts.msWsd = settings::WsDiscoveryMs();
}

EnumResult SmbLanBrowser::EnumDomains(const std::atomic<bool>& abort)
{
    // Both sources at once: the browse list may take its whole deadline on a network without it.
    wsd::Result found;
    std::thread wsdThread;
    if (m_timeouts.msWsd > 0)
        wsdThread = std::thread([&] { found = wsd::Discover(m_timeouts.msWsd, abort); });
    EnumResult r = List(QString(), BrowseProfile(), QByteArrayLiteral("smb://"),
                        {smbproto::kWorkgroup}, m_timeouts.msBrowse, abort);
    if (wsdThread.joinable())
        wsdThread.join();
    for (const wsd::Host& h : found.hosts)
        smb::RememberHostAddress(h.strName, h.strAddress);
    {
        std::lock_guard lock(m_mutex);
        m_wsdHosts = found.hosts;
        m_browseDomains = r.Usable() ? r.names : QStringList();
        m_bBrowseAsked = true;
    }
    if (found.hosts.empty())
        return r;
    if (!r.Usable()) {
        r.nStatus = NERR_Success;
        r.names.clear();
    }
    for (const wsd::Host& h : found.hosts)
        if (!r.names.contains(h.strWorkgroup, Qt::CaseInsensitive))
            r.names << h.strWorkgroup;
    r.nTotalEntries = static_cast<quint32>(r.names.size());
    return r;
}

EnumResult SmbLanBrowser::EnumServers(const QString& domain, const std::atomic<bool>& abort)
{
    QStringList wsdServers;
    bool bAskBrowse = true;
    {
        std::lock_guard lock(m_mutex);
        for (const wsd::Host& h : m_wsdHosts)
            if (h.strWorkgroup.compare(domain, Qt::CaseInsensitive) == 0 &&
                !wsdServers.contains(h.strName, Qt::CaseInsensitive))
                wsdServers << h.strName;
        // A workgroup only WS-Discovery knows has no browse list to wait for.
        bAskBrowse = !m_bBrowseAsked || m_browseDomains.contains(domain, Qt::CaseInsensitive);
    }
    EnumResult r;
    if (bAskBrowse)
        r = List(QString(), BrowseProfile(), smb::ServerUrl(domain), {smbproto::kServer},
                 m_timeouts.msBrowse, abort);
    if (!wsdServers.isEmpty()) {
        if (!bAskBrowse || !r.Usable()) {
            r.nStatus = NERR_Success;
            r.names.clear();
        }
        for (const QString& name : wsdServers)
            if (!r.names.contains(name, Qt::CaseInsensitive))
                r.names << name;
        r.nTotalEntries = static_cast<quint32>(r.names.size());
    }
    // A workgroup that lists nothing at all failed as far as the caller is concerned.
    if (r.Usable() && r.names.isEmpty())
        r.nStatus = ERROR_NO_BROWSER_SERVERS_FOUND;
    return r;
}

EnumResult SmbLanBrowser::EnumShares(const QString& server, quint32& nResume,
                                     const std::atomic<bool>& abort)
{
    nResume = 0; // everything comes in one answer
    smb::HelperProfile profile;
    profile.msSmbTimeout = m_timeouts.msSmb;
    // A little over the library's own timeout: the helper answers first when it can.
    return List(
        smb::ResolveHost(server).toLower(), profile, smb::HostUrl(server),
        {smbproto::kFileShare, smbproto::kPrinterShare, smbproto::kCommsShare, smbproto::kIpcShare},
        m_timeouts.msSmb + 2000, abort, true);
}
