#include "network/NetworkTree.h"

#include <QtTest>

#include <atomic>
#include <functional>
#include <thread>

class TestNetworkTree : public QObject
{
    Q_OBJECT
private:
    static QStringList Texts(const NetworkTree& t, NodeHandle parent)
    {
        QStringList out;
        for (NodeHandle h = t.GetChildItem(parent); h != NoNode; h = t.GetNextSiblingItem(h))
            out << t.GetItemText(h);
        return out;
    }

private slots:
    void sortedInsertion_data()
    {
        QTest::addColumn<QStringList>("inserted");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("case ignored")
            << QStringList{"beta", "ALPHA", "Gamma"} << QStringList{"ALPHA", "beta", "Gamma"};
        QTest::newRow("equal texts keep insertion order")
            << QStringList{"b", "A", "a", "B"} << QStringList{"A", "a", "b", "B"};
        QTest::newRow("digits before letters")
            << QStringList{"x1", "10", "2", "X0"} << QStringList{"10", "2", "X0", "x1"};
        QTest::newRow("empty text first") << QStringList{"z", "", "a"} << QStringList{"", "a", "z"};
    }
    void sortedInsertion()
    {
        QFETCH(QStringList, inserted);
        QFETCH(QStringList, expected);
        NetworkTree t;
        const NodeHandle root =
            t.InsertItem(NoNode, InsertPos::Last, "MS Windows Network", NK_NETWORK);
        for (const QString& s : inserted)
            QVERIFY(t.InsertItem(root, InsertPos::Sort, s, NK_DOMAIN) != NoNode);
        QCOMPARE(Texts(t, root), expected);
    }

    void appendKeepsOrderAndDuplicates()
    {
        NetworkTree t;
        const NodeHandle root =
            t.InsertItem(NoNode, InsertPos::Last, "MS Windows Network", NK_NETWORK);
        const NodeHandle a = t.InsertItem(root, InsertPos::Last, "IP range 1", NK_DOMAIN);
        const NodeHandle b = t.InsertItem(root, InsertPos::Last, "IP range 1", NK_DOMAIN);
        QVERIFY(a != b);
        QCOMPARE(Texts(t, root), (QStringList{"IP range 1", "IP range 1"}));
        QCOMPARE(t.GetCount(), 3);
        QCOMPARE(t.GetParentItem(a), root);
        QCOMPARE(t.GetParentItem(root), NoNode);
        QVERIFY(t.ItemHasChildren(root));
        QVERIFY(!t.ItemHasChildren(a));
        QCOMPARE(t.GetItemKind(b), NK_DOMAIN);
    }

    void staleHandlesAnswerNone()
    {
        NetworkTree t;
        const NodeHandle root = t.InsertItem(NoNode, InsertPos::Last, "root", NK_NETWORK);
        const NodeHandle dom = t.InsertItem(root, InsertPos::Last, "WORKGROUP", NK_DOMAIN);
        t.SetBold(dom, true);
        t.DeleteAll();
        QCOMPARE(t.GetCount(), 0);
        QCOMPARE(t.GetChildItem(NoNode), NoNode);
        // Every operation on an old handle is harmless, also once new nodes took its place.
        const NodeHandle root2 = t.InsertItem(NoNode, InsertPos::Last, "root2", NK_NETWORK);
        const NodeHandle dom2 = t.InsertItem(root2, InsertPos::Last, "LAB", NK_DOMAIN);
        QVERIFY(root2 != root);
        QVERIFY(dom2 != dom);
        QVERIFY(!t.IsValid(dom));
        QCOMPARE(t.GetItemText(dom), QString());
        QCOMPARE(t.GetParentItem(dom), NoNode);
        QCOMPARE(t.GetChildItem(root), NoNode);
        QCOMPARE(t.GetNextSiblingItem(dom), NoNode);
        QVERIFY(!t.ItemHasChildren(root));
        QVERIFY(!t.IsBold(dom));
        QCOMPARE(t.InsertItem(dom, InsertPos::Last, "x", NK_SERVER), NoNode);
        t.SetBold(dom, true);
        t.SortChildren(root);
        QCOMPARE(t.GetCount(), 2);
        QCOMPARE(Texts(t, root2), QStringList{"LAB"});
    }

    // Names sort as the user's language sorts them: accented letters beside their base
    // letter, case ignored, numbers by value.
    void sortFollowsTheLocale_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("sorted");
        QTest::newRow("umlaut beside A")
            << "de_DE" << QStringList{"Zeta", "Äpfel", "alpha", "Birne"}
            << QStringList{"alpha", "Äpfel", "Birne", "Zeta"};
        QTest::newRow("numbers by value") << "en_US" << QStringList{"file10", "File9", "file1"}
                                          << QStringList{"file1", "File9", "file10"};
        QTest::newRow("addresses")
            << "en_US" << QStringList{"127.0.0.11", "127.0.0.9", "127.0.0.100"}
            << QStringList{"127.0.0.9", "127.0.0.11", "127.0.0.100"};
        QTest::newRow("swedish Å after Z") << "sv_SE" << QStringList{"Ångström", "Zulu", "Alfa"}
                                           << QStringList{"Alfa", "Zulu", "Ångström"};
    }
    void sortFollowsTheLocale()
    {
        QFETCH(QString, locale);
        QFETCH(QStringList, names);
        QFETCH(QStringList, sorted);
        const QLocale before;
        QLocale::setDefault(QLocale(locale));
        auto restore = qScopeGuard([&] { QLocale::setDefault(before); });
        NetworkTree t;
        const NodeHandle root =
            t.InsertItem(NoNode, InsertPos::Last, "MS Windows Network", NK_NETWORK);
        const NodeHandle wg = t.InsertItem(root, InsertPos::Last, "WORKGROUP", NK_DOMAIN);
        for (const QString& n : names)
            t.InsertItem(wg, InsertPos::Last, n, NK_SERVER);
        t.SortChildren(wg);
        QCOMPARE(Texts(t, wg), sorted);
        // Inserting in order gives the same order.
        const NodeHandle other = t.InsertItem(root, InsertPos::Last, "OTHER", NK_DOMAIN);
        for (const QString& n : names)
            t.InsertItem(other, InsertPos::Sort, n, NK_SERVER);
        QCOMPARE(Texts(t, other), sorted);
    }

    void sortTreeLeavesRootChildrenAlone()
    {
        NetworkTree t;
        const NodeHandle root =
            t.InsertItem(NoNode, InsertPos::Last, "MS Windows Network", NK_NETWORK);
        const NodeHandle wg = t.InsertItem(root, InsertPos::Last, "WORKGROUP", NK_DOMAIN);
        const NodeHandle range = t.InsertItem(root, InsertPos::Last, "IP range 1", NK_DOMAIN);
        const NodeHandle beta = t.InsertItem(wg, InsertPos::Last, "beta", NK_SERVER);
        t.InsertItem(wg, InsertPos::Last, "ALPHA", NK_SERVER);
        t.InsertItem(beta, InsertPos::Last, "public", NK_SHARE);
        t.InsertItem(beta, InsertPos::Last, "Docs", NK_SHARE);
        t.InsertItem(beta, InsertPos::Last, "admin$", NK_SHARE);
        t.InsertItem(range, InsertPos::Last, "127.0.0.13", NK_SERVER);
        t.InsertItem(range, InsertPos::Last, "127.0.0.11", NK_SERVER);
        SortTree(t, root);
        QCOMPARE(Texts(t, root), (QStringList{"WORKGROUP", "IP range 1"}));
        QCOMPARE(Texts(t, wg), (QStringList{"ALPHA", "beta"}));
        QCOMPARE(Texts(t, beta), (QStringList{"admin$", "Docs", "public"}));
        QCOMPARE(Texts(t, range), (QStringList{"127.0.0.11", "127.0.0.13"}));
    }

    // Workers insert under their own parents while readers walk the whole tree: every node a
    // reader meets is whole, and at the end every insert is there.
    void concurrentInsertsAndWalks()
    {
        NetworkTree t;
        const NodeHandle root =
            t.InsertItem(NoNode, InsertPos::Last, "MS Windows Network", NK_NETWORK);
        constexpr int kWorkers = 4;
        constexpr int kPerWorker = 1500;
        std::vector<NodeHandle> domains;
        for (int w = 0; w < kWorkers; ++w)
            domains.push_back(
                t.InsertItem(root, InsertPos::Sort, QString("D%1").arg(w), NK_DOMAIN));
        std::atomic<bool> bDone{false};
        std::atomic<int> nBad{0};
        std::vector<std::thread> threads;
        for (int w = 0; w < kWorkers; ++w) {
            threads.emplace_back([&, w] {
                for (int i = 0; i < kPerWorker; ++i) {
                    const NodeHandle s = t.InsertItem(domains[static_cast<std::size_t>(w)],
                                                      i % 2 ? InsertPos::Sort : InsertPos::Last,
                                                      QString("S%1-%2").arg(w).arg(i), NK_SERVER);
                    t.InsertItem(s, InsertPos::Last, QString("share%1").arg(i), NK_SHARE);
                }
            });
        }
        threads.emplace_back([&] {
            while (!bDone) {
                std::function<void(NodeHandle, int)> walk = [&](NodeHandle n, int depth) {
                    for (NodeHandle c : t.GetChildren(n)) {
                        const QString text = t.GetItemText(c);
                        if (text.isEmpty() || t.GetParentItem(c) != n || t.GetItemKind(c) != depth)
                            ++nBad;
                        walk(c, depth + 1);
                    }
                };
                walk(root, 1);
            }
        });
        for (int w = 0; w < kWorkers; ++w)
            threads[static_cast<std::size_t>(w)].join();
        bDone = true;
        threads.back().join();
        QCOMPARE(nBad.load(), 0);
        QCOMPARE(t.GetCount(), 1 + kWorkers + 2 * kWorkers * kPerWorker);
        for (NodeHandle d : domains)
            QCOMPARE(static_cast<int>(t.GetChildren(d).size()), kPerWorker);
    }

    // A tree built elsewhere is swapped in as one change; the old handles go stale, and the
    // other tree's handles never pass for the new nodes.
    void adoptSwapsInOneChange()
    {
        NetworkTree t;
        const NodeHandle oldRoot = t.InsertItem(NoNode, InsertPos::Last, "old", NK_NETWORK);
        t.SetChangeListener([] {});
        NetworkTree other;
        const NodeHandle otherRoot = other.InsertItem(NoNode, InsertPos::Last, "new", NK_NETWORK);
        const NodeHandle otherDomain = other.InsertItem(otherRoot, InsertPos::Last, "D", NK_DOMAIN);
        other.InsertItem(otherDomain, InsertPos::Last, "S", NK_SERVER);
        t.InsertItem(oldRoot, InsertPos::Last, "dropped", NK_DOMAIN);
        const NodeHandle root = t.Adopt(other);
        QVERIFY(!t.IsValid(oldRoot));
        QVERIFY(!t.IsValid(otherRoot));
        QVERIFY(!t.IsValid(otherDomain));
        QCOMPARE(t.InsertItem(oldRoot, InsertPos::Last, "late", NK_DOMAIN), NoNode);
        QCOMPARE(t.GetItemText(root), QString("new"));
        QCOMPARE(Texts(t, t.GetChildItem(root)), QStringList{"S"});
        QCOMPARE(t.GetCount(), 3);
        QCOMPARE(other.GetCount(), 0);
        const std::vector<TreeChange> changes = t.TakeChanges();
        QCOMPARE(changes.size(), std::size_t(1));
        QCOMPARE(changes[0].type, TreeChange::Replaced);
    }

    // The change feed replays to exactly the store's structure, whatever the interleaving.
    void changeFeedReplaysStore()
    {
        NetworkTree t;
        t.InsertItem(NoNode, InsertPos::Last, "before listener", NK_NETWORK);
        std::atomic<int> nNotified{0};
        t.SetChangeListener([&] { ++nNotified; });
        const NodeHandle root = t.GetChildItem(NoNode);
        std::vector<std::thread> threads;
        for (int w = 0; w < 3; ++w)
            threads.emplace_back([&, w] {
                for (int i = 0; i < 300; ++i)
                    t.InsertItem(root, InsertPos::Sort, QString("n%1").arg((i * 7 + w) % 50),
                                 NK_DOMAIN);
            });
        for (auto& th : threads)
            th.join();
        t.SortChildren(root);
        t.SetBold(root, true);
        const NodeHandle first = t.GetChildItem(root);
        t.SetLoginNeeded(first, true);
        // Replay into a plain mirror.
        QHash<NodeHandle, QStringList> mirror; // parent -> texts
        QHash<NodeHandle, std::vector<NodeHandle>> kids;
        QHash<NodeHandle, QString> text;
        bool bBold = false;
        NodeHandle marked = NoNode;
        for (const TreeChange& c : t.TakeChanges()) {
            switch (c.type) {
            case TreeChange::Cleared:
                kids.clear();
                text.clear();
                break;
            case TreeChange::Inserted: {
                auto& list = kids[c.parent];
                list.insert(list.begin() + c.row, c.node);
                text[c.node] = c.text;
                break;
            }
            case TreeChange::Sorted:
                kids[c.parent] = c.order;
                break;
            case TreeChange::Bold:
                bBold = c.bold;
                break;
            case TreeChange::LoginNeeded:
                marked = c.loginNeeded ? c.node : NoNode;
                break;
            case TreeChange::Replaced:
                QFAIL("no Adopt here");
            }
        }
        QVERIFY(nNotified >= 1);
        QVERIFY(bBold);
        QCOMPARE(marked, first);
        QVERIFY(t.IsLoginNeeded(first) && !t.IsLoginNeeded(root));
        QCOMPARE(kids[NoNode].size(), std::size_t(1));
        QStringList replayed;
        for (NodeHandle h : kids[root])
            replayed << text[h];
        QCOMPARE(replayed, Texts(t, root));
        QVERIFY(t.TakeChanges().empty());
        // A new listener starts from the whole tree, its marks included.
        t.SetChangeListener([] {});
        int nMarks = 0;
        for (const TreeChange& c : t.TakeChanges()) {
            if (c.type == TreeChange::LoginNeeded) {
                QCOMPARE(c.node, first);
                QVERIFY(c.loginNeeded);
                ++nMarks;
            } else if (c.type == TreeChange::Bold) {
                QCOMPARE(c.node, root);
                QVERIFY(c.bold);
                ++nMarks;
            }
        }
        QCOMPARE(nMarks, 2);
    }
};

QTEST_GUILESS_MAIN(TestNetworkTree)
#include "tst_networktree.moc"
