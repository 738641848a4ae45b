// The needle scan with 32-byte AVX2 vectors. This file alone is compiled for AVX2; NeedleSet
// calls it only where the processor says it has AVX2.
#include "NeedleScanKernel.h"

#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace content {
namespace {

#if defined(__AVX2__)
struct Avx2Vec
{
    static constexpr std::size_t kWidth = 32;
    using Vec = __m256i;
    static Vec Set1(unsigned char c) { return _mm256_set1_epi8(static_cast<char>(c)); }
    static Vec Load(const unsigned char* p)
    {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    }
    static Vec Or(Vec a, Vec b) { return _mm256_or_si256(a, b); }
    static std::uint32_t EqMask(Vec a, Vec b)
    {
        return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, b)));
    }
};
#endif

} // namespace

bool HaveAvx2ScanKernel()
{
#if defined(__AVX2__)
    return true;
#else
    return false;
#endif
}

std::ptrdiff_t ScanAvx2(const NeedleSet::Probe* ks, std::size_t count, const unsigned char* h,
                        std::size_t n, std::size_t nMaxLength)
{
#if defined(__AVX2__)
    return ScanAll<Avx2Vec>(ks, count, h, n, nMaxLength);
#else
    return ScanAll<ScalarVec>(ks, count, h, n, nMaxLength);
#endif
}

} // namespace content
