#pragma once

#include "search/ShareFs.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

// Copying, moving and deleting found files: from the shares (or local folders) into a local
// folder, and deleting them where they are. Runs on a worker thread; cancel is looked at
// between files and between blocks of a file.
namespace fileops {

// A local file name for a remote one: "/" and control characters become "_", "." and ".."
// become "_", and a name longer than 255 bytes is shortened (its extension kept), so a name
// from the network can never point outside the folder it is written into.
QString SafeLocalName(const QString& remoteName);

enum class Clash
{
    Replace,
    Skip,
    KeepBoth,
    Cancel
};

struct Callbacks
{
    // Progress: bytes done of the current file, its size, and the file; any thread.
    std::function<void(const QString& path, quint64 nDone, quint64 nSize)> fnProgress;
    // A target exists: what to do. *pApplyToAll set to keep the answer for the rest.
    std::function<Clash(const QString& target, bool* pApplyToAll)> fnAskClash;
};

struct Outcome
{
    QStringList done;   // source paths copied, moved or deleted completely
    QStringList failed; // "path: reason"
    bool bCancelled = false;
};

// One found entry: its path, whether it is a folder (the folder bit of its listing) and
// whether it is a link (a symlink or a junction: removed itself, never gone through).
struct Item
{
    QString strPath;
    bool bFolder = false;
    bool bLink = false;
};

// The items without those inside a folder that is an item too (the folder takes them along).
QList<Item> WithoutNested(const QList<Item>& items);
// Is path inside one of folders (at any depth)?
bool IsInsideAny(const QString& path, const QSet<QString>& folders);

// Copies (or moves) each item (folders with their contents) into targetDir. A move removes a
// source only after its copy is complete, has the size read, and the source is unchanged
// (so a source that is the target itself, reached another way, is never removed). A link
// is copied as what it points at; moving it removes only the link.
Outcome CopyInto(ShareFs& fs, const QList<Item>& items, const QString& targetDir, bool bMove,
                 const std::atomic<bool>& cancel, const Callbacks& callbacks);
// Deletes each item where it is (folders with their contents; links only themselves).
Outcome Delete(ShareFs& fs, const QList<Item>& items, const std::atomic<bool>& cancel,
               const Callbacks& callbacks);

} // namespace fileops
