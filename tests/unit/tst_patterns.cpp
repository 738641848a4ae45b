#include "search/PatternList.h"

#include <QtTest>

#include <functional>
#include <random>

class TestPatterns : public QObject
{
    Q_OBJECT
private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("list");
        QTest::newRow("two") << "*.doc;*.txt" << QStringList{"*.DOC", "*.TXT"};
        QTest::newRow("trailing ;") << "*.doc;" << QStringList{"*.DOC", ""};
        QTest::newRow("blank kept") << "*.doc; *.txt" << QStringList{"*.DOC", " *.TXT"};
        QTest::newRow("empty") << "" << QStringList{""};
        QTest::newRow("only ;") << ";" << QStringList{"", ""};
        QTest::newRow("umlaut folds") << "*über*" << QStringList{"*ÜBER*"};
        QTest::newRow("sharp s stays") << "straße" << QStringList{"STRAßE"};
    }
    void parse()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, list);
        QCOMPARE(patterns::ParsePatternList(text), list);
    }

    void match_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("patternText");
        QTest::addColumn<bool>("matches");
        const QString rep = "\\\\ALPHA\\docs\\report.txt";
        QTest::newRow("*.txt") << rep << "*.txt" << true;
        QTest::newRow("case") << "\\\\ALPHA\\Docs\\REPORT.TxT"
                              << "*report.TXT" << true;
        QTest::newRow("name alone never") << rep << "report.txt" << false;
        QTest::newRow("*report.txt") << rep << "*report.txt" << true;
        QTest::newRow("*report.txt my") << "\\\\ALPHA\\docs\\myreport.txt"
                                        << "*report.txt" << true;
        QTest::newRow("*\\report.txt exact") << "\\\\ALPHA\\docs\\myreport.txt"
                                             << "*\\report.txt" << false;
        QTest::newRow("*\\report.txt") << rep << "*\\report.txt" << true;
        QTest::newRow("* crosses \\") << "\\\\A\\Report\\x\\y.bin"
                                      << "*report*" << true;
        QTest::newRow("? one char") << "\\\\A\\s\\a.c"
                                    << "*\\?.c" << true;
        QTest::newRow("? not zero") << "\\\\A\\s\\.c"
                                    << "*\\?.c" << false;
        QTest::newRow("? is \\") << "\\\\A\\s"
                                 << "\\\\A?S" << true;
        QTest::newRow("blank piece") << "\\\\A\\s\\a.doc"
                                     << "*.txt; *.doc" << false;
        QTest::newRow("first piece") << "\\\\A\\s\\a.txt"
                                     << "*.txt; *.doc" << true;
        QTest::newRow("empty pattern") << "\\\\A\\s\\a"
                                       << "" << false;
        QTest::newRow("trailing empty") << "\\\\A\\s\\a.doc"
                                        << "*.doc;" << true;
        QTest::newRow("star") << "\\\\A\\s\\anything"
                              << "*" << true;
        QTest::newRow("stars") << "\\\\A\\s\\x"
                               << "**" << true;
        QTest::newRow("prefix") << "\\\\ALPHA\\docs\\a"
                                << "\\\\alpha\\*" << true;
        QTest::newRow("no match tail") << "\\\\A\\s\\a.txt"
                                       << "*.tx" << false;
        QTest::newRow("backtrack") << "\\\\A\\s\\abcabd"
                                   << "*ab?" << true;
        QTest::newRow("backtrack 2") << "\\\\A\\s\\mississippi"
                                     << "*sip*i" << true;
        QTest::newRow("backtrack fail") << "\\\\A\\s\\aaa"
                                        << "*aaaa" << false;
        QTest::newRow("non-latin") << "\\\\A\\docs\\Отчёт.txt"
                                   << "*отчёт*" << true;
        QTest::newRow("umlaut") << "\\\\A\\docs\\Übersicht.txt"
                                << "*übersicht.txt" << true;
        QTest::newRow("percent") << "\\\\A\\p\\100% done #1 & more.txt"
                                 << "*100% done #1*" << true;
    }
    void match()
    {
        QFETCH(QString, path);
        QFETCH(QString, patternText);
        QFETCH(bool, matches);
        QCOMPARE(patterns::MatchesPatternList(path, patterns::ParsePatternList(patternText)),
                 matches);
    }

    // The two phases against a plain reference implementation on many random strings.
    void againstReference()
    {
        std::function<bool(const QString&, int, const QString&, int)> ref =
            [&](const QString& s, int i, const QString& p, int j) -> bool {
            if (j == p.size())
                return i == s.size();
            if (p[j] == '*')
                return ref(s, i, p, j + 1) || (i < s.size() && ref(s, i + 1, p, j));
            return i < s.size() && (p[j] == '?' || p[j] == s[i]) && ref(s, i + 1, p, j + 1);
        };
        std::mt19937 rng(7);
        const QString alpha = "AB\\*?";
        for (int n = 0; n < 20000; ++n) {
            QString s, p;
            for (int i = 0, len = int(rng() % 7); i < len; ++i)
                s += alpha[int(rng() % 3)];
            for (int i = 0, len = int(rng() % 6); i < len; ++i)
                p += alpha[int(rng() % 5)];
            if (s.isEmpty())
                continue;
            QVERIFY2(patterns::WildcardMatch(s, p) == ref(s, 0, p, 0), qPrintable(s + " / " + p));
        }
    }
};

QTEST_GUILESS_MAIN(TestPatterns)
#include "tst_patterns.moc"
