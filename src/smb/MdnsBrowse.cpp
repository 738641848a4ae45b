// The helper's mDNS browse: the machine's avahi-daemon is asked (over D-Bus) for every SMB
// service (_smb._tcp) and each is resolved to its host name and IPv4 address. libavahi-client
// waits up to 25 s on a daemon that hangs, whatever we ask: here, in a helper the parent ends at
// its deadline, that costs nothing but the helper.
#include "SmbServer.h"

#include <QList>

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/simple-watch.h>

#include <net/if.h>

#include <algorithm>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

const char kServiceType[] = "_smb._tcp";
constexpr std::size_t kMaxHosts = 4096; // a hostile network cannot make this grow without end

// What one browse collects; the callbacks run inside avahi_simple_poll_iterate on this thread.
struct Session
{
    std::vector<smbproto::NameEntry> hosts; // name: the host name, comment: its IPv4 address
    int nBrowsers = 0;                      // browsers started
    int nAllForNow = 0; // of those, the ones that have listed what the daemon knows
    int nResolving = 0; // resolvers not yet answered
    bool bFailed = false;

    void Add(const char* hostName, const AvahiAddress* a)
    {
        if (!a || a->proto != AVAHI_PROTO_INET)
            return;
        char text[AVAHI_ADDRESS_STR_MAX];
        avahi_address_snprint(text, sizeof text, a);
        smbproto::NameEntry e;
        e.name = QByteArray(hostName ? hostName : "");
        e.comment = QByteArray(text);
        if (e.name.isEmpty() || hosts.size() >= kMaxHosts)
            return;
        // The same host comes once per interface and once per service name it announces.
        for (const smbproto::NameEntry& known : hosts)
            if (known.name == e.name)
                return;
        hosts.push_back(e);
    }
};

void OnClient(AvahiClient*, AvahiClientState state, void* userdata)
{
    if (state == AVAHI_CLIENT_FAILURE)
        static_cast<Session*>(userdata)->bFailed = true;
}

void OnResolved(AvahiServiceResolver* r, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
                const char*, const char*, const char*, const char* hostName, const AvahiAddress* a,
                uint16_t, AvahiStringList*, AvahiLookupResultFlags, void* userdata)
{
    auto* b = static_cast<Session*>(userdata);
    if (event == AVAHI_RESOLVER_FOUND)
        b->Add(hostName, a);
    --b->nResolving;
    avahi_service_resolver_free(r);
}

void OnBrowsed(AvahiServiceBrowser* sb, AvahiIfIndex iface, AvahiProtocol protocol,
               AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
               AvahiLookupResultFlags, void* userdata)
{
    auto* b = static_cast<Session*>(userdata);
    switch (event) {
    case AVAHI_BROWSER_NEW:
        // Resolved on the interface it was seen on, to an IPv4 address (the SMB side speaks
        // IPv4 to announced hosts, as it does to WS-Discovery's).
        if (avahi_service_resolver_new(avahi_service_browser_get_client(sb), iface, protocol, name,
                                       type, domain, AVAHI_PROTO_INET, AvahiLookupFlags(0),
                                       OnResolved, b))
            ++b->nResolving;
        break;
    case AVAHI_BROWSER_ALL_FOR_NOW:
    case AVAHI_BROWSER_FAILURE:
        ++b->nAllForNow;
        break;
    case AVAHI_BROWSER_REMOVE:
    case AVAHI_BROWSER_CACHE_EXHAUSTED:
        break;
    }
}

// The interfaces to browse on: all (one browser on AVAHI_IF_UNSPEC), or those of the list
// ("lo,eth1") that exist; bLimited with an empty list: none.
std::vector<AvahiIfIndex> Interfaces(bool bLimited, const QByteArray& list)
{
    if (!bLimited)
        return {AVAHI_IF_UNSPEC};
    std::vector<AvahiIfIndex> v;
    for (const QByteArray& name : list.split(',')) {
        const unsigned index = name.isEmpty() ? 0 : ::if_nametoindex(name.constData());
        if (index != 0)
            v.push_back(static_cast<AvahiIfIndex>(index));
    }
    return v;
}

} // namespace

SmbServer::Outcome SmbServer::BrowseMdns(const smbproto::BrowseMdns& req)
{
    Session b;
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(std::min<std::uint64_t>(req.msTotal, 60000));
    AvahiSimplePoll* poll = avahi_simple_poll_new();
    if (!poll)
        return {ENOMEM};
    int nError = 0;
    // No AVAHI_CLIENT_NO_FAIL: without a daemon this fails at once instead of waiting for one.
    AvahiClient* client =
        avahi_client_new(avahi_simple_poll_get(poll), AvahiClientFlags(0), OnClient, &b, &nError);
    if (!client) {
        avahi_simple_poll_free(poll);
        return {smbproto::kErrNoMdns, 0, QByteArray(avahi_strerror(nError))};
    }
    for (const AvahiIfIndex iface : Interfaces(!req.interfaces.isEmpty(), req.interfaces))
        if (avahi_service_browser_new(client, iface, AVAHI_PROTO_INET, kServiceType, nullptr,
                                      AvahiLookupFlags(0), OnBrowsed, &b))
            ++b.nBrowsers;
    // The parent ends this helper when it no longer wants the answer; a daemon that stops
    // answering after the start costs msTotal.
    while (!b.bFailed && b.nBrowsers > 0 && (b.nAllForNow < b.nBrowsers || b.nResolving > 0)) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        if (avahi_simple_poll_iterate(poll, static_cast<int>(std::min<long long>(left, 50))) != 0)
            break;
    }
    QByteArray error;
    if (b.bFailed && b.hosts.empty())
        error = avahi_strerror(avahi_client_errno(client));
    // Frees the browsers and any resolver still waiting with it.
    avahi_client_free(client);
    avahi_simple_poll_free(poll);
    if (!error.isEmpty())
        return {smbproto::kErrNoMdns, 0, error};
    smbproto::Names chunk;
    for (smbproto::NameEntry& e : b.hosts)
        if (!AddEntry(chunk, chunk.names, std::move(e)))
            break;
    if (!chunk.names.empty())
        Send(chunk);
    return {};
}
