#include "common/FakeHelper.h"
#include "smb/HelperPool.h"

#include <QtTest>

#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace proto = smbproto;

// How many helpers the pool runs at once, following the machine's idle CPU: the floor while
// the cores are busy, more (up to the cap) while they wait and somebody waits for a helper.
class TestHelperBudget : public QObject
{
    Q_OBJECT

    // The machine's CPU as the pool reads it: every read advances the clock by 200 ticks on
    // 2 cores, of which the share set by SetIdle were idle.
    struct Cpu
    {
        std::mutex mutex;
        smb::CpuTicks ticks{0, 0, 2};
        double idleShare = 0;
        bool bReadable = true;

        void SetIdle(double share)
        {
            std::lock_guard lock(mutex);
            idleShare = share;
        }
        smb::HelperBudget::TicksFn Fn()
        {
            return [this]() -> std::optional<smb::CpuTicks> {
                std::lock_guard lock(mutex);
                if (!bReadable)
                    return std::nullopt;
                ticks.nTotal += 200;
                ticks.nIdle += static_cast<quint64>(200 * idleShare);
                return ticks;
            };
        }
    };

    static std::shared_ptr<smb::HelperPool> MakePool(const QTemporaryDir& dir, Cpu& cpu)
    {
        auto pool = std::make_shared<smb::HelperPool>();
        pool->SetHelperPath(fakehelper::Script(dir, fakehelper::PythonHelper(proto::Done{})));
        pool->SetCpuTicks(cpu.Fn());
        smb::PoolLimits limits;
        limits.nMinHelpers = 2;
        limits.nMaxHelpers = 6;
        pool->SetLimits(limits);
        return pool;
    }

private slots:
    // Six walks of six servers at once ask for a helper each and keep it while they work.
    void walksAtOnce_data()
    {
        QTest::addColumn<QString>("cpu");
        QTest::addColumn<int>("nExpected"); // helpers serving at once after a while
        QTest::newRow("cores busy: the floor") << "busy" << 2;
        QTest::newRow("cores idle: up to the cap") << "idle" << 6;
        QTest::newRow("half a core idle: grows") << "quarter" << 6;
        QTest::newRow("a fifth of a core idle: the floor") << "tenth" << 2;
        QTest::newRow("CPU unreadable: the cap") << "unreadable" << 6;
    }
    void walksAtOnce()
    {
        QFETCH(QString, cpu);
        QFETCH(int, nExpected);
        QTemporaryDir dir;
        Cpu gauge;
        gauge.SetIdle(cpu == "idle" ? 0.9 : cpu == "quarter" ? 0.25 : cpu == "tenth" ? 0.1 : 0);
        gauge.bReadable = cpu != "unreadable";
        auto pool = MakePool(dir, gauge);
        const CancelToken stop = CancelToken::Make();
        std::atomic<int> nServed{0}, nFailed{0};
        std::vector<std::thread> walks;
        for (int i = 0; i < 6; ++i)
            walks.emplace_back([&, i] {
                auto lease = pool->Acquire(QString("server%1").arg(i), {}, stop);
                if (!lease.Valid())
                    return;
                ++nServed;
                if (lease.Call(proto::Stat{{"x", "y", {}}}, {}, {}).nError != 0)
                    ++nFailed;
                stop.SleepFor(std::chrono::seconds(30));
            });
        // Whatever is found, the walks stop and end before the test does.
        auto end = qScopeGuard([&] {
            stop.Cancel();
            for (auto& t : walks)
                if (t.joinable())
                    t.join();
        });
        if (nExpected == 6)
            QTRY_COMPARE_WITH_TIMEOUT(nServed.load(), 6, 5000);
        else
            QTest::qWait(2500); // five looks at the CPU
        QCOMPARE(nServed.load(), nExpected);
        QCOMPARE(pool->GetStats().nPeakProcesses, nExpected);
        end.dismiss();
        stop.Cancel();
        for (auto& t : walks)
            t.join();
        QCOMPARE(nFailed.load(), 0);
        // The ones kept waiting went without a helper when their search stopped.
        QCOMPARE(pool->GetStats().nLent, 0);
        pool->Shutdown();
        QCOMPARE(pool->GetStats().nProcesses, 0);
    }

    // Once the cores get busy, helpers coming back end until the floor is reached; when they
    // idle again, the pool grows again.
    void busyCoresShrinkThePool()
    {
        QTemporaryDir dir;
        Cpu gauge;
        gauge.SetIdle(0.9);
        auto pool = MakePool(dir, gauge);
        std::atomic<bool> bStop{false};
        std::atomic<int> nCalls{0}, nFailed{0};
        std::vector<std::thread> walks;
        auto end = qScopeGuard([&] {
            bStop = true;
            for (auto& t : walks)
                if (t.joinable())
                    t.join();
        });
        // Six servers, each walked share after share: a helper for a share, then back.
        for (int i = 0; i < 6; ++i)
            walks.emplace_back([&, i] {
                while (!bStop) {
                    auto lease = pool->Acquire(QString("server%1").arg(i), {}, {});
                    if (!lease.Valid() || lease.Call(proto::Stat{{"x", "y", {}}}, {}, {}).nError)
                        ++nFailed;
                    ++nCalls;
                    QThread::msleep(100);
                }
            });
        QTRY_COMPARE_WITH_TIMEOUT(pool->GetStats().nAllowed, 6, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(pool->GetStats().nProcesses, 6, 5000);
        gauge.SetIdle(0);
        QTRY_COMPARE_WITH_TIMEOUT(pool->GetStats().nAllowed, 2, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(pool->GetStats().nProcesses <= 2, 5000);
        gauge.SetIdle(0.9);
        QTRY_COMPARE_WITH_TIMEOUT(pool->GetStats().nAllowed, 6, 5000);
        bStop = true;
        for (auto& t : walks)
            t.join();
        QCOMPARE(nFailed.load(), 0);
        QVERIFY(nCalls.load() > 30);
        pool->Shutdown();
    }

    // Helpers held by change watches wait for the servers: a search beside them still gets the
    // floor's helpers while the cores are busy.
    void watchesDoNotCount()
    {
        QTemporaryDir dir;
        Cpu gauge;
        auto pool = MakePool(dir, gauge);
        const CancelToken cancel = CancelToken::Make();
        std::vector<smb::HelperPool::Lease> held;
        for (const char* share : {"watched1", "watched2"})
            held.push_back(pool->AcquireStanding(share, {}, cancel));
        QVERIFY(held[0].Valid() && held[1].Valid());
        // Given up after 3 s, so a pool that counted the watches fails here rather than hangs.
        const CancelToken patience = CancelToken::Make();
        std::thread giveUp([&] {
            if (!patience.SleepFor(std::chrono::seconds(3)))
                patience.Cancel();
        });
        for (const char* server : {"searched1", "searched2"})
            held.push_back(pool->Acquire(server, {}, patience));
        const bool bServed = held[2].Valid() && held[3].Valid();
        patience.Cancel();
        giveUp.join();
        QVERIFY(bServed);
        const smb::HelperPool::Stats s = pool->GetStats();
        QCOMPARE(s.nAllowed, 2);
        QCOMPARE(s.nProcesses, 4);
        // A third for the search waits: the budget is reached.
        const CancelToken soon = CancelToken::Make();
        std::thread stopper([&] {
            QThread::msleep(700);
            soon.Cancel();
        });
        QVERIFY(!pool->Acquire("searched3", {}, soon).Valid());
        stopper.join();
        held.clear();
        pool->Shutdown();
    }

    // The pool reads this machine's CPU: every core, and time that goes on.
    void readsThisMachine()
    {
        const std::optional<smb::CpuTicks> before = smb::ReadCpuTicks();
        QVERIFY(before.has_value());
        QCOMPARE(before->nCores, static_cast<int>(::sysconf(_SC_NPROCESSORS_CONF)));
        QVERIFY(before->nIdle <= before->nTotal);
        QTest::qWait(100);
        const std::optional<smb::CpuTicks> after = smb::ReadCpuTicks();
        QVERIFY(after.has_value());
        QVERIFY(after->nTotal > before->nTotal);
    }
};

QTEST_GUILESS_MAIN(TestHelperBudget)
#include "tst_helperbudget.moc"
