#include "results/FileOps.h"
#include "search/ShareFs.h"

#include <QtTest>

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
