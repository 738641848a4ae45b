#include "ShareFs.h"

#include "smb/SmbContext.h"
#include "smb/SmbUrl.h"

#include <libsmbclient.h>

#include <fcntl.h>

#include <cerrno>
#include <cstring>

namespace {

class SmbReader : public FsReader
{
public:
    SmbReader(SMBCCTX* ctx, SMBCFILE* file) : m_pCtx(ctx), m_pFile(file) {}
    ~SmbReader() override { smbc_getFunctionClose(m_pCtx)(m_pCtx, m_pFile); }
    std::int64_t Read(unsigned char* buf, std::size_t n) override
    {
        const ssize_t got = smbc_getFunctionRead(m_pCtx)(m_pCtx, m_pFile, buf, n);
        return got;
    }

private:
    SMBCCTX* m_pCtx;
    SMBCFILE* m_pFile;
};

class SmbShareFs : public ShareFs
{
public:
    explicit SmbShareFs(int msTimeout) : m_ctx(msTimeout, smb::SmbContext::Protocol::Default, 445)
    {}

    int ListFolder(const QString& folder, std::vector<FsEntry>& out) override
    {
        out.clear();
        if (folder.size() > kMaxFolderPath)
            return ENAMETOOLONG;
        SMBCCTX* ctx = m_ctx.Handle();
        if (!ctx)
            return EINVAL;
        const QByteArray url = smb::UncToUrl(folder);
        if (url.isEmpty())
            return EINVAL;
        SMBCFILE* dir = nullptr;
        const int err = m_ctx.Guarded(url, [&] {
            errno = 0;
            dir = smbc_getFunctionOpendir(ctx)(ctx, url.constData());
            return dir ? 0 : (errno ? errno : EIO);
        });
        if (!dir)
            return err;
        // One call per entry with its attributes, size and times: no stat round trip.
        auto readdirplus2 = smbc_getFunctionReaddirPlus2(ctx);
        struct stat st;
        while (const libsmb_file_info* info = readdirplus2(ctx, dir, &st)) {
            const char* pszName = info->name;
            if (!pszName || std::strcmp(pszName, ".") == 0 || std::strcmp(pszName, "..") == 0)
                continue;
            FsEntry e;
            e.strName = QString::fromUtf8(pszName);
            e.nAttributes = info->attrs;
            if (S_ISDIR(st.st_mode))
                e.nAttributes |= kAttrDirectory;
            if (e.nAttributes == 0)
                e.nAttributes = kAttrNormal;
            e.nSize = (e.nAttributes & kAttrDirectory) ? 0 : info->size;
            e.nLastWrite = FileTimeFromUnix(info->mtime_ts.tv_sec, info->mtime_ts.tv_nsec);
            out.push_back(std::move(e));
        }
        smbc_getFunctionClosedir(ctx)(ctx, dir);
        return 0;
    }

    std::unique_ptr<FsReader> OpenRead(const QString& path) override
    {
        SMBCCTX* ctx = m_ctx.Handle();
        const QByteArray url = smb::UncToUrl(path);
        if (!ctx || url.isEmpty())
            return nullptr;
        SMBCFILE* file = nullptr;
        m_ctx.Guarded(url, [&] {
            errno = 0;
            file = smbc_getFunctionOpen(ctx)(ctx, url.constData(), O_RDONLY, 0);
            return file ? 0 : (errno ? errno : EIO);
        });
        if (!file)
            return nullptr;
        return std::make_unique<SmbReader>(ctx, file);
    }

    int Remove(const QString& path, bool bFolder) override
    {
        SMBCCTX* ctx = m_ctx.Handle();
        const QByteArray url = smb::UncToUrl(path);
        if (!ctx || url.isEmpty())
            return EINVAL;
        return m_ctx.Guarded(url, [&] {
            errno = 0;
            const int rc = bFolder ? smbc_getFunctionRmdir(ctx)(ctx, url.constData())
                                   : smbc_getFunctionUnlink(ctx)(ctx, url.constData());
            return rc == 0 ? 0 : (errno ? errno : EIO);
        });
    }

private:
    smb::SmbContext m_ctx;
};

class AnyShareFs : public ShareFs
{
public:
    explicit AnyShareFs(int msTimeout) : m_msTimeout(msTimeout) {}
    int ListFolder(const QString& folder, std::vector<FsEntry>& out) override
    {
        return For(folder).ListFolder(folder, out);
    }
    std::unique_ptr<FsReader> OpenRead(const QString& path) override
    {
        return For(path).OpenRead(path);
    }
    int Remove(const QString& path, bool bFolder) override
    {
        return For(path).Remove(path, bFolder);
    }

private:
    ShareFs& For(const QString& path)
    {
        const bool bSmb =
            path.startsWith(QLatin1String("\\\\")) || path.startsWith(QLatin1String("//"));
        if (bSmb) {
            if (!m_smb)
                m_smb = MakeSmbShareFs(m_msTimeout);
            return *m_smb;
        }
        if (!m_local)
            m_local = MakeLocalShareFs();
        return *m_local;
    }
    int m_msTimeout;
    std::unique_ptr<ShareFs> m_smb;
    std::unique_ptr<ShareFs> m_local;
};

} // namespace

std::unique_ptr<ShareFs> MakeSmbShareFs(int msTimeout)
{
    return std::make_unique<SmbShareFs>(msTimeout);
}

std::unique_ptr<ShareFs> MakeShareFs(int msTimeout)
{
    return std::make_unique<AnyShareFs>(msTimeout);
}
