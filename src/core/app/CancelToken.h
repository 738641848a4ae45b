#pragma once

#include <chrono>
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

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    std::function<bool()> m_fnCancelled;
};
