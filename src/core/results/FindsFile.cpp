#include "FindsFile.h"

#include "app/ControlChars.h"
#include "search/ShareFs.h"
#include "smb/SmbUrl.h"

#include <QStringDecoder>

namespace finds {

QByteArray Serialize(const QStringList& paths)
{
    bool bLatin1 = true;
    for (const QString& p : paths)
        for (QChar c : p)
            bLatin1 &= c.unicode() <= 0xFF && c.unicode() >= 0x20 && c.unicode() != 0x7f;
    // A Latin-1 list whose first path starts with the characters of a byte-order mark would
    // read back as UTF-8: such a list is written as UTF-8.
    if (!paths.isEmpty() && paths.front().startsWith(QStringLiteral("\u00EF\u00BB\u00BF")))
        bLatin1 = false;
    QByteArray out;
    if (!bLatin1)
        out = QByteArrayLiteral("\xEF\xBB\xBF");
    for (const QString& p : paths) {
        out += bLatin1 ? p.toLatin1() : ctl::ToPictures(p).toUtf8();
        out += "\r\n";
    }
    return out;
}

QStringList Parse(const QByteArray& bytes)
{
    const bool bUtf8 = bytes.startsWith("\xEF\xBB\xBF");
    const QByteArray body = bUtf8 ? bytes.mid(3) : bytes;
    QStringList paths;
    // The file's own mark is gone; a U+FEFF that starts a path belongs to the path.
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom |
                                                    QStringConverter::Flag::Stateless);
    qsizetype from = 0;
    while (from < body.size()) {
        qsizetype end = body.indexOf("\r\n", from);
        if (end < 0)
            end = body.size();
        const QByteArray line = body.mid(from, end - from);
        paths << ctl::FromPictures(bUtf8 ? QString(utf8.decode(line)) : QString::fromLatin1(line));
        from = end + 2;
    }
    return paths;
}

QUrl UrlOf(const QString& path)
{
    if (path.startsWith(QLatin1String("\\\\")))
        return QUrl::fromEncoded(smb::UncToUrl(path));
    return QUrl::fromLocalFile(path);
}

QString FolderOf(const QString& path)
{
    const qsizetype n = path.lastIndexOf(SeparatorOf(path));
    if (n <= 0)
        return {};
    return path.left(n);
}

} // namespace finds
