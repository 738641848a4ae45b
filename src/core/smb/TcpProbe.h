#pragma once

#include "app/CancelToken.h"

#include <QString>

#include <functional>

namespace smb {

// Result of a TCP probe.
enum class ProbeResult
{
    Open,
    Refused,
    TimedOut,
    Silent, // connected, but no answer to an SMB hello within msAnswer
    Error
};

// Non-blocking connect to host:port, bounded by msTimeout. host must be a numeric address (a
// name is not resolved: that could wait for DNS without bound). cancel ends the wait early (as
// TimedOut).
//
// With msAnswer > 0 the probe also says hello once connected: an SMB negotiate request that
// offers SMB1 and SMB2 (every SMB server answers one), and waits up to msAnswer for any reply
// byte or for the server to close. A host that accepts connections and never answers then costs
// the probe, not a helper process and the SMB library's timeout.
ProbeResult ProbeTcp(const QString& host, int nPort, int msTimeout, const CancelToken& cancel = {},
                     int msAnswer = 0);

// A dotted IPv4 or an IPv6 address.
bool IsNumericAddress(const QString& host);

} // namespace smb
