#pragma once

#include <QString>

#include <functional>

namespace smb {

// Result of a TCP probe.
enum class ProbeResult
{
    Open,
    Refused,
    TimedOut,
    Error
};

// Non-blocking connect to host:port, bounded by msTimeout. host must be a numeric address (a
// name is not resolved: that could wait for DNS without bound). cancel, looked at every 50 ms,
// ends the wait early (as TimedOut).
ProbeResult ProbeTcp(const QString& host, int nPort, int msTimeout,
                     const std::function<bool()>& cancel = {});

// A dotted IPv4 or an IPv6 address.
bool IsNumericAddress(const QString& host);

} // namespace smb
