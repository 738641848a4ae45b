#include "log/LogModel.h"
#include "log/StatusQueue.h"

#include <QtTest>

#include <thread>

class TestStatusLog : public QObject
{
    Q_OBJECT
private slots:
    // Texts of one thread come out in the order that thread queued them; the wake-up is
    // asked for exactly when the queue turns non-empty.
    void queueKeepsPerThreadOrder()
    {
        StatusQueue q;
        constexpr int kThreads = 4;
        constexpr int kEach = 5000;
        std::atomic<int> nWakeups{0};
        QStringList drained;
        std::atomic<bool> bDone{false};
        std::thread drainer([&] {
            while (!bDone || !q.IsEmpty())
                drained += q.TakeAll();
        });
        std::vector<std::thread> producers;
        for (int t = 0; t < kThreads; ++t)
            producers.emplace_back([&, t] {
                for (int i = 0; i < kEach; ++i)
                    if (q.Append(QString("%1:%2").arg(t).arg(i)))
                        ++nWakeups;
            });
        for (auto& p : producers)
            p.join();
        bDone = true;
        drainer.join();
        QCOMPARE(drained.size(), kThreads * kEach);
        int next[kThreads] = {};
        for (const QString& s : drained) {
            const int t = s.section(':', 0, 0).toInt();
            QCOMPARE(s.section(':', 1).toInt(), next[t]);
            ++next[t];
        }
        QVERIFY(nWakeups >= 1);
        QVERIFY(nWakeups <= kThreads * kEach);
    }

    void queueWakesOncePerBurst()
    {
        StatusQueue q;
        QVERIFY(q.Append("a"));
        QVERIFY(!q.Append("b"));
        QVERIFY(!q.Append(""));
        QCOMPARE(q.TakeAll(), (QStringList{"a", "b", ""}));
        QVERIFY(q.TakeAll().isEmpty());
        QVERIFY(q.Append("c"));
    }

    void rowsAppendedEmptyIgnored()
    {
        LogModel m;
        QSignalSpy inserted(&m, &QAbstractItemModel::rowsInserted);
        const QDateTime when(QDate(2026, 3, 4), QTime(5, 6, 7));
        QCOMPARE(m.AddEntries({"one", "", "two", "three"}, when), 3);
        QCOMPARE(inserted.count(), 1); // one batch
        QCOMPARE(m.rowCount(), 3);
        QCOMPARE(m.Event(0), QString("one"));
        QCOMPARE(m.Event(2), QString("three"));
        QCOMPARE(m.Timestamp(1), FormatLogTimestamp(when));
        QCOMPARE(m.AddEntries({""}, when), 0);
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(m.headerData(0, Qt::Horizontal).toString(), QString("Timestamp"));
        QCOMPARE(m.headerData(1, Qt::Horizontal).toString(), QString("Event"));
        m.ClearLog();
        QCOMPARE(m.rowCount(), 0);
        m.AddEntries({"after clear"}, when);
        QCOMPARE(m.Event(0), QString("after clear"));
    }

    void timestampFormat_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::newRow("en_US") << "en_US";
        QTest::newRow("de_DE") << "de_DE";
        QTest::newRow("C") << "C";
    }
    // The locale's short date, exactly one space, the time with seconds and no zone.
    void timestampFormat()
    {
        QFETCH(QString, locale);
        const QLocale loc(locale);
        const QDateTime when(QDate(2026, 1, 2), QTime(15, 4, 5));
        const QString s = FormatLogTimestamp(when, loc);
        const QString date = loc.toString(when.date(), QLocale::ShortFormat);
        QVERIFY2(s.startsWith(date + ' '), qPrintable(s));
        const QString time = s.mid(date.size() + 1);
        QVERIFY2(!time.startsWith(' '), qPrintable(s));
        QVERIFY2(QRegularExpression("^(15|3):04:05( ?\\S*)?$").match(time.simplified()).hasMatch(),
                 qPrintable(time));
        QVERIFY2(!time.contains("UTC") && !time.contains("GMT"), qPrintable(time));
    }

    void saveLogWritesEveryRow()
    {
        LogModel m;
        const QDateTime when(QDate(2026, 12, 7), QTime(8, 9, 10));
        m.AddEntries({"Searching in \\\\ALPHA\\docs", "tab\there", "line\nbreak", "Grüße ✓"}, when);
        QTemporaryDir dir;
        const QString path = dir.filePath("log.txt");
        QString err;
        QVERIFY(m.SaveLog(path, &err));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        const QString stamp = FormatLogTimestamp(when);
        const QByteArray expected =
            (stamp + "\tSearching in \\\\ALPHA\\docs\n" + stamp + "\ttab here\n" + stamp +
             "\tline break\n" + stamp + "\tGrüße ✓\n")
                .toUtf8();
        QCOMPARE(bytes, expected);
        // A path that cannot be written reports the failure.
        QVERIFY(!m.SaveLog(dir.filePath("no/such/dir/log.txt"), &err));
        QVERIFY(!err.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestStatusLog)
#include "tst_statuslog.moc"
