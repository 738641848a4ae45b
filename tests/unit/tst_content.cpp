#include "search/ContentMatcher.h"
#include "search/ShareFs.h"

#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

using content::FindBytesNoCase;

class TestContent : public QObject
{
    Q_OBJECT

    static std::ptrdiff_t Find(const QByteArray& hay, const QByteArray& needle)
    {
        return FindBytesNoCase(
            reinterpret_cast<const unsigned char*>(hay.constData()), std::size_t(hay.size()),
            reinterpret_cast<const unsigned char*>(needle.constData()), std::size_t(needle.size()));
    }
    // What the whole matcher says for a file's bytes.
    static bool Matches(const QByteArray& file, const QString& text)
    {
        const auto needles = content::MakeNeedles(text);
        if (!needles)
            return text.isEmpty();
        content::StreamScanner s(*needles);
        return s.Feed(reinterpret_cast<const unsigned char*>(file.constData()),
                      std::size_t(file.size()));
    }

private slots:
    void findBytes_data()
    {
        QTest::addColumn<QByteArray>("hay");
        QTest::addColumn<QByteArray>("needle");
        QTest::addColumn<int>("at");
        QTest::newRow("fold") << QByteArray("xABCx") << QByteArray("abc") << 1;
        QTest::newRow("fold other way") << QByteArray("xabcx") << QByteArray("ABC") << 1;
        QTest::newRow("at end") << QByteArray("0123abc") << QByteArray("ABC") << 4;
        QTest::newRow("part at end") << QByteArray("0123ab") << QByteArray("abc") << -1;
        QTest::newRow("at start") << QByteArray("abc0") << QByteArray("abc") << 0;
        QTest::newRow("needle longer") << QByteArray("ab") << QByteArray("abc") << -1;
        QTest::newRow("empty hay") << QByteArray() << QByteArray("a") << -1;
        QTest::newRow("non-letter exact") << QByteArray("a[b") << QByteArray("A{B") << -1;
        QTest::newRow("@ is not `") << QByteArray("@") << QByteArray("`") << -1;
        QTest::newRow("accent no fold") << QByteArray("caf\xc9") << QByteArray("caf\xe9") << -1;
        QTest::newRow("accent exact") << QByteArray("CAF\xe9!") << QByteArray("caf\xe9") << 0;
        QTest::newRow("first byte non-letter") << QByteArray("xx1aB") << QByteArray("1Ab") << 2;
        QTest::newRow("overlapping") << QByteArray("aaab") << QByteArray("aab") << 1;
        QTest::newRow("long run") << QByteArray(100, 'a') + "b" << QByteArray("AAB") << 98;
        QTest::newRow("nul bytes") << QByteArray("\0\0x\0", 4) << QByteArray("x\0", 2) << 2;
    }
    void findBytes()
    {
        QFETCH(QByteArray, hay);
        QFETCH(QByteArray, needle);
        QFETCH(int, at);
        QCOMPARE(int(Find(hay, needle)), at);
    }

    void needles()
    {
        const auto n = content::MakeNeedles(QString::fromUtf8("Café €Ж"));
        QVERIFY(n);
        // Ж has no Windows-1252 form: no such needle (its '?' would match any question mark).
        QCOMPARE(n->ansi, QByteArray());
        QCOMPARE(n->wide, QByteArray("C\0a\0f\0\xe9\0 \0\xac\x20\x16\x04", 14));
        QCOMPARE(n->utf8, QString::fromUtf8("Café €Ж").toUtf8());
        QCOMPARE(n->scan.Count(), std::size_t(2));
        const auto latin = content::MakeNeedles(QString::fromUtf8("Café €"));
        QCOMPARE(latin->ansi, QByteArray("Caf\xe9 \x80"));
        QCOMPARE(latin->scan.Count(), std::size_t(3));
        // ASCII: its UTF-8 form is its Windows-1252 form, looked for once.
        const auto ascii = content::MakeNeedles("marmalade");
        QCOMPARE(ascii->utf8, QByteArray());
        QCOMPARE(ascii->scan.Count(), std::size_t(2));
        QVERIFY(!content::MakeNeedles(""));
        QVERIFY(content::MakeNeedles(QString(4095, 'x')));
        QVERIFY(!content::MakeNeedles(QString(4096, 'x')));
    }

    void matcher_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("matches");
        QTest::newRow("ascii") << QByteArray("the Budget is here") << "budget" << true;
        QTest::newRow("utf16le") << QString("Hello needle").toUtf8() << "NEEDLE" << true;
        const QString u16 = "xx Hello Needle";
        QTest::newRow("utf16 file")
            << QByteArray(reinterpret_cast<const char*>(u16.utf16()), u16.size() * 2) << "needle"
            << true;
        QTest::newRow("utf16 odd offset")
            << (QByteArray("!") +
                QByteArray(reinterpret_cast<const char*>(u16.utf16()), u16.size() * 2))
            << "hello" << true;
        QTest::newRow("cp1252 file")
            << QByteArray("Caf\xe9 cr\xe8me") << QString::fromUtf8("café") << true;
        QTest::newRow("cp1252 other case")
            << QByteArray("CAF\xc9") << QString::fromUtf8("café") << false;
        QTest::newRow("utf8 file, accented text")
            << QString::fromUtf8("café").toUtf8() << QString::fromUtf8("café") << true;
        const QString strasse = QString::fromUtf8("Straße");
        for (const char* typed : {"Straße", "STRAße", "strAße"}) {
            const QString text = QString::fromUtf8(typed);
            QTest::newRow(qPrintable("utf8 " + text))
                << QString::fromUtf8("in der Straße 5").toUtf8() << text << true;
            QTest::newRow(qPrintable("cp1252 " + text)) << QByteArray("Stra\xdf" "e") << text
                                                        << true;
            const QString u16 = "an der " + strasse;
            QTest::newRow(qPrintable("utf16 " + text))
                << QByteArray(reinterpret_cast<const char*>(u16.utf16()), u16.size() * 2) << text
                << true;
        }
        QTest::newRow("ß only as typed")
            << QString::fromUtf8("STRASSE Strasse").toUtf8() << strasse << false;
        QTest::newRow("utf8 cyrillic") << QString::fromUtf8("мой план").toUtf8()
                                       << QString::fromUtf8("план") << true;
        QTest::newRow("cyrillic other case, no fold")
            << QString::fromUtf8("ПЛАН").toUtf8() << QString::fromUtf8("план") << false;
        QTest::newRow("empty file") << QByteArray() << "a" << false;
        QTest::newRow("empty text") << QByteArray("x") << "" << true;
        QTest::newRow("no") << QByteArray("nothing to see") << "needle" << false;
        QTest::newRow("unmappable is not ?")
            << QByteArray("a?b ????") << QString::fromUtf8("aЖb") << false;
        QTest::newRow("unmappable in utf8")
            << QString::fromUtf8("xaЖbx").toUtf8() << QString::fromUtf8("AЖB") << true;
    }
    void matcher()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, text);
        QFETCH(bool, matches);
        QCOMPARE(Matches(file, text), matches);
    }

    // A needle placed across every possible block boundary is found, for both needles and
    // for blocks shorter than the needle.
    void streamAcrossBoundaries()
    {
        const QString text = "NeedleText";
        const auto needles = content::MakeNeedles(text);
        QVERIFY(needles);
        for (const QByteArray& needle : {QByteArray("needletext"), needles->wide}) {
            for (int pos = 0; pos < 40; ++pos) {
                QByteArray file(80, '.');
                file.replace(pos, needle.size(), needle);
                file.truncate(80);
                for (int block : {1, 2, 3, 7, 9, 10, 11, 19, 20, 21, 33, 64}) {
                    content::StreamScanner s(*needles);
                    bool bFound = false;
                    for (int i = 0; i < file.size(); i += block)
                        bFound =
                            s.Feed(reinterpret_cast<const unsigned char*>(file.constData()) + i,
                                   std::size_t(std::min(block, int(file.size()) - i)));
                    const bool bWhole = pos + needle.size() <= 80;
                    QVERIFY2(bFound == bWhole,
                             qPrintable(QString("pos %1 block %2").arg(pos).arg(block)));
                }
            }
        }
    }

    // A file past 4 GiB is searched whole: the text at its very end is found.
    void beyondFourGiB()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("big.bin");
        const int fd = ::open(QFile::encodeName(path).constData(), O_CREAT | O_WRONLY, 0644);
        QVERIFY(fd >= 0);
        const qint64 size = (4LL << 30) + 4096;
        const char tail[] = "the needle";
        QVERIFY(::pwrite(fd, tail, sizeof tail - 1, size - qint64(sizeof tail - 1)) ==
                qint64(sizeof tail - 1));
        ::close(fd);
        auto fs = MakeLocalShareFs();
        bool bFound = false;
        QCOMPARE(fs->Contains(path, *content::MakeNeedles("NEEDLE"), &bFound), 0);
        QVERIFY(bFound);
        QCOMPARE(fs->Contains(path, *content::MakeNeedles("haystack"), &bFound), 0);
        QVERIFY(!bFound);
    }
};

QTEST_GUILESS_MAIN(TestContent)
#include "tst_content.moc"
