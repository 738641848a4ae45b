#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace finds {

// The bytes of a saved finds list: one path per line, each line ending in CR LF, no header.
// A list whose every path fits ISO 8859-1 is written one byte per character, without a
// byte-order mark, as it always was. A list with a character beyond U+00FF is written as UTF-8
// with a byte-order mark instead, so no path loses its tail.
// A control character in a path (a line feed would split it) is written as its picture,
// which makes the list UTF-8.
QByteArray Serialize(const QStringList& paths);
// The paths of a saved finds list (either encoding; pictures back into control characters).
QStringList Parse(const QByteArray& bytes);

// The URL the desktop opens for a found path: \\SERVER\Share\dir\file -> smb://SERVER/Share/
// dir/file (percent-encoded), a local path -> file:///...
QUrl UrlOf(const QString& path);
// The folder of a found path: everything before the last "\" (or "/" for local paths). Empty
// when that separator is the first character or missing.
QString FolderOf(const QString& path);

} // namespace finds
