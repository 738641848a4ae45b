// The needle scanner against a plain byte-by-byte search, on every kernel this processor runs:
// random haystacks and needles, matches planted at vector seams and at the very end.
#include "search/NeedleSet.h"

#include <QtTest>

#include <random>

using content::NeedleSet;

namespace {

unsigned char Fold(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

// The earliest start of any needle, the obvious way.
std::ptrdiff_t Naive(const QByteArray& hay, const std::vector<QByteArray>& needles)
{
    for (qsizetype i = 0; i < hay.size(); ++i) {
        for (const QByteArray& n : needles) {
            if (n.isEmpty() || i + n.size() > hay.size())
                continue;
            qsizetype k = 0;
            while (k < n.size() && Fold(static_cast<unsigned char>(hay[i + k])) ==
                                       Fold(static_cast<unsigned char>(n[k])))
                ++k;
            if (k == n.size())
                return i;
        }
    }
    return -1;
}

// The alphabets bytes are drawn from: letters of both cases (many partial matches), the bytes
// one bit away from letters ('@' and 'a' differ only where 'A' and 'a' do), and everything.
QByteArray Alphabet(const QString& name)
{
    if (name == "letters")
        return "aAbBcC";
    if (name == "near letters")
        return QByteArray("aA@`[{zZ") + '\0';
    QByteArray all(256, '\0');
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<char>(i);
    return all;
}

const char* Name(NeedleSet::Kernel k)
{
    return NeedleSet::KernelName(k);
}

} // namespace

class TestNeedleScan : public QObject
{
    Q_OBJECT

private slots:
    void againstNaive_data()
    {
        QTest::addColumn<QString>("alphabet");
        QTest::addColumn<int>("minLength");
        QTest::addColumn<int>("maxLength");
        QTest::addColumn<int>("needles");
        QTest::addColumn<int>("hayLength");
        for (const char* alphabet : {"letters", "near letters", "all bytes"}) {
            for (auto [lo, hi] : {std::pair{1, 1}, {2, 3}, {4, 16}, {17, 40}, {41, 64}}) {
                for (int count : {1, 3}) {
                    for (int hay : {0, 15, 33, 100, 1000}) {
                        QTest::addRow("%s, needle %d-%d, %d needles, hay %d", alphabet, lo, hi,
                                      count, hay)
                            << QString(alphabet) << lo << hi << count << hay;
                    }
                }
            }
        }
    }
    void againstNaive()
    {
        QFETCH(QString, alphabet);
        QFETCH(int, minLength);
        QFETCH(int, maxLength);
        QFETCH(int, needles);
        QFETCH(int, hayLength);
        const QByteArray abc = Alphabet(alphabet);
        std::mt19937 rng(static_cast<unsigned>(qHash(QTest::currentDataTag())));
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        auto randomBytes = [&](int n) {
            QByteArray b(n, '\0');
            for (char& c : b)
                c = abc[pick(0, int(abc.size()) - 1)];
            return b;
        };
        for (int trial = 0; trial < 60; ++trial) {
            std::vector<QByteArray> set;
            for (int i = 0; i < needles; ++i)
                set.push_back(randomBytes(pick(minLength, maxLength)));
            QByteArray hay = randomBytes(hayLength);
            // Plant one needle, its letters' cases flipped at random, at the start, the very
            // end, across a 16- or 32-byte seam, or anywhere.
            const QByteArray& planted = set[std::size_t(pick(0, needles - 1))];
            if (trial % 4 != 3 && planted.size() <= hay.size()) {
                const int last = int(hay.size() - planted.size());
                int at = pick(0, last);
                switch (trial % 4) {
                case 0:
                    at = last;
                    break;
                case 1: {
                    const int seam = pick(1, 4) * (trial % 8 < 4 ? 16 : 32) - pick(0, 2);
                    at = std::min(last, std::max(0, seam - int(planted.size()) / 2));
                    break;
                }
                }
                for (int i = 0; i < planted.size(); ++i) {
                    char c = planted[i];
                    if (pick(0, 1) && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')))
                        c = static_cast<char>(c ^ 0x20);
                    hay[at + i] = c;
                }
            }
            const std::ptrdiff_t expected = Naive(hay, set);
            const NeedleSet scan(set);
            for (NeedleSet::Kernel k : NeedleSet::Kernels()) {
                const std::ptrdiff_t got = scan.Find(
                    reinterpret_cast<const unsigned char*>(hay.constData()), hay.size(), k);
                if (got != expected) {
                    QByteArray shown;
                    for (const QByteArray& n : set)
                        shown += n.toHex() + " ";
                    QFAIL(qPrintable(QString("%1 kernel: %2, expected %3; needles %4hay %5")
                                         .arg(Name(k))
                                         .arg(got)
                                         .arg(expected)
                                         .arg(QString(shown), QString(hay.toHex()))));
                }
            }
        }
    }

    // A match that ends on the haystack's last byte is found; one cut off by the end is not,
    // at every distance from a vector boundary.
    void endOfHaystack()
    {
        const QByteArray needle = "Quixotic";
        const NeedleSet scan({needle});
        for (int n = 8; n < 100; ++n) {
            QByteArray hay(n, '.');
            hay.replace(n - needle.size(), needle.size(), needle.toUpper());
            for (NeedleSet::Kernel k : NeedleSet::Kernels()) {
                QCOMPARE(scan.Find(reinterpret_cast<const unsigned char*>(hay.constData()),
                                   hay.size(), k),
                         std::ptrdiff_t(n - needle.size()));
                QCOMPARE(scan.Find(reinterpret_cast<const unsigned char*>(hay.constData()),
                                   hay.size() - 1, k),
                         std::ptrdiff_t(-1));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestNeedleScan)
#include "tst_needlescan.moc"
