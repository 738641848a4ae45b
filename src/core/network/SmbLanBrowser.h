#pragma once

#include "LanBrowser.h"

// The network's services over SMB.
//
// Workgroup and server lists need SMB1 on their connection, and libsmbclient's protocol setting
// is process-wide; so they are fetched by a helper process (brindlecove-cli lanman ...) that is
// killed when its deadline passes. Share lists use SMB2/3 in this process: a numeric address is
// first probed with a bounded TCP connect to port 445, and libsmbclient is told to use that port
// alone, so a dead or silent host costs seconds, not minutes.
class SmbLanBrowser : public LanBrowser
{
public:
    struct Timeouts
    {
        int msBrowse = 20000; // one helper run: domain or server list
        int msProbe = 1500;   // TCP connect to port 445
        int msSmb = 3000;     // libsmbclient's own timeout per call
    };
    SmbLanBrowser() = default;
    explicit SmbLanBrowser(Timeouts t) : m_timeouts(t) {}

    EnumResult EnumDomains(const std::atomic<bool>& abort) override;
    EnumResult EnumServers(const QString& domain, const std::atomic<bool>& abort) override;
    EnumResult EnumShares(const QString& server, quint32& nResume,
                          const std::atomic<bool>& abort) override;

    // The helper's side: runs in brindlecove-cli ("lanman domains" / "lanman servers NAME").
    // Prints "OK" and one name per line, or "ERR <code>". Returns the process exit code.
    static int ServeBrowseHelper(const QStringList& args);

private:
    EnumResult RunBrowseHelper(const QStringList& args, const std::atomic<bool>& abort);
    Timeouts m_timeouts;
};
