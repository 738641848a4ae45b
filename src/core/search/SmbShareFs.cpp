#include "ShareFs.h"

#include "ContentMatcher.h"
#include "SmbHostSession.h"
#include "network/WsDiscovery.h"
#include "smb/TcpProbe.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// After *pErr on a server's path: a server that no name service knows may still announce
// itself; true when its address was learnt now, so the request is worth another try. When
// nothing announces it either, the library's "invalid argument" becomes what it means: no
// such server.
bool LearnServer(const smb::SmbPath& path, int* pErr, const CancelToken& cancel)
{
    if (*pErr != EINVAL)
        return false;
    const QString& name = path.server;
    if (name.isEmpty() || smb::IsNumericAddress(name) || smb::ResolveHost(name) != name)
        return false;
    if (wsd::Learn(name, cancel))
        return true;
    if (!cancel.Cancelled())
        *pErr = smbproto::kErrUnknownHost;
    return false;
}

// A file open in a helper: the helper stays lent to the reader until it is destroyed.
class SmbReader : public FsReader
{
public:
    SmbReader(smb::HelperPool::Lease lease, CancelToken cancel)
        : m_lease(std::move(lease)), m_cancel(std::move(cancel))
    {}
    ~SmbReader() override { m_lease.Call(smbproto::Close{}, {}, m_cancel); }
    std::int64_t Read(unsigned char* buf, std::size_t n) override
    {
        const smb::Reply r = m_lease.Call(smbproto::Read{n}, {}, m_cancel);
        if (r.nError != 0)
            return -1;
        const std::size_t got = std::min(n, static_cast<std::size_t>(r.data.size()));
        std::memcpy(buf, r.data.constData(), got);
        return static_cast<std::int64_t>(got);
    }

private:
    smb::HelperPool::Lease m_lease;
    CancelToken m_cancel;
};

// SMB through the helpers. One server at a time: its helpers stay with this object while it
// works there (SmbHostSession) and go back when it moves to another server, opens a file or
// ends.
class SmbShareFs : public ShareFs
{
public:
    explicit SmbShareFs(int msTimeout) : m_pool(smb::HelperPool::Instance())
    {
        m_profile.msSmbTimeout = msTimeout;
    }

    void Announce(const std::vector<QString>& folders) override
    {
        if (!m_session)
            return;
        std::vector<std::pair<QString, smb::SmbPath>> parsed;
        parsed.reserve(folders.size());
        for (const QString& f : folders)
            if (f.size() <= kMaxFolderPath)
                if (std::optional<smb::SmbPath> p = smb::SmbPath::Parse(f);
                    p && !p->share.isEmpty())
                    parsed.emplace_back(f, std::move(*p));
        m_session->Announce(parsed);
    }

    int ListFolder(const QString& folder, std::vector<FsEntry>& out) override
    {
        out.clear();
        if (folder.size() > kMaxFolderPath)
            return ENAMETOOLONG;
        for (int nTry = 0;; ++nTry) {
            std::optional<smb::SmbPath> path = smb::SmbPath::Parse(folder);
            if (!path)
                return EINVAL;
            int err = path->share.isEmpty() ? EINVAL : SessionFor(*path).List(folder, *path, out);
            if (nTry > 0 || !LearnServer(*path, &err, m_cancel))
                return err;
        }
    }

    int ListShares(const QString& server, std::vector<FsEntry>& out) override
    {
        std::optional<smb::SmbPath> path = smb::SmbPath::Parse(server);
        if (!path || !path->share.isEmpty())
            return EINVAL;
        for (int nTry = 0;; ++nTry) {
            out.clear();
            const smb::SmbPath at = smb::SmbPath::OfServer(path->server);
            int err = SessionFor(at)
                          .Call(
                              smbproto::ListNames{at.Target()},
                              [&out](smbproto::FromHelper& m) {
                                  if (const auto* names = std::get_if<smbproto::Names>(&m))
                                      AddShares(*names, out);
                              },
                              true)
                          .nError;
            if (err != 0)
                out.clear();
            if (nTry > 0 || !LearnServer(at, &err, m_cancel))
                return err;
        }
    }

    std::unique_ptr<FsReader> OpenRead(const QString& path, int* pErr) override
    {
        int err = 0;
        std::unique_ptr<FsReader> reader;
        const std::optional<smb::SmbPath> at = smb::SmbPath::Parse(path);
        if (!at || at->share.isEmpty()) {
            err = EINVAL;
        } else {
            // The reader keeps a helper of its own: this object holds none while it waits.
            DropSession();
            smb::HelperPool::Lease lease = m_pool->Acquire(at->Key(), m_profile, m_cancel);
            if (!lease.Valid()) {
                err = lease.Error();
            } else {
                err = lease.Call(smbproto::OpenRead{at->Target()}, {}, m_cancel).nError;
                if (err == 0)
                    reader = std::make_unique<SmbReader>(std::move(lease), m_cancel);
            }
        }
        if (pErr)
            *pErr = err;
        return reader;
    }

    int Remove(const QString& path, bool bFolder) override
    {
        return OnShare(path,
                       [&](const smbproto::Target& at) {
                           return smbproto::ToHelper(
                               smbproto::Remove{at, static_cast<std::uint8_t>(bFolder ? 1 : 0)});
                       })
            .nError;
    }

    int Stat(const QString& path, FsEntry* pOut, std::uint64_t* pId) override
    {
        bool bGot = false;
        const smb::Reply r = OnShare(
            path, [](const smbproto::Target& at) { return smbproto::ToHelper(smbproto::Stat{at}); },
            [&](smbproto::FromHelper& m) {
                if (const auto* st = std::get_if<smbproto::StatReply>(&m)) {
                    pOut->nAttributes = st->entry.nAttributes;
                    pOut->nSize = st->entry.nSize;
                    pOut->nLastWrite = st->entry.nTime;
                    bGot = true;
                }
            });
        // The server's inode numbers are not comparable with anything local.
        if (pId)
            *pId = 0;
        return r.nError != 0 ? r.nError : bGot ? 0 : EIO;
    }

    int Contains(const QString& path, const content::Needles& needles, bool* pbFound,
                 std::uint64_t nListedSize = 0) override
    {
        const smb::Reply r = OnShare(path, [&](const smbproto::Target& at) {
            // The helper reads no further than the listed size and the margin.
            return smbproto::ToHelper(smbproto::Contains{at, needles.Bytes(), nListedSize});
        });
        *pbFound = r.nError == 0 && r.nResult == 1;
        return r.nError;
    }

    void ContainsEach(std::vector<ContentTest>& tests, const content::Needles& needles) override
    {
        // Those of the first one's server at once; anything else (a path that does not parse,
        // another server, a server learnt only now) one by one.
        std::vector<std::size_t> together;
        std::vector<smbproto::ToHelper> requests;
        std::optional<smb::SmbPath> first;
        for (std::size_t i = 0; i < tests.size(); ++i) {
            std::optional<smb::SmbPath> at = smb::SmbPath::Parse(tests[i].strPath);
            if (!at || at->share.isEmpty() || (first && at->Key() != first->Key()))
                continue;
            if (!first)
                first = at;
            together.push_back(i);
            requests.push_back(
                smbproto::Contains{at->Target(), needles.Bytes(), tests[i].nListedSize});
        }
        std::vector<bool> done(tests.size(), false);
        if (first) {
            const std::vector<smb::Reply> replies = SessionFor(*first).CallEach(requests);
            for (std::size_t k = 0; k < together.size(); ++k) {
                ContentTest& t = tests[together[k]];
                t.nError = replies[k].nError;
                t.bFound = t.nError == 0 && replies[k].nResult == 1;
                done[together[k]] = t.nError != EINVAL;
            }
        }
        for (std::size_t i = 0; i < tests.size(); ++i)
            if (!done[i]) {
                ContentTest& t = tests[i];
                t.bFound = false;
                t.nError = Cancelled() ? ECANCELED
                                       : Contains(t.strPath, needles, &t.bFound, t.nListedSize);
            }
    }

private:
    static void AddShares(const smbproto::Names& names, std::vector<FsEntry>& out)
    {
        for (const smbproto::NameEntry& e : names.names) {
            if (e.nType != smbproto::kFileShare && e.nType != smbproto::kPrinterShare &&
                e.nType != smbproto::kCommsShare && e.nType != smbproto::kIpcShare)
                continue;
            FsEntry f;
            f.strName = QString::fromUtf8(e.name);
            f.nAttributes = e.nType == smbproto::kFileShare ? kAttrDirectory : 0;
            out.push_back(std::move(f));
        }
    }

    SmbHostSession& SessionFor(const smb::SmbPath& path)
    {
        if (!m_session || m_session->Host() != path.Key()) {
            DropSession();
            m_session = std::make_unique<SmbHostSession>(m_pool, m_profile, path.Key(), m_cancel);
        }
        return *m_session;
    }
    void DropSession()
    {
        if (m_session)
            m_session->Drain();
        m_session.reset();
    }

    // One request on a path inside a share, on the session of its server.
    template <class MakeRequest>
    smb::Reply OnShare(const QString& path, MakeRequest make,
                       const smb::HelperConnection::Sink& sink = {})
    {
        for (int nTry = 0;; ++nTry) {
            const std::optional<smb::SmbPath> at = smb::SmbPath::Parse(path);
            if (!at || at->share.isEmpty())
                return smb::Reply{EINVAL, false, 0, {}};
            smb::Reply r = SessionFor(*at).Call(make(at->Target()), sink);
            if (nTry > 0 || !LearnServer(*at, &r.nError, m_cancel))
                return r;
        }
    }

    std::shared_ptr<smb::HelperPool> m_pool;
    smb::HelperProfile m_profile;
    std::unique_ptr<SmbHostSession> m_session;
};

class AnyShareFs : public ShareFs
{
public:
    explicit AnyShareFs(int msTimeout) : m_msTimeout(msTimeout) {}
    int ListFolder(const QString& folder, std::vector<FsEntry>& out) override
    {
        return For(folder).ListFolder(folder, out);
    }
    void Announce(const std::vector<QString>& folders) override
    {
        if (!folders.empty())
            For(folders.front()).Announce(folders);
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

    void ContainsEach(std::vector<ContentTest>& tests, const content::Needles& needles) override
    {
        if (!tests.empty())
            For(tests.front().strPath).ContainsEach(tests, needles);
    }

    void SetCancel(CancelToken cancel) override
    {
        for (auto* fs : {m_smb.get(), m_local.get()})
            if (fs)
                fs->SetCancel(cancel);
        ShareFs::SetCancel(std::move(cancel));
    }

private:
    ShareFs& For(const QString& path)
    {
        const bool bSmb =
            path.startsWith(QLatin1String("\\\\")) || path.startsWith(QLatin1String("//"));
        std::unique_ptr<ShareFs>& fs = bSmb ? m_smb : m_local;
        if (!fs) {
            fs = bSmb ? MakeSmbShareFs(m_msTimeout) : MakeLocalShareFs();
            fs->SetCancel(m_cancel);
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
