#include "common/FakeHelper.h"
#include "smb/HelperPool.h"
#include "smb/HelperProtocol.h"

#include <QtTest>

#include <random>

namespace proto = smbproto;
using fakehelper::PythonHelper;
using fakehelper::Script;

// The helper protocol's frames, and what the pool does with helpers that break it.
class TestProtocol : public QObject
{
    Q_OBJECT

    static proto::Entries SampleEntries()
    {
        proto::Entries m;
        for (int i = 0; i < 3; ++i)
            m.entries.push_back({QByteArray("name ") + QByteArray::number(i), 0x10u + i,
                                 quint64(i) << 40, 133000000000000000ULL + i});
        m.entries.push_back({QByteArray("\0\x01\xff", 3), 0, 0, 0});
        return m;
    }

    // One ListFolder request to a pool whose helper is the given program.
    static int CallWith(const QString& helper, int msRequest, smb::HelperPool::Stats* pStats)
    {
        auto pool = std::make_shared<smb::HelperPool>();
        pool->SetHelperPath(helper);
        smb::PoolLimits limits;
        limits.msRequest = msRequest;
        limits.msConnect = 0;
        pool->SetLimits(limits);
        int err = 0;
        {
            smb::HelperPool::Lease lease = pool->Acquire("host", {}, {});
            if (!lease.Valid())
                return lease.Error();
            err = lease.Call(proto::ListFolder{{"host", "share", {}}}, {}, {}).nError;
        }
        *pStats = pool->GetStats();
        return err;
    }

    template <class V> static std::optional<V> DecodeFrame(const QByteArray& frame)
    {
        proto::FrameReader reader;
        reader.Append(frame.constData(), static_cast<std::size_t>(frame.size()));
        V out;
        if (reader.Next(&out) != proto::FrameReader::Status::Frame)
            return std::nullopt;
        return out;
    }

private slots:
    // Every message of either side comes back as it was sent, also when its bytes arrive one
    // at a time; nothing before its last byte.
    void roundTrip_data()
    {
        QTest::addColumn<bool>("bToHelper");
        QTest::addColumn<QByteArray>("frame");
        auto to = [](proto::ToHelper m) { return proto::Encode(m); };
        auto from = [](proto::FromHelper m) { return proto::Encode(m); };
        QTest::newRow("entries") << false << from(SampleEntries());
        QTest::newRow("no entries") << false << from(proto::Entries{});
        QTest::newRow("done with data")
            << false << from(proto::Done{13, 0x0102030405060708ULL, QByteArray(100000, 'x')});
        QTest::newRow("names") << false
                               << from(proto::Names{{{"docs", proto::kFileShare, "Documents"},
                                                     {"laser", proto::kPrinterShare, {}}}});
        QTest::newRow("stat") << false << from(proto::StatReply{{"", 0x80, 5, 6}, 7, 8});
        QTest::newRow("auth ask") << false
                                  << from(proto::AuthAsk{"ALPHA", "docs", 1, 3,
                                                         proto::kRefusedShare});
        QTest::newRow("contains") << true
                                  << to(proto::Contains{{"10.0.0.5", "100% done", "a/b c"},
                                                        {"x", QByteArray(1, '\0')},
                                                        42});
        QTest::newRow("close") << true << to(proto::Close{});
        QTest::newRow("auth answer")
            << true << to(proto::AuthAnswer{"WG", "bob", "secret", 9, 1, 0});
        QTest::newRow("browse mdns") << true << to(proto::BrowseMdns{2500, "lo,eth1"});
        QTest::newRow("watch") << true << to(proto::Watch{{"ALPHA", "public", {}}});
        QTest::newRow("changes") << false
                                 << from(proto::Changes{
                                        {{1, "new.txt"}, {4, "a\\old"}, {5, "a\\new"}, {0, {}}}});
    }
    void roundTrip()
    {
        QFETCH(bool, bToHelper);
        QFETCH(QByteArray, frame);
        proto::FrameReader reader;
        proto::ToHelper toHelper;
        proto::FromHelper fromHelper;
        auto next = [&] { return bToHelper ? reader.Next(&toHelper) : reader.Next(&fromHelper); };
        for (qsizetype i = 0; i < frame.size(); ++i) {
            QCOMPARE(next(), proto::FrameReader::Status::NeedMore);
            reader.Append(frame.constData() + i, 1);
        }
        QCOMPARE(next(), proto::FrameReader::Status::Frame);
        QCOMPARE(bToHelper ? proto::Encode(toHelper) : proto::Encode(fromHelper), frame);
        QCOMPARE(next(), proto::FrameReader::Status::NeedMore);
    }

    // The fields arrive as typed: a spot check of what the round trip compares as bytes.
    void fieldsAsSent()
    {
        const auto m = DecodeFrame<proto::FromHelper>(proto::Encode(SampleEntries()));
        QVERIFY(m && std::holds_alternative<proto::Entries>(*m));
        const auto& entries = std::get<proto::Entries>(*m).entries;
        QCOMPARE(entries.size(), size_t(4));
        QCOMPARE(entries[2].name, QByteArray("name 2"));
        QCOMPARE(entries[2].nAttributes, 0x12u);
        QCOMPARE(entries[2].nSize, quint64(2) << 40);
        QCOMPARE(entries[3].name, QByteArray("\0\x01\xff", 3));
        // A target's names are plain text on the wire; the URL encodes each of them.
        QCOMPARE(proto::UrlOf({"ALPHA", "100% done", "a b/c#d"}),
                 QByteArray("smb://ALPHA/100%25%20done/a%20b/c%23d"));
        QCOMPARE(proto::UrlOf({"ALPHA", {}, {}}), QByteArray("smb://ALPHA"));
        QCOMPARE(proto::UrlOf({}), QByteArray("smb://"));
    }

    void badFrames_data()
    {
        QTest::addColumn<QByteArray>("frame");
        const QByteArray good = proto::Encode(SampleEntries());
        QTest::newRow("length zero") << QByteArray("\0\0\0\0", 4);
        QTest::newRow("length too large") << QByteArray("\xff\xff\xff\x7f", 4) + "x";
        QTest::newRow("unknown op") << QByteArray("\x01\0\0\0\x63", 5);
        // A request where answers come: the helper's side never sends one.
        QTest::newRow("request op back") << proto::Encode(proto::ToHelper(proto::Read{4}));
        QTest::newRow("short inside") << QByteArray("\x02\0\0\0", 4) + QByteArray("\x45\x01", 2);
        // The body's own lengths disagree with the frame length.
        QByteArray longer = good;
        longer[0] = static_cast<char>(longer[0] + 1);
        longer += 'x';
        QTest::newRow("trailing bytes") << longer;
        // A string length that runs past the end (the first name's length, top byte).
        QByteArray bad = good;
        bad[4 + 1 + 4 + 3] = '\x7f';
        QTest::newRow("string past end") << bad;
        // An entry count far beyond what the bytes could hold.
        QByteArray huge = proto::Encode(proto::Names{});
        huge[huge.size() - 1] = '\x7f';
        QTest::newRow("entry count") << huge;
    }
    void badFrames()
    {
        QFETCH(QByteArray, frame);
        proto::FrameReader reader;
        reader.Append(frame.constData(), static_cast<std::size_t>(frame.size()));
        proto::FromHelper out;
        QCOMPARE(reader.Next(&out), proto::FrameReader::Status::Corrupt);
    }

    // Every cut and random damage of valid frames: the decoder answers, never reads astray
    // (this runs under ASan and UBSan too).
    void truncatedAndMutated()
    {
        const QByteArray good = proto::Encode(SampleEntries());
        for (qsizetype n = 0; n < good.size() - 4; ++n)
            QVERIFY(!proto::DecodeFromHelper(good.constData() + 4, static_cast<std::size_t>(n)));
        std::mt19937 rnd(20261207);
        int nDecoded = 0;
        for (int i = 0; i < 20000; ++i) {
            QByteArray f = good;
            const int nFlips = 1 + static_cast<int>(rnd() % 4);
            for (int k = 0; k < nFlips; ++k)
                f[static_cast<qsizetype>(rnd() % static_cast<unsigned>(f.size()))] =
                    static_cast<char>(rnd());
            nDecoded += DecodeFrame<proto::FromHelper>(f).has_value();
        }
        QVERIFY(nDecoded < 20000);
    }

    // Requests in flight on one helper: answered in order, each waited for in any order; when
    // the helper ends in the middle, the request it was on fails and those after it are marked
    // unanswered (the caller may send them again), never taken for answered.
    void pipelined()
    {
        QTemporaryDir dir;
        auto pool = std::make_shared<smb::HelperPool>();
        pool->SetHelperPath(Script(dir, PythonHelper(proto::Done{0, 7, "ok"}, 0.02, 3)));
        smb::HelperPool::Lease lease = pool->Acquire("host", {}, {});
        QVERIFY(lease.Valid());
        std::vector<quint64> sent;
        for (int i = 0; i < 4; ++i)
            sent.push_back(lease.Send(proto::Stat{{"host", "s", QByteArray::number(i)}}, {}, {}));
        QCOMPARE(lease.InFlight(), size_t(4));
        const smb::Reply second = lease.Wait(sent[1], {});
        QCOMPARE(second.nError, 0);
        QCOMPARE(second.data, QByteArray("ok"));
        QCOMPARE(lease.Wait(sent[0], {}).nResult, quint64(7));
        const smb::Reply third = lease.Wait(sent[2], {});
        QCOMPARE(third.nError, proto::kErrHelperDied);
        QVERIFY(!third.bUnanswered);
        const smb::Reply fourth = lease.Wait(sent[3], {});
        QCOMPARE(fourth.nError, proto::kErrHelperDied);
        QVERIFY(fourth.bUnanswered);
        QVERIFY(!lease.Alive());
    }

    // An answer that arrived while its lessee was busy elsewhere (past the deadline) is taken,
    // not counted as the helper's silence.
    void answerWaitingInTheSocket()
    {
        QTemporaryDir dir;
        auto pool = std::make_shared<smb::HelperPool>();
        pool->SetHelperPath(Script(dir, PythonHelper(proto::Done{0, 5, {}}, 0.0)));
        smb::PoolLimits limits;
        limits.msRequest = 1000;
        limits.msConnect = 0;
        pool->SetLimits(limits);
        smb::HelperPool::Lease lease = pool->Acquire("host", {}, {});
        QVERIFY(lease.Valid());
        const quint64 n = lease.Send(proto::Stat{{"host", "s", {}}}, {}, {});
        QThread::msleep(2500);
        const smb::Reply r = lease.Wait(n, {});
        QCOMPARE(r.nError, 0);
        QCOMPARE(r.nResult, quint64(5));
        QCOMPARE(pool->GetStats().nKilled, 0);
    }

    // A helper that talks nonsense, dies, says nothing or cannot start costs the request, with
    // a reason, and leaves no process behind.
    void brokenHelpers_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<int>("error");
        QTest::newRow("garbage") << QByteArray(
                                        "printf '\\377\\377\\377\\377garbage' >&3; exec sleep 20")
                                 << proto::kErrHelperDied;
        QTest::newRow("unknown op")
            << QByteArray("printf '\\001\\000\\000\\000\\143' >&3; exec sleep 20")
            << proto::kErrHelperDied;
        QTest::newRow("request op back") << QByteArray("printf '\\041\\000\\000\\000\\001' >&3; "
                                                       "head -c 32 /dev/zero >&3; exec sleep 20")
                                         << proto::kErrHelperDied;
        QTest::newRow("exits") << QByteArray("exit 0") << proto::kErrHelperDied;
        QTest::newRow("silent") << QByteArray("exec sleep 20") << proto::kErrHelperTimeout;
    }
    void brokenHelpers()
    {
        QFETCH(QByteArray, script);
        QFETCH(int, error);
        QTemporaryDir dir;
        smb::HelperPool::Stats stats;
        QElapsedTimer t;
        t.start();
        QCOMPARE(CallWith(Script(dir, script), 1000, &stats), error);
        QVERIFY(t.elapsed() < 5000);
        QCOMPARE(stats.nProcesses, 0);
        QCOMPARE(stats.nKilled, 1);
    }

    // Stop while a helper is silent: the wait ends when the cancel comes (its descriptor wakes
    // the poll), the helper with it, long before the request's own deadline; a cancel that is
    // only a question (a flag of the caller's) is looked at between slices and ends it too.
    void cancelEndsASilentWait_data()
    {
        QTest::addColumn<bool>("bWakes");
        QTest::newRow("token") << true;
        QTest::newRow("flag") << false;
    }
    void cancelEndsASilentWait()
    {
        QFETCH(bool, bWakes);
        QTemporaryDir dir;
        auto pool = std::make_shared<smb::HelperPool>();
        pool->SetHelperPath(Script(dir, "exec sleep 30"));
        smb::PoolLimits limits;
        limits.msRequest = 20000;
        limits.msConnect = 0;
        pool->SetLimits(limits);
        std::atomic<bool> flag{false};
        const CancelToken token = CancelToken::Make();
        const CancelToken cancel = bWakes ? token : CancelToken([&] { return flag.load(); });
        smb::HelperPool::Lease lease = pool->Acquire("host", {}, cancel);
        QVERIFY(lease.Valid());
        QElapsedTimer t;
        t.start();
        std::thread stopper([&] {
            QThread::msleep(300);
            token.Cancel();
            flag = true;
        });
        const smb::Reply r = lease.Call(proto::ListFolder{{"host", "share", {}}}, {}, cancel);
        stopper.join();
        QCOMPARE(r.nError, proto::kErrCancelled);
        QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
        QVERIFY(!lease.Alive());
        lease.Release();
        QCOMPARE(pool->GetStats().nProcesses, 0);
    }

    void missingHelper()
    {
        smb::HelperPool::Stats stats;
        QCOMPARE(CallWith("/nonexistent/brindlecove-smb", 1000, &stats), proto::kErrNoHelper);
    }

    // More callers than helpers: each host gets its turn, the caps are never passed, a cancel
    // ends a wait.
    void capsAndTurns()
    {
        QTemporaryDir dir;
        auto pool = std::make_shared<smb::HelperPool>();
        // A helper that answers every request with an empty Done, after a short pause.
        pool->SetHelperPath(Script(dir, PythonHelper(proto::Done{})));
        smb::PoolLimits limits;
        limits.nMaxHelpers = 3;
        limits.nMaxPerHost = 2;
        pool->SetLimits(limits);
        std::vector<std::thread> threads;
        std::atomic<int> nOk{0};
        for (int i = 0; i < 12; ++i)
            threads.emplace_back([&, i] {
                for (int k = 0; k < 3; ++k) {
                    auto lease = pool->Acquire(QString("host%1").arg(i % 4), {}, {});
                    if (lease.Valid() &&
                        lease.Call(proto::Stat{{"x", "y", {}}}, {}, {}).nError == 0)
                        ++nOk;
                }
            });
        for (auto& t : threads)
            t.join();
        QCOMPARE(nOk.load(), 36);
        const auto s = pool->GetStats();
        QVERIFY(s.nPeakProcesses <= 3);
        QVERIFY(s.nPeakLentPerHost <= 2);
        QCOMPARE(s.nLent, 0);

        // All helpers lent: a waiting caller gives up when cancelled.
        std::vector<smb::HelperPool::Lease> held;
        for (int i = 0; i < 3; ++i)
            held.push_back(pool->Acquire(QString("h%1").arg(i), {}, {}));
        const CancelToken cancel = CancelToken::Make();
        std::thread stopper([&] {
            QThread::msleep(200);
            cancel.Cancel();
        });
        QElapsedTimer t;
        t.start();
        auto waiting = pool->Acquire("other", {}, cancel);
        stopper.join();
        QVERIFY(!waiting.Valid());
        QCOMPARE(waiting.Error(), proto::kErrCancelled);
        QVERIFY(t.elapsed() < 400);
        pool->Shutdown();
        held.clear();
        QCOMPARE(pool->GetStats().nProcesses, 0);
    }

    // A caller waiting for a helper goes on as soon as one comes back or its search stops,
    // not at its next look: with a token that wakes, and with a flag that is only a question.
    void waiterGoesOnAtOnce_data()
    {
        QTest::addColumn<QString>("event");
        QTest::newRow("a helper comes back") << "give";
        QTest::newRow("cancelled token") << "token";
        QTest::newRow("cancelled flag") << "flag";
        QTest::newRow("pool shut down") << "shutdown";
    }
    void waiterGoesOnAtOnce()
    {
        QFETCH(QString, event);
        QTemporaryDir dir;
        auto pool = std::make_shared<smb::HelperPool>();
        pool->SetHelperPath(Script(dir, PythonHelper(proto::Done{})));
        smb::PoolLimits limits;
        limits.nMaxHelpers = 2;
        pool->SetLimits(limits);
        std::vector<smb::HelperPool::Lease> held;
        held.push_back(pool->Acquire("a", {}, {}));
        held.push_back(pool->Acquire("b", {}, {}));
        QVERIFY(held[0].Valid() && held[1].Valid());
        std::atomic<bool> flag{false};
        const CancelToken token = CancelToken::Make();
        const CancelToken cancel =
            event == "flag" ? CancelToken([&] { return flag.load(); }) : token;
        QElapsedTimer t;
        std::thread mover([&] {
            QThread::msleep(300);
            t.start();
            if (event == "give")
                held[0].Release();
            else if (event == "token")
                token.Cancel();
            else if (event == "flag")
                flag = true;
            else
                pool->Shutdown();
        });
        // A second waiter, of another host, keeps its place throughout.
        const CancelToken other = CancelToken::Make();
        std::atomic<bool> bSecondServed{false};
        std::thread second([&] {
            QThread::msleep(100);
            bSecondServed = pool->Acquire("d", {}, other).Valid();
        });
        auto waiting = pool->Acquire("c", {}, cancel);
        const qint64 msAfter = t.elapsed();
        mover.join();
        QCOMPARE(waiting.Valid(), event == "give");
        if (!waiting.Valid())
            QCOMPARE(waiting.Error(), proto::kErrCancelled);
        QVERIFY2(msAfter < 800, qPrintable(QString::number(msAfter)));
        other.Cancel();
        second.join();
        QVERIFY(!bSecondServed.load());
        waiting.Release();
        pool->Shutdown();
        held.clear();
        QCOMPARE(pool->GetStats().nProcesses, 0);
    }

    // A wake-up runs once, on the cancel, and never after its owner ended it.
    void cancelWakeups()
    {
        const CancelToken token = CancelToken::Make();
        int nKept = 0, nEnded = 0;
        const CancelToken::Wakeup kept = token.OnCancel([&] { ++nKept; });
        {
            const CancelToken::Wakeup ended = token.OnCancel([&] { ++nEnded; });
        }
        CancelToken::Wakeup moved = token.OnCancel([&] { ++nKept; });
        CancelToken::Wakeup target = std::move(moved);
        token.Cancel();
        token.Cancel();
        QCOMPARE(nKept, 2);
        QCOMPARE(nEnded, 0);
        int nLate = 0;
        const CancelToken::Wakeup late = token.OnCancel([&] { ++nLate; });
        QCOMPARE(nLate, 0);
        QVERIFY(token.Cancelled());
    }
};

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
