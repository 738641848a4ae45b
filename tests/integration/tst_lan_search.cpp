#include "search/SearchEngine.h"
#include "smb/HelperPool.h"

#include "common/HelperChildren.h"
#include "common/SilentHost.h"

#include <QtTest>

#include <condition_variable>
#include <mutex>

// Searches over SMB on the loopback test network, checked against its manifest and files.
class TestLanSearch : public QObject
{
    Q_OBJECT

    struct Entry
    {
        bool bDir;
        qint64 size;
        QString unc;
    };
    QList<Entry> m_manifest;

    QString m_lan;
    std::shared_ptr<NetworkTree> m_tree;
    NodeHandle m_root = NoNode;

    struct Collect : ResultSink
    {
        std::mutex m;
        QList<SearchResult> rows;
        void Add(const SearchResult& r) override
        {
            std::lock_guard l(m);
            rows << r;
        }
    };

    QList<SearchResult> Search(NodeHandle start, const QString& patternText,
                               const QString& containing, QStringList* pStatus = nullptr,
                               QStringList* pUnreadable = nullptr)
    {
        auto sink = std::make_shared<Collect>();
        std::mutex m;
        std::condition_variable cv;
        bool bDone = false;
        QStringList status;
        SearchEngine::Callbacks cb;
        cb.fnStatus = [&](const QString& s) {
            std::lock_guard l(m);
            status << s;
        };
        cb.fnFinished = [&](quint64, bool) {
            std::lock_guard l(m);
            bDone = true;
            cv.notify_all();
        };
        QStringList unreadable;
        cb.fnUnreadable = [&](quint64, const QString& path, bool, const Error&) {
            std::lock_guard l(m);
            unreadable << path;
        };
        SearchEngine engine(cb, [] { return MakeShareFs(5000); });
        engine.SetWorkerStartPause(20);
        if (!engine.Start({m_tree, start, {}, patternText, containing, sink}))
            return {};
        std::unique_lock l(m);
        if (!cv.wait_for(l, std::chrono::seconds(60), [&] { return bDone; }))
            qWarning("the search did not end");
        if (pStatus)
            *pStatus = status;
        if (pUnreadable)
            *pUnreadable = unreadable;
        return sink->rows;
    }
    static QStringList Paths(const QList<SearchResult>& rows)
    {
        QStringList out;
        for (const SearchResult& r : rows)
            out << r.strPath;
        out.sort();
        return out;
    }
    // What a search of the whole network should find: every manifest entry a guest can read,
    // minus what lies inside folders whose names start with ".".
    QStringList Expected(const std::function<bool(const Entry&)>& keep) const
    {
        QStringList out;
        for (const Entry& e : m_manifest) {
            if (e.unc.startsWith("\\\\ALPHA\\private\\"))
                continue; // needs a password
            const QStringList parts = e.unc.mid(2).split('\\');
            bool bInsideDot = false;
            for (int i = 2; i < parts.size() - 1; ++i)
                bInsideDot |= parts[i].startsWith('.');
            if (!bInsideDot && keep(e))
                out << e.unc;
        }
        out.sort();
        return out;
    }
    QByteArray FileBytes(const QString& unc) const
    {
        QFile f(m_lan + "/shares/" + unc.mid(2).replace('\\', '/'));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void initTestCase()
    {
        m_lan = qEnvironmentVariable("BC_TESTLAN_DIR");
        QFile f(m_lan + "/manifest.txt");
        QVERIFY2(f.open(QIODevice::ReadOnly), "the test network is not up");
        for (const QString& line : QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts)) {
            const QStringList cols = line.split('\t');
            m_manifest << Entry{cols[0] == "d", cols[1].toLongLong(), cols[2]};
        }
        // The tree a discovery builds of the test network.
        m_tree = std::make_shared<NetworkTree>();
        m_root = m_tree->InsertItem(NoNode, InsertPos::Last, "MS Windows Network", NK_NETWORK);
        const QMap<QString, QStringList> hosts{
            {"ALPHA", {"admin$", "docs", "IPC$", "laser", "music", "private", "public"}},
            {"BETA", {"IPC$", "projects", "public"}}};
        const NodeHandle wg = m_tree->InsertItem(m_root, InsertPos::Last, "WORKGROUP", NK_DOMAIN);
        for (auto it = hosts.begin(); it != hosts.end(); ++it) {
            const NodeHandle h = m_tree->InsertItem(wg, InsertPos::Last, it.key(), NK_SERVER);
            for (const QString& s : it.value())
                m_tree->InsertItem(h, InsertPos::Last, s, NK_SHARE);
        }
        const NodeHandle lab = m_tree->InsertItem(m_root, InsertPos::Last, "LAB", NK_DOMAIN);
        const NodeHandle gamma = m_tree->InsertItem(lab, InsertPos::Last, "GAMMA", NK_SERVER);
        for (const char* s : {"IPC$", "lab", "scratch"})
            m_tree->InsertItem(gamma, InsertPos::Last, s, NK_SHARE);
    }

    void everythingMatchesTheManifest()
    {
        QStringList status, unreadable;
        const QList<SearchResult> rows = Search(m_root, "*", "", &status, &unreadable);
        QCOMPARE(Paths(rows), Expected([](const Entry&) { return true; }));
        // The share that refuses a guest is named, in the log too; printers and IPC are not.
        QCOMPARE(unreadable, QStringList{"\\\\ALPHA\\private"});
        QCOMPARE(status.filter("Cannot read").size(), 1);
        QVERIFY(
            status.filter("Cannot read").front().startsWith("Cannot read \\\\ALPHA\\private: "));
        QVERIFY(!status.join('\n').contains("\\.cache"));
        QCOMPARE(status.count("Search finished"), 1);
        // Sizes, folder bits and times come with the entries.
        for (const SearchResult& r : rows) {
            for (const Entry& e : m_manifest)
                if (e.unc == r.strPath) {
                    QCOMPARE(bool(r.nAttributes & 0x10), e.bDir);
                    if (!e.bDir)
                        QCOMPARE(qint64(r.nSize), e.size);
                }
            QCOMPARE(r.nLastWrite / 10000000ULL, 1767225600ULL + 11644473600ULL);
        }
    }

    void patterns_data()
    {
        QTest::addColumn<QString>("patternText");
        QTest::newRow("*.txt") << "*.txt";
        QTest::newRow("*report*") << "*report*";
        QTest::newRow("*\\report.txt") << "*\\report.txt";
        QTest::newRow("*.mp3;*.m3u") << "*.mp3;*.m3u";
        QTest::newRow("non-latin") << "*отчёт*";
        QTest::newRow("specials") << "*100% done #1*";
        QTest::newRow("deep") << "*deepfile.txt";
    }
    void patterns()
    {
        QFETCH(QString, patternText);
        const QList<SearchResult> rows = Search(m_root, patternText, "");
        // The oracle: a plain regular expression over the manifest.
        QStringList regexes;
        for (const QString& p : patternText.split(';')) {
            QString rx;
            for (QChar c : p)
                rx += c == '*'   ? QString(".*")
                      : c == '?' ? QString(".")
                                 : QRegularExpression::escape(QString(c));
            regexes << "^" + rx + "$";
        }
        const QRegularExpression re(regexes.join('|'),
                                    QRegularExpression::CaseInsensitiveOption |
                                        QRegularExpression::DotMatchesEverythingOption);
        const QStringList expected =
            Expected([&](const Entry& e) { return re.match(e.unc).hasMatch(); });
        QVERIFY(!expected.isEmpty());
        QCOMPARE(Paths(rows), expected);
    }

    void containing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("finds");
        QTest::newRow("budget") << "budget" << 7;
        QTest::newRow("UTF-16 file") << "the NEEDLE is here" << 1;
        QTest::newRow("cp1252") << QString::fromUtf8("café crème") << 1;
        QTest::newRow("utf8 non-latin") << QString::fromUtf8("Отчёт") << 1;
    }
    void containing()
    {
        QFETCH(QString, text);
        QFETCH(int, finds);
        const QList<SearchResult> rows = Search(m_root, "*", text);
        // The oracle: the file's bytes, lower-cased, hold the text lower-cased in Windows-1252
        // (when Latin-1 can hold it, as for these texts), in UTF-16LE or in UTF-8 (A-Z only
        // folds, so for these texts plain lower-casing is the same).
        const bool bLatin1 =
            std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x100; });
        const QByteArray ansi = bLatin1 ? text.toLatin1().toLower() : QByteArray();
        const QByteArray wide =
            QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2).toLower();
        const QByteArray utf8 = text.toUtf8().toLower();
        const QStringList expected = Expected([&](const Entry& e) {
            if (e.bDir)
                return false;
            const QByteArray bytes = FileBytes(e.unc).toLower();
            return (!ansi.isEmpty() && bytes.contains(ansi)) || bytes.contains(wide) ||
                   bytes.contains(utf8);
        });
        QCOMPARE(expected.size(), finds);
        QCOMPARE(Paths(rows), expected);
    }

    // The same searches again and again in one process: every result equals the manifest, and
    // afterwards the pool holds only idle helpers, all of them alive children of ours.
    void repeatedSearchesMatchTheManifest()
    {
        const QStringList patterns{"*", "*.txt", "*report*", "*.mp3;*.m3u", "*\\sub dir\\*"};
        QMap<QString, QStringList> expected;
        for (const QString& p : patterns) {
            QStringList rx;
            for (const QString& one : p.split(';'))
                rx << "^" + QRegularExpression::escape(one).replace("\\*", ".*") + "$";
            const QRegularExpression re(rx.join('|'), QRegularExpression::CaseInsensitiveOption);
            expected[p] = Expected([&](const Entry& e) { return re.match(e.unc).hasMatch(); });
            QVERIFY2(!expected[p].isEmpty(), qPrintable(p));
        }
        auto pool = smb::HelperPool::Instance();
        const int nKilledBefore = pool->GetStats().nKilled;
        for (int i = 0; i < 50; ++i) {
            const QString p = patterns[i % patterns.size()];
            QStringList unreadable;
            const QList<SearchResult> rows = Search(m_root, p, "", nullptr, &unreadable);
            QCOMPARE(Paths(rows), expected[p]);
            QCOMPARE(unreadable, QStringList{"\\\\ALPHA\\private"});
        }
        const auto stats = pool->GetStats();
        QCOMPARE(stats.nLent, 0);
        QCOMPARE(stats.nProcesses, stats.nIdle);
        QVERIFY(stats.nPeakProcesses <= pool->Limits().nMaxHelpers);
        QCOMPARE(stats.nKilled, nKilledBefore);
        QCOMPARE(HelperChildren(), stats.nProcesses);
    }

    // A helper that dies in the middle of a search (SIGKILL whenever it touches \\ALPHA\music)
    // costs that share: the search ends, every other share's finds are there, the log names it.
    void helperKilledMidSearch()
    {
        qputenv("BC_SMB_TEST_FAULT", "kill:/music");
        smb::HelperPool::Instance()->DropIdle();
        QStringList status, unreadable;
        const QList<SearchResult> rows = Search(m_root, "*", "", &status, &unreadable);
        qunsetenv("BC_SMB_TEST_FAULT");
        smb::HelperPool::Instance()->DropIdle();
        QCOMPARE(Paths(rows),
                 Expected([](const Entry& e) { return !e.unc.startsWith("\\\\ALPHA\\music\\"); }));
        unreadable.sort();
        QCOMPARE(unreadable, (QStringList{"\\\\ALPHA\\music", "\\\\ALPHA\\private"}));
        QVERIFY(status.contains("Cannot read \\\\ALPHA\\music: the SMB helper process ended "
                                "unexpectedly"));
        QCOMPARE(status.count("Search finished"), 1);
        // And the program goes on: the next search finds the share again.
        QVERIFY(Paths(Search(m_root, "*.mp3", "")).size() > 0);
    }

    // Stop while a worker waits for a host that accepts and never answers: idle at once, the
    // workers end within a blink, nothing arrives after the stop.
    void stopDuringASilentHost()
    {
        SilentHost silent;
        QVERIFY(silent.Start("127.0.0.21"));
        auto sink = std::make_shared<Collect>();
        std::mutex m;
        std::condition_variable cv;
        bool bDone = false;
        SearchEngine::Callbacks cb;
        cb.fnFinished = [&](quint64, bool) {
            std::lock_guard l(m);
            bDone = true;
            cv.notify_all();
        };
        SearchEngine engine(cb, [] { return MakeShareFs(15000); });
        QVERIFY(engine.Start(
            {nullptr, NoNode, {"\\\\127.0.0.21\\share", "\\\\127.0.0.21\\other"}, "*", "", sink}));
        QTest::qWait(700);
        QVERIFY(!engine.IsIdle());
        QElapsedTimer t;
        t.start();
        engine.Stop();
        QVERIFY(engine.IsIdle());
        const qsizetype nRows = sink->rows.size();
        {
            std::unique_lock l(m);
            QVERIFY(cv.wait_for(l, std::chrono::milliseconds(1000), [&] { return bDone; }));
        }
        QVERIFY2(t.elapsed() < 300, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(sink->rows.size(), nRows);
    }

    void emptyPatternFindsNothing()
    {
        QStringList status;
        QVERIFY(Search(m_root, "", "", &status).isEmpty());
        QVERIFY(status.filter("Searching in ").size() > 5);
    }
};

QTEST_GUILESS_MAIN(TestLanSearch)
#include "tst_lan_search.moc"
