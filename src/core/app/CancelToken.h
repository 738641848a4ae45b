#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

// One cancel for one piece of work (a search, a share list, a file read), handed to every call
// that may wait on the network. Copies share one state.
//
// A token made by Make() is cancelled by Cancel(), from any thread, once for good; its Fd()
// becomes readable at that moment, so a wait polls it beside its socket and wakes at once
// instead of looking at a flag every few milliseconds. A token made from a function (a caller
// that only has a flag of its own) is cancelled when the function says so; it has no Fd(), and
// waits look at it every kMsPoll. A default token is never cancelled.
class CancelToken
{
    struct Shared;

public:
    static constexpr int kMsPoll = 50;

    CancelToken() = default;
    CancelToken(std::function<bool()> fnCancelled); // NOLINT: a flag's question is a token
    static CancelToken Make();

    void Cancel() const;
    bool Cancelled() const;
    // Readable once cancelled; -1 when the token cannot tell (see above).
    int Fd() const;
    // The longest a wait may block before it looks at Cancelled() again: msWant where Fd()
    // wakes it, else no more than kMsPoll.
    int Slice(int msWant) const;
    // Sleeps until cancelled or for d; true when cancelled.
    bool SleepFor(std::chrono::milliseconds d) const;
    // Waits up to msTimeout for events on fd, or until cancelled: fd's revents when it is ready
    // first, 0 when the time passed or the token was cancelled, -1 on a poll error.
    int Poll(int fd, short events, int msTimeout) const;

    // For a wait on a condition variable, which cannot watch Fd(): while the returned object
    // lives, fn runs once on the thread that cancels, right after the token became cancelled.
    // It runs under the token's own lock, so the object's end waits for a call in progress:
    // end it with no lock held that fn takes. fn must not cancel a token. Nothing runs for a
    // token cancelled before, nor for one that cannot tell (it has no Fd(); wait Slice()).
    class Wakeup
    {
    public:
        Wakeup() = default;
        Wakeup(Wakeup&& other) noexcept;
        Wakeup& operator=(Wakeup&& other) noexcept;
        Wakeup(const Wakeup&) = delete;
        Wakeup& operator=(const Wakeup&) = delete;
        ~Wakeup();

    private:
        friend class CancelToken;
        std::shared_ptr<Shared> m_shared;
        std::uint64_t m_nId = 0;
    };
    [[nodiscard]] Wakeup OnCancel(std::function<void()> fn) const;

private:
    std::shared_ptr<Shared> m_shared;
    std::function<bool()> m_fnCancelled;
};
