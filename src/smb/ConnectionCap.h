#pragma once

#include <libsmbclient.h>

#include <cstddef>

// Keeps the SMB library's cache of connections (one per server and share) at most a number of
// entries: when a new connection joins the cache, the least recently used ones that have no open
// file are closed until the cache fits. Without it a helper that serves many hosts keeps every
// connection it ever made.
//
// The helper's one thread owns it; it wraps the context's cache functions, so there is one per
// process (the helper has one context).
namespace connection_cap {

// Installs the wrappers on ctx, which must be initialised already.
void Install(SMBCCTX* ctx, std::size_t nMax);

} // namespace connection_cap
