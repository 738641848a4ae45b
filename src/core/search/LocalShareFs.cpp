#include "ShareFs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

class LocalReader : public FsReader
{
public:
    explicit LocalReader(int fd) : m_fd(fd) {}
    ~LocalReader() override { close(m_fd); }
    std::int64_t Read(unsigned char* buf, std::size_t n) override
    {
        for (;;) {
            const ssize_t got = read(m_fd, buf, n);
            if (got >= 0 || errno != EINTR)
                return got;
        }
    }

private:
    int m_fd;
};

// Local paths are taken as they are: "\\" is a legal character of a name here, so a name such
// as "..\\..\\etc" stays one name inside its folder. (The root the user typed had its
// separators made local where it was typed.)
QByteArray LocalPath(const QString& path)
{
    return path.toLocal8Bit();
}

class LocalShareFs : public ShareFs
{
public:
    int ListFolder(const QString& folder, std::vector<FsEntry>& out) override
    {
        out.clear();
        if (folder.size() > kMaxFolderPath)
            return ENAMETOOLONG;
        const QByteArray path = LocalPath(folder);
        DIR* dir = opendir(path.constData());
        if (!dir)
            return errno;
        const int dfd = dirfd(dir);
        while (dirent* d = readdir(dir)) {
            if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0)
                continue;
            struct stat st;
            if (fstatat(dfd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            // A symlink is listed as what it points at (the search follows it; the path limit
            // ends loops) and marked as a link, so file actions never go through it.
            const bool bLink = S_ISLNK(st.st_mode);
            if (bLink)
                fstatat(dfd, d->d_name, &st, 0);
            FsEntry e;
            e.strName = QString::fromLocal8Bit(d->d_name);
            const bool bDir = S_ISDIR(st.st_mode);
            e.nAttributes = bDir ? kAttrDirectory : 0;
            if (bLink)
                e.nAttributes |= kAttrReparsePoint;
            if (d->d_name[0] == '.')
                e.nAttributes |= kAttrHidden;
            if (!(st.st_mode & S_IWUSR))
                e.nAttributes |= kAttrReadOnly;
            if (e.nAttributes == 0)
                e.nAttributes = kAttrNormal;
            e.nSize = bDir ? 0 : static_cast<std::uint64_t>(st.st_size);
            e.nLastWrite = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
            out.push_back(std::move(e));
        }
        closedir(dir);
        return 0;
    }

    std::unique_ptr<FsReader> OpenRead(const QString& path, int* pErr) override
    {
        auto fail = [pErr](int err) {
            if (pErr)
                *pErr = err;
            return nullptr;
        };
        // Non-blocking, so a FIFO or a device never holds the caller; regular files only.
        const int fd =
            open(LocalPath(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return fail(errno);
        struct stat st
        {
        };
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            const int err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
            close(fd);
            return fail(err);
        }
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        if (pErr)
            *pErr = 0;
        return std::make_unique<LocalReader>(fd);
    }

    int Stat(const QString& path, FsEntry* pOut, std::uint64_t* pId) override
    {
        struct stat st;
        if (stat(LocalPath(path).constData(), &st) != 0)
            return errno;
        const bool bDir = S_ISDIR(st.st_mode);
        pOut->nAttributes = bDir ? kAttrDirectory : kAttrNormal;
        pOut->nSize = bDir ? 0 : static_cast<std::uint64_t>(st.st_size);
        pOut->nLastWrite = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
        if (pId)
            *pId = static_cast<std::uint64_t>(st.st_ino) ^
                   (static_cast<std::uint64_t>(st.st_dev) << 40);
        return 0;
    }

    int Remove(const QString& path, bool bFolder) override
    {
        const QByteArray p = LocalPath(path);
        // A symlink goes itself, whether it points at a folder or not.
        struct stat st;
        if (lstat(p.constData(), &st) == 0 && S_ISLNK(st.st_mode))
            bFolder = false;
        return (bFolder ? rmdir(p.constData()) : unlink(p.constData())) == 0 ? 0 : errno;
    }
};

} // namespace

std::unique_ptr<ShareFs> MakeLocalShareFs()
{
    return std::make_unique<LocalShareFs>();
}
