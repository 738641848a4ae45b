#pragma once

#include <QString>

#include "app/CancelToken.h"
#include "smb/LibraryTimeout.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace content {
struct Needles;
}

// One entry of a folder listing.
struct FsEntry
{
    QString strName;
    std::uint32_t nAttributes = 0; // 0x10 folder, 0x02 hidden, 0x01 read-only, 0x80 normal
    std::uint64_t nSize = 0;
    std::uint64_t nLastWrite = 0; // 100-ns intervals since 1601-01-01 UTC
};

constexpr std::uint32_t kAttrReadOnly = 0x01;
constexpr std::uint32_t kAttrHidden = 0x02;
constexpr std::uint32_t kAttrDirectory = 0x10;
constexpr std::uint32_t kAttrNormal = 0x80;
// A link (a symlink, a junction): file actions never go through it, only remove it.
constexpr std::uint32_t kAttrReparsePoint = 0x400;

// Seconds and nanoseconds since 1970 as a file time.
constexpr std::uint64_t FileTimeFromUnix(std::int64_t secs, std::int64_t nsecs)
{
    return static_cast<std::uint64_t>((secs + 11644473600LL) * 10000000LL + nsecs / 100);
}

// The separator of a path as the user gave it: "\" for \\SERVER\Share paths (and paths
// without "/"), "/" for local paths.
inline QChar SeparatorOf(const QString& path)
{
    return (path.startsWith(QLatin1String("\\\\")) || !path.contains(QLatin1Char('/')))
               ? QLatin1Char('\\')
               : QLatin1Char('/');
}

// The folder with one separator at its end, to put a name after (also a root such as "/").
inline QString FolderPrefix(const QString& folder)
{
    const QChar sep = SeparatorOf(folder);
    return folder.endsWith(sep) ? folder : folder + sep;
}
// A folder's entry: folder, separator, name.
inline QString JoinPath(const QString& folder, const QString& name)
{
    return FolderPrefix(folder) + name;
}

// Folders longer than this do not list (the classic path limit, which also ends link loops).
constexpr int kMaxFolderPath = 259;

// One file of a content test and, once tested, its outcome.
struct ContentTest
{
    QString strPath;
    std::uint64_t nListedSize = 0; // as for ShareFs::Contains
    int nError = 0;
    bool bFound = false;
};

// A file opened for reading, read from start to end in blocks.
class FsReader
{
public:
    virtual ~FsReader() = default;
    // Bytes read into buf (0 at the end), or -1 on an error.
    virtual std::int64_t Read(unsigned char* buf, std::size_t n) = 0;
};

// The file system of shared folders as the search sees it: folders named by their path as the
// user sees it (\\SERVER\Share\dir, or a local folder). One object per worker thread.
// Errors are errno values or the SMB helpers' own codes (smb::ErrorText names both).
class ShareFs
{
public:
    virtual ~ShareFs() = default;
    // Lists every entry of a folder except "." and ".."; 0 or an error.
    virtual int ListFolder(const QString& folder, std::vector<FsEntry>& out) = 0;
    // The folders a walk will list next, soonest needed first (the sub-folders of the one it
    // just listed). A file system that can list ahead (SMB: several listings in flight on the
    // server's helpers) starts on them; ListFolder then takes what it got. The default does
    // nothing.
    virtual void Announce(const std::vector<QString>& folders) { (void)folders; }
    // The shares of a server ("\\SERVER") as it lists them, in its order: disk shares with
    // kAttrDirectory, printer and IPC shares without; 0 or an error. The person chose this
    // server (a search of it): a refused login may be asked about. Only SMB has servers.
    virtual int ListShares(const QString& server, std::vector<FsEntry>& out);
    // Opens a file; null when it cannot be opened (a folder, no access, gone), the reason in
    // *pErr.
    virtual std::unique_ptr<FsReader> OpenRead(const QString& path, int* pErr = nullptr) = 0;
    // Removes a file, or an empty folder with bFolder; 0 or an error. A link is removed itself,
    // never what it points at.
    virtual int Remove(const QString& path, bool bFolder) = 0;
    // Size, time and folder bit of one entry (a link: of what it points at); 0 or an error.
    // *pId, when given, gets an identity of the file where the file system has one (an inode
    // number), else 0.
    virtual int Stat(const QString& path, FsEntry* pOut, std::uint64_t* pId = nullptr) = 0;
    // Does the file hold one of the needles? 0 with *pbFound, or an error. nListedSize, when
    // not 0, is the size its folder listing gave: no more than that and kContentMargin is
    // read (a file that grows without end, or a server that says so, ends the read there).
    // The default reads the file through OpenRead in blocks and looks at the cancel function
    // per block.
    virtual int Contains(const QString& path, const content::Needles& needles, bool* pbFound,
                         std::uint64_t nListedSize = 0);
    static constexpr std::uint64_t kContentMargin = 1u << 20;
    // Tests several files of one server or folder as Contains does, each outcome in its test.
    // A file system that can test files at once (SMB: several on the server's helpers) does;
    // the default tests them one after the other. Once cancelled, the tests not done fail with
    // ECANCELED.
    virtual void ContainsEach(std::vector<ContentTest>& tests, const content::Needles& needles);

    // Watched during long calls (network waits, reads): once cancelled they end early with an
    // error. Set before the calls it is to end (not while one runs).
    virtual void SetCancel(CancelToken cancel) { m_cancel = std::move(cancel); }
    bool Cancelled() const { return m_cancel.Cancelled(); }

protected:
    CancelToken m_cancel;

private:
    std::vector<unsigned char> m_buffer;
};

// Local folders (mounted shares, tests). Paths use "/" or "\" as given.
std::unique_ptr<ShareFs> MakeLocalShareFs();
// SMB through the helper processes, for \\SERVER\Share paths; msTimeout is the SMB library's
// own timeout per call (the pool's deadlines bound every request as well).
std::unique_ptr<ShareFs> MakeSmbShareFs(int msTimeout = smb::kMsLibraryCall);
// Chooses by path: \\... (or //...) on SMB, anything else local. Each is made on first use.
std::unique_ptr<ShareFs> MakeShareFs(int msTimeout = smb::kMsLibraryCall);
