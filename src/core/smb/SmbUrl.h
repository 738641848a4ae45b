#pragma once

#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

// UNC paths are what the user sees (\\SERVER\Share\dir\file); libsmbclient wants
// smb://SERVER/Share/dir/file with every component percent-encoded.
namespace smb {

// Percent-encodes one path component (UTF-8; everything but unreserved characters).
QByteArray EncodeComponent(const QString& component);
// "\\SERVER\Share\dir" or "//SERVER/Share/dir" -> "smb://SERVER/Share/dir". Empty when the
// text does not start with two (back)slashes and a server name.
QByteArray UncToUrl(const QString& unc);
// "smb://", "smb://WORKGROUP", "smb://HOST" style URLs from plain names.
QByteArray ServerUrl(const QString& name);
// smb://HOST, with the address remembered for HOST when there is one.
QByteArray HostUrl(const QString& name);

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
