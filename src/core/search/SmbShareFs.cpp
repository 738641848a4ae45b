#include "ShareFs.h"

#include "ContentMatcher.h"
#include "network/WsDiscovery.h"
#include "smb/HelperPool.h"
#include "smb/SmbUrl.h"
#include "smb/TcpProbe.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

using smbproto::Message;
using smbproto::Op;

namespace {

// "\\HOST\share\dir" -> "HOST", as written.
QString ServerOf(const QString& unc)
{
    QString s = unc;
    s.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return s.mid(2).section(QLatin1Char('\\'), 0, 0);
}

// "\\HOST\share\dir" -> "host" (or its remembered address): the pool's key for the server.
QString HostOf(const QString& unc)
{
    return smb::ResolveHost(ServerOf(unc)).toLower();
}

// After *pErr on path: a server that no name service knows may still announce itself; true when
// its address was learnt now, so the request is worth another try. When nothing announces it
// either, the library's "invalid argument" becomes what it means: no such server.
bool LearnServer(const QString& path, int* pErr, const smb::CancelFn& cancel)
{
    if (*pErr != EINVAL)
        return false;
    const QString name = ServerOf(path);
    if (name.isEmpty() || smb::IsNumericAddress(name) || smb::ResolveHost(name) != name)
        return false;
    if (wsd::Learn(name, cancel))
        return true;
    if (!(cancel && cancel()))
        *pErr = smbproto::kErrUnknownHost;
    return false;
}

// A file open in a helper: the helper stays lent to the reader until it is destroyed.
class SmbReader : public FsReader
{
public:
    SmbReader(smb::HelperPool::Lease lease, std::function<bool()> cancel)
        : m_lease(std::move(lease)), m_fnCancel(std::move(cancel))
    {}
    ~SmbReader() override
    {
        Message req;
        req.op = Op::Close;
        m_lease.Call(req, {}, nullptr, m_fnCancel);
    }
    std::int64_t Read(unsigned char* buf, std::size_t n) override
    {
        Message req;
        req.op = Op::Read;
        req.n1 = n;
        Message done;
        if (m_lease.Call(req, {}, &done, m_fnCancel) != 0)
            return -1;
        const std::size_t got = std::min(n, static_cast<std::size_t>(done.s1.size()));
        std::memcpy(buf, done.s1.constData(), got);
        return static_cast<std::int64_t>(got);
    }

private:
    smb::HelperPool::Lease m_lease;
    std::function<bool()> m_fnCancel;
};

void AddEntries(const Message& m, std::vector<FsEntry>& out)
{
    for (const smbproto::Entry& e : m.entries) {
        FsEntry f;
        f.strName = QString::fromUtf8(e.name);
        f.nAttributes = e.nAttributes;
        f.nSize = e.nSize;
        f.nLastWrite = e.nTime;
        out.push_back(std::move(f));
    }
}

class SmbShareFs : public ShareFs
{
public:
    explicit SmbShareFs(int msTimeout) : m_pool(smb::HelperPool::Instance())
    {
        m_profile.msSmbTimeout = msTimeout;
    }

    int ListFolder(const QString& folder, std::vector<FsEntry>& out) override
    {
        out.clear();
        if (folder.size() > kMaxFolderPath)
            return ENAMETOOLONG;
        Message req;
        req.op = Op::ListFolder;
        return Simple(folder, req, [&out](Message& m) {
            if (m.op == Op::Entries)
                AddEntries(m, out);
        });
    }

    void ListFolders(const std::vector<QString>& folders, std::vector<int>& errors,
                     std::vector<std::vector<FsEntry>>& out) override
    {
        errors.assign(folders.size(), 0);
        out.assign(folders.size(), {});
        if (folders.empty())
            return;
        const QString host = HostOf(folders.front());
        std::vector<Message> reqs;
        for (const QString& f : folders) {
            Message req;
            req.op = Op::ListFolder;
            req.s1 = smb::UncToUrl(f);
            // One helper serves one server's folders; anything else goes one by one.
            if (HostOf(f) != host || req.s1.isEmpty() || f.size() > kMaxFolderPath)
                return ShareFs::ListFolders(folders, errors, out);
            reqs.push_back(std::move(req));
        }
        smb::HelperPool::Lease lease = m_pool->Acquire(host, m_profile, m_fnCancel);
        if (!lease.Valid()) {
            errors.assign(folders.size(), lease.Error());
            return;
        }
        lease.CallMany(
            reqs,
            [&out](std::size_t i, Message& m) {
                if (m.op == Op::Entries)
                    AddEntries(m, out[i]);
            },
            errors, m_fnCancel);
        for (std::size_t i = 0; i < errors.size(); ++i)
            if (errors[i] != 0)
                out[i].clear();
        int err = errors.front();
        if (LearnServer(folders.front(), &err, m_fnCancel))
            ShareFs::ListFolders(folders, errors, out);
        else if (err != errors.front())
            std::replace(errors.begin(), errors.end(), EINVAL, err);
    }

    int ListShares(const QString& server, std::vector<FsEntry>& out) override
    {
        const QString name = ServerOf(server);
        if (name.isEmpty() || name.contains(QLatin1Char('\\')))
            return EINVAL;
        for (int nTry = 0;; ++nTry) {
            out.clear();
            smb::HelperPool::Lease lease = m_pool->Acquire(HostOf(server), m_profile, m_fnCancel);
            if (!lease.Valid())
                return lease.Error();
            lease.LetShareListAsk();
            Message req;
            req.op = Op::ListNames;
            req.s1 = smb::HostUrl(name);
            int err = lease.Call(
                req,
                [&out](Message& m) {
                    if (m.op != Op::Names)
                        return;
                    for (const smbproto::Entry& e : m.entries) {
                        if (e.nAttributes != smbproto::kFileShare &&
                            e.nAttributes != smbproto::kPrinterShare &&
                            e.nAttributes != smbproto::kCommsShare &&
                            e.nAttributes != smbproto::kIpcShare)
                            continue;
                        FsEntry f;
                        f.strName = QString::fromUtf8(e.name);
                        f.nAttributes = e.nAttributes == smbproto::kFileShare ? kAttrDirectory : 0;
                        out.push_back(std::move(f));
                    }
                },
                nullptr, m_fnCancel);
            if (err != 0)
                out.clear();
            if (nTry > 0 || !LearnServer(server, &err, m_fnCancel))
                return err;
        }
    }

    std::unique_ptr<FsReader> OpenRead(const QString& path, int* pErr) override
    {
        int err = 0;
        std::unique_ptr<FsReader> reader;
        const QByteArray url = smb::UncToUrl(path);
        if (url.isEmpty()) {
            err = EINVAL;
        } else {
            smb::HelperPool::Lease lease = m_pool->Acquire(HostOf(path), m_profile, m_fnCancel);
            if (!lease.Valid()) {
                err = lease.Error();
            } else {
                Message req;
                req.op = Op::OpenRead;
                req.s1 = url;
                err = lease.Call(req, {}, nullptr, m_fnCancel);
                if (err == 0)
                    reader = std::make_unique<SmbReader>(std::move(lease), m_fnCancel);
            }
        }
        if (pErr)
            *pErr = err;
        return reader;
    }

    int Remove(const QString& path, bool bFolder) override
    {
        Message req;
        req.op = bFolder ? Op::Rmdir : Op::Unlink;
        return Simple(path, req);
    }

    int Stat(const QString& path, FsEntry* pOut, std::uint64_t* pId) override
    {
        Message req;
        req.op = Op::Stat;
        bool bGot = false;
        const int err = Simple(path, req, [&](Message& m) {
            if (m.op == Op::StatReply && !m.entries.empty()) {
                pOut->nAttributes = m.entries.front().nAttributes;
                pOut->nSize = m.entries.front().nSize;
                pOut->nLastWrite = m.entries.front().nTime;
                bGot = true;
            }
        });
        // The server's inode numbers are not comparable with anything local.
        if (pId)
            *pId = 0;
        return err != 0 ? err : bGot ? 0 : EIO;
    }

    int Contains(const QString& path, const content::Needles& needles, bool* pbFound,
                 std::uint64_t nListedSize = 0) override
    {
        *pbFound = false;
        Message req;
        req.op = Op::Contains;
        req.n1 = nListedSize; // the helper reads no further than this and the margin
        for (QByteArray& needle : needles.Bytes()) {
            smbproto::Entry e;
            e.name = std::move(needle);
            req.entries.push_back(std::move(e));
        }
        Message done;
        const int err = Simple(path, req, {}, &done);
        *pbFound = err == 0 && done.n1 == 1;
        return err;
    }

private:
    // One request on path's server with a helper lent for it alone.
    int Simple(const QString& path, Message& req, const std::function<void(Message&)>& onFrame = {},
               Message* pDone = nullptr)
    {
        for (int nTry = 0;; ++nTry) {
            req.s1 = smb::UncToUrl(path);
            if (req.s1.isEmpty())
                return EINVAL;
            smb::HelperPool::Lease lease = m_pool->Acquire(HostOf(path), m_profile, m_fnCancel);
            if (!lease.Valid())
                return lease.Error();
            int err = lease.Call(req, onFrame, pDone, m_fnCancel);
            if (nTry > 0 || !LearnServer(path, &err, m_fnCancel))
                return err;
        }
    }

    std::shared_ptr<smb::HelperPool> m_pool;
    smb::HelperProfile m_profile;
};

class AnyShareFs : public ShareFs
{
public:
    explicit AnyShareFs(int msTimeout) : m_msTimeout(msTimeout) {}
    int ListFolder(const QString& folder, std::vector<FsEntry>& out) override
    {
        return For(folder).ListFolder(folder, out);
    }
    void ListFolders(const std::vector<QString>& folders, std::vector<int>& errors,
                     std::vector<std::vector<FsEntry>>& out) override
    {
        if (folders.empty())
            return ShareFs::ListFolders(folders, errors, out);
        For(folders.front()).ListFolders(folders, errors, out);
    }
    int ListShares(const QString& server, std::vector<FsEntry>& out) override
    {
        return For(server).ListShares(server, out);
    }
    std::unique_ptr<FsReader> OpenRead(const QString& path, int* pErr) override
    {
        return For(path).OpenRead(path, pErr);
    }
    int Remove(const QString& path, bool bFolder) override
    {
        return For(path).Remove(path, bFolder);
    }
    int Stat(const QString& path, FsEntry* pOut, std::uint64_t* pId) override
    {
        return For(path).Stat(path, pOut, pId);
    }
    int Contains(const QString& path, const content::Needles& needles, bool* pbFound,
                 std::uint64_t nListedSize = 0) override
    {
        return For(path).Contains(path, needles, pbFound, nListedSize);
    }

private:
    ShareFs& For(const QString& path)
    {
        const bool bSmb =
            path.startsWith(QLatin1String("\\\\")) || path.startsWith(QLatin1String("//"));
        std::unique_ptr<ShareFs>& fs = bSmb ? m_smb : m_local;
        if (!fs) {
            fs = bSmb ? MakeSmbShareFs(m_msTimeout) : MakeLocalShareFs();
            fs->SetCancel([this] { return Cancelled(); });
        }
        return *fs;
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
