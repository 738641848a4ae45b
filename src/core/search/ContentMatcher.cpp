#include "ContentMatcher.h"

#include <algorithm>

namespace content {
namespace {

// 0x80..0x9F of Windows-1252; 0 where the code page has no character.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

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

namespace {

bool HasWindows1252Form(const QString& text)
{
    for (QChar qc : text) {
        const char16_t c = qc.unicode();
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
            continue;
        if (std::find(std::begin(kCp1252High), std::end(kCp1252High), c) == std::end(kCp1252High))
            return false;
    }
    return true;
}

bool IsAscii(const QString& text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

} // namespace

std::vector<QByteArray> Needles::Bytes() const
{
    std::vector<QByteArray> out;
    for (const QByteArray* p : {&ansi, &wide, &utf8})
        if (!p->isEmpty())
            out.push_back(*p);
    return out;
}

std::optional<Needles> MakeNeedles(const QString& text)
{
    if (text.isEmpty() || text.size() > kMaxTextChars)
        return std::nullopt;
    Needles n;
    // A text with a character Windows-1252 lacks cannot be in a Windows-1252 file as typed; its
    // '?' stand-ins would match any question marks instead.
    if (HasWindows1252Form(text))
        n.ansi = ToWindows1252(text);
    n.wide.resize(text.size() * 2);
    for (qsizetype i = 0; i < text.size(); ++i) {
        n.wide[2 * i] = static_cast<char>(text[i].unicode() & 0xff);
        n.wide[2 * i + 1] = static_cast<char>(text[i].unicode() >> 8);
    }
    if (!IsAscii(text))
        n.utf8 = text.toUtf8();
    n.scan = NeedleSet(n.Bytes());
    return n;
}

std::optional<Needles> NeedlesFromBytes(const std::vector<QByteArray>& bytes)
{
    constexpr qsizetype kMaxBytes = 4 * kMaxTextChars; // UTF-8 takes at most 3 per UTF-16 unit
    if (bytes.empty() || bytes.size() > NeedleSet::kMaxNeedles)
        return std::nullopt;
    Needles n;
    for (const QByteArray& b : bytes)
        if (b.isEmpty() || b.size() > kMaxBytes)
            return std::nullopt;
    n.scan = NeedleSet(bytes);
    return n;
}

std::ptrdiff_t FindBytesNoCase(const unsigned char* h, std::size_t nHay, const unsigned char* n,
                               std::size_t nNeedle)
{
    if (nNeedle == 0 || nNeedle > nHay)
        return -1;
    const NeedleSet set({QByteArray(reinterpret_cast<const char*>(n),
                                    static_cast<qsizetype>(nNeedle))});
    return set.Find(h, nHay);
}

StreamScanner::StreamScanner(const Needles& needles)
    : m_scan(needles.scan), m_nKeep(needles.scan.Empty() ? 0 : needles.scan.MaxLength() - 1)
{}

bool StreamScanner::Feed(const unsigned char* data, std::size_t n)
{
    if (m_bFound || n == 0 || m_scan.Empty())
        return m_bFound;
    if (!m_carry.isEmpty()) {
        // The seam: the carried tail and the head of this block, long enough for any match
        // that starts in the tail.
        QByteArray seam = m_carry;
        seam.append(reinterpret_cast<const char*>(data),
                    static_cast<qsizetype>(std::min(n, m_nKeep)));
        if (m_scan.Find(reinterpret_cast<const unsigned char*>(seam.constData()),
                        static_cast<std::size_t>(seam.size())) >= 0) {
            m_bFound = true;
            return true;
        }
    }
    if (m_scan.Find(data, n) >= 0) {
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
