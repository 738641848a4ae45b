#pragma once

#include <QString>

#include <atomic>
#include <vector>

// DNS-SD over multicast DNS: the computers that announce an SMB service (_smb._tcp), as NAS
// boxes, Macs and Linux hosts running Avahi do. The machine's avahi-daemon does the network
// work; an SMB helper process is its client (over the D-Bus system bus), so a daemon that hangs
// costs that helper at the deadline, never the caller.
//
// One browse: every _smb._tcp service on the interfaces allowed (BC_WSD_INTERFACES=lo,eth1
// limits it, as it limits WS-Discovery), each resolved to its host name and IPv4 address. It
// ends when the daemon has said "all for now" and every resolve has answered, or at msTotal.
// mDNS carries no workgroup: the caller finds it elsewhere.
//
// Any thread; returns within msTotal and a little, or soon after abort is set.
namespace mdns {

struct Host
{
    QString strName;    // the host's name without ".local", upper case
    QString strAddress; // IPv4
};

struct Result
{
    std::vector<Host> hosts;
    bool bAnswered = false; // false: no avahi-daemon, or it did not answer (strNote says so)
    QString strNote;        // for the log, when the source was skipped
};

Result Browse(int msTotal, const std::atomic<bool>& abort);

// "echo.local" -> "ECHO"; "nas-1.lan.local" -> "NAS-1". Empty for an empty name.
QString HostLabel(const QString& hostName);

} // namespace mdns
