#pragma once

#include "LanBrowser.h"
#include "WsDiscovery.h"

#include <mutex>

// The network's services over SMB, asked through the SMB helper processes, together with
// WS-Discovery (networks without SMB1 have no browse lists).
//
// Workgroups are the union of the browse service's and those of the computers WS-Discovery
// found (asked at the same time, bounded by msWsd); a workgroup's servers are the union of its
// browse list and those computers. Their addresses are remembered for their names
// (smb::RememberHostAddress), since no name service may know them.
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
        int msBrowse = 20000; // one domain or server list
        int msSmb = 10000;    // the SMB library's own timeout per call, for share lists
        int msWsd = 3000;     // one WS-Discovery cycle; 0: not asked
    };
    SmbLanBrowser(); // timeouts as the settings say
    explicit SmbLanBrowser(Timeouts t) : m_timeouts(t) {}

    EnumResult EnumDomains(const std::atomic<bool>& abort) override;
    EnumResult EnumServers(const QString& domain, const std::atomic<bool>& abort) override;
    EnumResult EnumShares(const QString& server, quint32& nResume,
                          const std::atomic<bool>& abort) override;

private:
    Timeouts m_timeouts;
    mutable std::mutex m_mutex;
    std::vector<wsd::Host> m_wsdHosts; // from the last EnumDomains
    QStringList m_browseDomains;       // what the browse service listed then
    bool m_bBrowseAsked = false;
};
