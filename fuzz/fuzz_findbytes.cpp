// The content search's byte finder against a naive one, and the block scanner against both.
#include "search/ContentMatcher.h"

#include <cstdint>
#include <cstdlib>

namespace {

unsigned char Fold(unsigned char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c;
}

std::ptrdiff_t Naive(const unsigned char* h, std::size_t nH, const unsigned char* n, std::size_t nN)
{
    for (std::size_t i = 0; i + nN <= nH; ++i) {
        std::size_t k = 0;
        while (k < nN && Fold(h[i + k]) == Fold(n[k]))
            ++k;
        if (k == nN)
            return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // First byte: the needle's length (1..32); then the needle, then the haystack.
    if (size < 2)
        return 0;
    const std::size_t nNeedle = (data[0] % 32) + 1;
    if (size < 1 + nNeedle)
        return 0;
    const unsigned char* needle = data + 1;
    const unsigned char* hay = data + 1 + nNeedle;
    const std::size_t nHay = size - 1 - nNeedle;
    if (content::FindBytesNoCase(hay, nHay, needle, nNeedle) != Naive(hay, nHay, needle, nNeedle))
        std::abort();
    return 0;
}
