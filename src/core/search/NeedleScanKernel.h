#pragma once

// The scan loop of NeedleSet, written once for any vector width. Included only by the files
// that instantiate it for one instruction set each; everything here has internal linkage, so
// code compiled for AVX2 never stands in for the SSE2 build of the same function. It calls no
// library templates for the same reason.

#include "NeedleSet.h"

#include <cstddef>
#include <cstdint>

namespace content {
namespace {

using Probe = NeedleSet::Probe;

struct KernelFoldTable
{
    unsigned char t[256];
    constexpr KernelFoldTable() : t()
    {
        for (int i = 0; i < 256; ++i)
            t[i] = static_cast<unsigned char>((i >= 'A' && i <= 'Z') ? i + 32 : i);
    }
};
constexpr KernelFoldTable kKernelFold;

inline bool Verify(const unsigned char* p, const Probe& k)
{
    for (std::uint32_t i = 0; i < k.n; ++i)
        if (kKernelFold.t[p[i]] != k.folded[i])
            return false;
    return true;
}

inline bool ScalarCandidate(const unsigned char* p, const Probe& k)
{
    return (p[k.pos1] | k.or1) == k.c1 && (p[k.pos2] | k.or2) == k.c2 && Verify(p, k);
}

// One needle, starts in [from, n - k.n].
template <class V>
std::ptrdiff_t ScanOne(const Probe& k, const unsigned char* h, std::size_t from, std::size_t n)
{
    if (k.n > n)
        return -1;
    const std::size_t nStarts = n - k.n + 1; // starts are < nStarts
    std::size_t s = from;
    if constexpr (V::kWidth > 0) {
        const auto c1 = V::Set1(k.c1), c2 = V::Set1(k.c2);
        const auto o1 = V::Set1(k.or1), o2 = V::Set1(k.or2);
        // Every lane's start is valid, so every byte a load touches lies inside the haystack.
        while (s + V::kWidth <= nStarts) {
            std::uint32_t mask = V::EqMask(V::Or(V::Load(h + s + k.pos1), o1), c1) &
                                 V::EqMask(V::Or(V::Load(h + s + k.pos2), o2), c2);
            while (mask != 0) {
                const std::size_t at = s + static_cast<std::size_t>(__builtin_ctz(mask));
                if (Verify(h + at, k))
                    return static_cast<std::ptrdiff_t>(at);
                mask &= mask - 1;
            }
            s += V::kWidth;
        }
    }
    for (; s < nStarts; ++s)
        if (ScalarCandidate(h + s, k))
            return static_cast<std::ptrdiff_t>(s);
    return -1;
}

// Any of count needles (count <= NeedleSet::kMaxNeedles): the earliest start of any. kFixed,
// when not 0, is count known at compile time, which keeps every needle's vectors in registers.
template <class V, std::size_t kFixed>
std::ptrdiff_t ScanMany(const Probe* ks, std::size_t nCount, const unsigned char* h,
                        std::size_t n, std::size_t nMaxLength)
{
    const std::size_t count = kFixed != 0 ? kFixed : nCount;
    std::size_t s = 0;
    if constexpr (V::kWidth > 0) {
        if (n >= nMaxLength) {
            // Starts valid for every needle; the rest, near the end, each needle alone.
            const std::size_t nStarts = n - nMaxLength + 1;
            constexpr std::size_t kSlots = kFixed != 0 ? kFixed : NeedleSet::kMaxNeedles;
            typename V::Vec c1[kSlots] = {}, c2[kSlots] = {}, o1[kSlots] = {}, o2[kSlots] = {};
            std::size_t p1[kSlots] = {}, p2[kSlots] = {};
#pragma GCC unroll 8
            for (std::size_t i = 0; i < count; ++i) {
                p1[i] = ks[i].pos1;
                p2[i] = ks[i].pos2;
                c1[i] = V::Set1(ks[i].c1);
                c2[i] = V::Set1(ks[i].c2);
                o1[i] = V::Set1(ks[i].or1);
                o2[i] = V::Set1(ks[i].or2);
            }
            while (s + V::kWidth <= nStarts) {
                // All needles' candidates first, with one branch for the common case of none.
                std::uint32_t masks[kSlots];
                std::uint32_t any = 0;
#pragma GCC unroll 8
                for (std::size_t i = 0; i < count; ++i) {
                    masks[i] = V::EqMask(V::Or(V::Load(h + s + p1[i]), o1[i]), c1[i]) &
                               V::EqMask(V::Or(V::Load(h + s + p2[i]), o2[i]), c2[i]);
                    any |= masks[i];
                }
                if (any == 0) {
                    s += V::kWidth;
                    continue;
                }
                std::ptrdiff_t best = -1;
                for (std::size_t i = 0; i < count; ++i) {
                    for (std::uint32_t mask = masks[i]; mask != 0; mask &= mask - 1) {
                        const auto at = static_cast<std::ptrdiff_t>(s) + __builtin_ctz(mask);
                        if (best >= 0 && at >= best)
                            break;
                        if (Verify(h + at, ks[i])) {
                            best = at;
                            break;
                        }
                    }
                }
                if (best >= 0)
                    return best;
                s += V::kWidth;
            }
        }
    }
    std::ptrdiff_t best = -1;
    for (std::size_t i = 0; i < count; ++i) {
        const std::ptrdiff_t at = ScanOne<V>(ks[i], h, s, n);
        if (at >= 0 && (best < 0 || at < best))
            best = at;
    }
    return best;
}

template <class V>
std::ptrdiff_t ScanAll(const Probe* ks, std::size_t count, const unsigned char* h, std::size_t n,
                       std::size_t nMaxLength)
{
    switch (count) {
    case 1:
        return ScanOne<V>(ks[0], h, 0, n);
    case 2:
        return ScanMany<V, 2>(ks, count, h, n, nMaxLength);
    case 3:
        return ScanMany<V, 3>(ks, count, h, n, nMaxLength);
    default:
        return ScanMany<V, 0>(ks, count, h, n, nMaxLength);
    }
}

// No vectors: the loops above fall back to their byte-by-byte tails.
struct ScalarVec
{
    static constexpr std::size_t kWidth = 0;
    using Vec = int;
    static Vec Set1(unsigned char) { return 0; }
    static Vec Load(const unsigned char*) { return 0; }
    static Vec Or(Vec, Vec) { return 0; }
    static std::uint32_t EqMask(Vec, Vec) { return 0; }
};

} // namespace
} // namespace content
