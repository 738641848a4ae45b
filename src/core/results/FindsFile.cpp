#include "FindsFile.h"

#include "search/ShareFs.h"
#include "smb/SmbUrl.h"

namespace finds {

QByteArray Serialize(const QStringList& paths)
{
    bool bLatin1 = true;
    for (const QString& p : paths)
        for (QChar c : p)
            bLatin1 &= c.unicode() <= 0xFF;
    QByteArray out;
    if (!bLatin1)
        out = QByteArrayLiteral("\xEF\xBB\xBF");
    for (const QString& p : paths) {
        out += bLatin1 ? p.toLatin1() : p.toUtf8();
        out += "\r\n";
    }
    return out;
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
