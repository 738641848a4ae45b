#include "SmbLanBrowser.h"

#include "MdnsBrowser.h"
#include "NetbiosStatus.h"
#include "app/Settings.h"
#include "smb/HelperPool.h"
#include "smb/SmbUrl.h"
#include "smb/TcpProbe.h"

#include <cerrno>
#include <cstdio>
#include <functional>
#include <system_error>
#include <thread>

namespace {

// Lists what is at (workgroups, a workgroup's servers, a server's shares) in a helper of
// profile, keeping the entries of the wanted browse types.
EnumResult List(const QString& host, const smb::HelperProfile& profile, const smbproto::Target& at,
                std::initializer_list<std::uint32_t> wanted, int msDeadline,
                const std::atomic<bool>& abort, bool bGreet = false, bool bMayAsk = false)
{
    EnumResult r;
    const CancelToken cancel([&abort] { return abort.load(); });
    smb::HelperPool::Lease lease =
        smb::HelperPool::Instance()->Acquire(host, profile, cancel, bGreet);
    if (bMayAsk)
        lease.LetShareListAsk();
    int err = lease.Valid() ? 0 : lease.Error();
    if (lease.Valid()) {
        err = lease
                  .Call(
                      smbproto::ListNames{at},
                      [&](smbproto::FromHelper& m) {
                          if (const auto* names = std::get_if<smbproto::Names>(&m))
                              for (const smbproto::NameEntry& e : names->names)
                                  if (std::find(wanted.begin(), wanted.end(), e.nType) !=
                                      wanted.end())
                                      r.names << QString::fromUtf8(e.name);
                      },
                      cancel, msDeadline)
                  .nError;
    }
    if (err != 0) {
        r = EnumResult::Failed(Error::FromCode(err));
        if (qEnvironmentVariableIsSet("BC_DEBUG"))
            std::fprintf(stderr, "listing %s failed: %s\n", smbproto::UrlOf(at).constData(),
                         qPrintable(ErrorText(err)));
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

// Hosts that announce themselves by mDNS are asked for their workgroup this long: by NetBIOS
// node status, then over SMB (\\lsarpc on IPC$), several hosts at once.
constexpr int kMsNodeStatus = 800;
constexpr int kMsLsa = 3000;
constexpr int kLsaThreads = 8;

} // namespace

QString LsaWorkgroup(const QString& address, const std::atomic<bool>& abort)
{
    const CancelToken cancel([&abort] { return abort.load(); });
    smb::HelperProfile profile;
    profile.msSmbTimeout = kMsLsa;
    smb::HelperPool::Lease lease =
        smb::HelperPool::Instance()->Acquire(address.toLower(), profile, cancel, true);
    if (!lease.Valid())
        return {};
    const smb::Reply reply =
        lease.Call(smbproto::QueryDomain{{address.toUtf8(), {}, {}}}, {}, cancel, kMsLsa + 1000);
    if (reply.nError != 0 && qEnvironmentVariableIsSet("BC_DEBUG"))
        std::fprintf(stderr, "workgroup of %s: %s\n", qPrintable(address),
                     qPrintable(ErrorText(reply.nError)));
    return reply.nError == 0 ? QString::fromUtf8(reply.data).trimmed() : QString();
}

namespace {

// Whether hosts has the host of that name or address already.
bool Knows(const std::vector<wsd::Host>& hosts, const QString& name, const QString& address)
{
    return std::any_of(hosts.begin(), hosts.end(), [&](const wsd::Host& h) {
        return h.strName.compare(name, Qt::CaseInsensitive) == 0 ||
               (!address.isEmpty() && h.strAddress == address);
    });
}

// Runs fn on a thread of its own; here, before returning, when no thread can be had. The caller
// joins the thread if it is joinable.
std::thread Beside(const std::function<void()>& fn)
{
    try {
        return std::thread(fn);
    } catch (const std::system_error&) {
        fn();
        return {};
    }
}

// Workgroups of addresses (address -> name) as their LSA answers give them.
void QueryDomains(const QStringList& open, std::map<QString, QString>& workgroups,
                  const std::atomic<bool>& abort)
{
    std::vector<QString> names(static_cast<std::size_t>(open.size()));
    std::atomic<int> nNext{0};
    const std::function<void()> work = [&] {
        for (int i = nNext++; i < open.size() && !abort; i = nNext++)
            names[static_cast<std::size_t>(i)] = LsaWorkgroup(open[i], abort);
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < std::min<int>(kLsaThreads, static_cast<int>(open.size())); ++t)
        threads.push_back(Beside(work));
    for (std::thread& t : threads)
        if (t.joinable())
            t.join();
    for (int i = 0; i < open.size(); ++i)
        if (!names[static_cast<std::size_t>(i)].isEmpty())
            workgroups[open[i]] = names[static_cast<std::size_t>(i)].toUpper();
}

} // namespace

int EnumStatusOf(const Error& error)
{
    switch (error.kind) {
    case ErrorKind::None:
        return NERR_Success;
    case ErrorKind::NoBrowseServer:
        return ERROR_NO_BROWSER_SERVERS_FOUND;
    case ErrorKind::LoginFailed:
        return ERROR_LOGON_FAILURE;
    case ErrorKind::HelperTimeout:
        return ERROR_TIMEOUT_CODE;
    case ErrorKind::UnknownHost:
    case ErrorKind::Cancelled:
        return ERROR_BAD_NETPATH;
    case ErrorKind::System:
        switch (error.nErrno) {
        case EACCES:
        case EPERM:
            return ERROR_ACCESS_DENIED;
        case ETIMEDOUT:
            return ERROR_TIMEOUT_CODE;
        case ENOENT:
        case ECONNREFUSED:
        case EHOSTUNREACH:
        case ENETUNREACH:
            return ERROR_BAD_NETPATH;
        default:
            return ERROR_UNEXP_NET_ERR;
        }
    default:
        return ERROR_UNEXP_NET_ERR;
    }
}

SmbLanBrowser::SmbLanBrowser()
{
    m_timeouts.msWsd = settings::WsDiscoveryMs();
    m_timeouts.msMdns = settings::MdnsMs();
}

std::vector<wsd::Host> MergeAnnounced(std::vector<wsd::Host> hosts,
                                      const std::vector<MdnsHostFields>& mdnsHosts,
                                      const std::map<QString, QString>& workgroups)
{
    for (const MdnsHostFields& m : mdnsHosts) {
        if (Knows(hosts, m.strName, m.strAddress))
            continue;
        wsd::Host h;
        h.strName = m.strName.toUpper();
        h.strAddress = m.strAddress;
        const auto wg = workgroups.find(m.strAddress);
        h.strWorkgroup = wg != workgroups.end() ? wg->second : QString::fromLatin1(kMdnsWorkgroup);
        hosts.push_back(h);
    }
    return hosts;
}

EnumResult SmbLanBrowser::EnumDomains(const std::atomic<bool>& abort)
{
    // Both sources at once: the browse list may take its whole deadline on a network without it.
    wsd::Result found;
    mdns::Result mdnsFound;
    std::map<QString, QString> mdnsWorkgroups; // address -> workgroup
    std::thread wsdThread, mdnsThread;
    const CancelToken cancel([&abort] { return abort.load(); });
    if (m_timeouts.msWsd > 0)
        wsdThread = Beside([&] { found = wsd::Discover(m_timeouts.msWsd, cancel); });
    if (m_timeouts.msMdns > 0)
        mdnsThread = Beside([&] { mdnsFound = mdns::Browse(m_timeouts.msMdns, abort); });
    EnumResult r = List(QString(), BrowseProfile(), smbproto::Target{}, {smbproto::kWorkgroup},
                        m_timeouts.msBrowse, abort);
    if (wsdThread.joinable())
        wsdThread.join();
    if (mdnsThread.joinable())
        mdnsThread.join();
    if (!mdnsFound.strNote.isEmpty())
        r.notes << mdnsFound.strNote;
    // mDNS names no workgroup: the hosts WS-Discovery did not also find are asked for theirs.
    std::vector<MdnsHostFields> mdnsHosts;
    QStringList addresses;
    for (const mdns::Host& h : mdnsFound.hosts) {
        mdnsHosts.push_back({h.strName, h.strAddress});
        if (!Knows(found.hosts, h.strName, h.strAddress))
            addresses << h.strAddress;
    }
    if (!addresses.isEmpty() && !abort) {
        // Both questions at once; node status, where a host answers it, has the last word.
        std::thread nodeStatus =
            Beside([&] { mdnsWorkgroups = nbstat::Workgroups(addresses, kMsNodeStatus, cancel); });
        std::map<QString, QString> lsaWorkgroups;
        QueryDomains(addresses, lsaWorkgroups, abort);
        if (nodeStatus.joinable())
            nodeStatus.join();
        mdnsWorkgroups.merge(lsaWorkgroups);
    }
    const std::vector<wsd::Host> announced =
        MergeAnnounced(std::move(found.hosts), mdnsHosts, mdnsWorkgroups);
    // An announcement is anybody's word: it fills in only names nothing else resolves, and a
    // second address for a name is named in the log, not taken.
    std::vector<smb::NameAddress> pairs;
    for (const wsd::Host& h : announced)
        pairs.emplace_back(h.strName, h.strAddress);
    const std::vector<smb::Remembered> taken = smb::RememberHostAddresses(pairs);
    for (std::size_t i = 0; i < announced.size(); ++i) {
        const wsd::Host& h = announced[i];
        switch (taken[i]) {
        case smb::Remembered::KnownName:
            r.notes << QStringLiteral("%1 was announced at %2; the name resolves on this network, "
                                      "which it goes by")
                           .arg(h.strName, h.strAddress);
            break;
        case smb::Remembered::OtherAddress:
            r.notes << QStringLiteral("%1 was announced at %2; it stays at %3, where it was found "
                                      "first")
                           .arg(h.strName, h.strAddress, smb::RememberedAddress(h.strName));
            break;
        default:
            break;
        }
    }
    {
        std::lock_guard lock(m_mutex);
        m_announced = announced;
        m_browseDomains = r.Usable() ? r.names : QStringList();
        m_bBrowseAsked = true;
    }
    if (announced.empty())
        return r;
    if (!r.Usable()) {
        r.nStatus = NERR_Success;
        r.error = {};
        r.names.clear();
    }
    for (const wsd::Host& h : announced)
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
        for (const wsd::Host& h : m_announced)
            if (h.strWorkgroup.compare(domain, Qt::CaseInsensitive) == 0 &&
                !wsdServers.contains(h.strName, Qt::CaseInsensitive))
                wsdServers << h.strName;
        // A workgroup only WS-Discovery knows has no browse list to wait for.
        bAskBrowse = !m_bBrowseAsked || m_browseDomains.contains(domain, Qt::CaseInsensitive);
    }
    EnumResult r;
    if (bAskBrowse)
        r = List(QString(), BrowseProfile(), {domain.toUtf8(), {}, {}}, {smbproto::kServer},
                 m_timeouts.msBrowse, abort);
    if (!wsdServers.isEmpty()) {
        if (!bAskBrowse || !r.Usable()) {
            r.nStatus = NERR_Success;
            r.error = {};
            r.names.clear();
        }
        for (const QString& name : wsdServers)
            if (!r.names.contains(name, Qt::CaseInsensitive))
                r.names << name;
        r.nTotalEntries = static_cast<quint32>(r.names.size());
    }
    // A workgroup that lists nothing at all failed as far as the caller is concerned.
    if (r.Usable() && r.names.isEmpty()) {
        r.error = ErrorKind::NoBrowseServer;
        r.nStatus = EnumStatusOf(r.error);
    }
    return r;
}

namespace {

EnumResult ListShares(const QString& server, int msSmb, const std::atomic<bool>& abort,
                      bool bMayAsk)
{
    smb::HelperProfile profile;
    profile.msSmbTimeout = msSmb;
    // A little over the library's own timeout: the helper answers first when it can.
    const smb::SmbPath path = smb::SmbPath::OfServer(server);
    return List(
        path.Key(), profile, path.Target(),
        {smbproto::kFileShare, smbproto::kPrinterShare, smbproto::kCommsShare, smbproto::kIpcShare},
        msSmb + 2000, abort, true, bMayAsk);
}

} // namespace

EnumResult SmbLanBrowser::EnumShares(const QString& server, quint32& nResume,
                                     const std::atomic<bool>& abort)
{
    nResume = 0; // everything comes in one answer
    return ListShares(server, m_timeouts.msSmb, abort, false);
}

EnumResult SmbLanBrowser::EnumSharesAsked(const QString& server, const std::atomic<bool>& abort)
{
    EnumResult r = ListShares(server, m_timeouts.msSmb, abort, true);
    // A name the person gave that no name service knows may still announce itself (a network
    // without NetBIOS); a discovery does not wait for that per server, the person's own
    // request does.
    if (r.nStatus == ERROR_BAD_NETPATH && !abort && !smb::IsNumericAddress(server) &&
        smb::ResolveHost(server) == server &&
        wsd::Learn(server, CancelToken([&abort] { return abort.load(); })))
        r = ListShares(server, m_timeouts.msSmb, abort, true);
    return r;
}
