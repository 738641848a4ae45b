// Prints figures for the tree store and the log; run from the build tree: bench/bench_core
#include "log/LogModel.h"
#include "log/StatusQueue.h"
#include "network/NetworkTree.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <thread>
#include <vector>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    {
        NetworkTree t;
        const NodeHandle root =
            t.InsertItem(NoNode, InsertPos::Last, "MS Windows Network", NK_NETWORK);
        QElapsedTimer timer;
        timer.start();
        std::vector<std::thread> threads;
        for (int w = 0; w < 4; ++w)
            threads.emplace_back([&t, root, w] {
                const NodeHandle d =
                    t.InsertItem(root, InsertPos::Sort, QString("WG%1").arg(w), NK_DOMAIN);
                for (int i = 0; i < 5000; ++i) {
                    const NodeHandle s = t.InsertItem(
                        d, InsertPos::Sort, QString("SRV%1").arg(i * 7919 % 5000), NK_SERVER);
                    for (int k = 0; k < 5; ++k)
                        t.InsertItem(s, InsertPos::Last, QString("share%1").arg(k), NK_SHARE);
                }
            });
        for (auto& th : threads)
            th.join();
        const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        std::printf("tree: %d nodes inserted by 4 threads in %.1f ms (%.0f nodes/s)\n",
                    t.GetCount(), ms, t.GetCount() / (ms / 1000.0));
        timer.restart();
        SortTree(t, root);
        std::printf("tree: SortTree over %d nodes in %.1f ms\n", t.GetCount(),
                    static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    {
        StatusQueue q;
        LogModel m;
        QElapsedTimer timer;
        timer.start();
        constexpr int kRows = 500000;
        for (int i = 0; i < kRows; ++i) {
            q.Append(QStringLiteral("Searching in \\\\ALPHA\\docs\\folder%1").arg(i));
            if (i % 10000 == 9999)
                m.AddEntries(q.TakeAll());
        }
        m.AddEntries(q.TakeAll());
        std::printf("log: %d status texts queued and appended in %.1f ms\n", m.rowCount(),
                    static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    return 0;
}
