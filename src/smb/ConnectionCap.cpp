#include "ConnectionCap.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace connection_cap {
namespace {

struct Entry
{
    SMBCSRV* pSrv;
    std::uint64_t nLastUse;
};

struct State
{
    std::size_t nMax = 0;
    std::uint64_t nClock = 0;
    std::vector<Entry> entries;
    smbc_get_cached_srv_fn fnGet = nullptr;
    smbc_add_cached_srv_fn fnAdd = nullptr;
    smbc_remove_cached_srv_fn fnRemove = nullptr;
};

State& S()
{
    static State s;
    return s;
}

void Touch(SMBCSRV* srv)
{
    State& s = S();
    for (Entry& e : s.entries)
        if (e.pSrv == srv) {
            e.nLastUse = ++s.nClock;
            return;
        }
    s.entries.push_back({srv, ++s.nClock});
}

SMBCSRV* GetCached(SMBCCTX* c, const char* server, const char* share, const char* workgroup,
                   const char* username)
{
    SMBCSRV* srv = S().fnGet(c, server, share, workgroup, username);
    if (srv)
        Touch(srv);
    return srv;
}

int RemoveCached(SMBCCTX* c, SMBCSRV* srv)
{
    State& s = S();
    std::erase_if(s.entries, [srv](const Entry& e) { return e.pSrv == srv; });
    return s.fnRemove(c, srv);
}

int AddCached(SMBCCTX* c, SMBCSRV* srv, const char* server, const char* share,
              const char* workgroup, const char* username)
{
    State& s = S();
    const int rc = s.fnAdd(c, srv, server, share, workgroup, username);
    if (rc != 0)
        return rc;
    Touch(srv);
    // Oldest first; a connection with an open file refuses and stays. Removing calls
    // RemoveCached, which changes the list: work on a copy of the candidates.
    std::vector<Entry> byAge = s.entries;
    std::sort(byAge.begin(), byAge.end(),
              [](const Entry& a, const Entry& b) { return a.nLastUse < b.nLastUse; });
    for (const Entry& e : byAge) {
        if (s.entries.size() <= s.nMax)
            break;
        if (e.pSrv == srv)
            continue;
        smbc_getFunctionRemoveUnusedServer(c)(c, e.pSrv);
    }
    return 0;
}

} // namespace

void Install(SMBCCTX* ctx, std::size_t nMax)
{
    State& s = S();
    s.nMax = std::max<std::size_t>(nMax, 1);
    s.fnGet = smbc_getFunctionGetCachedServer(ctx);
    s.fnAdd = smbc_getFunctionAddCachedServer(ctx);
    s.fnRemove = smbc_getFunctionRemoveCachedServer(ctx);
    smbc_setFunctionGetCachedServer(ctx, GetCached);
    smbc_setFunctionAddCachedServer(ctx, AddCached);
    smbc_setFunctionRemoveCachedServer(ctx, RemoveCached);
}

} // namespace connection_cap
