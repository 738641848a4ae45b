#include "ContentMatcher.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace content {
namespace {

constexpr unsigned char Fold(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

struct FoldTable
{
    unsigned char t[256];
    constexpr FoldTable() : t()
    {
        for (int i = 0; i < 256; ++i)
            t[i] = Fold(static_cast<unsigned char>(i));
    }
};
constexpr FoldTable kFold;

// 0x80..0x9F of Windows-1252; 0 where the code page has no character.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The first position in [p, end) holding lo or up, or end.
const unsigned char* ScanFirst(const unsigned char* p, const unsigned char* end, unsigned char lo,
                               unsigned char up)
{
    if (lo == up) {
        const void* hit = std::memchr(p, lo, static_cast<std::size_t>(end - p));
        return hit ? static_cast<const unsigned char*>(hit) : end;
    }
#if defined(__SSE2__)
    const __m128i vlo = _mm_set1_epi8(static_cast<char>(lo));
    const __m128i vup = _mm_set1_epi8(static_cast<char>(up));
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const int mask =
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, vlo), _mm_cmpeq_epi8(v, vup)));
        if (mask)
            return p + __builtin_ctz(static_cast<unsigned>(mask));
        p += 16;
    }
#endif
    for (; p < end; ++p)
        if (*p == lo || *p == up)
            return p;
    return end;
}

} // namespace

QByteArray ToWindows1252(const QString& text)
{
    QByteArray out;
    out.reserve(text.size());
    for (QChar qc : text) {
        const char16_t c = qc.unicode();
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out += static_cast<char>(c);
            continue;
        }
        char byte = '?';
        for (int i = 0; i < 32; ++i) {
            if (kCp1252High[i] == c) {
                byte = static_cast<char>(0x80 + i);
                break;
            }
        }
        out += byte;
    }
    return out;
}

std::optional<Needles> MakeNeedles(const QString& text)
{
    if (text.isEmpty() || text.size() > kMaxTextChars)
        return std::nullopt;
    Needles n;
    n.ansi = ToWindows1252(text);
    n.wide.resize(text.size() * 2);
    for (qsizetype i = 0; i < text.size(); ++i) {
        n.wide[2 * i] = static_cast<char>(text[i].unicode() & 0xff);
        n.wide[2 * i + 1] = static_cast<char>(text[i].unicode() >> 8);
    }
    return n;
}

std::ptrdiff_t FindBytesNoCase(const unsigned char* h, std::size_t nHay, const unsigned char* n,
                               std::size_t nNeedle)
{
    if (nNeedle == 0 || nNeedle > nHay)
        return -1;
    const unsigned char lo = Fold(n[0]);
    const unsigned char up = (n[0] >= 'a' && n[0] <= 'z')   ? static_cast<unsigned char>(n[0] - 32)
                             : (n[0] >= 'A' && n[0] <= 'Z') ? n[0]
                                                            : n[0];
    const unsigned char* const last = h + (nHay - nNeedle); // last possible start
    const unsigned char* p = h;
    while (p <= last) {
        p = ScanFirst(p, last + 1, lo, up);
        if (p > last)
            return -1;
        std::size_t i = 1;
        while (i < nNeedle && kFold.t[p[i]] == kFold.t[n[i]])
            ++i;
        if (i == nNeedle)
            return p - h;
        ++p;
    }
    return -1;
}

StreamScanner::StreamScanner(const Needles& needles)
    : m_needles(needles),
      m_nKeep(static_cast<std::size_t>(std::max(needles.ansi.size(), needles.wide.size())) - 1)
{}

bool StreamScanner::Search(const unsigned char* data, std::size_t n) const
{
    auto find = [&](const QByteArray& needle) {
        return !needle.isEmpty() &&
               FindBytesNoCase(data, n, reinterpret_cast<const unsigned char*>(needle.constData()),
                               static_cast<std::size_t>(needle.size())) >= 0;
    };
    return find(m_needles.ansi) || find(m_needles.wide);
}

bool StreamScanner::Feed(const unsigned char* data, std::size_t n)
{
    if (m_bFound || n == 0)
        return m_bFound;
    if (!m_carry.isEmpty()) {
        // The seam: the carried tail and the head of this block, long enough for any match
        // that starts in the tail.
        QByteArray seam = m_carry;
        seam.append(reinterpret_cast<const char*>(data),
                    static_cast<qsizetype>(std::min(n, m_nKeep)));
        if (Search(reinterpret_cast<const unsigned char*>(seam.constData()),
                   static_cast<std::size_t>(seam.size()))) {
            m_bFound = true;
            return true;
        }
    }
    if (Search(data, n)) {
        m_bFound = true;
        return true;
    }
    // Keep the last m_nKeep bytes (from the carry as well, for blocks shorter than that).
    if (m_nKeep > 0) {
        if (n >= m_nKeep) {
            m_carry = QByteArray(reinterpret_cast<const char*>(data + n - m_nKeep),
                                 static_cast<qsizetype>(m_nKeep));
        } else {
            m_carry.append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(n));
            m_carry = m_carry.right(static_cast<qsizetype>(m_nKeep));
        }
    }
    return false;
}

} // namespace content
