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

} // namespace smb
