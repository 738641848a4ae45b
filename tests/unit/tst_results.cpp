#include "results/FindsFile.h"
#include "results/ResultsModel.h"

#include <QtTest>

class TestResults : public QObject
{
    Q_OBJECT

    static SearchResult Row(const QString& path, quint64 size, quint64 time = 0)
    {
        return {path, 0x80, size, time};
    }
    static QStringList Names(const ResultsModel& m)
    {
        QStringList out;
        for (int i = 0; i < m.rowCount(); ++i)
            out << m.At(i).strPath;
        return out;
    }

private slots:
    void sizeText_data()
    {
        QTest::addColumn<quint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << quint64(0) << "0 bytes";
        QTest::newRow("1023") << quint64(1023) << "1023 bytes";
        QTest::newRow("1 KB") << quint64(1024) << "1.00 KB";
        QTest::newRow("1.50 KB") << quint64(1536) << "1.50 KB";
        QTest::newRow("cut not rounded") << quint64(2047) << "1.99 KB";
        QTest::newRow("12.3 KB") << quint64(12600) << "12.3 KB";
        QTest::newRow("900 KB") << quint64(900 * 1024) << "900 KB";
        QTest::newRow("999 KB") << quint64(1023 * 1000) << "999 KB";
        QTest::newRow("0.97 MB") << quint64(1000 * 1024) << "0.97 MB";
        QTest::newRow("2.00 MB") << quint64(2 << 20) << "2.00 MB";
        QTest::newRow("5.00 GB") << quint64(5) * (1 << 30) << "5.00 GB";
        QTest::newRow("1.00 TB") << (quint64(1) << 40) << "1.00 TB";
    }
    void sizeText()
    {
        QFETCH(quint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(FormatByteSize(bytes, QLocale::c()), text);
    }

    // File times show as UTC, whatever the machine's zone.
    void timeText()
    {
        // 2026-01-01 00:00:00 UTC as a file time.
        const quint64 ft = (1767225600ULL + 11644473600ULL) * 10000000ULL + 5;
        const QString s = FormatFileTime(ft, QLocale("de_DE"));
        QCOMPARE(s, QString("01.01.26 00:00:00"));
        const QString en =
            FormatFileTime(ft + 13ULL * 3600 * 10000000ULL + 5ULL * 10000000ULL, QLocale("en_US"));
        QVERIFY2(en.startsWith("1/1/26 1:00:05"), qPrintable(en));
    }

    void sortByRealValues_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("order");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("size asc") << 1 << int(Qt::AscendingOrder)
                                  << QStringList{"c", "b", "a", "d", "e"};
        QTest::newRow("size desc")
            << 1 << int(Qt::DescendingOrder) << QStringList{"e", "d", "a", "b", "c"};
        QTest::newRow("time asc") << 2 << int(Qt::AscendingOrder)
                                  << QStringList{"e", "d", "a", "b", "c"};
        QTest::newRow("name") << 0 << int(Qt::AscendingOrder)
                              << QStringList{"a", "b", "c", "d", "e"};
    }
    void sortByRealValues()
    {
        QFETCH(int, column);
        QFETCH(int, order);
        QFETCH(QStringList, names);
        ResultsModel m;
        // 1.50 KB and 1.20 KB, 1023 bytes, 900 KB and 5 GB: by bytes, not by text.
        m.AppendBatch({Row("c", 1023, 50), Row("a", 1536, 10), Row("b", 1229, 40),
                       Row("e", 5ULL << 30, 1), Row("d", 900 * 1024, 2)});
        m.SortNow(column, Qt::SortOrder(order));
        QCOMPARE(Names(m), names);
    }

    void nameSortIsCaseSensitive()
    {
        ResultsModel m;
        m.AppendBatch({Row("b", 1), Row("B", 1), Row("a", 1), Row("A", 1)});
        m.SortNow(0, Qt::AscendingOrder);
        const QStringList n = Names(m);
        QVERIFY(n.indexOf("a") < n.indexOf("b"));
        QVERIFY(n.indexOf("A") < n.indexOf("b"));
        QVERIFY(n.indexOf("a") != n.indexOf("A"));
    }

    // The background sort applies at once; rows that arrive meanwhile stay at the end, and
    // a selection follows its row.
    void backgroundSort()
    {
        ResultsModel m;
        std::vector<SearchResult> rows;
        for (int i = 0; i < 20000; ++i)
            rows.push_back(Row(QString("f%1").arg(i), quint64((i * 7919) % 20000)));
        m.AppendBatch(std::move(rows));
        QPersistentModelIndex tracked = m.index(5, 0); // size 39595 % 20000 = 19595
        QSignalSpy applied(&m, &ResultsModel::SortApplied);
        m.sort(1, Qt::AscendingOrder);
        m.AppendBatch({Row("late", 0)});
        QVERIFY(applied.wait(10000));
        QCOMPARE(m.rowCount(), 20001);
        QCOMPARE(m.At(20000).strPath, QString("late"));
        for (int i = 1; i < 20000; ++i)
            QVERIFY(m.At(i - 1).nSize <= m.At(i).nSize);
        QCOMPARE(m.At(tracked.row()).strPath, QString("f5"));
        QCOMPARE(tracked.row(), 19595);
    }

    // Fast header clicks on many rows: each click makes the sort before it stale, which stops
    // and frees its keys; only the last click's order is applied, once.
    void staleSortsStop()
    {
        ResultsModel m;
        std::vector<SearchResult> rows;
        for (int i = 0; i < 300000; ++i)
            rows.push_back(
                Row(QString("n%1").arg((qint64(i) * 7919) % 300000), quint64(i % 1000), i));
        m.AppendBatch(std::move(rows));
        QSignalSpy applied(&m, &ResultsModel::SortApplied);
        const int nCancelledBefore = ResultsModel::CancelledSorts();
        for (int click = 0; click < 12; ++click)
            m.sort(click % 3, click % 2 ? Qt::DescendingOrder : Qt::AscendingOrder);
        // The 12th click: column 2 (time), descending.
        QVERIFY(applied.wait(20000));
        QTRY_COMPARE_WITH_TIMEOUT(ResultsModel::RunningSorts(), 0, 20000);
        QTest::qWait(50);
        QCOMPARE(applied.count(), 1);
        QVERIFY(!m.IsSorting());
        // The clicks come far faster than a sort of this size: the stale ones stopped early.
        QVERIFY2(ResultsModel::CancelledSorts() - nCancelledBefore >= 8,
                 qPrintable(QString::number(ResultsModel::CancelledSorts() - nCancelledBefore)));
        for (int i = 1; i < m.rowCount(); ++i)
            QVERIFY(m.At(i - 1).nLastWrite >= m.At(i).nLastWrite);

        // A cancelled sort says so and ends without sorting.
        std::atomic<bool> cancel{true};
        std::vector<std::uint32_t> ids(300000);
        std::iota(ids.begin(), ids.end(), 0u);
        ResultsModel::Storage storage;
        QVERIFY(!ResultsModel::SortIds(storage, ids, 0, Qt::AscendingOrder, &cancel) ||
                ids.empty());
    }

    void findsFileBytes_data()
    {
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("latin-1") << QStringList{u"\\\\A\\s\\Grüße.txt"_qs, "\\\\A\\s\\b"}
                                 << QByteArray("\\\\A\\s\\Gr\xfc\xdf"
                                               "e.txt\r\n\\\\A\\s\\b\r\n");
        QTest::newRow("beyond latin-1: utf-8 with bom")
            << QStringList{u"\\\\A\\s\\Отчёт.txt"_qs, u"\\\\A\\s\\é"_qs}
            << (QByteArray("\xef\xbb\xbf") + u"\\\\A\\s\\Отчёт.txt\r\n\\\\A\\s\\é\r\n"_qs.toUtf8());
        QTest::newRow("empty") << QStringList{} << QByteArray();
        QTest::newRow("control characters: pictures, utf-8")
            << QStringList{"\\\\A\\s\\two\nlines.txt", "\\\\A\\s\\t\tab\r"}
            << (QByteArray("\xef\xbb\xbf") +
                u"\\\\A\\s\\two\u240alines.txt\r\n\\\\A\\s\\t\u2409ab\u240d\r\n"_qs.toUtf8());
    }
    void findsFileBytes()
    {
        QFETCH(QStringList, paths);
        QFETCH(QByteArray, bytes);
        QCOMPARE(finds::Serialize(paths), bytes);
        QCOMPARE(finds::Parse(bytes), paths);
    }

    void urlsAndFolders()
    {
        QCOMPARE(
            finds::UrlOf("\\\\ALPHA\\public\\100% done #1.txt").toEncoded(),
            QByteArray("smb://alpha/public/100%25%20done%20%231.txt")); // host names are case-blind
        QCOMPARE(finds::UrlOf("/mnt/share/a b.txt"), QUrl::fromLocalFile("/mnt/share/a b.txt"));
        QCOMPARE(finds::FolderOf("\\\\ALPHA\\docs\\sub\\a.txt"), QString("\\\\ALPHA\\docs\\sub"));
        QCOMPARE(finds::FolderOf("/mnt/x/a.txt"), QString("/mnt/x"));
        QCOMPARE(finds::FolderOf("\\a"), QString());
        QCOMPARE(finds::FolderOf("noseparator"), QString());
    }

    void headersAndTexts()
    {
        ResultsModel m;
        QCOMPARE(m.headerData(0, Qt::Horizontal).toString(), QString("File Name"));
        QCOMPARE(m.headerData(1, Qt::Horizontal).toString(), QString("Size"));
        QCOMPARE(m.headerData(2, Qt::Horizontal).toString(), QString("Timestamp"));
        m.AppendBatch({Row("\\\\A\\s\\x.txt", 10)});
        QCOMPARE(m.index(0, 0).data().toString(), QString("\\\\A\\s\\x.txt"));
        QVERIFY(m.removeRows(0, 1));
        QCOMPARE(m.rowCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestResults)
#include "tst_results.moc"
