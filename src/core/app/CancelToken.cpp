#include "CancelToken.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

struct CancelToken::Shared
{
    std::atomic<bool> bCancelled{false};
    int fd = -1;
    std::mutex mutex; // guards the wake-ups
    std::vector<std::pair<std::uint64_t, std::function<void()>>> wakeups;
    std::uint64_t nNextId = 1;
    Shared() : fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~Shared()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;
};

CancelToken::CancelToken(std::function<bool()> fnCancelled) : m_fnCancelled(std::move(fnCancelled))
{}

CancelToken CancelToken::Make()
{
    CancelToken t;
    t.m_shared = std::make_shared<Shared>();
    return t;
}

void CancelToken::Cancel() const
{
    if (!m_shared || m_shared->bCancelled.exchange(true))
        return;
    if (m_shared->fd >= 0) {
        const std::uint64_t one = 1;
        while (::write(m_shared->fd, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }
    std::lock_guard lock(m_shared->mutex);
    for (const auto& [nId, fn] : m_shared->wakeups)
        fn();
}

CancelToken::Wakeup CancelToken::OnCancel(std::function<void()> fn) const
{
    Wakeup w;
    if (!m_shared || m_fnCancelled)
        return w;
    std::lock_guard lock(m_shared->mutex);
    w.m_shared = m_shared;
    w.m_nId = m_shared->nNextId++;
    m_shared->wakeups.emplace_back(w.m_nId, std::move(fn));
    return w;
}

CancelToken::Wakeup::Wakeup(Wakeup&& other) noexcept
    : m_shared(std::move(other.m_shared)), m_nId(std::exchange(other.m_nId, 0))
{}

CancelToken::Wakeup& CancelToken::Wakeup::operator=(Wakeup&& other) noexcept
{
    if (this != &other) {
        Wakeup gone(std::move(*this));
        m_shared = std::move(other.m_shared);
        m_nId = std::exchange(other.m_nId, 0);
    }
    return *this;
}

CancelToken::Wakeup::~Wakeup()
{
    if (!m_shared)
        return;
    std::lock_guard lock(m_shared->mutex);
    std::erase_if(m_shared->wakeups, [this](const auto& w) { return w.first == m_nId; });
}

bool CancelToken::Cancelled() const
{
    if (m_shared && m_shared->bCancelled.load(std::memory_order_acquire))
        return true;
    return m_fnCancelled && m_fnCancelled();
}

int CancelToken::Fd() const
{
    return m_shared && !m_fnCancelled ? m_shared->fd : -1;
}

int CancelToken::Slice(int msWant) const
{
    if (!m_fnCancelled && (!m_shared || m_shared->fd >= 0))
        return msWant; // the descriptor wakes the wait (or nothing ever cancels)
    return std::min(msWant, kMsPoll);
}

bool CancelToken::SleepFor(std::chrono::milliseconds d) const
{
    const auto end = std::chrono::steady_clock::now() + d;
    for (;;) {
        if (Cancelled())
            return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd pfd{Fd(), POLLIN, 0};
        ::poll(&pfd, pfd.fd >= 0 ? 1 : 0, Slice(static_cast<int>(left.count())));
    }
}

int CancelToken::Poll(int fd, short events, int msTimeout) const
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(msTimeout);
    for (;;) {
        if (Cancelled())
            return 0;
        const int msLeft = static_cast<int>(
            std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                       end - std::chrono::steady_clock::now())
                                       .count()));
        pollfd fds[2] = {{fd, events, 0}, {Fd(), POLLIN, 0}};
        const int rc = ::poll(fds, fds[1].fd >= 0 ? 2 : 1, Slice(msLeft));
        if (rc < 0 && errno != EINTR)
            return -1;
        if (rc > 0 && fds[0].revents != 0)
            return fds[0].revents;
        if (msLeft == 0)
            return 0;
    }
}
