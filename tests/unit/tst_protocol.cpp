#include "smb/HelperPool.h"
#include "smb/HelperProtocol.h"

#include <QtTest>

#include <random>

using smbproto::Message;
using smbproto::Op;

// The helper protocol's frames, and what the pool does with helpers that break it.
class TestProtocol : public QObject
{
    Q_OBJECT

    static Message Sample()
    {
        Message m;
        m.op = Op::Entries;
        m.n1 = 0x0102030405060708ULL;
        m.n2 = 13;
        m.s1 = "smb://ALPHA/docs/100%25%20done";
        m.s3 = QByteArray("\0\x01\xff", 3);
        for (int i = 0; i < 3; ++i)
            m.entries.push_back({QByteArray("name ") + QByteArray::number(i), 0x10u + i,
                                 quint64(i) << 40, 133000000000000000ULL + i, "comment"});
        return m;
    }

    static QString Script(const QTemporaryDir& dir, const QByteArray& body)
    {
        const QString path = dir.filePath("helper.sh");
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write((body.startsWith("#!") ? QByteArray() : QByteArray("#!/bin/sh\n")) + body + "\n");
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
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
            Message req;
            req.op = Op::ListFolder;
            req.s1 = "smb://host/share";
            err = lease.Call(req, {}, nullptr, {});
        }
        *pStats = pool->GetStats();
        return err;
    }

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<int>("variant");
        QTest::newRow("entries") << 0;
        QTest::newRow("empty") << 1;
        QTest::newRow("done with data") << 2;
    }
    void roundTrip()
    {
        QFETCH(int, variant);
        Message m = Sample();
        if (variant == 1)
            m = Message{};
        if (variant == 2) {
            m.op = Op::Done;
            m.entries.clear();
            m.s1 = QByteArray(100000, 'x');
        }
        const QByteArray frame = smbproto::Encode(m);
        smbproto::FrameReader reader;
        // Byte by byte: nothing until the last byte, then exactly the message.
        Message out;
        for (qsizetype i = 0; i < frame.size(); ++i) {
            QCOMPARE(reader.Next(&out), smbproto::FrameReader::Status::NeedMore);
            reader.Append(frame.constData() + i, 1);
        }
        QCOMPARE(reader.Next(&out), smbproto::FrameReader::Status::Frame);
        QCOMPARE(out.op, m.op);
        QCOMPARE(out.n1, m.n1);
        QCOMPARE(out.n2, m.n2);
        QCOMPARE(out.s1, m.s1);
        QCOMPARE(out.s2, m.s2);
        QCOMPARE(out.s3, m.s3);
        QCOMPARE(out.entries.size(), m.entries.size());
        for (std::size_t i = 0; i < m.entries.size(); ++i) {
            QCOMPARE(out.entries[i].name, m.entries[i].name);
            QCOMPARE(out.entries[i].nAttributes, m.entries[i].nAttributes);
            QCOMPARE(out.entries[i].nSize, m.entries[i].nSize);
            QCOMPARE(out.entries[i].nTime, m.entries[i].nTime);
            QCOMPARE(out.entries[i].comment, m.entries[i].comment);
        }
        QCOMPARE(reader.Next(&out), smbproto::FrameReader::Status::NeedMore);
    }

    void badFrames_data()
    {
        QTest::addColumn<QByteArray>("frame");
        const QByteArray good = smbproto::Encode(Sample());
        QTest::newRow("length zero") << QByteArray("\0\0\0\0", 4);
        QTest::newRow("length too large") << QByteArray("\xff\xff\xff\x7f", 4) + "x";
        QTest::newRow("unknown op") << QByteArray("\x01\0\0\0\x63", 5);
        QByteArray entries = good;
        entries.chop(1);
        QTest::newRow("short inside") << QByteArray("\x02\0\0\0", 4) + QByteArray("\x46\x01", 2);
        // The body's own lengths disagree with the frame length.
        QByteArray longer = good;
        longer[0] = static_cast<char>(longer[0] + 1);
        longer += 'x';
        QTest::newRow("trailing bytes") << longer;
        // A string length that runs past the end.
        QByteArray bad = good;
        bad[4 + 1 + 16] = '\xff';
        QTest::newRow("string past end") << bad;
        // An entry count far beyond what the bytes could hold.
        Message m;
        m.op = Op::Names;
        QByteArray huge = smbproto::Encode(m);
        huge[huge.size() - 1] = '\x7f';
        QTest::newRow("entry count") << huge;
    }
    void badFrames()
    {
        QFETCH(QByteArray, frame);
        smbproto::FrameReader reader;
        reader.Append(frame.constData(), static_cast<std::size_t>(frame.size()));
        Message out;
        QCOMPARE(reader.Next(&out), smbproto::FrameReader::Status::Corrupt);
    }

    // Every cut and random damage of valid frames: the decoder answers, never reads astray
    // (this runs under ASan and UBSan too).
    void truncatedAndMutated()
    {
        const QByteArray good = smbproto::Encode(Sample());
        for (qsizetype n = 0; n < good.size() - 4; ++n)
            QVERIFY(!smbproto::Decode(good.constData() + 4, static_cast<std::size_t>(n)));
        std::mt19937 rnd(20261207);
        int nDecoded = 0;
        for (int i = 0; i < 20000; ++i) {
            QByteArray f = good;
            const int nFlips = 1 + static_cast<int>(rnd() % 4);
            for (int k = 0; k < nFlips; ++k)
                f[static_cast<qsizetype>(rnd() % static_cast<unsigned>(f.size()))] =
                    static_cast<char>(rnd());
            smbproto::FrameReader reader;
            reader.Append(f.constData(), static_cast<std::size_t>(f.size()));
            Message out;
            nDecoded += reader.Next(&out) == smbproto::FrameReader::Status::Frame;
        }
        QVERIFY(nDecoded < 20000);
    }

    // A helper that talks nonsense, dies, says nothing or cannot start costs the request, with
    // a reason, and leaves no process behind.
    void brokenHelpers_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<int>("error");
        QTest::newRow("garbage") << QByteArray(
                                        "printf '\\377\\377\\377\\377garbage' >&3; exec sleep 20")
                                 << smbproto::kErrHelperDied;
        QTest::newRow("unknown op")
            << QByteArray("printf '\\001\\000\\000\\000\\143' >&3; exec sleep 20")
            << smbproto::kErrHelperDied;
        QTest::newRow("request op back") << QByteArray("printf '\\041\\000\\000\\000\\001' >&3; "
                                                       "head -c 32 /dev/zero >&3; exec sleep 20")
                                         << smbproto::kErrHelperDied;
        QTest::newRow("exits") << QByteArray("exit 0") << smbproto::kErrHelperDied;
        QTest::newRow("silent") << QByteArray("exec sleep 20") << smbproto::kErrHelperTimeout;
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

    void missingHelper()
    {
        smb::HelperPool::Stats stats;
        QCOMPARE(CallWith("/nonexistent/brindlecove-smb", 1000, &stats), smbproto::kErrNoHelper);
    }

    // More callers than helpers: each host gets its turn, the caps are never passed, a cancel
    // ends a wait.
    void capsAndTurns()
    {
        QTemporaryDir dir;
        auto pool = std::make_shared<smb::HelperPool>();
        // A helper that answers every request with an empty Done, after a short pause.
        pool->SetHelperPath(
            Script(dir, "#!/usr/bin/env python3\n"
                        "import socket, struct, time\n"
                        "s = socket.socket(fileno=3)\n"
                        "def take(n):\n"
                        "    b = b''\n"
                        "    while len(b) < n:\n"
                        "        c = s.recv(n - len(b))\n"
                        "        if not c: raise SystemExit(0)\n"
                        "        b += c\n"
                        "    return b\n"
                        "while True:\n"
                        "    take(struct.unpack('<I', take(4))[0])\n"
                        "    time.sleep(0.05)\n"
                        "    s.sendall(struct.pack('<I', 33) + bytes([70]) + bytes(32))\n"));
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
                    Message req;
                    req.op = Op::Stat;
                    req.s1 = "smb://x/y";
                    if (lease.Valid() && lease.Call(req, {}, nullptr, {}) == 0)
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
        std::atomic<bool> cancel{false};
        std::thread stopper([&] {
            QThread::msleep(200);
            cancel = true;
        });
        QElapsedTimer t;
        t.start();
        auto waiting = pool->Acquire("other", {}, [&] { return cancel.load(); });
        stopper.join();
        QVERIFY(!waiting.Valid());
        QCOMPARE(waiting.Error(), smbproto::kErrCancelled);
        QVERIFY(t.elapsed() < 400);
        pool->Shutdown();
        held.clear();
        QCOMPARE(pool->GetStats().nProcesses, 0);
    }
};

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
