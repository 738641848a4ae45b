#pragma once

#include "search/ShareFs.h"

#include <QDir>
#include <QThread>

#include <atomic>
#include <cerrno>

// \\SERVER\Share\dir as the local folder ROOT/SERVER/Share/dir, for searches without a network.
// delayMs slows every listing (to look at a running search); nCreated counts the instances,
// one per search worker.
class MappedShareFs : public ShareFs
{
public:
    MappedShareFs(QString root, int delayMs)
        : m_root(std::move(root)), m_delayMs(delayMs), m_local(MakeLocalShareFs())
    {}
    int ListFolder(const QString& folder, std::vector<FsEntry>& out) override
    {
        if (m_delayMs > 0)
            QThread::msleep(static_cast<unsigned long>(m_delayMs));
        if (folder.size() > kMaxFolderPath)
            return 36;
        return m_local->ListFolder(Map(folder), out);
    }
    // \\SERVER's shares: the folders of ROOT/SERVER, and "IPC$"; a server without a folder
    // refuses (as one that lists its shares only to users).
    int ListShares(const QString& server, std::vector<FsEntry>& out) override
    {
        out.clear();
        const QDir dir(Map(server));
        if (!dir.exists())
            return EACCES;
        for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            out.push_back({name, kAttrDirectory, 0, 0});
        out.push_back({QStringLiteral("IPC$"), 0, 0, 0});
        return 0;
    }
    std::unique_ptr<FsReader> OpenRead(const QString& path, int* pErr = nullptr) override
    {
        return m_local->OpenRead(Map(path), pErr);
    }
    int Remove(const QString& path, bool bFolder) override
    {
        return m_local->Remove(Map(path), bFolder);
    }

    int Stat(const QString& path, FsEntry* pOut, std::uint64_t* pId = nullptr) override
    {
        return m_local->Stat(Map(path), pOut, pId);
    }

    QString Map(const QString& unc) const
    {
        QString rel = unc.mid(2);
        rel.replace('\\', '/');
        return m_root + '/' + rel;
    }
    static std::atomic<int> nCreated;

private:
    QString m_root;
    int m_delayMs;
    std::unique_ptr<ShareFs> m_local;
};
inline std::atomic<int> MappedShareFs::nCreated{0};

// Writes files below root; a path ending in "/" is a folder.
inline void MakeFiles(const QString& root, const QMap<QString, QByteArray>& files)
{
    for (auto it = files.begin(); it != files.end(); ++it) {
        const QString p = root + '/' + it.key();
        if (p.endsWith('/')) {
            QDir().mkpath(p);
            continue;
        }
        QDir().mkpath(QFileInfo(p).path());
        QFile f(p);
        if (f.open(QIODevice::WriteOnly))
            f.write(it.value());
    }
}
