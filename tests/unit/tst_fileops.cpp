#include "common/MappedShareFs.h"
#include "results/FileOps.h"

#include <QtTest>

using fileops::Clash;

// Copy, move and delete with local folders standing in for the shares.
class TestFileOps : public QObject
{
    Q_OBJECT

    static QByteArray Read(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

private slots:
    void safeNames_data()
    {
        QTest::addColumn<QString>("remote");
        QTest::addColumn<QString>("local");
        QTest::newRow("plain") << "report.txt"
                               << "report.txt";
        QTest::newRow("dot dot") << ".."
                                 << "_";
        QTest::newRow("dot") << "."
                             << "_";
        QTest::newRow("empty") << ""
                               << "_";
        QTest::newRow("slash") << "../../etc/passwd"
                               << ".._.._etc_passwd";
        QTest::newRow("control") << QString("a\x01\nb") << "a__b";
        QTest::newRow("backslash kept") << "a\\b"
                                        << "a\\b";
        QTest::newRow("long") << QString(300, 'x') + ".txt" << QString(251, 'x') + ".txt";
        QTest::newRow("long multibyte") << QString(200, QChar(0x416)) << QString(127, QChar(0x416));
    }
    void safeNames()
    {
        QFETCH(QString, remote);
        QFETCH(QString, local);
        QCOMPARE(fileops::SafeLocalName(remote), local);
        QVERIFY(fileops::SafeLocalName(remote).toUtf8().size() <= 255);
    }

    void copyMoveDelete()
    {
        QTemporaryDir share, target;
        MakeFiles(share.path(), {{"PC/S/a.txt", "alpha"},
                                 {"PC/S/dir/b.txt", "beta"},
                                 {"PC/S/dir/sub/c.txt", "gamma"},
                                 {"PC/S/m.txt", "move me"},
                                 {"PC/S/d.txt", "delete me"},
                                 {"PC/S/deldir/x", "x"}});
        MappedShareFs fs(share.path(), 0);
        std::atomic<bool> cancel{false};
        fileops::Callbacks cb;
        auto out = fileops::CopyInto(fs, {{"\\\\PC\\S\\a.txt", false}, {"\\\\PC\\S\\dir", true}},
                                     target.path(), false, cancel, cb);
        QCOMPARE(out.done.size(), 2);
        QVERIFY(out.failed.isEmpty());
        QCOMPARE(Read(target.filePath("a.txt")), QByteArray("alpha"));
        QCOMPARE(Read(target.filePath("dir/sub/c.txt")), QByteArray("gamma"));
        QVERIFY(QFile::exists(share.filePath("PC/S/a.txt"))); // a copy leaves the source

        out = fileops::CopyInto(fs, {{"\\\\PC\\S\\m.txt", false}}, target.path(), true, cancel, cb);
        QCOMPARE(out.done, QStringList{"\\\\PC\\S\\m.txt"});
        QCOMPARE(Read(target.filePath("m.txt")), QByteArray("move me"));
        QVERIFY(!QFile::exists(share.filePath("PC/S/m.txt")));

        out = fileops::Delete(fs,
                              {{"\\\\PC\\S\\d.txt", false},
                               {"\\\\PC\\S\\deldir", true},
                               {"\\\\PC\\S\\gone.txt", false}},
                              cancel, cb);
        QCOMPARE(out.done.size(), 2);
        QCOMPARE(out.failed.size(), 1);
        QVERIFY(out.failed[0].startsWith("\\\\PC\\S\\gone.txt: "));
        QVERIFY(!QFile::exists(share.filePath("PC/S/d.txt")));
        QVERIFY(!QFileInfo::exists(share.filePath("PC/S/deldir")));
    }

    void clashes_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QByteArray>("existing");
        QTest::addColumn<QByteArray>("kept");
        QTest::newRow("replace") << int(Clash::Replace) << QByteArray("new")
                                 << QByteArray("<missing>");
        QTest::newRow("skip") << int(Clash::Skip) << QByteArray("old") << QByteArray("<missing>");
        QTest::newRow("keep both")
            << int(Clash::KeepBoth) << QByteArray("old") << QByteArray("new");
    }
    void clashes()
    {
        QFETCH(int, answer);
        QFETCH(QByteArray, existing);
        QFETCH(QByteArray, kept);
        QTemporaryDir share, target;
        MakeFiles(share.path(), {{"PC/S/f.txt", "new"}, {"PC/S/g.txt", "new"}});
        MakeFiles(target.path(), {{"f.txt", "old"}, {"g.txt", "old"}});
        MappedShareFs fs(share.path(), 0);
        std::atomic<bool> cancel{false};
        int nAsked = 0;
        fileops::Callbacks cb;
        cb.fnAskClash = [&](const QString& t, bool* pAll) {
            ++nAsked;
            *pAll = true; // once for both
            return t.endsWith("f.txt") ? Clash(answer) : Clash::Cancel;
        };
        const auto out =
            fileops::CopyInto(fs, {{"\\\\PC\\S\\f.txt", false}, {"\\\\PC\\S\\g.txt", false}},
                              target.path(), false, cancel, cb);
        QCOMPARE(nAsked, 1);
        QCOMPARE(Read(target.filePath("f.txt")), existing);
        QCOMPARE(Read(target.filePath("g.txt")), existing);
        QCOMPARE(Read(target.filePath("f (2).txt")), kept);
        QCOMPARE(out.done.size(), answer == int(Clash::Skip) ? 0 : 2);
    }

    // A listing that yields hostile names cannot write outside the target.
    void hostileRemoteNames()
    {
        struct Hostile : ShareFs
        {
            int ListFolder(const QString&, std::vector<FsEntry>& out) override
            {
                out = {{"../escape.txt", 0x80, 1, 0},
                       {"..", 0x10, 0, 0},
                       {QString("bad\x01name"), 0x80, 1, 0}};
                return 0;
            }
            std::unique_ptr<FsReader> OpenRead(const QString&, int*) override
            {
                struct R : FsReader
                {
                    bool bDone = false;
                    std::int64_t Read(unsigned char* b, std::size_t) override
                    {
                        if (bDone)
                            return 0;
                        bDone = true;
                        b[0] = 'x';
                        return 1;
                    }
                };
                return std::make_unique<R>();
            }
            int Remove(const QString&, bool) override { return 0; }
        } fs;
        QTemporaryDir outer;
        QDir(outer.path()).mkdir("target");
        const QString target = outer.filePath("target");
        std::atomic<bool> cancel{false};
        fileops::CopyInto(fs, {{"\\\\EVIL\\s\\..", true}}, target, false, cancel, {});
        QVERIFY(!QFile::exists(outer.filePath("escape.txt")));
        QStringList all;
        QDirIterator it(outer.path(), QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            all << QDir(outer.path()).relativeFilePath(it.next());
        for (const QString& f : all)
            QVERIFY2(f.startsWith("target/"), qPrintable(all.join(',')));
        QVERIFY2(all.contains("target/_/.._escape.txt"), qPrintable(all.mid(0, 4).join(',')));
        QVERIFY(all.contains("target/_/bad_name"));
    }

    void cancelStops()
    {
        QTemporaryDir share, target;
        MakeFiles(share.path(), {{"PC/S/a.txt", "a"}, {"PC/S/b.txt", "b"}});
        MappedShareFs fs(share.path(), 0);
        std::atomic<bool> cancel{true};
        const auto out =
            fileops::CopyInto(fs, {{"\\\\PC\\S\\a.txt", false}, {"\\\\PC\\S\\b.txt", false}},
                              target.path(), false, cancel, {});
        QVERIFY(out.bCancelled);
        QVERIFY(out.done.isEmpty());
        QVERIFY(QDir(target.path()).entryList(QDir::Files).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestFileOps)
#include "tst_fileops.moc"
