#pragma once

#include <QString>

// Names from servers may hold control characters (a line feed in a share name, a tab in a
// file name). The line-based files and the views show each one as its picture from the
// Unicode "Control Pictures" block (U+2400 + code, U+2421 for DEL), so a name stays one name
// on one line; reading a file turns the pictures back into the characters.
namespace ctl {

bool HasControls(const QString& text);
// Every C0 control character and DEL as its picture; the text itself when it holds none.
QString ToPictures(const QString& text);
// The pictures back into the characters.
QString FromPictures(const QString& text);

} // namespace ctl
