#include "FileOps.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

#include <cstring>
#include <functional>
#include <vector>

namespace fileops {
namespace {

QString LastComponent(const QString& path)
{
    const qsizetype n =
        std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
    return path.mid(n + 1);
}

QString Reason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

// "name.ext" -> "name (2).ext", the first that does not exist.
QString KeepBothName(const QDir& dir, const QString& name)
{
    const QFileInfo fi(name);
    const QString base = fi.completeBaseName().isEmpty() ? name : fi.completeBaseName();
    const QString ext = fi.completeBaseName().isEmpty() || fi.suffix().isEmpty()
                            ? QString()
                            : QLatin1Char('.') + fi.suffix();
    for (int i = 2; i < 10000; ++i) {
        // The number must survive the 255-byte cut: the base gives way, not " (n)".
        const QString number = QStringLiteral(" (%1)").arg(i);
        QString shortened = base;
        while (!shortened.isEmpty() && (shortened + number + ext).toUtf8().size() > 255)
            shortened.chop(1);
        if (!shortened.isEmpty() && shortened.back().isHighSurrogate())
            shortened.chop(1);
        const QString candidate = SafeLocalName(shortened + number + ext);
        if (!QFileInfo::exists(dir.filePath(candidate)))
            return candidate;
    }
    return {};
}

// Is the local file dst the source described by src (and id, 0: none)? The same identity, or
// (the source on a share: no comparable identity) the same size and the same time of last
// write to the 100 ns (both read from the one file's time stamp).
bool SameFile(const FsEntry& src, std::uint64_t nSrcId, const QString& dst)
{
    FsEntry d;
    std::uint64_t nDstId = 0;
    if (MakeLocalShareFs()->Stat(dst, &d, &nDstId) != 0)
        return false;
    if (nSrcId != 0)
        return nSrcId == nDstId;
    return d.nSize == src.nSize && d.nLastWrite == src.nLastWrite;
}

class Job
{
public:
    Job(ShareFs& fs, const std::atomic<bool>& cancel, const Callbacks& cb)
        : m_fs(fs), m_cancel(cancel), m_cb(cb)
    {}

    // True when the source is completely copied (and, moving, removed).
    // remoteName: the entry's name as the listing gave it (empty: the last part of src).
    bool CopyEntry(const QString& src, bool bFolder, bool bLink, const QDir& target, bool bMove,
                   const QString& remoteName = QString());
    bool DeleteEntry(const QString& src, bool bFolder, bool bLink);
    // Cancelled by the caller or by the user's Cancel in a name-clash question: nothing more is
    // copied, moved or deleted, at any level.
    bool Stopped()
    {
        if (m_cancel)
            m_outcome.bCancelled = true;
        return m_outcome.bCancelled;
    }

    Outcome m_outcome;

private:
    // Folder loops (links on the share) end here at the latest; reported.
    bool TooDeep(const QString& folder);
    // Lists a folder and runs fn on each of its entries one level deeper. False (reported) when
    // the folder cannot be listed; else whether fn held for every entry.
    bool ForEachChild(const QString& folder,
                      const std::function<bool(const QString& path, const FsEntry& e)>& fn);
    bool CopyFile(const QString& src, const QString& dst, bool bReplace, quint64* pnCopied);
    Clash Ask(const QString& target);

    ShareFs& m_fs;
    const std::atomic<bool>& m_cancel;
    const Callbacks& m_cb;
    bool m_bApplyAll = false;
    int m_nDepth = 0;
    Clash m_remembered = Clash::Replace;
    std::vector<unsigned char> m_buffer;
    // Targets this job wrote: a later source of the same local name (two long names cut to
    // one) gets a name of its own instead of replacing them.
    QSet<QString> m_made;
};

Clash Job::Ask(const QString& target)
{
    if (m_bApplyAll)
        return m_remembered;
    bool bAll = false;
    const Clash c = m_cb.fnAskClash ? m_cb.fnAskClash(target, &bAll) : Clash::Skip;
    if (bAll) {
        m_bApplyAll = true;
        m_remembered = c;
    }
    return c;
}

bool Job::TooDeep(const QString& folder)
{
    if (folder.size() <= kMaxFolderPath && m_nDepth < 64)
        return false;
    m_outcome.failed << folder + QStringLiteral(": too deep");
    return true;
}

bool Job::ForEachChild(const QString& folder,
                       const std::function<bool(const QString& path, const FsEntry& e)>& fn)
{
    std::vector<FsEntry> entries;
    if (const int err = m_fs.ListFolder(folder, entries); err != 0) {
        m_outcome.failed << folder + QStringLiteral(": ") + Reason(err);
        return false;
    }
    bool bAll = true;
    ++m_nDepth;
    for (const FsEntry& e : entries) {
        if (Stopped()) {
            bAll = false;
            break;
        }
        bAll &= fn(JoinPath(folder, e.strName), e);
    }
    --m_nDepth;
    return bAll;
}

bool Job::CopyFile(const QString& src, const QString& dst, bool bReplace, quint64* pnCopied)
{
    std::unique_ptr<FsReader> reader = m_fs.OpenRead(src);
    if (!reader) {
        m_outcome.failed << src + QStringLiteral(": cannot be read");
        return false;
    }
    // Written beside the target and put in its place only when complete.
    QSaveFile out(dst);
    out.setDirectWriteFallback(false);
    if (!bReplace && QFileInfo::exists(dst)) {
        m_outcome.failed << src + QStringLiteral(": target exists");
        return false;
    }
    if (!out.open(QIODevice::WriteOnly)) {
        m_outcome.failed << src + QStringLiteral(": ") + out.errorString();
        return false;
    }
    m_buffer.resize(1 << 20);
    quint64 nDone = 0;
    for (;;) {
        if (Stopped()) {
            out.cancelWriting();
            return false;
        }
        const std::int64_t got = reader->Read(m_buffer.data(), m_buffer.size());
        if (got < 0) {
            out.cancelWriting();
            m_outcome.failed << src + QStringLiteral(": read error");
            return false;
        }
        if (got == 0)
            break;
        if (out.write(reinterpret_cast<const char*>(m_buffer.data()), got) != got) {
            m_outcome.failed << src + QStringLiteral(": ") + out.errorString();
            out.cancelWriting();
            return false;
        }
        nDone += static_cast<quint64>(got);
        if (m_cb.fnProgress)
            m_cb.fnProgress(src, nDone, 0);
    }
    if (!out.commit()) {
        m_outcome.failed << src + QStringLiteral(": ") + out.errorString();
        return false;
    }
    *pnCopied = nDone;
    return true;
}

bool Job::CopyEntry(const QString& src, bool bFolder, bool bLink, const QDir& target, bool bMove,
                    const QString& remoteName)
{
    if (Stopped())
        return false;
    QString name = SafeLocalName(remoteName.isEmpty() ? LastComponent(src) : remoteName);
    QString dst = target.filePath(name);
    // Never outside the chosen folder, whatever the name was.
    if (QFileInfo(dst).absolutePath() != QFileInfo(target.absolutePath()).absoluteFilePath()) {
        m_outcome.failed << src + QStringLiteral(": unsafe name");
        return false;
    }
    if (bFolder) {
        if (TooDeep(src))
            return false;
        if (!QFileInfo(dst).isDir() && !target.mkdir(name)) {
            m_outcome.failed << src + QStringLiteral(": cannot create ") + dst;
            return false;
        }
        const QDir sub(dst);
        // What a link points at is copied, never emptied: moving a link moves the link only.
        const bool bMoveChildren = bMove && !bLink;
        const bool bAll = ForEachChild(src, [&](const QString& path, const FsEntry& e) {
            return CopyEntry(path, e.nAttributes & kAttrDirectory,
                             e.nAttributes & kAttrReparsePoint, sub, bMoveChildren, e.strName);
        });
        if (bAll && bMove) {
            if (const int rm = m_fs.Remove(src, true); rm != 0) {
                m_outcome.failed << src + QStringLiteral(": copied, but not removed: ") +
                                        Reason(rm);
                return false;
            }
        }
        return bAll;
    }
    // The source as it is before the copy: a move removes it only if it is still that.
    FsEntry before;
    std::uint64_t nSrcId = 0;
    if (bMove) {
        if (const int err = m_fs.Stat(src, &before, &nSrcId); err != 0) {
            m_outcome.failed << src + QStringLiteral(": ") + Reason(err);
            return false;
        }
    }
    bool bReplace = false;
    if (QFileInfo::exists(dst)) {
        if (bMove && SameFile(before, nSrcId, dst)) {
            m_outcome.failed << src + QStringLiteral(": source and target are the same file");
            return false;
        }
        const Clash clash = m_made.contains(QFileInfo(dst).absoluteFilePath())
                                ? Clash::KeepBoth // never over what this job itself wrote
                                : Ask(dst);
        switch (clash) {
        case Clash::Replace:
            bReplace = true;
            break;
        case Clash::Skip:
            return false;
        case Clash::Cancel:
            m_outcome.bCancelled = true;
            return false;
        case Clash::KeepBoth:
            name = KeepBothName(target, name);
            if (name.isEmpty()) {
                m_outcome.failed << src + QStringLiteral(": no free name for it in ") +
                                        target.absolutePath();
                return false;
            }
            dst = target.filePath(name);
            break;
        }
    }
    quint64 nCopied = 0;
    if (!CopyFile(src, dst, bReplace, &nCopied))
        return false;
    m_made.insert(QFileInfo(dst).absoluteFilePath());
    if (bMove) {
        FsEntry after;
        std::uint64_t nAfterId = 0;
        const bool bUnchanged = m_fs.Stat(src, &after, &nAfterId) == 0 &&
                                after.nSize == before.nSize &&
                                after.nLastWrite == before.nLastWrite && nAfterId == nSrcId;
        // A source that is the target itself now shows the file just written: changed.
        if (!bUnchanged || before.nSize != nCopied ||
            QFileInfo(dst).size() != static_cast<qint64>(nCopied)) {
            m_outcome.failed << src + QStringLiteral(": copied, but kept: it changed while copied "
                                                     "or is the target itself");
            return false;
        }
        if (const int rm = m_fs.Remove(src, false); rm != 0) {
            m_outcome.failed << src + QStringLiteral(": copied, but not removed: ") + Reason(rm);
            return false;
        }
    }
    return true;
}

bool Job::DeleteEntry(const QString& src, bool bFolder, bool bLink)
{
    if (Stopped())
        return false;
    // A link's folder is never gone through: only the link is removed.
    if (bFolder && !bLink) {
        if (TooDeep(src) || !ForEachChild(src, [&](const QString& path, const FsEntry& e) {
                return DeleteEntry(path, e.nAttributes & kAttrDirectory,
                                   e.nAttributes & kAttrReparsePoint);
            }))
            return false;
    }
    if (const int err = m_fs.Remove(src, bFolder); err != 0) {
        m_outcome.failed << src + QStringLiteral(": ") + Reason(err);
        return false;
    }
    if (m_cb.fnProgress)
        m_cb.fnProgress(src, 0, 0);
    return true;
}

} // namespace

QString SafeLocalName(const QString& remoteName)
{
    QString name = remoteName;
    for (QChar& c : name)
        if (c == QLatin1Char('/') || c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char('_');
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name = QStringLiteral("_");
    // File names hold at most 255 bytes here; keep the extension when shortening.
    if (name.toUtf8().size() > 255) {
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        const QString ext = dot > 0 && name.size() - dot <= 16 ? name.mid(dot) : QString();
        QString base = name.left(name.size() - ext.size());
        while ((base + ext).toUtf8().size() > 255)
            base.chop(1);
        if (!base.isEmpty() && base.back().isHighSurrogate())
            base.chop(1);
        name = base + ext;
    }
    return name;
}

bool IsInsideAny(const QString& path, const QSet<QString>& folders)
{
    // Each folder above path, nearest first.
    const QChar sep = SeparatorOf(path);
    for (qsizetype at = path.lastIndexOf(sep); at > 0; at = path.lastIndexOf(sep, at - 1))
        if (folders.contains(path.left(at)))
            return true;
    return false;
}

QList<Item> WithoutNested(const QList<Item>& items)
{
    QSet<QString> folders;
    for (const Item& item : items)
        if (item.bFolder)
            folders.insert(item.strPath);
    QList<Item> out;
    for (const Item& item : items)
        if (!IsInsideAny(item.strPath, folders))
            out.push_back(item);
    return out;
}

Outcome CopyInto(ShareFs& fs, const QList<Item>& items, const QString& targetDir, bool bMove,
                 const std::atomic<bool>& cancel, const Callbacks& callbacks)
{
    Job job(fs, cancel, callbacks);
    const QDir target(targetDir);
    for (const Item& item : items) {
        if (job.Stopped())
            break;
        if (job.CopyEntry(item.strPath, item.bFolder, item.bLink, target, bMove))
            job.m_outcome.done << item.strPath;
    }
    return job.m_outcome;
}

Outcome Delete(ShareFs& fs, const QList<Item>& items, const std::atomic<bool>& cancel,
               const Callbacks& callbacks)
{
    Job job(fs, cancel, callbacks);
    for (const Item& item : items) {
        if (job.Stopped())
            break;
        if (job.DeleteEntry(item.strPath, item.bFolder, item.bLink))
            job.m_outcome.done << item.strPath;
    }
    return job.m_outcome;
}

} // namespace fileops
