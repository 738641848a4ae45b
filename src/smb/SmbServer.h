#pragma once

#include "smb/HelperProtocol.h"

#include <deque>
#include <vector>

struct _SMBCCTX;
struct _SMBCFILE;

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
    };
    explicit SmbServer(const Options& options);
    ~SmbServer();
    SmbServer(const SmbServer&) = delete;
    SmbServer& operator=(const SmbServer&) = delete;

    // Serves requests until the parent closes its end; the process's exit code.
    int Run();

    // Called by the library when a server wants credentials: asks the parent.
    void AskCredentials(const char* server, const char* share, char* wg, int wglen, char* user,
                        int userlen, char* pass, int passlen);

private:
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
};
