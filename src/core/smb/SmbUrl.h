#pragma once

#include <QString>

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

// Addresses of hosts that no name service may know (found by WS-Discovery on a network without
// NetBIOS): UNC paths and share lists of such a host go to its address. Any thread.
void RememberHostAddress(const QString& name, const QString& address);
// The address remembered for name, else name itself.
QString ResolveHost(const QString& name);

} // namespace smb
