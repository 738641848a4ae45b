// The content search's needle scanner against a naive search, on every kernel this processor
// runs, and the block scanner against both.
#include "search/ContentMatcher.h"
#include "search/NeedleSet.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

unsigned char Fold(unsigned char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c;
}

std::ptrdiff_t Naive(const unsigned char* h, std::size_t nH, const std::vector<QByteArray>& needles)
{
    for (std::size_t i = 0; i < nH; ++i) {
        for (const QByteArray& n : needles) {
            const auto nN = static_cast<std::size_t>(n.size());
            if (i + nN > nH)
                continue;
            std::size_t k = 0;
            while (k < nN && Fold(h[i + k]) == Fold(static_cast<unsigned char>(n[k])))
                ++k;
            if (k == nN)
                return static_cast<std::ptrdiff_t>(i);
        }
    }
    return -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // First byte: the number of needles (1..3, low two bits) and, per needle, one byte with its
    // length (1..64); then the needles, then the haystack.
    if (size < 2)
        return 0;
    const std::size_t nNeedles = (data[0] % 3) + 1;
    std::size_t pos = 1;
    std::vector<std::size_t> lengths;
    for (std::size_t i = 0; i < nNeedles; ++i) {
        if (pos >= size)
            return 0;
        lengths.push_back((data[pos++] % 64) + 1);
    }
    std::vector<QByteArray> needles;
    for (std::size_t n : lengths) {
        if (size - pos < n)
            return 0;
        needles.emplace_back(reinterpret_cast<const char*>(data + pos), static_cast<qsizetype>(n));
        pos += n;
    }
    const unsigned char* hay = data + pos;
    const std::size_t nHay = size - pos;
    const std::ptrdiff_t expected = Naive(hay, nHay, needles);
    const content::NeedleSet scan(needles);
    for (content::NeedleSet::Kernel k : content::NeedleSet::Kernels())
        if (scan.Find(hay, nHay, k) != expected)
            std::abort();
    if (nNeedles == 1 &&
        content::FindBytesNoCase(hay, nHay, data + 2, lengths[0]) != expected)
        std::abort();
    // Fed in blocks of 7 bytes, the stream scanner finds what the whole search finds.
    auto set = content::NeedlesFromBytes(needles);
    if (!set)
        std::abort();
    content::StreamScanner stream(*set);
    bool bFound = false;
    for (std::size_t i = 0; i < nHay && !bFound; i += 7)
        bFound = stream.Feed(hay + i, std::min<std::size_t>(7, nHay - i));
    if (bFound != (expected >= 0))
        std::abort();
    return 0;
}
