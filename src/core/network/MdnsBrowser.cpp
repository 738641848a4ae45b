#include "MdnsBrowser.h"

#include "smb/HelperPool.h"

#include <algorithm>

namespace mdns {

QString HostLabel(const QString& hostName)
{
    return hostName.section(QLatin1Char('.'), 0, 0).trimmed().toUpper();
}

Result Browse(int msTotal, const std::atomic<bool>& abort)
{
    Result result;
    const CancelToken cancel([&abort] { return abort.load(); });
    // The helper's SMB side is never used: no port, no probe.
    smb::HelperProfile profile;
    smb::HelperPool::Lease lease =
        smb::HelperPool::Instance()->Acquire(QStringLiteral("(mdns)"), profile, cancel);
    if (!lease.Valid()) {
        result.strNote = QStringLiteral("mDNS was not asked (%1)").arg(ErrorText(lease.Error()));
        return result;
    }
    smbproto::BrowseMdns req;
    req.msTotal = static_cast<std::uint64_t>(std::max(0, msTotal));
    if (qEnvironmentVariableIsSet("BC_WSD_INTERFACES"))
        req.interfaces = qgetenv("BC_WSD_INTERFACES");
    const smb::Reply reply = lease.Call(
        req,
        [&](smbproto::FromHelper& m) {
            const auto* names = std::get_if<smbproto::Names>(&m);
            if (!names)
                return;
            for (const smbproto::NameEntry& e : names->names) {
                Host h{HostLabel(QString::fromUtf8(e.name)), QString::fromLatin1(e.comment)};
                const bool bKnown =
                    std::any_of(result.hosts.begin(), result.hosts.end(),
                                [&](const Host& k) { return k.strName == h.strName; });
                if (!h.strName.isEmpty() && !bKnown)
                    result.hosts.push_back(h);
            }
        },
        cancel, std::max(0, msTotal) + 2000);
    const int err = reply.nError;
    if (err == smbproto::kErrNoMdns)
        result.strNote = QStringLiteral("mDNS is not available on this machine (%1): skipped")
                             .arg(QString::fromUtf8(reply.data));
    else if (err != 0 && err != smbproto::kErrCancelled)
        result.strNote = QStringLiteral("mDNS did not answer (%1): skipped").arg(ErrorText(err));
    result.bAnswered = err == 0;
    if (err != 0)
        result.hosts.clear();
    std::sort(result.hosts.begin(), result.hosts.end(),
              [](const Host& x, const Host& y) { return x.strName < y.strName; });
    return result;
}

} // namespace mdns
