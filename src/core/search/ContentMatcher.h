#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>

// Does a file contain a text? The text is looked for twice in the file's raw bytes, in
// Windows-1252 and as UTF-16LE, with the letters A-Z and a-z matching either case byte by byte;
// a match may start at any offset.
namespace content {

constexpr int kMaxTextChars = 4095;

struct Needles
{
    QByteArray ansi; // Windows-1252; characters without a form there become '?'
    QByteArray wide; // UTF-16LE, low byte first
};

// Windows-1252 bytes of text ('?' for characters it cannot hold).
QByteArray ToWindows1252(const QString& text);

// Empty when text is empty or longer than kMaxTextChars.
std::optional<Needles> MakeNeedles(const QString& text);

// First offset of needle in haystack, A-Z/a-z folded on both sides; -1 when none. needle must
// not be empty.
std::ptrdiff_t FindBytesNoCase(const unsigned char* haystack, std::size_t nHay,
                               const unsigned char* needle, std::size_t nNeedle);

// Looks for both needles in a file that arrives in blocks of any size: each block is searched
// together with the tail of the one before, so a match across a block boundary is found.
class StreamScanner
{
public:
    explicit StreamScanner(const Needles& needles);
    // Feeds the next block; true once either needle has been found.
    bool Feed(const unsigned char* data, std::size_t n);
    bool Found() const { return m_bFound; }

private:
    bool Search(const unsigned char* data, std::size_t n) const;
    const Needles& m_needles;
    std::size_t m_nKeep;
    QByteArray m_carry; // the last (longest needle - 1) bytes seen
    bool m_bFound = false;
};

} // namespace content
