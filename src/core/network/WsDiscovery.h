#pragma once

#include "app/CancelToken.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <vector>

// WS-Discovery: the computers that announce themselves the way current Windows and wsdd do,
// with their workgroup or domain. It is how a network without SMB1 (and so without NetBIOS
// browse lists) is seen.
//
// One cycle: a Probe for devices sent to 239.255.255.250:3702 on every interface that can
// multicast (hop limit 1); a Resolve for each device whose answer has no address; a metadata
// Get (HTTP) to each device's address, whose answer names the computer and its workgroup.
// Every UDP message comes several times: answers are told apart by their MessageID.
//
// Runs on the calling thread (any thread), with an event loop of its own; returns within
// msTotal, or soon after abort is set.
namespace wsd {

struct Host
{
    QString strName;      // the computer's name, upper case
    QString strWorkgroup; // its workgroup or domain
    bool bDomain = false; // strWorkgroup is a domain
    QString strAddress;   // IPv4 address of its metadata service
};

struct Result
{
    std::vector<Host> hosts;
    int nInterfaces = 0; // interfaces the probe went out on; 0: no network to ask
};

Result Discover(int msTotal, const std::atomic<bool>& abort);
Result Discover(int msTotal, const CancelToken& cancel);

// For a server no name service knows (a name in a saved tree, typed, or given to the CLI): one
// cycle, at most once a minute per name, remembers the addresses of every computer found
// (smb::RememberHostAddress). True when name is among them. Any thread; one cycle at a time.
bool Learn(const QString& name, const CancelToken& cancel);

// The parts of the protocol, for tests.
QByteArray ProbeMessage(const QString& messageId);
QByteArray ResolveMessage(const QString& messageId, const QString& endpoint);
QByteArray GetMessage(const QString& messageId, const QString& endpoint, const QString& from);
struct Parsed
{
    QString strAction; // the last part of the Action URI: ProbeMatches, ResolveMatches, ...
    QString strMessageId;
    QString strEndpoint; // EndpointReference/Address
    QStringList xaddrs;  // XAddrs, split at spaces
    QString strComputer; // pub:Computer ("NAME/Workgroup:WG" or "NAME/Domain:DOM")
};
Parsed Parse(const QByteArray& xml);
// "NAME/Workgroup:WG" -> host fields; false when the text is not of that form.
bool ParseComputer(const QString& text, Host* pHost);

} // namespace wsd
