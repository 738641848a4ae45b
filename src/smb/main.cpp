// brindlecove-smb: the program's only user of the SMB client library. Started by the program
// with a socket as descriptor 3; answers framed requests on it, one at a time, on one thread.
#include "SmbServer.h"

#include "app/WorkerPriority.h"

#include <signal.h>
#include <sys/prctl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char* argv[])
{
    SmbServer::Options options;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const bool bHasValue = i + 1 < argc;
        if (std::strcmp(a, "--nt1") == 0) {
            options.bNt1Only = true;
        } else if (std::strcmp(a, "--fd") == 0 && bHasValue) {
            options.fd = std::atoi(argv[++i]);
        } else if (std::strcmp(a, "--timeout") == 0 && bHasValue) {
            options.msTimeout = std::atoi(argv[++i]);
        } else if (std::strcmp(a, "--connections") == 0 && bHasValue) {
            options.nMaxConnections = std::atoi(argv[++i]);
        } else if (std::strcmp(a, "--max-entries") == 0 && bHasValue) {
            options.nMaxEntries = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(a, "--port") == 0 && bHasValue) {
            options.nPort = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr,
                         "usage: brindlecove-smb [--fd N] [--nt1] [--timeout MS] [--port N] "
                         "[--connections N] [--max-entries N]\n"
                         "Serves the SMB requests of Brindlecove; started by the program.\n");
            return 2;
        }
    }
    // The helper holds passwords: no core dump of it, and no other process of the same user
    // may read its memory (/proc/PID/mem, ptrace).
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    // A parent that went away shows as a failed write, not as a signal.
    ::signal(SIGPIPE, SIG_IGN);
    // Background work: the program's window gets a CPU first.
    LowerProcessPriority();
    SmbServer server(options);
    return server.Run();
}
