#pragma once

#include "LanBrowser.h"
#include "WsDiscovery.h"
#include "smb/LibraryTimeout.h"

#include <map>
#include <mutex>

// The network's services over SMB, asked through the SMB helper processes, together with
// WS-Discovery and mDNS (networks without SMB1 have no browse lists).
//
// Workgroups are the union of the browse service's and those of the computers that announce
// themselves (WS-Discovery and mDNS, asked at the same time as the browse service, each bounded
// by its own time); a workgroup's servers are the union of its browse list and those computers.
// mDNS names no workgroup: a host WS-Discovery also found takes its workgroup from there, else
// from a NetBIOS node status answer, else it goes to a workgroup named for the source ("mDNS").
// Announced addresses are remembered for their names (smb::RememberHostAddress), since no name
// service may know them. A source the machine does not have (no avahi-daemon) is skipped with
// one note in the result.
//
// Workgroup and server lists need SMB1 on their connection: they go to helpers started for
// SMB1 alone, each list bounded by msBrowse. Share lists go over SMB2/3 on port 445 to helpers
// with a short library timeout (msSmb); a numeric address is first probed with a bounded TCP
// connect by the pool, so a dead or silent host costs seconds, not minutes.
class SmbLanBrowser : public LanBrowser
{
public:
    struct Timeouts
    {
        int msBrowse = 20000;            // one domain or server list
        int msSmb = smb::kMsLibraryCall; // the library's own timeout per call, for share lists
        int msWsd = 3000;                // one WS-Discovery cycle; 0: not asked
        int msMdns = 3000;               // one mDNS browse; 0: not asked
    };
    SmbLanBrowser(); // timeouts as the settings say
    explicit SmbLanBrowser(Timeouts t) : m_timeouts(t) {}

    EnumResult EnumDomains(const std::atomic<bool>& abort) override;
    EnumResult EnumServers(const QString& domain, const std::atomic<bool>& abort) override;
    EnumResult EnumShares(const QString& server, quint32& nResume,
                          const std::atomic<bool>& abort) override;
    EnumResult EnumSharesAsked(const QString& server, const std::atomic<bool>& abort) override;

private:
    Timeouts m_timeouts;
    mutable std::mutex m_mutex;
    std::vector<wsd::Host> m_announced; // from the last EnumDomains
    QStringList m_browseDomains;        // what the browse service listed then
    bool m_bBrowseAsked = false;
};

// The workgroup or domain a host (a dotted address) names over the \\lsarpc pipe of its IPC$
// share, asked through an SMB helper with the login share lists use; empty when it does not say
// (within a few seconds).
QString LsaWorkgroup(const QString& address, const std::atomic<bool>& abort);

// The workgroup of announced hosts that mDNS found and WS-Discovery did not.
inline const char* kMdnsWorkgroup = "mDNS";
// Merges mDNS hosts into the WS-Discovery ones: a host both found (same name or address) keeps
// WS-Discovery's entry; the others get their workgroup from workgroups (address -> name), else
// kMdnsWorkgroup.
struct MdnsHostFields
{
    QString strName, strAddress;
};
std::vector<wsd::Host> MergeAnnounced(std::vector<wsd::Host> wsdHosts,
                                      const std::vector<MdnsHostFields>& mdnsHosts,
                                      const std::map<QString, QString>& workgroups);
