#pragma once

#include <QtGlobal>

#include <chrono>
#include <functional>
#include <optional>

namespace smb {

// The machine's CPU time so far, in clock ticks: all of it, the idle part (idle and waiting
// for a disk) and the number of cores it is counted over.
struct CpuTicks
{
    quint64 nTotal = 0;
    quint64 nIdle = 0;
    int nCores = 1;
};
// From /proc/stat; none where it cannot be read.
std::optional<CpuTicks> ReadCpuTicks();

// Helpers the pool may run at once, between a floor and the cap. A helper that waits on a far
// server costs no CPU, so more of them walk far servers faster; helpers that list near servers
// (or servers on this machine) keep the cores busy, and beyond that more of them only take
// turns with each other and with the servers, which then spend more per entry. So the budget
// starts at the floor, grows while somebody waits for a helper and the machine has at least
// half a core idle (doubling from a whole idle core), and shrinks by one while the machine has
// next to none idle; it looks at the CPU at most every 250 ms. Where the CPU cannot be read, the
// cap holds.
//
// Not thread-safe: its owner (the pool) calls it under its own lock.
class HelperBudget
{
public:
    using TicksFn = std::function<std::optional<CpuTicks>()>;
    using Clock = std::chrono::steady_clock;

    explicit HelperBudget(TicksFn fnTicks = ReadCpuTicks);

    // The floor and the cap (the floor is brought under the cap); the budget is kept inside.
    void SetBounds(int nMin, int nMax);
    int Allowed() const { return m_nAllowed; }
    // Below the cap: a caller kept waiting by the budget should look again within kPeriod.
    bool MayGrow() const { return m_nAllowed < m_nMax; }
    // Looks at the CPU if kPeriod has passed since the last look. bShort: somebody waits for a
    // helper because the budget is reached.
    void Update(bool bShort, Clock::time_point now);

    static constexpr std::chrono::milliseconds kPeriod{250};

private:
    TicksFn m_fnTicks;
    int m_nMin = 1;
    int m_nMax = 1;
    int m_nAllowed = 1;
    bool m_bShortSince = false; // somebody was kept waiting since the last look
    std::optional<CpuTicks> m_last;
    std::optional<Clock::time_point> m_lastLook; // none before the first look
};

} // namespace smb
