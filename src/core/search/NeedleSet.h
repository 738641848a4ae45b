#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <vector>

// Finds any of a few byte strings in memory, the letters A-Z and a-z matching either case and
// every other byte only itself.
//
// Each needle is prepared once: two of its bytes that are rare in ordinary text (by a fixed
// frequency rank, so the choice does not depend on the first letter) are compared at their
// offsets for 32 (AVX2) or 16 (SSE2) candidate starts at a time, and the whole needle is
// compared only where both agree. All needles are tested on each stretch of the haystack while
// it is in the cache: one pass over memory, however many needles. The vector width is chosen
// once, at run time, from what the processor offers.
//
// Immutable after construction: one object may be used from any number of threads.
namespace content {

class NeedleSet
{
public:
    // At most this many needles; the rest are ignored (the program uses three).
    static constexpr std::size_t kMaxNeedles = 8;

    NeedleSet() = default;
    // Empty needles are dropped.
    explicit NeedleSet(const std::vector<QByteArray>& needles);

    bool Empty() const { return m_needles.empty(); }
    std::size_t Count() const { return m_needles.size(); }
    std::size_t MaxLength() const { return m_nMaxLength; }

    enum class Kernel
    {
        Best, // the widest this processor has
        Scalar,
        Sse2,
        Avx2,
    };

    // The smallest offset in haystack where one of the needles starts and lies wholly inside;
    // -1 when none does. A kernel this processor lacks is replaced by the best it has.
    std::ptrdiff_t Find(const unsigned char* haystack, std::size_t n,
                        Kernel kernel = Kernel::Best) const;

    // The kernels this processor runs, scalar first; and the name of the one Best picks.
    static std::vector<Kernel> Kernels();
    static const char* KernelName(Kernel kernel = Kernel::Best);

    // One needle as the scan kernels see it.
    struct Probe
    {
        const unsigned char* folded; // the needle with A-Z turned into a-z
        std::uint32_t n;             // its length
        std::uint32_t pos1, pos2;    // offsets of the two rare bytes
        unsigned char c1, c2;        // their folded values
        unsigned char or1, or2;      // 0x20 where the byte is a letter (case folds by OR), else 0
    };

private:
    std::vector<QByteArray> m_folded;
    std::vector<Probe> m_needles;
    std::size_t m_nMaxLength = 0;
};

// How common a byte is in ordinary text and files, for picking a needle's rare bytes: lower is
// rarer. Letters count with both their cases.
int ByteFrequencyRank(unsigned char c);

} // namespace content
