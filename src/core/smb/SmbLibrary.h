#pragma once

#include <QString>

#include <functional>
#include <mutex>

// One place for libsmbclient's process-wide set-up.
//
// libsmbclient as shipped is not safe across threads unless thread hooks are registered
// before the first context exists. InitSmbLibrary() registers pthread-based hooks once; it is
// called by every SmbContext, so callers need not bother. Contexts are created and freed under
// SmbContextLock().
namespace smb {

void InitSmbLibrary();
std::mutex& SmbContextLock();

// Credentials asked for a server and share. Empty user means guest.
struct Credentials
{
    QString strUser;
    QString strPassword;
    QString strWorkgroup;
};
// Called from the worker that needs them (any thread); must be thread-safe. The default gives
// guest access.
using AuthCallback = std::function<Credentials(const QString& server, const QString& share)>;
void SetAuthCallback(AuthCallback fn);
Credentials AskCredentials(const QString& server, const QString& share);

} // namespace smb
