#include "ShareFs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

class LocalReader : public FsReader
{
public:
    explicit LocalReader(int fd) : m_fd(fd) {}
    ~LocalReader() override
    {
        if (m_pMap)
            munmap(m_pMap, m_nMapSize);
        close(m_fd);
    }
    std::int64_t Read(unsigned char* buf, std::size_t n) override
    {
        for (;;) {
            const ssize_t got = read(m_fd, buf, n);
            if (got >= 0 || errno != EINTR)
                return got;
        }
    }
    const unsigned char* Map(std::uint64_t* pSize) override
    {
        struct stat st;
        if (fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0)
            return nullptr;
        void* p =
            mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, m_fd, 0);
        if (p == MAP_FAILED)
            return nullptr;
        madvise(p, static_cast<std::size_t>(st.st_size), MADV_SEQUENTIAL);
        m_pMap = p;
        m_nMapSize = static_cast<std::size_t>(st.st_size);
        *pSize = m_nMapSize;
        return static_cast<const unsigned char*>(p);
    }

private:
    int m_fd;
    void* m_pMap = nullptr;
    std::size_t m_nMapSize = 0;
};

QByteArray LocalPath(const QString& path)
{
    QString p = path;
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return p.toLocal8Bit();
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
            if (fstatat(dfd, d->d_name, &st, 0) != 0 &&
                fstatat(dfd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            FsEntry e;
            e.strName = QString::fromLocal8Bit(d->d_name);
            const bool bDir = S_ISDIR(st.st_mode);
            e.nAttributes = bDir ? kAttrDirectory : 0;
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

    std::unique_ptr<FsReader> OpenRead(const QString& path) override
    {
        const int fd = open(LocalPath(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        if (fd < 0)
            return nullptr;
        struct stat st;
        if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
            close(fd);
            return nullptr;
        }
        posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        return std::make_unique<LocalReader>(fd);
    }

    int Remove(const QString& path, bool bFolder) override
    {
        const QByteArray p = LocalPath(path);
        return (bFolder ? rmdir(p.constData()) : unlink(p.constData())) == 0 ? 0 : errno;
    }
};

} // namespace

std::unique_ptr<ShareFs> MakeLocalShareFs()
{
    return std::make_unique<LocalShareFs>();
}
