#include "results/FileOps.h"
#include "results/FindsFile.h"
#include "search/ShareFs.h"

#include "common/SilentHost.h"

#include <QtTest>

#include <thread>

// Copy, move and delete on the test network's shares, checked on the share with smbclient.
class TestLanFileOps : public QObject
{
    Q_OBJECT
    QString m_lan;
    QTemporaryDir m_target;

    QString ShareDir(const QString& rel) const { return m_lan + "/shares/ALPHA/" + rel; }
    // What smbclient lists in a folder of \\127.0.0.11\public.
    QString SmbLs(const QString& folder)
    {
        QProcess p;
        p.start("smbclient", {"//127.0.0.11/public", "-N", "-s", m_lan + "/client/.smb/smb.conf",
                              "-c", "ls \"" + folder + "\\*\""});
        p.waitForFinished(30000);
        return QString::fromUtf8(p.readAllStandardOutput());
    }
    static QByteArray Read(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

private slots:
    void initTestCase()
    {
        m_lan = qEnvironmentVariable("BC_TESTLAN_DIR");
        QVERIFY(QFileInfo(ShareDir("public")).isDir());
        QDir().mkpath(ShareDir("public/ops/folder"));
        for (const QString& f : {QString("ops/movable.txt"), QString("ops/deletable.txt"),
                                 QString("ops/folder/inner.txt"), QString("ops/self.txt")}) {
            QFile file(ShareDir("public/" + f));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(f.toUtf8());
        }
        QProcess::execute("chmod", {"-R", "a+rwX", ShareDir("public/ops")});
    }

    void cleanupTestCase() { QDir(ShareDir("public/ops")).removeRecursively(); }

    void copyFilesAndFolders()
    {
        auto fs = MakeShareFs();
        std::atomic<bool> cancel{false};
        const auto out = fileops::CopyInto(*fs,
                                           {{"\\\\127.0.0.11\\public\\readme.txt", false},
                                            {"\\\\127.0.0.11\\docs\\sub dir", true}},
                                           m_target.path(), false, cancel, {});
        QVERIFY2(out.failed.isEmpty(), qPrintable(out.failed.join('\n')));
        QCOMPARE(Read(m_target.filePath("readme.txt")), Read(ShareDir("public/readme.txt")));
        QCOMPARE(Read(m_target.filePath("sub dir/nested/notes.md")),
                 Read(ShareDir("docs/sub dir/nested/notes.md")));
        QCOMPARE(QFileInfo(m_target.filePath("sub dir/data.bin")).size(), qint64(70000));
    }

    void moveRemovesFromTheShare()
    {
        QVERIFY(SmbLs("ops").contains("movable.txt"));
        auto fs = MakeShareFs();
        std::atomic<bool> cancel{false};
        const auto out =
            fileops::CopyInto(*fs, {{"\\\\127.0.0.11\\public\\ops\\movable.txt", false}},
                              m_target.path(), true, cancel, {});
        QVERIFY2(out.failed.isEmpty(), qPrintable(out.failed.join('\n')));
        QCOMPARE(Read(m_target.filePath("movable.txt")), QByteArray("ops/movable.txt"));
        QVERIFY(!SmbLs("ops").contains("movable.txt"));
    }

    // The share is the user's own folder: moving a file from it over SMB into that folder
    // itself, answered "Replace", keeps the file.
    void moveOntoItselfKeepsTheFile()
    {
        auto fs = MakeShareFs();
        std::atomic<bool> cancel{false};
        fileops::Callbacks cb;
        int nAsked = 0;
        cb.fnAskClash = [&](const QString&, bool*) {
            ++nAsked;
            return fileops::Clash::Replace;
        };
        const auto out = fileops::CopyInto(*fs, {{"\\\\127.0.0.11\\public\\ops\\self.txt", false}},
                                           ShareDir("public/ops"), true, cancel, cb);
        QVERIFY(out.done.isEmpty());
        QCOMPARE(out.failed.size(), 1);
        QCOMPARE(Read(ShareDir("public/ops/self.txt")), QByteArray("ops/self.txt"));
        QVERIFY(SmbLs("ops").contains("self.txt"));
    }

    // Names with control characters, served as they are: each one stays one entry with its
    // name whole through the helper, the finds list and the tree file's picture escape.
    void controlCharacterNames()
    {
        const QStringList names{"tab\there.txt", "line\nfeed.txt", QString("ctl\x01name.txt")};
        QDir().mkpath(ShareDir("public/ops/ctl"));
        for (const QString& n : names) {
            QFile f(ShareDir("public/ops/ctl/") + n);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("x");
        }
        QProcess::execute("chmod", {"-R", "a+rwX", ShareDir("public/ops/ctl")});
        auto fs = MakeShareFs();
        std::vector<FsEntry> entries;
        QCOMPARE(fs->ListFolder("\\\\127.0.0.11\\public\\ops\\ctl", entries), 0);
        QStringList listed;
        for (const FsEntry& e : entries)
            listed << e.strName;
        listed.sort();
        QStringList expected = names;
        expected.sort();
        QCOMPARE(listed, expected);
        QStringList paths;
        for (const QString& n : names)
            paths << "\\\\127.0.0.11\\public\\ops\\ctl\\" + n;
        const QByteArray saved = finds::Serialize(paths);
        QCOMPARE(saved.count("\r\n"), 3); // one line per path
        QCOMPARE(finds::Parse(saved), paths);
        // The server lists such names but refuses to open them (no SMB path may hold a
        // control character): a copy reports each file by its whole name, none is skipped
        // silently.
        std::atomic<bool> cancel{false};
        const auto out = fileops::CopyInto(*fs, {{"\\\\127.0.0.11\\public\\ops\\ctl", true}},
                                           m_target.path(), false, cancel, {});
        QCOMPARE(out.failed.size(), 3);
        for (const QString& p : paths)
            QCOMPARE(out.failed.filter(p + ": ").size(), 1);
    }

    // Cancel reaches the network: a copy from a server that accepts and never answers ends
    // within a second of Cancel, whatever the server does (the job's cancel is its share file
    // system's, as the window sets it).
    void cancelEndsAWaitForASilentServer()
    {
        SilentHost silent;
        QVERIFY(silent.Start("127.0.0.24"));
        auto fs = MakeSmbShareFs();
        std::atomic<bool> cancel{false};
        fs->SetCancel(CancelToken([&cancel] { return cancel.load(); }));
        QElapsedTimer t;
        qint64 msAfterCancel = -1;
        fileops::Outcome out;
        std::thread job([&] {
            out = fileops::CopyInto(*fs, {{"\\\\127.0.0.24\\share\\dir", true}}, m_target.path(),
                                    false, cancel, {});
            msAfterCancel = t.elapsed();
        });
        QTest::qWait(700); // the job waits for the server now
        t.start();
        cancel = true;
        job.join();
        QVERIFY(msAfterCancel >= 0);
        QVERIFY2(msAfterCancel < 1000, qPrintable(QString::number(msAfterCancel)));
        QVERIFY(out.done.isEmpty());
    }

    void deleteOnTheShare()
    {
        auto fs = MakeShareFs();
        std::atomic<bool> cancel{false};
        auto out = fileops::Delete(*fs,
                                   {{"\\\\127.0.0.11\\public\\ops\\deletable.txt", false},
                                    {"\\\\127.0.0.11\\public\\ops\\folder", true}},
                                   cancel, {});
        QVERIFY2(out.failed.isEmpty(), qPrintable(out.failed.join('\n')));
        const QString ls = SmbLs("ops");
        QVERIFY2(!ls.contains("deletable.txt") && !ls.contains("folder"), qPrintable(ls));
        // A read-only share refuses, and says so.
        out = fileops::Delete(*fs, {{"\\\\127.0.0.11\\docs\\report.txt", false}}, cancel, {});
        QCOMPARE(out.failed.size(), 1);
        QVERIFY(QFile::exists(ShareDir("docs/report.txt")));
    }
};

QTEST_GUILESS_MAIN(TestLanFileOps)
#include "tst_lan_fileops.moc"
