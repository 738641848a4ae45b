#include "HelperBudget.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <algorithm>

namespace smb {

std::optional<CpuTicks> ReadCpuTicks()
{
    QFile f(QStringLiteral("/proc/stat"));
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    // "cpu  user nice system idle iowait irq softirq steal guest guest_nice", then a line per
    // core ("cpu0 ..."); guest time is already counted in user time.
    //
    // A file of /proc has no size: read to its end (a few KiB, more with many cores).
    const QByteArray text = f.read(1 << 20);
    CpuTicks t;
    t.nCores = 0;
    bool bTotal = false;
    for (const QByteArray& line : text.split('\n')) {
        if (!line.startsWith("cpu"))
            break;
        if (line.size() > 3 && line[3] != ' ') {
            ++t.nCores;
            continue;
        }
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 5)
            return std::nullopt;
        for (qsizetype i = 1; i < std::min<qsizetype>(fields.size(), 9); ++i) {
            bool ok = false;
            const quint64 n = fields[i].toULongLong(&ok);
            if (!ok)
                return std::nullopt;
            t.nTotal += n;
            if (i == 4 || i == 5)
                t.nIdle += n;
        }
        bTotal = true;
    }
    if (!bTotal || t.nCores < 1)
        return std::nullopt;
    return t;
}

HelperBudget::HelperBudget(TicksFn fnTicks) : m_fnTicks(std::move(fnTicks)) {}

void HelperBudget::SetBounds(int nMin, int nMax)
{
    m_nMax = std::max(1, nMax);
    m_nMin = std::clamp(nMin, 1, m_nMax);
    // Before its first look it starts at the floor.
    m_nAllowed = m_lastLook ? std::clamp(m_nAllowed, m_nMin, m_nMax) : m_nMin;
    if (!m_fnTicks)
        m_nAllowed = m_nMax;
}

void HelperBudget::Update(bool bShort, Clock::time_point now)
{
    m_bShortSince = m_bShortSince || bShort;
    if (m_nMin == m_nMax || (m_lastLook && now - *m_lastLook < kPeriod))
        return;
    const std::optional<CpuTicks> ticks = m_fnTicks ? m_fnTicks() : std::nullopt;
    // A look long after the last one (the pool was idle) only starts a new period.
    const bool bFresh = !m_lastLook || now - *m_lastLook > 4 * kPeriod;
    m_lastLook = now;
    if (!ticks) {
        m_nAllowed = m_nMax;
        m_last.reset();
        return;
    }
    const std::optional<CpuTicks> last = std::exchange(m_last, ticks);
    const bool bShortSince = std::exchange(m_bShortSince, false);
    if (bFresh || !last || ticks->nTotal <= last->nTotal || ticks->nIdle < last->nIdle)
        return;
    // Idle cores over the period: the idle share of the ticks times the cores.
    const double idleShare = static_cast<double>(ticks->nIdle - last->nIdle) /
                             static_cast<double>(ticks->nTotal - last->nTotal);
    const double idleCores = idleShare * ticks->nCores;
    if (idleCores >= 0.5 && bShortSince) {
        // Grows faster the more is idle, doubling from a whole idle core: where the servers are
        // far and the cores wait, from the floor to the cap in a few looks.
        const int nMore = std::max(1, static_cast<int>(m_nAllowed * std::min(1.0, idleCores)));
        m_nAllowed = std::min(m_nMax, m_nAllowed + nMore);
    } else if (idleCores < 0.15) {
        m_nAllowed = std::max(m_nMin, m_nAllowed - 1);
    }
}

} // namespace smb
