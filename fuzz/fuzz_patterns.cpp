// The pattern list against a plain recursive matcher: the same answer for every path.
#include "search/PatternList.h"

#include <cstdint>
#include <cstdlib>

namespace {

// "*" any run (also empty), "?" one character, else the same character; no shortcuts.
bool Reference(const QChar* s, qsizetype nS, const QChar* p, qsizetype nP, int nDepth = 0)
{
    if (nP == 0)
        return nS == 0;
    if (*p == QLatin1Char('*')) {
        // Runs of "*" are one "*".
        while (nP > 1 && p[1] == QLatin1Char('*')) {
            ++p;
            --nP;
        }
        for (qsizetype k = 0; k <= nS; ++k)
            if (Reference(s + k, nS - k, p + 1, nP - 1, nDepth + 1))
                return true;
        return false;
    }
    if (nS == 0)
        return false;
    if (*p != QLatin1Char('?') && *p != *s)
        return false;
    return Reference(s + 1, nS - 1, p + 1, nP - 1, nDepth);
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
