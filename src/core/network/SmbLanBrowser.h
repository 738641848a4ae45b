#pragma once

#include "LanBrowser.h"

// The network's services over SMB, asked through the SMB helper processes.
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
    };
    SmbLanBrowser() = default;
    explicit SmbLanBrowser(Timeouts t) : m_timeouts(t) {}

    EnumResult EnumDomains(const std::atomic<bool>& abort) override;
    EnumResult EnumServers(const QString& domain, const std::atomic<bool>& abort) override;
    EnumResult EnumShares(const QString& server, quint32& nResume,
                          const std::atomic<bool>& abort) override;

private:
    Timeouts m_timeouts;
};
