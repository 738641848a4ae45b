#include "common/MappedShareFs.h"
#include "search/SearchEngine.h"

#include <QtTest>

#include <sys/stat.h>

#include <condition_variable>
#include <mutex>

// The search engine over local folders standing in for shares.
class TestSearch : public QObject
{
    Q_OBJECT

    struct Collect : ResultSink
    {
        std::mutex m;
        QStringList paths;
        void Add(const SearchResult& r) override
        {
            std::lock_guard l(m);
            paths << r.strPath;
        }
    };
    struct Run
    {
        std::shared_ptr<Collect> sink = std::make_shared<Collect>();
        std::mutex m;
        std::condition_variable cv;
        QStringList status;
        QList<QPair<quint64, bool>> finished;
        std::unique_ptr<SearchEngine> engine;
        Run(const QString& root, int delayMs = 0, bool bPlainFs = false)
        {
            SearchEngine::Callbacks cb;
            cb.fnStatus = [this](const QString& s) {
                std::lock_guard l(m);
                status << s;
            };
            cb.fnFinished = [this](quint64 id, bool end) {
                std::lock_guard l(m);
                finished << qMakePair(id, end);
                cv.notify_all();
            };
            engine = std::make_unique<SearchEngine>(
                cb, [root, delayMs, bPlainFs]() -> std::unique_ptr<ShareFs> {
                    if (bPlainFs)
                        return MakeShareFs();
                    ++MappedShareFs::nCreated;
                    return std::make_unique<MappedShareFs>(root, delayMs);
                });
            engine->SetWorkerStartPause(0);
        }
        bool Wait(int n = 1)
        {
            std::unique_lock l(m);
            return cv.wait_for(l, std::chrono::seconds(20), [&] { return finished.size() >= n; });
        }
    };

    QTemporaryDir m_dir;
    std::shared_ptr<NetworkTree> m_tree;
    NodeHandle m_root = NoNode, m_wg = NoNode, m_pc1 = NoNode, m_docs = NoNode;

private slots:
    void initTestCase()
    {
        MakeFiles(m_dir.path(), {
                                    {"PC1/Docs/report.txt", "Quarterly budget"},
                                    {"PC1/Docs/myreport.txt", "nothing"},
                                    {"PC1/Docs/Report/inner.bin", "x"},
                                    {"PC1/Docs/Report/deeper/a.txt", "BUDGET"},
                                    {"PC1/Docs/.cache/hidden report.txt", "budget"},
                                    {"PC1/Docs/.profile", "x"},
                                    {"PC1/Docs/zz/", ""},
                                    {"PC1/Music/song.mp3", "la"},
                                    {"PC2/Public/readme.txt", "budget here"},
                                });
        m_tree = std::make_shared<NetworkTree>();
        m_root = m_tree->InsertItem(NoNode, InsertPos::Last, "MS Windows Network", NK_NETWORK);
        m_wg = m_tree->InsertItem(m_root, InsertPos::Last, "WORKGROUP", NK_DOMAIN);
        m_pc1 = m_tree->InsertItem(m_wg, InsertPos::Last, "PC1", NK_SERVER);
        m_docs = m_tree->InsertItem(m_pc1, InsertPos::Last, "Docs", NK_SHARE);
        m_tree->InsertItem(m_pc1, InsertPos::Last, "Music", NK_SHARE);
        // As a server lists it: the IPC share has no folder here, and a walk of it would fail.
        m_tree->InsertItem(m_pc1, InsertPos::Last, "IPC$", NK_SHARE);
        const NodeHandle pc2 = m_tree->InsertItem(m_wg, InsertPos::Last, "PC2", NK_SERVER);
        m_tree->InsertItem(pc2, InsertPos::Last, "ipc$", NK_SHARE);
        m_tree->InsertItem(pc2, InsertPos::Last, "Public", NK_SHARE);
        m_tree->InsertItem(m_wg, InsertPos::Last, "PC3", NK_SERVER); // never enumerated
    }

    void finds_data()
    {
        QTest::addColumn<QString>("patterns");
        QTest::addColumn<QString>("containing");
        QTest::addColumn<QStringList>("found");
        QTest::newRow("*report.txt")
            << "*report.txt"
            << "" << QStringList{"\\\\PC1\\Docs\\myreport.txt", "\\\\PC1\\Docs\\report.txt"};
        QTest::newRow("report.txt alone") << "report.txt"
                                          << "" << QStringList{};
        QTest::newRow("*report* inside folder")
            << "*\\report\\*"
            << ""
            << QStringList{"\\\\PC1\\Docs\\Report\\deeper", "\\\\PC1\\Docs\\Report\\deeper\\a.txt",
                           "\\\\PC1\\Docs\\Report\\inner.bin"};
        QTest::newRow("blank piece") << "*.mp3; *.txt"
                                     << "" << QStringList{"\\\\PC1\\Music\\song.mp3"};
        QTest::newRow("dot file listed") << "*.PROFILE"
                                         << "" << QStringList{"\\\\PC1\\Docs\\.profile"};
        QTest::newRow("content") << "*"
                                 << "budget"
                                 << QStringList{"\\\\PC1\\Docs\\Report\\deeper\\a.txt",
                                                "\\\\PC1\\Docs\\report.txt",
                                                "\\\\PC2\\Public\\readme.txt"};
        QTest::newRow("empty pattern") << ""
                                       << "" << QStringList{};
    }
    void finds()
    {
        QFETCH(QString, patterns);
        QFETCH(QString, containing);
        QFETCH(QStringList, found);
        Run r(m_dir.path());
        SearchJob job{m_tree, m_wg, {}, patterns, containing, r.sink};
        QVERIFY(r.engine->Start(job));
        QVERIFY(r.Wait());
        QStringList got = r.sink->paths;
        got.sort();
        QCOMPARE(got, found);
        std::lock_guard l(r.m);
        QCOMPARE(r.finished.size(), 1);
        QVERIFY(r.finished[0].second);
        QCOMPARE(r.status.count("Search finished"), 1);
        QVERIFY(!r.status.join('\n').contains(".cache"));
        // The IPC share is neither searched nor reported.
        QVERIFY2(!r.status.join('\n').contains("ipc$", Qt::CaseInsensitive),
                 qPrintable(r.status.join('\n')));
        QVERIFY(r.engine->IsIdle());
    }

    // One share, in order: sub-folders first (each folder's own entries before its
    // sub-folders), the share's own entries last.
    void walkOrder()
    {
        Run r(m_dir.path());
        SearchJob job{m_tree, m_docs, {}, "*", "", r.sink};
        QVERIFY(r.engine->Start(job));
        QVERIFY(r.Wait());
        const QStringList searching = r.status.filter("Searching in ");
        QCOMPARE(searching.first(), QString("Searching in \\\\PC1\\Docs\\Report"));
        QCOMPARE(searching.last(), QString("Searching in \\\\PC1\\Docs"));
        QCOMPARE(searching.size(), 4); // Report, Report\deeper, zz, Docs
        const QStringList& p = r.sink->paths;
        QVERIFY(p.indexOf("\\\\PC1\\Docs\\Report\\inner.bin") <
                p.indexOf("\\\\PC1\\Docs\\Report\\deeper\\a.txt"));
        QVERIFY(p.indexOf("\\\\PC1\\Docs\\Report\\deeper\\a.txt") <
                p.indexOf("\\\\PC1\\Docs\\report.txt"));
        QCOMPARE(p.size(), 9); // folders count too; .cache's contents do not
    }

    // Root with two domains of three servers each (all with shares): nine workers.
    void workerPerNodeWithChildren()
    {
        auto tree = std::make_shared<NetworkTree>();
        const NodeHandle root =
            tree->InsertItem(NoNode, InsertPos::Last, "MS Windows Network", NK_NETWORK);
        for (int d = 0; d < 2; ++d) {
            const NodeHandle dom =
                tree->InsertItem(root, InsertPos::Last, QString("D%1").arg(d), NK_DOMAIN);
            for (int s = 0; s < 3; ++s)
                tree->InsertItem(tree->InsertItem(dom, InsertPos::Last, "PC1", NK_SERVER),
                                 InsertPos::Last, "Music", NK_SHARE);
        }
        Run r(m_dir.path());
        MappedShareFs::nCreated = 0;
        QVERIFY(r.engine->Start({tree, root, {}, "*.mp3", "", r.sink}));
        QVERIFY(r.Wait());
        QCOMPARE(MappedShareFs::nCreated.load(), 9);
        QCOMPARE(r.sink->paths.size(), 6);
    }

    // A server the tree holds without shares (its list needed a login, or a tree file has
    // none for it) is searched as a server: its shares are listed now (never IPC$ searched),
    // join the tree, and a refusal marks it and names it, never "\\WORKGROUP\SERVER".
    void leafServerListsItsShares_data()
    {
        QTest::addColumn<bool>("bStartAtServer");
        QTest::newRow("the server") << true;
        QTest::newRow("its workgroup") << false;
    }
    void leafServerListsItsShares()
    {
        QFETCH(bool, bStartAtServer);
        QTemporaryDir dir;
        MakeFiles(dir.path(), {{"PC3/Late/late.txt", "late"}, {"PC3/Other/", ""}});
        auto tree = std::make_shared<NetworkTree>();
        const NodeHandle root =
            tree->InsertItem(NoNode, InsertPos::Last, "MS Windows Network", NK_NETWORK);
        const NodeHandle wg = tree->InsertItem(root, InsertPos::Last, "WORKGROUP", NK_DOMAIN);
        const NodeHandle pc3 = tree->InsertItem(wg, InsertPos::Last, "PC3", NK_SERVER);
        const NodeHandle pc4 = tree->InsertItem(wg, InsertPos::Last, "PC4", NK_SERVER);
        tree->SetLoginNeeded(pc3, true);
        Run r(dir.path());
        QVERIFY(r.engine->Start({tree, bStartAtServer ? pc3 : wg, {}, "*", "", r.sink}));
        QVERIFY(r.Wait());
        QCOMPARE(r.sink->paths, (QStringList{"\\\\PC3\\Late\\late.txt"}));
        QStringList shares;
        for (NodeHandle h : tree->GetChildren(pc3))
            shares << tree->GetItemText(h);
        QCOMPARE(shares, (QStringList{"IPC$", "Late", "Other"}));
        QVERIFY(!tree->IsLoginNeeded(pc3));
        std::lock_guard l(r.m);
        QVERIFY(r.status.contains("Getting information about \\\\PC3"));
        QVERIFY(r.status.filter("WORKGROUP\\PC").isEmpty());
        QVERIFY(r.status.filter("IPC$").isEmpty());
        // PC4 refuses its list: marked, named, nothing searched in its name.
        QCOMPARE(r.status.contains("Cannot read \\\\PC4: Permission denied"), !bStartAtServer);
        QCOMPARE(tree->IsLoginNeeded(pc4), !bStartAtServer);
    }

    // Stop is quick, the stopped search's workers add nothing more and never join the next
    // search, whose end is its own.
    void stopAndRestart()
    {
        Run r(m_dir.path(), 150);
        const quint64 first = r.engine->Start({m_tree, m_root, {}, "*", "", r.sink});
        QVERIFY(first);
        QTest::qWait(200);
        QElapsedTimer t;
        t.start();
        r.engine->Stop();
        QVERIFY(r.engine->IsIdle());
        const int nAtStop = [&] {
            std::lock_guard l(r.sink->m);
            return int(r.sink->paths.size());
        }();
        auto second = std::make_shared<Collect>();
        const quint64 id2 = r.engine->Start({m_tree, m_pc1, {}, "*.mp3", "", second});
        QVERIFY(id2 && id2 != first);
        QVERIFY(r.Wait(2));
        QTest::qWait(400);
        std::lock_guard sl(r.sink->m);
        QCOMPARE(int(r.sink->paths.size()), nAtStop);
        QCOMPARE(second->paths, QStringList{"\\\\PC1\\Music\\song.mp3"});
        std::lock_guard l(r.m);
        QCOMPARE(r.finished.size(), 2);
        for (const auto& f : r.finished)
            QCOMPARE(f.second, f.first == id2);
        qInfo("stopped search ended %lld ms after Stop", t.elapsed());
    }

    void startRefusals()
    {
        Run r(m_dir.path());
        Error err;
        QCOMPARE(r.engine->Start({m_tree, NoNode, {}, "*", "", r.sink}, &err), 0u);
        QCOMPARE(err, Error(ErrorKind::NoTarget));
        QCOMPARE(r.engine->Start({m_tree, m_docs, {}, "*", QString(4096, 'x'), r.sink}, &err), 0u);
        QCOMPARE(err, Error(ErrorKind::TextTooLong));
        QVERIFY(r.engine->IsIdle());
    }

    // Folder mode on real local folders, paths as given.
    void localFolders()
    {
        Run r(m_dir.path(), 0, true);
        QVERIFY(r.engine->Start({nullptr, NoNode, {m_dir.path() + "/PC2"}, "*.txt", "", r.sink}));
        QVERIFY(r.Wait());
        QCOMPARE(r.sink->paths, QStringList{m_dir.path() + "/PC2/Public/readme.txt"});
    }

    // Names found in a local folder are names, not paths: "..\\x" stays inside its folder; a
    // FIFO or a device is no file to read and never holds the search.
    void hostileLocalNames_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("containing");
        QTest::addColumn<QStringList>("expected"); // below the searched folder
        QTest::newRow("backslash name, its own content")
            << "*"
            << "needle" << QStringList{"/pipe-dir/f.txt"};
        QTest::newRow("backslash name listed as it is") << "*secret*"
                                                        << "" << QStringList{"/..\\secret.txt"};
    }
    void hostileLocalNames()
    {
        QFETCH(QString, pattern);
        QFETCH(QString, containing);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        MakeFiles(dir.path(), {{"secret.txt", "needle"},
                               {"a/..\\secret.txt", "harmless"},
                               {"a/pipe-dir/f.txt", "needle"}});
        const QByteArray fifo = QFile::encodeName(dir.filePath("a/pipe-dir/pipe"));
        QCOMPARE(mkfifo(fifo.constData(), 0600), 0);
        Run r(dir.path(), 0, true);
        const QString root = dir.filePath("a");
        QVERIFY(r.engine->Start({nullptr, NoNode, {root}, pattern, containing, r.sink}));
        QVERIFY(r.Wait());
        QStringList got = r.sink->paths;
        for (QString& p : got)
            p = p.mid(root.size());
        got.sort();
        QCOMPARE(got, expected);
    }

    // Closing the engine while workers are inside slow listings: bounded, and nothing is
    // called back afterwards.
    void shutdownWhileRunning()
    {
        auto r = std::make_unique<Run>(m_dir.path(), 300);
        QVERIFY(r->engine->Start({m_tree, m_root, {}, "*", "", r->sink}));
        QTest::qWait(100);
        QElapsedTimer t;
        t.start();
        r->engine.reset();
        QVERIFY(t.elapsed() < 3000);
        std::lock_guard l(r->m);
        QVERIFY(r->finished.isEmpty());
    }

    // A content search with the index's files of the pattern: they are read first, before the
    // share is listed; a find is reported once and not read again, even when it changes; the
    // walk reads again a file that found nothing and changed since (since the index knew it, or
    // since it was read); a file the index knows that is gone is no error; a file the index
    // does not know is found by the walk.
    void contentStartsWithTheIndexedFiles()
    {
        QTemporaryDir dir;
        MakeFiles(dir.path(), {{"PC9/Share/a.txt", "budget"},
                               {"PC9/Share/c.txt", "nothing"},
                               {"PC9/Share/e.txt", "nothing either"},
                               {"PC9/Share/sub/b.txt", "budget"},
                               {"PC9/Share/deep/new.txt", "a budget"}});
        struct Log
        {
            std::mutex m;
            QStringList events;
            void Add(const QString& e)
            {
                std::lock_guard l(m);
                events << e;
            }
            int Count(const QString& e)
            {
                std::lock_guard l(m);
                return int(events.count(e));
            }
        };
        auto log = std::make_shared<Log>();
        class LoggingFs : public MappedShareFs
        {
        public:
            LoggingFs(const QString& root, std::shared_ptr<Log> log)
                : MappedShareFs(root, 300), m_log(std::move(log))
            {}
            int ListFolder(const QString& folder, std::vector<FsEntry>& out) override
            {
                m_log->Add("list " + folder);
                return MappedShareFs::ListFolder(folder, out);
            }
            std::unique_ptr<FsReader> OpenRead(const QString& path, int* pErr) override
            {
                m_log->Add("read " + path);
                return MappedShareFs::OpenRead(path, pErr);
            }

        private:
            std::shared_ptr<Log> m_log;
        };
        Run r(dir.path());
        r.engine =
            std::make_unique<SearchEngine>(SearchEngine::Callbacks{[&r](const QString& s) {
                                                                       std::lock_guard l(r.m);
                                                                       r.status << s;
                                                                   },
                                                                   [&r](quint64 id, bool end) {
                                                                       std::lock_guard l(r.m);
                                                                       r.finished
                                                                           << qMakePair(id, end);
                                                                       r.cv.notify_all();
                                                                   },
                                                                   {}},
                                           [root = dir.path(), log]() -> std::unique_ptr<ShareFs> {
                                               return std::make_unique<LoggingFs>(root, log);
                                           });
        r.engine->SetWorkerStartPause(0);
        const QString share = "\\\\PC9\\Share";
        SearchJob job{nullptr, NoNode, {share}, "*.txt", "budget", r.sink};
        // As the index has them: its size and time, and the share spelled as another walk
        // named it (the index matches a share in any case).
        // c.txt as it is; the others as they were before they changed (e.txt is no find).
        FsEntry asIs;
        QCOMPARE(MappedShareFs(dir.path(), 0).Stat(share + "\\c.txt", &asIs), 0);
        job.fnCandidates = [share, asIs](const QString& at) {
            std::vector<SearchResult> c;
            if (at != share)
                return c;
            for (const char* name : {"a.txt", "c.txt", "e.txt", "sub\\b.txt", "gone.txt"})
                c.push_back({"\\\\pc9\\SHARE\\" + QString(name), 0, 1, 1});
            c[1].nSize = asIs.nSize;
            c[1].nLastWrite = asIs.nLastWrite;
            return c;
        };
        QVERIFY(r.engine->Start(job));
        // Read before the share's listing (slowed to 300 ms) has even come back: change a find
        // and a file that found nothing, which now holds the text.
        QTRY_COMPARE_WITH_TIMEOUT(log->Count("read " + share + "\\sub\\b.txt"), 1, 5000);
        QVERIFY(log->Count("list " + share) <= 1);
        for (const char* name : {"PC9/Share/sub/b.txt", "PC9/Share/c.txt"}) {
            QFile f(dir.filePath(name));
            QVERIFY(f.open(QIODevice::Append));
            f.write(" and a budget");
        }
        QVERIFY(r.Wait());
        QStringList got = r.sink->paths;
        got.sort();
        // Each once, named as this walk names the share.
        QCOMPARE(got, (QStringList{share + "\\a.txt", share + "\\c.txt", share + "\\deep\\new.txt",
                                   share + "\\sub\\b.txt"}));
        QCOMPARE(log->Count("read " + share + "\\a.txt"), 1);
        QCOMPARE(log->Count("read " + share + "\\c.txt"), 2); // changed since it was read
        QCOMPARE(log->Count("read " + share + "\\e.txt"), 2); // changed since the index knew it
        QCOMPARE(log->Count("read " + share + "\\sub\\b.txt"), 1); // a find already
        QCOMPARE(log->Count("read " + share + "\\deep\\new.txt"), 1);
        const QStringList& events = log->events;
        QVERIFY(events.indexOf("read " + share + "\\a.txt") < events.indexOf("list " + share));
        std::lock_guard l(r.m);
        QVERIFY2(!r.status.join('\n').contains("gone.txt"), qPrintable(r.status.join('\n')));
    }
};

QTEST_GUILESS_MAIN(TestSearch)
#include "tst_search.moc"
