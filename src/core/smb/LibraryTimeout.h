#pragma once

namespace smb {

// The SMB library's own timeout per call, in the helpers, for share lists and share walks
// alike: a helper that listed a server's shares is of the kind that walks them next (helpers
// are started per timeout, so two values would mean a new process for every walk).
inline constexpr int kMsLibraryCall = 15000;

} // namespace smb
