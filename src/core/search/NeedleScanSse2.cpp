// The needle scan with 16-byte SSE2 vectors (every x86-64 processor has them), and the scalar
// scan for other processors.
#include "NeedleScanKernel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace content {
namespace {

#if defined(__SSE2__)
struct Sse2Vec
{
    static constexpr std::size_t kWidth = 16;
    using Vec = __m128i;
    static Vec Set1(unsigned char c) { return _mm_set1_epi8(static_cast<char>(c)); }
    static Vec Load(const unsigned char* p)
    {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    }
    static Vec Or(Vec a, Vec b) { return _mm_or_si128(a, b); }
    static std::uint32_t EqMask(Vec a, Vec b)
    {
        return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)));
    }
};
#endif

} // namespace

bool HaveSse2ScanKernel()
{
#if defined(__SSE2__)
    return true;
#else
    return false;
#endif
}

std::ptrdiff_t ScanSse2(const NeedleSet::Probe* ks, std::size_t count, const unsigned char* h,
                        std::size_t n, std::size_t nMaxLength)
{
#if defined(__SSE2__)
    return ScanAll<Sse2Vec>(ks, count, h, n, nMaxLength);
#else
    return ScanAll<ScalarVec>(ks, count, h, n, nMaxLength);
#endif
}

std::ptrdiff_t ScanScalar(const NeedleSet::Probe* ks, std::size_t count, const unsigned char* h,
                          std::size_t n, std::size_t nMaxLength)
{
    return ScanAll<ScalarVec>(ks, count, h, n, nMaxLength);
}

} // namespace content
