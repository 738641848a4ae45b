#pragma once

#include "HelperProtocol.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

// UNC paths are what the user sees (\\SERVER\Share\dir\file); libsmbclient wants
// smb://SERVER/Share/dir/file with every component percent-encoded.
namespace smb {

// A path on an SMB server, parsed once from what the user sees (\\SERVER\share\folder).
struct SmbPath
{
    QString server; // as written: the name logins and messages use
    QString host;   // where requests go: the server, or the address an announcement gave it
    QString share;  // empty: the server itself
    QString folder; // inside the share, '\' between names; empty for the share's root

    // "\\SERVER\share\dir" or "//SERVER/share/dir"; nothing without a server name.
    static std::optional<SmbPath> Parse(const QString& unc);
    // The server itself (its share list).
    static SmbPath OfServer(const QString& name);
    // The pool's key for the server: helpers are lent per host.
    QString Key() const { return host.toLower(); }
    // What travels to the helper.
    smbproto::Target Target() const;
};

// "\\SERVER\Share\dir" or "//SERVER/Share/dir" -> "smb://SERVER/Share/dir". Empty when the
// text does not start with two (back)slashes and a server name.
QByteArray UncToUrl(const QString& unc);

// Addresses of hosts that no name service may know (found by WS-Discovery or mDNS on a network
// without NetBIOS): UNC paths and share lists of such a host go to its address. Announcements
// are anybody's word, so they fill in only what nothing else says:
enum class Remembered
{
    Yes,          // the name now goes to the address
    Same,         // it did already
    NumericName,  // a name that is itself an address is never redirected
    KnownName,    // the system's resolver (hosts file, DNS) knows the name: it has the say
    OtherAddress, // an earlier announcement gave another address, which stays
};
// Any thread; asks the system's resolver (bounded: msResolve in all).
Remembered RememberHostAddress(const QString& name, const QString& address, int msResolve = 1500);
using NameAddress = std::pair<QString, QString>;
std::vector<Remembered> RememberHostAddresses(const std::vector<NameAddress>& announced,
                                              int msResolve = 1500);
// The address an earlier announcement gave name, or empty.
QString RememberedAddress(const QString& name);
// The names announcements placed at address (upper case; empty for an address no
// announcement gave).
QStringList NamesAnnouncedAt(const QString& address);
// The address remembered for name, else name itself.
QString ResolveHost(const QString& name);

} // namespace smb
