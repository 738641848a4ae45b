#pragma once

#include "NeedleSet.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>

// Does a file contain a text? The text is looked for in the file's raw bytes in Windows-1252,
// as UTF-16LE and, when it holds a character outside ASCII, in UTF-8, with the letters A-Z and
// a-z matching either case byte by byte; a match may start at any offset. All forms are looked
// for in one pass over the file.
namespace content {

constexpr int kMaxTextChars = 4095;

struct Needles
{
    QByteArray ansi; // Windows-1252; empty when the text has a character the code page lacks
    QByteArray wide; // UTF-16LE, low byte first
    QByteArray utf8; // empty when the text is ASCII (then it equals ansi)
    NeedleSet scan;  // the non-empty ones, prepared

    // The non-empty needles, in the order above.
    std::vector<QByteArray> Bytes() const;
};

// Windows-1252 bytes of text ('?' for characters it cannot hold).
QByteArray ToWindows1252(const QString& text);

// Empty when text is empty or longer than kMaxTextChars.
std::optional<Needles> MakeNeedles(const QString& text);
// Needles as they travel to an SMB helper (Bytes()); empty when none is usable or when there
// are more than NeedleSet::kMaxNeedles or one is longer than two bytes per character allows.
std::optional<Needles> NeedlesFromBytes(const std::vector<QByteArray>& bytes);

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
    const NeedleSet& m_scan;
    std::size_t m_nKeep;
    QByteArray m_carry; // the last (longest needle - 1) bytes seen
    bool m_bFound = false;
};

} // namespace content
