#include "PatternList.h"

namespace patterns {

void FoldCaseInPlace(QChar* p, qsizetype n)
{
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = p[i].unicode();
        if (c < 0x80) {
            if (c >= u'a' && c <= u'z')
                p[i] = QChar(c - 32);
        } else if (!p[i].isSurrogate()) {
            p[i] = p[i].toUpper();
        }
    }
}

QString FoldCase(const QString& text)
{
    QString out = text;
    FoldCaseInPlace(out.data(), out.size());
    return out;
}

QStringList ParsePatternList(const QString& text)
{
    QStringList out;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == QLatin1Char(';')) {
            out << FoldCase(text.mid(start, i - start));
            start = i + 1;
        }
    }
    return out;
}

bool WildcardMatch(const QChar* s, qsizetype nS, const QChar* p, qsizetype nP)
{
    qsizetype is = 0, ip = 0;
    // Phase 1: up to the first "*".
    while (is < nS) {
        if (ip < nP && p[ip] == QLatin1Char('*'))
            break;
        if (ip >= nP || (p[ip] != s[is] && p[ip] != QLatin1Char('?')))
            return false;
        ++is;
        ++ip;
    }
    // Phase 2: each "*" remembers where to retry from.
    qsizetype cp = 0, mp = 0;
    while (is < nS) {
        if (ip < nP && p[ip] == QLatin1Char('*')) {
            if (++ip == nP)
                return true;
            cp = ip;
            mp = is + 1;
        } else if (ip < nP && (p[ip] == s[is] || p[ip] == QLatin1Char('?'))) {
            ++is;
            ++ip;
        } else {
            ip = cp;
            is = mp++;
        }
    }
    while (ip < nP && p[ip] == QLatin1Char('*'))
        ++ip;
    return ip == nP;
}

bool MatchesFoldedPath(const QString& folded, const QStringList& patternList)
{
    for (const QString& p : patternList)
        if (!p.isEmpty() && WildcardMatch(folded, p))
            return true;
    return false;
}

bool MatchesPatternList(const QString& path, const QStringList& patternList)
{
    return !patternList.isEmpty() && MatchesFoldedPath(FoldCase(path), patternList);
}

} // namespace patterns
