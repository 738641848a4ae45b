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

    // Contexts on many threads at once, listing shares and folders on all three hosts: every
    // call succeeds and nothing crashes (this test runs under ASan and TSan too). Without the
    // logon guard about one connection in fifty failed here with ENOMEM or EINVAL.
    void manyThreadsListAtOnce()
    {
        std::atomic<int> nOk{0};
        std::atomic<int> nFailed{0};
        std::vector<std::thread> threads;
        constexpr int kThreads = 8;
        constexpr int kRounds = 4;
        for (int i = 0; i < kThreads; ++i)
            threads.emplace_back([&, i] {
                for (int round = 0; round < kRounds; ++round) {
                    smb::SmbContext ctx(5000, smb::SmbContext::Protocol::Default, 445);
                    const int h = (i + round) % 3;
                    const QString host = QString("127.0.0.%1").arg(11 + h);
                    const char* share = h == 0 ? "docs" : h == 1 ? "projects" : "lab";
                    std::vector<smb::DirEntry> entries;
                    for (const QByteArray& url :
                         {smb::ServerUrl(host), smb::UncToUrl("\\\\" + host + "\\" + share),
                          smb::UncToUrl("\\\\" + host + "\\" + share)}) {
                        if (ctx.ListDir(url, entries) == 0 && !entries.empty())
                            ++nOk;
                        else
                            ++nFailed;
                    }
                }
            });
        for (auto& t : threads)
            t.join();
        QCOMPARE(nFailed.load(), 0);
        QCOMPARE(nOk.load(), kThreads * kRounds * 3);
    }

    void uncPathsBecomeEncodedUrls_data()
    {
        QTest::addColumn<QString>("unc");
        QTest::addColumn<QByteArray>("url");
        QTest::newRow("plain") << "\\\\ALPHA\\docs\\a.txt" << QByteArray("smb://ALPHA/docs/a.txt");
        QTest::newRow("specials")
            << "\\\\ALPHA\\public\\100% done #1 & more.txt"
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
