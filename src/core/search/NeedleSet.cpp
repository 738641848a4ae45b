#include "NeedleSet.h"

namespace content {

// The kernels, one file each (the AVX2 one is compiled for AVX2).
bool HaveSse2ScanKernel();
bool HaveAvx2ScanKernel();
std::ptrdiff_t ScanScalar(const NeedleSet::Probe* ks, std::size_t count, const unsigned char* h,
                          std::size_t n, std::size_t nMaxLength);
std::ptrdiff_t ScanSse2(const NeedleSet::Probe* ks, std::size_t count, const unsigned char* h,
                        std::size_t n, std::size_t nMaxLength);
std::ptrdiff_t ScanAvx2(const NeedleSet::Probe* ks, std::size_t count, const unsigned char* h,
                        std::size_t n, std::size_t nMaxLength);

namespace {

constexpr unsigned char FoldByte(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

constexpr bool IsLetter(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Rough byte frequencies of what shares hold: prose, source code, logs, UTF-16 and UTF-8 text
// and some binary data. Only the order matters.
struct RankTable
{
    int rank[256];
    constexpr RankTable() : rank()
    {
        for (int c = 0; c < 256; ++c)
            rank[c] = c < 0x20 ? 20 : c < 0x80 ? 60 : 50;
        // Letters by their frequency in English text, both cases together.
        const char* letters = "etaoinsrhldcumfpgwybvkxjqz";
        const int letterRank[26] = {250, 240, 235, 230, 228, 226, 224, 220, 215,
                                    210, 205, 200, 195, 190, 185, 183, 180, 175,
                                    170, 165, 150, 140, 100, 95,  90,  85};
        for (int i = 0; i < 26; ++i) {
            rank[static_cast<unsigned char>(letters[i])] = letterRank[i];
            rank[static_cast<unsigned char>(letters[i] - 32)] = letterRank[i];
        }
        rank[' '] = 255;
        rank[0x00] = 200; // every other byte of UTF-16 text; padding in binary files
        rank['\n'] = 180;
        rank['\r'] = 150;
        rank['\t'] = 140;
        rank['.'] = 160;
        rank[','] = 155;
        rank['-'] = 130;
        for (int c = '0'; c <= '9'; ++c)
            rank[c] = 125;
        rank['0'] = 135;
        rank['1'] = 132;
        rank['"'] = 120;
        rank['\''] = 120;
        rank['/'] = 115;
        rank['_'] = 110;
        rank['='] = 110;
        rank[':'] = 110;
        rank['('] = 105;
        rank[')'] = 105;
        rank[';'] = 100;
        rank['<'] = 95;
        rank['>'] = 95;
        rank['{'] = 80;
        rank['}'] = 80;
        rank['['] = 80;
        rank[']'] = 80;
        rank[0xFF] = 90;  // binary data
        rank[0xC3] = 90;  // UTF-8 lead byte of accented Latin letters
        rank[0xD0] = 90;  // and of Cyrillic
        rank[0xD1] = 90;
        rank[0xE2] = 80;  // and of typographic punctuation
    }
};
constexpr RankTable kRanks;

bool HaveAvx2()
{
#if defined(__x86_64__) || defined(__i386__)
    static const bool bHave = HaveAvx2ScanKernel() && __builtin_cpu_supports("avx2");
    return bHave;
#else
    return false;
#endif
}

NeedleSet::Kernel Resolve(NeedleSet::Kernel kernel)
{
    using K = NeedleSet::Kernel;
    if (kernel == K::Avx2 && !HaveAvx2())
        kernel = K::Best;
    if (kernel == K::Sse2 && !HaveSse2ScanKernel())
        kernel = K::Best;
    if (kernel == K::Best)
        kernel = HaveAvx2() ? K::Avx2 : HaveSse2ScanKernel() ? K::Sse2 : K::Scalar;
    return kernel;
}

} // namespace

int ByteFrequencyRank(unsigned char c)
{
    return kRanks.rank[c];
}

NeedleSet::NeedleSet(const std::vector<QByteArray>& needles)
{
    for (const QByteArray& needle : needles) {
        if (needle.isEmpty() || m_folded.size() == kMaxNeedles)
            continue;
        QByteArray folded(needle.size(), Qt::Uninitialized);
        for (qsizetype i = 0; i < needle.size(); ++i)
            folded[i] = static_cast<char>(FoldByte(static_cast<unsigned char>(needle[i])));
        m_folded.push_back(folded);
    }
    // The probes point into m_folded, which no longer changes.
    for (const QByteArray& folded : m_folded) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(folded.constData());
        const auto n = static_cast<std::uint32_t>(folded.size());
        std::uint32_t pos1 = 0;
        for (std::uint32_t i = 1; i < n; ++i)
            if (kRanks.rank[bytes[i]] < kRanks.rank[bytes[pos1]])
                pos1 = i;
        // The second: the rarest other byte, preferably another value than the first.
        std::uint32_t pos2 = pos1;
        for (std::uint32_t i = 0; i < n; ++i) {
            if (i == pos1)
                continue;
            auto better = [&](std::uint32_t a, std::uint32_t b) { // a better than b?
                if (b == pos1)
                    return true;
                const bool aOther = bytes[a] != bytes[pos1], bOther = bytes[b] != bytes[pos1];
                if (aOther != bOther)
                    return aOther;
                return kRanks.rank[bytes[a]] < kRanks.rank[bytes[b]];
            };
            if (better(i, pos2))
                pos2 = i;
        }
        Probe p{};
        p.folded = bytes;
        p.n = n;
        p.pos1 = pos1;
        p.pos2 = pos2;
        p.c1 = bytes[pos1];
        p.c2 = bytes[pos2];
        p.or1 = IsLetter(p.c1) ? 0x20 : 0;
        p.or2 = IsLetter(p.c2) ? 0x20 : 0;
        m_needles.push_back(p);
        if (n > m_nMaxLength)
            m_nMaxLength = n;
    }
}

std::ptrdiff_t NeedleSet::Find(const unsigned char* haystack, std::size_t n, Kernel kernel) const
{
    if (m_needles.empty() || n == 0)
        return -1;
    switch (Resolve(kernel)) {
    case Kernel::Avx2:
        return ScanAvx2(m_needles.data(), m_needles.size(), haystack, n, m_nMaxLength);
    case Kernel::Sse2:
        return ScanSse2(m_needles.data(), m_needles.size(), haystack, n, m_nMaxLength);
    default:
        return ScanScalar(m_needles.data(), m_needles.size(), haystack, n, m_nMaxLength);
    }
}

std::vector<NeedleSet::Kernel> NeedleSet::Kernels()
{
    std::vector<Kernel> out{Kernel::Scalar};
    if (HaveSse2ScanKernel())
        out.push_back(Kernel::Sse2);
    if (HaveAvx2())
        out.push_back(Kernel::Avx2);
    return out;
}

const char* NeedleSet::KernelName(Kernel kernel)
{
    switch (Resolve(kernel)) {
    case Kernel::Avx2:
        return "AVX2";
    case Kernel::Sse2:
        return "SSE2";
    default:
        return "scalar";
    }
}

} // namespace content
