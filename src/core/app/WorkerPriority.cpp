#include "WorkerPriority.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {
void Lower(id_t who)
{
    errno = 0;
    const int nNow = ::getpriority(PRIO_PROCESS, who);
    if (nNow == -1 && errno != 0)
        return;
    (void)::setpriority(PRIO_PROCESS, who, std::min(19, nNow + kBackgroundNiceSteps));
}
} // namespace

void LowerThreadPriority()
{
    Lower(static_cast<id_t>(::gettid()));
}

void LowerProcessPriority()
{
    Lower(0);
}
