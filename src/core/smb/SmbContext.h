#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>

#include <functional>
#include <vector>

struct _SMBCCTX;

namespace smb {

// What a browse or share listing returns for one entry.
struct DirEntry
{
    enum Type : unsigned
    {
        Workgroup = 1,
        Server = 2,
        FileShare = 3,
        PrinterShare = 4,
        CommsShare = 5,
        IpcShare = 6,
        Dir = 7,
        File = 8,
        Link = 9
    };
    QString strName;
    unsigned type = 0;
    QString strComment;
};

// Result of a TCP probe.
enum class ProbeResult
{
    Open,
    Refused,
    TimedOut,
    Error
};

// Non-blocking connect to host:port, bounded by msTimeout. host must be a numeric address or
// a name the system resolver knows.
ProbeResult ProbeTcp(const QString& host, int nPort, int msTimeout);

// One libsmbclient context. Owned and used by one thread at a time; created and freed under
// the library lock. Every call is bounded by the context's timeout once connected; callers
// bound connection set-up themselves with ProbeTcp() first.
class SmbContext
{
public:
    enum class Protocol
    {
        Default,
        Nt1Only
    };
    // nPort 0 lets the library try 139 and 445; a port restricts it to that one.
    explicit SmbContext(int msTimeout = 5000, Protocol proto = Protocol::Default, int nPort = 0);
    ~SmbContext();
    SmbContext(const SmbContext&) = delete;
    SmbContext& operator=(const SmbContext&) = delete;

    bool IsValid() const { return m_pCtx != nullptr; }
    // Lists a directory-like URL (smb://, smb://WG, smb://HOST, smb://HOST/share/dir).
    // Returns 0 or an errno value.
    int ListDir(const QByteArray& url, std::vector<DirEntry>& out);
    _SMBCCTX* Handle() const { return m_pCtx; }

    // Runs fn, an operation on url. The library's connection set-up (logon) is not safe to run
    // on several threads at once, so the first operation of this context on a server and share
    // runs under a process-wide lock; later ones on the same connection run freely. fn returns
    // 0 or an errno value.
    int Guarded(const QByteArray& url, const std::function<int()>& fn);

private:
    _SMBCCTX* m_pCtx = nullptr;
    QSet<QByteArray> m_connected; // "server/share" this context has logged on to
};

} // namespace smb
