#pragma once

#include "smb/HelperProtocol.h"

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

// The helper's side of the protocol: one libsmbclient context, used from this process's only
// thread, answering one request at a time on a socket.
//
// The parent decides every deadline: it ends this process when a request takes too long or it
// no longer wants the answer. Long requests (a content test of a large file) send Progress
// frames so the parent can tell slow from stuck.
class SmbServer
{
public:
    struct Options
    {
        int fd = 3;
        bool bNt1Only = false;    // browse lists travel over SMB1 only
        int msTimeout = 15000;    // libsmbclient's own timeout per call
        int nPort = 0;            // 0: the library's choice of 139 and 445
        int nMaxConnections = 32; // connections kept open (server and share each)
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
    struct Login
    {
        QByteArray workgroup, user, password;
        std::uint64_t nGen = 0;
        bool bKerberos = false;
    };
    // Asks the parent (AuthAsk) and waits for its AuthAnswer; false when the parent is gone.
    bool AskParent(const smbproto::Message& ask, smbproto::Message* pAnswer);
    static Login LoginFrom(const smbproto::Message& answer); // an AuthAnswer's login
    void UseLogin(const Login& login);
    // Runs one request; when the server refuses the login, asks the parent for another and
    // runs it again (at most a few times). Answers with kErrLoginFailed when the login itself
    // failed and nothing else is left to try.
    bool HandleWithLogin(const smbproto::Message& req);
    // After a refusal of url: 0 when the parent gave another login to try, else the error to
    // answer with. A folder the user may not open inside a share that opens is no refusal of
    // the login.
    int Refused(const QByteArray& url, int err);
    bool CanOpenFolder(const QByteArray& url);

    // The next request: one put aside first, unless bPendingFirst is false.
    bool Receive(smbproto::Message* pOut, bool bPendingFirst = true);
    bool Send(const smbproto::Message& m);
    bool Flush();
    bool Done(int err, std::uint64_t n1 = 0, QByteArray s1 = {});
    bool Handle(const smbproto::Message& req);

    // Adds e to a listing's chunk; a full chunk is sent. False when the parent is gone.
    bool AddEntry(smbproto::Message& chunk, smbproto::Entry e);
    bool ListNames(const QByteArray& url);
    bool ListFolder(const QByteArray& url);
    bool Contains(const smbproto::Message& req);
    bool OpenFile(const QByteArray& url, int flags);
    bool ReadFile(std::uint64_t n);
    bool WriteFile(const QByteArray& data);
    int CloseFile(); // 0 or an errno value
    bool StatPath(const QByteArray& url);
    bool QueryDomain(const QByteArray& hostUrl);
    bool BrowseMdns(const smbproto::Message& req);
    // After a share root failed to open: is it a printer, IPC or device share?
    bool IsNonFileShare(const QByteArray& url);
    void TestFault(const QByteArray& url);

    Options m_options;
    _SMBCCTX* m_pCtx = nullptr;
    _SMBCFILE* m_pFile = nullptr;
    smbproto::FrameReader m_reader;
    QByteArray m_out;                        // frames not yet written
    std::deque<smbproto::Message> m_pending; // requests read while waiting for credentials
    std::vector<unsigned char> m_buffer;
    QByteArray m_testFault;
    bool m_bBroken = false; // the stream to the parent is gone or corrupt

    std::map<QByteArray, Login> m_logins; // by server name, lower case
    // Drops (and overwrites) every login but the one of server key.
    void ForgetLoginsBut(const QByteArray& key);
    std::set<QByteArray> m_openShares;    // "server/share" (lower case) opened with its login
    bool m_bCatchRefusal = false;         // Done keeps a refusal back for HandleWithLogin
    int m_nRefused = 0;                   // the refusal kept back
    int m_nDataFrames = 0;                // data frames of the running request
};
