#include "network/TreeFile.h"

#include <QtTest>

#include <random>

class TestTreeFile : public QObject
{
    Q_OBJECT

    static QByteArray Utf16(const QString& s)
    {
        QByteArray b;
        for (QChar c : s) {
            b += char(c.unicode() & 0xff);
            b += char(c.unicode() >> 8);
        }
        return b;
    }
    // The example tree: WORK (ALPHA: docs, music; BETA) and IP range 1 (10.0.0.5: pub).
    static NodeHandle Example(NetworkTree& t)
    {
        const NodeHandle root =
            t.InsertItem(NoNode, InsertPos::Last, "MS Windows Network", NK_NETWORK);
        const NodeHandle work = t.InsertItem(root, InsertPos::Last, "WORK", NK_DOMAIN);
        const NodeHandle alpha = t.InsertItem(work, InsertPos::Last, "ALPHA", NK_SERVER);
        t.InsertItem(alpha, InsertPos::Last, "docs", NK_SHARE);
        t.InsertItem(alpha, InsertPos::Last, "music", NK_SHARE);
        t.InsertItem(work, InsertPos::Last, "BETA", NK_SERVER);
        const NodeHandle range = t.InsertItem(root, InsertPos::Last, "IP range 1", NK_DOMAIN);
        const NodeHandle host = t.InsertItem(range, InsertPos::Last, "10.0.0.5", NK_SERVER);
        t.InsertItem(host, InsertPos::Last, "pub", NK_SHARE);
        return root;
    }
    static QString Dump(const NetworkTree& t, NodeHandle n, int depth = 0)
    {
        QString s = QString(depth, ' ') + t.GetItemText(n) + QString(":%1\n").arg(t.GetItemKind(n));
        for (NodeHandle c : t.GetChildren(n))
            s += Dump(t, c, depth + 1);
        return s;
    }

private slots:
    void exampleBytes()
    {
        NetworkTree t;
        const NodeHandle root = Example(t);
        const QByteArray bytes = treefile::Serialize(t, root);
        QCOMPARE(bytes,
                 Utf16("2WORK\n1ALPHA\n0docs\n0music\n0BETA\n2IP range 1\n110.0.0.5\n0pub\n"));
        QCOMPARE(bytes.left(12), QByteArray::fromHex("320057004F0052004B000A00"));
    }

    void rootAlone()
    {
        NetworkTree t;
        const NodeHandle root =
            t.InsertItem(NoNode, InsertPos::Last, "MS Windows Network", NK_NETWORK);
        const QByteArray bytes = treefile::Serialize(t, root);
        QCOMPARE(bytes.size(), 40);
        QCOMPARE(bytes, Utf16("0MS Windows Network\n"));
        NetworkTree back;
        std::vector<treefile::Line> lines;
        QVERIFY(treefile::Parse(bytes, lines, nullptr));
        const NodeHandle r2 = treefile::Build(back, lines);
        QCOMPARE(back.GetCount(), 1);
        QCOMPARE(back.GetItemText(r2), QString("MS Windows Network"));
    }

    void leafDomainAndServerAndOddTexts()
    {
        NetworkTree t;
        const NodeHandle root =
            t.InsertItem(NoNode, InsertPos::Last, "MS Windows Network", NK_NETWORK);
        const NodeHandle a = t.InsertItem(root, InsertPos::Last, "A", NK_DOMAIN);
        t.InsertItem(t.InsertItem(a, InsertPos::Last, "S1", NK_SERVER), InsertPos::Last, "x",
                     NK_SHARE);
        t.InsertItem(root, InsertPos::Last, "EMPTY", NK_DOMAIN);
        const NodeHandle c = t.InsertItem(root, InsertPos::Last, "Грузия 2", NK_DOMAIN);
        t.InsertItem(t.InsertItem(c, InsertPos::Last, "9lives", NK_SERVER), InsertPos::Last,
                     "my docs", NK_SHARE);
        QCOMPARE(treefile::Serialize(t, root),
                 Utf16("2A\n1S1\n0x\n0EMPTY\n2Грузия 2\n19lives\n0my docs\n"));
    }

    // What the reading rule rebuilds: every tree whose servers have shares and whose domains
    // have servers comes back exactly, kinds by depth.
    void roundTrip()
    {
        NetworkTree t;
        const NodeHandle root = Example(t);
        // BETA has no shares: give it one, so the file is unambiguous.
        for (NodeHandle s : t.GetChildren(t.GetChildItem(root)))
            if (t.GetItemText(s) == "BETA")
                t.InsertItem(s, InsertPos::Last, "c$", NK_SHARE);
        QTemporaryDir dir;
        const QString path = dir.filePath("net.nft");
        QString err;
        QVERIFY(treefile::Save(t, root, path, &err));
        NetworkTree back;
        const NodeHandle r2 = treefile::Load(back, path, &err);
        QVERIFY2(r2 != NoNode, qPrintable(err));
        QCOMPARE(Dump(back, r2), Dump(t, root));
        QCOMPARE(treefile::Serialize(back, r2), treefile::Serialize(t, root));
    }

    // Names with control characters (a line feed in a share name) stay one node each and come
    // back as they were.
    void controlCharactersInNames()
    {
        NetworkTree t;
        const NodeHandle root = t.InsertItem(NoNode, InsertPos::Last, "MS Windows Network",
                                             NK_NETWORK);
        const NodeHandle d = t.InsertItem(root, InsertPos::Last, "WORK\ngroup", NK_DOMAIN);
        const NodeHandle s = t.InsertItem(d, InsertPos::Last, "SRV\r\n2EVIL", NK_SERVER);
        t.InsertItem(s, InsertPos::Last, QString("tab\there\x7f\x01"), NK_SHARE);
        t.InsertItem(s, InsertPos::Last, "plain", NK_SHARE);
        const QByteArray bytes = treefile::Serialize(t, root);
        QCOMPARE(bytes.count(Utf16("\n")), 4); // one line per node
        std::vector<treefile::Line> lines;
        QVERIFY(treefile::Parse(bytes, lines, nullptr));
        NetworkTree back;
        const NodeHandle r2 = treefile::Build(back, lines);
        QCOMPARE(Dump(back, r2), Dump(t, root));
        QCOMPARE(back.GetCount(), 5);
    }

    // The ambiguous cases go where the reading rule says.
    void readingRule()
    {
        std::vector<treefile::Line> lines;
        QVERIFY(treefile::Parse(Utf16("0lonely\n2D\n1S\n0share\n0leaf-server?\n2E\n0srv\n"), lines,
                                nullptr));
        NetworkTree t;
        const NodeHandle root = treefile::Build(t, lines);
        QCOMPARE(Dump(t, root), QString("MS Windows Network:0\n lonely:1\n D:1\n  S:2\n   share:3\n"
                                        "   leaf-server?:3\n E:1\n  srv:2\n"));
    }

    void saveReplacesWholeAndFailsCleanly()
    {
        NetworkTree t;
        const NodeHandle root = Example(t);
        QTemporaryDir dir;
        const QString path = dir.filePath("x.nft");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(5000, 'z'));
        f.close();
        QString err;
        QVERIFY(treefile::Save(t, root, path, &err));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), treefile::Serialize(t, root));
        f.close();
        QVERIFY(!treefile::Save(t, root, dir.filePath("missing/dir/x.nft"), &err));
        QVERIFY(!err.isEmpty());
        QVERIFY(!QFile::exists(dir.filePath("missing/dir/x.nft")));
    }

    void badFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("lines");
        QTest::newRow("odd size") << QByteArray("2\0A", 3) << false << 0;
        QTest::newRow("bad code") << Utf16("7WORK\n") << false << 0;
        QTest::newRow("empty line") << Utf16("2WORK\n\n") << false << 0;
        QTest::newRow("no line end") << Utf16("2WORK\n1ALPHA") << true << 2;
        QTest::newRow("code only") << Utf16("0\n") << true << 1;
        QTest::newRow("huge line") << Utf16("0" + QString(40000, 'x') + "\n") << false << 0;
        QTest::newRow("empty") << QByteArray() << true << 0;
        QTest::newRow("with BOM") << (QByteArray("\xff\xfe", 2) + Utf16("2A\n")) << false << 0;
    }
    void badFiles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, ok);
        QFETCH(int, lines);
        std::vector<treefile::Line> out;
        QString err;
        QCOMPARE(treefile::Parse(bytes, out, &err), ok);
        if (ok)
            QCOMPARE(int(out.size()), lines);
        else
            QVERIFY(!err.isEmpty());
    }

    // Random, truncated and mutated input never crashes (run under ASan too).
    void fuzz()
    {
        NetworkTree t;
        const QByteArray good = treefile::Serialize(t, Example(t));
        std::mt19937 rng(12345);
        for (int i = 0; i < 3000; ++i) {
            QByteArray b;
            switch (i % 3) {
            case 0:
                b = good.left(int(rng() % (good.size() + 1)));
                break;
            case 1:
                b = good;
                for (int k = 0; k < 4; ++k)
                    b[int(rng() % b.size())] = char(rng());
                break;
            default:
                b.resize(int(rng() % 400));
                for (char& c : b)
                    c = char(rng() % 4 == 0 ? '\n' : rng());
            }
            std::vector<treefile::Line> lines;
            if (treefile::Parse(b, lines, nullptr)) {
                NetworkTree out;
                const NodeHandle root = treefile::Build(out, lines);
                QVERIFY(root != NoNode);
                QCOMPARE(out.GetCount(), lines.size() == 1 && lines[0].nCode == 0 &&
                                                 lines[0].strText == "MS Windows Network"
                                             ? 1
                                             : int(lines.size()) + 1);
            }
        }
    }

    // A file of a million nodes is refused at once with a reason; the cap itself is taken,
    // and the size cap is what the cap allows.
    void nodeCap_data()
    {
        QTest::addColumn<int>("nodes");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("cap") << treefile::kMaxNodes << true;
        QTest::newRow("cap + 1") << treefile::kMaxNodes + 1 << false;
        QTest::newRow("a million") << 1000000 << false;
    }
    void nodeCap()
    {
        QFETCH(int, nodes);
        QFETCH(bool, accepted);
        QByteArray b;
        const QByteArray line = Utf16("0s\n");
        b.reserve(line.size() * nodes);
        for (int i = 0; i < nodes; ++i)
            b += line;
        std::vector<treefile::Line> lines;
        QString err;
        QCOMPARE(treefile::Parse(b, lines, &err), accepted);
        if (!accepted) {
            QCOMPARE(err, QString("The file has more than 200000 nodes."));
            return;
        }
        NetworkTree t;
        treefile::Build(t, lines);
        QCOMPARE(t.GetCount(), nodes + 1);
        QVERIFY(treefile::kMaxFileBytes < 64LL * 1024 * 1024);
    }
};

QTEST_GUILESS_MAIN(TestTreeFile)
#include "tst_treefile.moc"
