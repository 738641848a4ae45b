#include "SmbLanBrowser.h"

#include "HelperProcess.h"
#include "smb/SmbContext.h"
#include "smb/SmbUrl.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstdio>

namespace {

bool IsNumericAddress(const QString& host)
{
    const QByteArray h = host.toLatin1();
    unsigned char buf[16];
    return inet_pton(AF_INET, h.constData(), buf) == 1 ||
           inet_pton(AF_INET6, h.constData(), buf) == 1;
}

// errno values from libsmbclient as the enumeration's result codes.
int CodeFromErrno(int err)
{
    switch (err) {
    case 0:
        return ERROR_NO_BROWSER_SERVERS_FOUND;
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
        return 2100 + err; // a stable code that still tells the errno
    }
}

} // namespace

EnumResult SmbLanBrowser::RunBrowseHelper(const QStringList& args, const std::atomic<bool>& abort)
{
    EnumResult r;
    const HelperResult h =
        RunHelper(BrowseHelperPath(), QStringList{QStringLiteral("lanman")} + args,
                  m_timeouts.msBrowse, abort);
    if (h.bTimedOut) {
        r.nStatus = ERROR_TIMEOUT_CODE;
        return r;
    }
    const QList<QByteArray> lines = h.output.split('\n');
    if (h.nExitCode < 0 || lines.isEmpty()) {
        r.nStatus = ERROR_BAD_NETPATH;
        return r;
    }
    const QByteArray head = lines.front().trimmed();
    if (head.startsWith("ERR")) {
        bool ok = false;
        r.nStatus = head.mid(3).trimmed().toInt(&ok);
        if (!ok || r.nStatus == 0)
            r.nStatus = ERROR_BAD_NETPATH;
        return r;
    }
    if (head != "OK") {
        r.nStatus = ERROR_BAD_NETPATH;
        return r;
    }
    for (qsizetype i = 1; i < lines.size(); ++i)
        if (!lines[i].isEmpty())
            r.names << QString::fromUtf8(lines[i]);
    r.nTotalEntries = static_cast<quint32>(r.names.size());
    return r;
}

EnumResult SmbLanBrowser::EnumDomains(const std::atomic<bool>& abort)
{
    return RunBrowseHelper({QStringLiteral("domains")}, abort);
}

EnumResult SmbLanBrowser::EnumServers(const QString& domain, const std::atomic<bool>& abort)
{
    return RunBrowseHelper({QStringLiteral("servers"), domain}, abort);
}

EnumResult SmbLanBrowser::EnumShares(const QString& server, quint32& nResume,
                                     const std::atomic<bool>& abort)
{
    EnumResult r;
    nResume = 0; // everything comes in one answer
    if (abort) {
        r.nStatus = ERROR_BAD_NETPATH;
        return r;
    }
    // A numeric address is probed first: a dead address then costs the probe's deadline.
    if (IsNumericAddress(server)) {
        const smb::ProbeResult p = smb::ProbeTcp(server, 445, m_timeouts.msProbe);
        if (p != smb::ProbeResult::Open) {
            r.nStatus = p == smb::ProbeResult::TimedOut ? ERROR_TIMEOUT_CODE : ERROR_BAD_NETPATH;
            return r;
        }
    }
    smb::SmbContext ctx(m_timeouts.msSmb, smb::SmbContext::Protocol::Default, 445);
    if (!ctx.IsValid()) {
        r.nStatus = ERROR_BAD_NETPATH;
        return r;
    }
    std::vector<smb::DirEntry> entries;
    const int err = ctx.ListDir(smb::ServerUrl(server), entries);
    if (err != 0) {
        r.nStatus = CodeFromErrno(err);
        if (qEnvironmentVariableIsSet("BC_DEBUG"))
            std::fprintf(stderr, "share list of %s failed: errno %d\n", qPrintable(server), err);
        return r;
    }
    for (const smb::DirEntry& e : entries) {
        if (e.type == smb::DirEntry::FileShare || e.type == smb::DirEntry::PrinterShare ||
            e.type == smb::DirEntry::CommsShare || e.type == smb::DirEntry::IpcShare)
            r.names << e.strName;
    }
    r.nTotalEntries = static_cast<quint32>(r.names.size());
    return r;
}

int SmbLanBrowser::ServeBrowseHelper(const QStringList& args)
{
    QByteArray url;
    unsigned wanted = 0;
    if (args.size() == 1 && args[0] == QLatin1String("domains")) {
        url = QByteArrayLiteral("smb://");
        wanted = smb::DirEntry::Workgroup;
    } else if (args.size() == 2 && args[0] == QLatin1String("servers")) {
        url = smb::ServerUrl(args[1]);
        wanted = smb::DirEntry::Server;
    } else {
        std::fputs("ERR 87\n", stdout);
        return 2;
    }
    // Browse lists travel over SMB1 only; this process does nothing else.
    smb::SmbContext ctx(5000, smb::SmbContext::Protocol::Nt1Only);
    std::vector<smb::DirEntry> entries;
    const int err = ctx.IsValid() ? ctx.ListDir(url, entries) : EINVAL;
    if (err != 0) {
        std::printf("ERR %d\n", CodeFromErrno(err));
        return 1;
    }
    // A workgroup that lists nothing at all failed as far as the caller is concerned.
    QByteArray out = "OK\n";
    int nFound = 0;
    for (const smb::DirEntry& e : entries) {
        if (e.type != wanted)
            continue;
        out += e.strName.toUtf8() + '\n';
        ++nFound;
    }
    if (nFound == 0 && wanted == smb::DirEntry::Server) {
        std::printf("ERR %d\n", ERROR_NO_BROWSER_SERVERS_FOUND);
        return 1;
    }
    std::fwrite(out.constData(), 1, static_cast<size_t>(out.size()), stdout);
    return 0;
}
