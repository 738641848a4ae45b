#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>

// Pids of the SMB helper processes that are alive children of this process (or of parent),
// whatever the pool believes.
inline QStringList HelperPids(qint64 parent = 0)
{
    QStringList pids;
    const QString self = QString::number(parent ? parent : QCoreApplication::applicationPid());
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/") + pid + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QString line = QString::fromLatin1(stat.readAll());
        // pid (comm) state ppid ...
        const QStringList rest = line.mid(line.lastIndexOf(QLatin1Char(')')) + 2).split(' ');
        if (line.contains(QLatin1String("(brindlecove-smb)")) && rest.value(1) == self &&
            rest.value(0) != QLatin1String("Z"))
            pids << pid;
    }
    return pids;
}

inline int HelperChildren()
{
    return static_cast<int>(HelperPids().size());
}

// Sockets the SMB helper children hold, less each one's channel to this process: their SMB
// connections.
inline int HelperConnections()
{
    int n = 0;
    for (const QString& pid : HelperPids()) {
        const QDir fds(QStringLiteral("/proc/") + pid + QStringLiteral("/fd"));
        int nSockets = 0;
        for (const QFileInfo& fi : fds.entryInfoList(QDir::System))
            nSockets += fi.symLinkTarget().contains(QLatin1String("socket:"));
        n += std::max(nSockets - 1, 0);
    }
    return n;
}
