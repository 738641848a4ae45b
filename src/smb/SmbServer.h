#pragma once

#include "smb/HelperProtocol.h"

#include <QByteArray>

#include <cerrno>
#include <deque>
#include <map>
#include <set>
#include <vector>

struct _SMBCCTX;
struct _SMBCFILE;

// The library's errno after a failed call, or fallback when it left none.
inline int ErrnoOr(int fallback)
{
    return errno ? errno : fallback;
}

using smbproto::TargetOf;

inline bool IsShareRoot(const smbproto::Target& at)
{
    return !at.share.isEmpty() && at.path.isEmpty();
}

// The server or share refused (the login's business, or the user's rights).
inline bool IsRefusal(int err)
{
    return err == EACCES || err == EPERM;
}

// The helper's side of the protocol: one libsmbclient context, used from this process's only
// thread, answering requests in the order they come on a socket.
//
// The parent decides every deadline: it ends this process when a request takes too long or it
// no longer wants the answer. Long requests (a content test of a large file) send Progress
// frames so the parent can tell slow from stuck. Each request's Done leaves at once, so a
// request queued behind it never costs its deadline.
class SmbServer
{
public:
    struct Options
    {
        int fd = 3;
        bool bNt1Only = false;     // browse lists travel over SMB1 only
        int msTimeout = 15000;     // libsmbclient's own timeout per call
        int nPort = 0;             // 0: the library's choice of 139 and 445
        int nMaxConnections = 1;   // connections kept open besides one with an open file
        int nMaxEntries = 1000000; // entries of one folder listing at most
    };
    explicit SmbServer(const Options& options);
    ~SmbServer();
    SmbServer(const SmbServer&) = delete;
    SmbServer& operator=(const SmbServer&) = delete;

    // Serves requests until the parent closes its end; the process's exit code.
    int Run();

    // Called by the library when it connects to a server: the login the parent chose for it
    // (asked once per server, and again only after a refusal).
    void AskCredentials(const char* server, const char* share, char* wg, int wglen, char* user,
                        int userlen, char* pass, int passlen);

private:
    // How a request ended: its Done.
    struct Outcome
    {
        Outcome(int err = 0, std::uint64_t result = 0, QByteArray bytes = {})
            : nError(err), nResult(result), data(std::move(bytes))
        {}
        int nError;
        std::uint64_t nResult;
        QByteArray data;
    };
    struct Login
    {
        QByteArray workgroup, user, password;
        std::uint64_t nGen = 0;
        bool bKerberos = false;
    };
    // Asks the parent and waits for its answer; false when the parent is gone.
    bool AskParent(const smbproto::AuthAsk& ask, smbproto::AuthAnswer* pAnswer);
    static Login LoginFrom(const smbproto::AuthAnswer& answer);
    void UseLogin(const Login& login);
    // Runs one request; when the server refuses its login, asks the parent for another and
    // runs it again (at most a few times). kErrLoginFailed when the login itself failed and
    // nothing else is left to try.
    Outcome RunWithLogin(const smbproto::ToHelper& req);
    // After a refusal of a request on at: the login step. A folder the user may not open
    // inside a share that opens is no refusal of the login (*pbRetry false, the error as is);
    // else the parent is told, and *pbRetry says whether it gave another login to try.
    Outcome Refused(const smbproto::Target& at, int err, bool* pbRetry);
    bool CanOpenFolder(const QByteArray& url);

    // The next message: one put aside first, unless bPendingFirst is false.
    bool Receive(smbproto::ToHelper* pOut, bool bPendingFirst = true);
    bool Send(const smbproto::FromHelper& m);
    bool Flush();
    Outcome Handle(const smbproto::ToHelper& req);

    // Adds e to a listing's chunk; a full chunk is sent. False when the parent is gone.
    template <class Chunk, class Item> bool AddEntry(Chunk& chunk, std::vector<Item>& items, Item e)
    {
        items.push_back(std::move(e));
        if (items.size() < smbproto::kEntriesPerFrame)
            return true;
        const bool bSent = Send(chunk);
        items.clear();
        return bSent;
    }
    Outcome ListNames(const QByteArray& url);
    Outcome ListFolder(const QByteArray& url);
    // Until the parent ends this process (or the watch fails): Changes and Progress frames.
    Outcome WatchFolder(const QByteArray& url);
    Outcome Contains(const smbproto::Contains& req);
    Outcome OpenFile(const QByteArray& url);
    Outcome ReadFile(std::uint64_t n);
    int CloseFile(); // 0 or an errno value
    Outcome Remove(const smbproto::Remove& req);
    Outcome StatPath(const QByteArray& url);
    Outcome QueryDomain(const smbproto::Target& host);
    Outcome BrowseMdns(const smbproto::BrowseMdns& req);
    // After a share root failed to open: is it a printer, IPC or device share?
    bool IsNonFileShare(const smbproto::Target& root);
    void TestFault(const QByteArray& url);

    Options m_options;
    _SMBCCTX* m_pCtx = nullptr;
    _SMBCFILE* m_pFile = nullptr;
    smbproto::FrameReader m_reader;
    QByteArray m_out;                         // frames not yet written
    std::deque<smbproto::ToHelper> m_pending; // requests read while waiting for an answer
    std::vector<unsigned char> m_buffer;
    QByteArray m_testFault;
    bool m_bBroken = false;    // the stream to the parent is gone or corrupt
    bool m_bConnected = false; // may hold connections to servers (a request ran since a purge)
    bool m_bServing = false;   // inside a request: the library is never entered from its own
                               // callbacks

    std::map<QByteArray, Login> m_logins; // by server name, lower case
    // Drops (and overwrites) every login but the one of server key.
    void ForgetLoginsBut(const QByteArray& key);
    std::set<QByteArray> m_openShares; // "server/share" (lower case) opened with its login
    int m_nDataFrames = 0;             // data frames of the running request
};
