#pragma once

#include "app/Error.h"

#include <QString>
#include <QStringList>

#include <atomic>

// Result codes of an enumeration, as its callers know them.
enum : int
{
    NERR_Success = 0,
    ERROR_ACCESS_DENIED = 5,
    ERROR_BAD_NETPATH = 53,
    ERROR_UNEXP_NET_ERR = 59,
    ERROR_MORE_DATA = 234,
    ERROR_NO_BROWSER_SERVERS_FOUND = 6118,
    ERROR_TIMEOUT_CODE = 1460,
    ERROR_LOGON_FAILURE = 1326,
};

// The result code of a failed enumeration (the one mapping from the engine's errors).
int EnumStatusOf(const Error& error);

struct EnumResult
{
    int nStatus = NERR_Success; // NERR_Success, ERROR_MORE_DATA, or a failure code
    QStringList names;          // in the order the network returned them
    quint32 nTotalEntries = 0;  // with ERROR_MORE_DATA: how many there are in all
    QStringList notes;          // texts for the log (a source that was skipped, ...)
    Error error;                // why it failed (nStatus is EnumStatusOf it)
    bool Usable() const { return nStatus == NERR_Success || nStatus == ERROR_MORE_DATA; }
    static EnumResult Failed(const Error& why)
    {
        EnumResult r;
        r.nStatus = EnumStatusOf(why);
        r.error = why;
        return r;
    }
};

// The network's browse and share-listing services: the workgroups and domains, the servers of
// one of them, the shares of one server. Implementations are called from worker threads, several
// at once, and must bound every call in time. abort, when set, asks a running call to give up
// early (it then returns a failure).
class LanBrowser
{
public:
    virtual ~LanBrowser() = default;
    // Workgroups and domains visible from this machine.
    virtual EnumResult EnumDomains(const std::atomic<bool>& abort) = 0;
    // Servers of one workgroup or domain.
    virtual EnumResult EnumServers(const QString& domain, const std::atomic<bool>& abort) = 0;
    // Shares of one server (a NetBIOS or DNS name, or a dotted address), all of them: disk,
    // printer, IPC and hidden ones. nResume starts at 0; with ERROR_MORE_DATA call again with the
    // same variable.
    virtual EnumResult EnumShares(const QString& server, quint32& nResume,
                                  const std::atomic<bool>& abort) = 0;
    // The same, on the person's own request: a refused login may be asked about (where there
    // is anybody to ask). By default the plain list.
    virtual EnumResult EnumSharesAsked(const QString& server, const std::atomic<bool>& abort)
    {
        quint32 nResume = 0;
        return EnumShares(server, nResume, abort);
    }
};
