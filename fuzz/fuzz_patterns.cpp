// The pattern list against a plain recursive matcher: the same answer for every path.
#include "search/PatternList.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

// "*" any run (also empty), "?" one character, else the same character: the textbook table
// of which suffix of the path matches which suffix of the pattern, no shortcuts.
bool Reference(const QChar* s, qsizetype nS, const QChar* p, qsizetype nP)
{
    std::vector<std::vector<char>> m(static_cast<std::size_t>(nS + 2),
                                     std::vector<char>(static_cast<std::size_t>(nP + 2), 0));
    auto at = [&m](qsizetype i, qsizetype j) -> char& {
        return m[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
    };
    at(nS, nP) = 1;
    for (qsizetype j = nP - 1; j >= 0; --j)
        at(nS, j) = p[j] == QLatin1Char('*') && at(nS, j + 1);
    for (qsizetype i = nS - 1; i >= 0; --i)
        for (qsizetype j = nP - 1; j >= 0; --j) {
            if (p[j] == QLatin1Char('*'))
                at(i, j) = at(i, j + 1) || at(i + 1, j);
            else
                at(i, j) = (p[j] == QLatin1Char('?') || p[j] == s[i]) && at(i + 1, j + 1);
        }
    return at(0, 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // "patterns\0path", both UTF-8; short, so the reference stays fast.
    if (size > 96)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype nul = bytes.indexOf('\0');
    if (nul < 0)
        return 0;
    const QString text = QString::fromUtf8(bytes.left(nul));
    const QString path = QString::fromUtf8(bytes.mid(nul + 1));
    const QStringList list = patterns::ParsePatternList(text);
    if (list.size() != text.count(QLatin1Char(';')) + 1)
        std::abort();
    const QString upper = patterns::FoldCase(path);
    bool bAny = false;
    for (const QString& p : list) {
        const bool bGot = patterns::WildcardMatch(upper, p);
        const bool bWant = Reference(upper.constData(), upper.size(), p.constData(), p.size());
        if (bGot != bWant)
            std::abort();
        bAny |= !p.isEmpty() && bWant;
    }
    if (patterns::MatchesPatternList(path, list) != bAny)
        std::abort();
    return 0;
}
