#include "smb/SmbContext.h"
#include "smb/SmbUrl.h"

#include <QtTest>

#include <thread>

// Against the loopback test network (scripts/testlan.sh).
class TestSmbSmoke : public QObject
{
    Q_OBJECT
private slots:
    void listsSharesOfAlpha()
    {
        QVERIFY(smb::ProbeTcp("127.0.0.11", 445, 2000) == smb::ProbeResult::Open);
        smb::SmbContext ctx(5000);
        QVERIFY(ctx.IsValid());
        std::vector<smb::DirEntry> entries;
        QCOMPARE(ctx.ListDir(smb::ServerUrl("127.0.0.11"), entries), 0);
        QStringList names;
        for (const auto& e : entries)
            names << e.strName;
        for (const char* share : {"docs", "music", "public", "admin$", "IPC$"})
            QVERIFY2(names.contains(share), qPrintable(names.join(',')));
        for (const auto& e : entries)
            if (e.strName == "IPC$")
                QCOMPARE(e.type, unsigned(smb::DirEntry::IpcShare));
    }

    void nothingListeningIsRefusedFast()
    {
        QElapsedTimer t;
        t.start();
        QCOMPARE(smb::ProbeTcp("127.0.0.19", 445, 2000), smb::ProbeResult::Refused);
        QVERIFY(t.elapsed() < 1000);
    }

    // Contexts on many threads at once, each listing shares: no crash (run under ASan/TSan).
    void manyThreadsListAtOnce()
    {
        std::atomic<int> nOk{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < 8; ++i)
            threads.emplace_back([&, i] {
                for (int round = 0; round < 3; ++round) {
                    smb::SmbContext ctx(5000);
                    std::vector<smb::DirEntry> entries;
                    const QString host = QString("127.0.0.%1").arg(11 + (i + round) % 3);
                    if (ctx.ListDir(smb::ServerUrl(host), entries) == 0 && !entries.empty())
                        ++nOk;
                }
            });
        for (auto& t : threads)
            t.join();
        QCOMPARE(nOk.load(), 24);
    }

    void uncPathsBecomeEncodedUrls_data()
    {
        QTest::addColumn<QString>("unc");
        QTest::addColumn<QByteArray>("url");
        QTest::newRow("plain") << "\\\\ALPHA\\docs\\a.txt" << QByteArray("smb://ALPHA/docs/a.txt");
        QTest::newRow("specials") << "\\\\ALPHA\\public\\100% done #1 & more.txt"
                                  << QByteArray("smb://ALPHA/public/100%25%20done%20%231%20%26%20more.txt");
        QTest::newRow("non-latin") << "\\\\ALPHA\\docs\\Ж" << QByteArray("smb://ALPHA/docs/%D0%96");
        QTest::newRow("forward slashes") << "//BETA/music" << QByteArray("smb://BETA/music");
        QTest::newRow("not unc") << "ALPHA\\docs" << QByteArray();
    }
    void uncPathsBecomeEncodedUrls()
    {
        QFETCH(QString, unc);
        QFETCH(QByteArray, url);
        QCOMPARE(smb::UncToUrl(unc), url);
    }
};

QTEST_GUILESS_MAIN(TestSmbSmoke)
#include "tst_smbsmoke.moc"
