#pragma once

#include <QString>
#include <QStringList>

// The search's file patterns: "*.doc;*.txt" becomes {"*.DOC", "*.TXT"}. Patterns are matched
// against the whole path of an entry (\\SERVER\Share\dir\name), "*" matching any run of
// characters including "\", "?" exactly one character.
namespace patterns {

// Upper-cases for matching. a-z become A-Z, and so does every other character that has a
// one-to-one upper-case form (ä/Ä, é/É, ж/Ж); characters whose upper case is longer (ß) stay.
QString FoldCase(const QString& text);
// The same on n characters where they are (a path built piece by piece).
void FoldCaseInPlace(QChar* p, qsizetype n);

// Splits at every ";" and upper-cases each piece. Empty pieces are kept, blanks are not trimmed:
// "*.doc;" gives {"*.DOC", ""}, "*.doc; *.txt" gives {"*.DOC", " *.TXT"}.
QStringList ParsePatternList(const QString& text);

// s: the upper-cased path; p: one upper-cased pattern.
bool WildcardMatch(const QChar* s, qsizetype nS, const QChar* p, qsizetype nP);
inline bool WildcardMatch(const QString& s, const QString& p)
{
    return WildcardMatch(s.constData(), s.size(), p.constData(), p.size());
}

// True when the upper-cased path matches one of the patterns (list order, first wins). An
// empty list, or an empty pattern, matches nothing.
bool MatchesPatternList(const QString& path, const QStringList& patternList);
// The same for a path already folded (FoldCase).
bool MatchesFoldedPath(const QString& folded, const QStringList& patternList);

} // namespace patterns
