#include "common/MappedShareFs.h"
#include "results/FileOps.h"

#include <QtTest>

using fileops::Clash;

// Copy, move and delete with local folders standing in for the shares.
class TestFileOps : public QObject
{
    Q_OBJECT

    // \\PC\S\x for "PC/S/x".
    static QString Unc(QString path) { return "\\\\" + path.replace('/', '\\'); }

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
        // A name holding %2 stays what it is in the "Keep both" name.
        MakeFiles(share.path(), {{"PC/S/f%2.txt", "new"}, {"PC/S/g.txt", "new"}});
        MakeFiles(target.path(), {{"f%2.txt", "old"}, {"g.txt", "old"}});
        MappedShareFs fs(share.path(), 0);
        std::atomic<bool> cancel{false};
        int nAsked = 0;
        fileops::Callbacks cb;
        cb.fnAskClash = [&](const QString& t, bool* pAll) {
            ++nAsked;
            *pAll = true; // once for both
            return t.endsWith("f%2.txt") ? Clash(answer) : Clash::Cancel;
        };
        const auto out =
            fileops::CopyInto(fs, {{"\\\\PC\\S\\f%2.txt", false}, {"\\\\PC\\S\\g.txt", false}},
                              target.path(), false, cancel, cb);
        QCOMPARE(nAsked, 1);
        QCOMPARE(Read(target.filePath("f%2.txt")), existing);
        QCOMPARE(Read(target.filePath("g.txt")), existing);
        QCOMPARE(Read(target.filePath("f%2 (2).txt")), kept);
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
            int Stat(const QString&, FsEntry*, std::uint64_t*) override { return ENOENT; }
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

    // A link inside a deleted or moved folder (or selected itself) goes as a link: what it
    // points at, outside, stays whole.
    void linksNeverFollowed_data()
    {
        QTest::addColumn<bool>("bMove");
        QTest::addColumn<QString>("item");
        QTest::addColumn<bool>("bItemIsLink");
        QTest::newRow("delete folder holding links") << false << "dir" << false;
        QTest::newRow("move folder holding links") << true << "dir" << false;
        QTest::newRow("delete link to folder") << false << "dir/home" << true;
        QTest::newRow("move link to folder") << true << "dir/home" << true;
    }
    void linksNeverFollowed()
    {
        QFETCH(bool, bMove);
        QFETCH(QString, item);
        QFETCH(bool, bItemIsLink);
        QTemporaryDir share, outside, target;
        MakeFiles(share.path(), {{"PC/S/dir/own.txt", "own"}});
        MakeFiles(outside.path(), {{"keep.txt", "precious"}, {"sub/deep.txt", "deep"}});
        const QString dir = share.filePath("PC/S/dir");
        QVERIFY(QFile::link(outside.path(), dir + "/home"));
        QVERIFY(QFile::link(outside.filePath("keep.txt"), dir + "/file-link"));
        MappedShareFs fs(share.path(), 0);
        std::atomic<bool> cancel{false};
        const QString unc = Unc("PC/S/" + item);
        const auto out = bMove ? fileops::CopyInto(fs, {{unc, true, bItemIsLink}}, target.path(),
                                                   true, cancel, {})
                               : fileops::Delete(fs, {{unc, true, bItemIsLink}}, cancel, {});
        QVERIFY2(out.failed.isEmpty(), qPrintable(out.failed.join('\n')));
        QCOMPARE(out.done, QStringList{unc});
        QCOMPARE(Read(outside.filePath("keep.txt")), QByteArray("precious"));
        QCOMPARE(Read(outside.filePath("sub/deep.txt")), QByteArray("deep"));
        QVERIFY(!QFileInfo(share.filePath("PC/S/" + item)).isSymLink());
        QVERIFY(!QFileInfo::exists(share.filePath("PC/S/" + item)));
        if (bMove) // the copy has what the link pointed at
            QCOMPARE(
                Read(target.filePath(bItemIsLink ? "home/sub/deep.txt" : "dir/home/sub/deep.txt")),
                QByteArray("deep"));
    }

    // Moving a file onto itself (the share reached as the target folder too) with Replace
    // keeps the file.
    void moveOntoItselfKeepsFile()
    {
        QTemporaryDir share;
        MakeFiles(share.path(), {{"PC/S/f.txt", "only copy"}, {"PC/S/g.txt", "g"}});
        MappedShareFs fs(share.path(), 0);
        std::atomic<bool> cancel{false};
        fileops::Callbacks cb;
        cb.fnAskClash = [](const QString&, bool* pAll) {
            *pAll = true;
            return Clash::Replace;
        };
        const auto out =
            fileops::CopyInto(fs, {{Unc("PC/S/f.txt"), false}, {Unc("PC/S/g.txt"), false}},
                              share.filePath("PC/S"), true, cancel, cb);
        QVERIFY(out.done.isEmpty());
        QCOMPARE(out.failed.size(), 2);
        QVERIFY2(out.failed[0].contains("same file"), qPrintable(out.failed[0]));
        QCOMPARE(Read(share.filePath("PC/S/f.txt")), QByteArray("only copy"));
        QCOMPARE(Read(share.filePath("PC/S/g.txt")), QByteArray("g"));
    }

    void nestedItems_data()
    {
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("inside") << QStringList{Unc("PC/S/d")}
                                << QStringList{Unc("PC/S/d/x"), Unc("PC/S/d/e/y")}
                                << QStringList{Unc("PC/S/d")};
        QTest::newRow("prefix is no parent")
            << QStringList{Unc("PC/S/d")} << QStringList{Unc("PC/S/dd/x"), Unc("PC/S/d.txt")}
            << QStringList{Unc("PC/S/d"), Unc("PC/S/dd/x"), Unc("PC/S/d.txt")};
        QTest::newRow("nested folders")
            << QStringList{"/l/a", "/l/a/b"} << QStringList{"/l/a/b/c", "/l/z"}
            << QStringList{"/l/a", "/l/z"};
    }
    void nestedItems()
    {
        QFETCH(QStringList, folders);
        QFETCH(QStringList, files);
        QFETCH(QStringList, kept);
        QList<fileops::Item> items;
        for (const QString& f : folders)
            items.push_back({f, true, false});
        for (const QString& f : files)
            items.push_back({f, false, false});
        QStringList got;
        for (const fileops::Item& i : fileops::WithoutNested(items))
            got << i.strPath;
        QCOMPARE(got, kept);
    }

    // Cancel in the name-clash question stops the whole job at every level: a folder's other
    // files are neither copied nor, moving, removed from the share.
    void cancelInClashStopsEverything()
    {
        QTemporaryDir share, target;
        MakeFiles(share.path(), {{"PC/S/dir/a.txt", "a"},
                                 {"PC/S/dir/b.txt", "b"},
                                 {"PC/S/dir/c.txt", "c"},
                                 {"PC/S/z.txt", "z"}});
        MakeFiles(target.path(), {{"dir/a.txt", "old"}, {"dir/b.txt", "old"}});
        MappedShareFs fs(share.path(), 0);
        std::atomic<bool> cancel{false};
        int nAsked = 0;
        fileops::Callbacks cb;
        cb.fnAskClash = [&](const QString&, bool*) {
            ++nAsked;
            return Clash::Cancel;
        };
        const auto out = fileops::CopyInto(
            fs, {{"\\\\PC\\S\\dir", true}, {"\\\\PC\\S\\z.txt", false}}, target.path(),
            true, cancel, cb);
        QVERIFY(out.bCancelled);
        QCOMPARE(nAsked, 1);
        QVERIFY(out.done.isEmpty());
        // Whatever came before the question may be there; nothing after it is moved.
        QVERIFY(QFile::exists(share.filePath("PC/S/z.txt")));
        QVERIFY(!QFile::exists(target.filePath("z.txt")));
        QStringList left = QDir(share.filePath("PC/S/dir")).entryList(QDir::Files);
        QVERIFY2(left.contains("b.txt") && left.contains("c.txt"), qPrintable(left.join(',')));
        QCOMPARE(Read(target.filePath("dir/b.txt")), QByteArray("old"));
    }

    // Two long names that cut to the same local name: the second gets a name of its own and
    // never replaces the first, which this job wrote; a name that cannot be made unique is a
    // failure line, not silence.
    void cutNamesNeverReplaceEachOther()
    {
        // A share whose files have names too long for the local disk; each file holds the
        // last character of its name.
        struct LongNames : ShareFs
        {
            QStringList names;
            int ListFolder(const QString&, std::vector<FsEntry>& out) override
            {
                out.clear();
                for (const QString& n : names)
                    out.push_back({n, 0x80, 1, 0});
                return 0;
            }
            std::unique_ptr<FsReader> OpenRead(const QString& path, int*) override
            {
                struct R : FsReader
                {
                    char c;
                    bool bDone = false;
                    explicit R(char ch) : c(ch) {}
                    std::int64_t Read(unsigned char* b, std::size_t) override
                    {
                        if (bDone)
                            return 0;
                        bDone = true;
                        b[0] = static_cast<unsigned char>(c);
                        return 1;
                    }
                };
                return std::make_unique<R>(path.back().toLatin1());
            }
            int Remove(const QString&, bool) override { return 0; }
            int Stat(const QString&, FsEntry*, std::uint64_t*) override { return ENOENT; }
        } fs;
        const QString stem(250, QChar('n'));
        fs.names = {stem + "-first-1", stem + "-second-2"};
        QTemporaryDir target;
        std::atomic<bool> cancel{false};
        int nAsked = 0;
        fileops::Callbacks cb;
        cb.fnAskClash = [&](const QString&, bool*) {
            ++nAsked;
            return Clash::Replace;
        };
        const auto out = fileops::CopyInto(fs, {{"\\\\PC\\S\\dir", true}}, target.path(),
                                           false, cancel, cb);
        QCOMPARE(nAsked, 0); // its own target is never asked about, never replaced
        QVERIFY2(out.failed.isEmpty(), qPrintable(out.failed.join('\n')));
        const QDir dir(target.filePath("dir"));
        QStringList made = dir.entryList(QDir::Files);
        QCOMPARE(made.size(), 2);
        QByteArray contents;
        for (const QString& m : made) {
            QVERIFY(m.toUtf8().size() <= 255);
            contents += Read(dir.filePath(m));
        }
        std::sort(contents.begin(), contents.end());
        QCOMPARE(contents, QByteArray("12"));
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
