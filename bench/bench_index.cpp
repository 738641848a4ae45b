// The index of walked shares at a million entries: how fast it is written, how big it is, and
// how fast four searches answer from it (to the last row, and to the first), beside the plain
// tool a user would use instead on the same names: grep over a file listing every path.
//   bench_index [ENTRIES] [postgresql://...]   (default 1,000,000 entries in a file of its own;
//                                              with a connection string, in that database,
//                                              whose index it deletes first)
#include "BenchTable.h"

#include "index/IndexSearch.h"
#include "index/IndexWriter.h"
#include "search/PatternList.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

const char* const kWords[] = {"report",  "budget", "notes", "photo", "invoice", "draft",
                              "minutes", "plan",   "scan",  "list",  "backup",  "letter"};
const char* const kTypes[] = {".txt", ".xls", ".doc", ".pdf", ".jpg", ".dat"};

// 20 servers x 4 shares; years, departments and projects as folders; 25 files per folder.
qint64 Fill(shareindex::IndexStore& store, int nEntries, QFile* list)
{
    qint64 nWritten = 0;
    int nFolder = 0;
    store.Begin();
    while (nWritten < nEntries) {
        const int n = nFolder++;
        const QString folder = QStringLiteral("\\\\SERVER%1\\share%2\\%3\\dept%4\\project%5")
                                   .arg(n % 20, 2, 10, QLatin1Char('0'))
                                   .arg(n / 20 % 4)
                                   .arg(2015 + n % 11)
                                   .arg(n / 80 % 30)
                                   .arg(n);
        std::vector<FsEntry> entries;
        for (int k = 0; k < 25 && nWritten < nEntries; ++k, ++nWritten) {
            const QString name = QStringLiteral("%1 %2%3")
                                     .arg(QLatin1String(kWords[(n + k) % 12]))
                                     .arg(k)
                                     .arg(QLatin1String(kTypes[(n * 7 + k) % 6]));
            entries.push_back({name, 0, static_cast<std::uint64_t>(1000 + k), 0});
            if (list)
                list->write((folder + QLatin1Char('\\') + name + QLatin1Char('\n')).toUtf8());
        }
        store.Record(folder, entries, 1);
        if (nFolder % 4000 == 0) {
            store.Commit();
            store.Begin();
        }
    }
    store.Commit();
    return nFolder;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int nEntries = argc > 1 ? std::max(1000, atoi(argv[1])) : 1000000;
    QTemporaryDir dir;
    const QString server = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    const QString path = server.isEmpty() ? dir.filePath("index.sqlite") : server;
    const QString where =
        server.isEmpty() ? QStringLiteral("SQLite") : QStringLiteral("PostgreSQL");
    if (!server.isEmpty() && !shareindex::Forget(server))
        return 1;
    QFile list(dir.filePath("paths.txt"));
    if (!list.open(QIODevice::WriteOnly))
        return 1;
    auto store = shareindex::IndexStore::Open(path, true, nullptr);
    if (!store)
        return 1;
    QElapsedTimer t;
    t.start();
    const qint64 nFolders = Fill(*store, nEntries, &list);
    const double sWrite = t.elapsed() / 1000.0;
    list.close();
    // The same listings once more, as a walk of shares searched before hands them over.
    t.restart();
    Fill(*store, nEntries, nullptr);
    const double sAgain = t.elapsed() / 1000.0;
    // Its size at rest: closed (SQLite's journal written back into the file) and opened again.
    store.reset();
    const qint64 nBytes = shareindex::IndexStore::Open(path, false, nullptr)->BytesOnDisk();
    std::printf(
        "index (%s): %d entries in %lld folders written in %.2f s (%.0f entries/s), the same "
        "again in %.2f s (%.0f entries/s), %.1f MB on disk (%.1f MB per million entries)\n",
        qPrintable(where), nEntries, nFolders, sWrite, nEntries / sWrite, sAgain, nEntries / sAgain,
        nBytes / 1e6, nBytes / 1e6 * 1e6 / nEntries);
    TableRow(QStringLiteral("index of %1 entries (%2): written by one thread (the first walk; "
                            "a walk of the same shares again), size on disk")
                 .arg(nEntries)
                 .arg(where),
             QStringLiteral("%1 entries/s; again %2 entries/s; %3 MB per million entries")
                 .arg(nEntries / sWrite, 0, 'f', 0)
                 .arg(nEntries / sAgain, 0, 'f', 0)
                 .arg(nBytes / 1e6 * 1e6 / nEntries, 0, 'f', 1),
             QStringLiteral("-"));

    // Each query as the program answers it (a fresh open: the CLI's --index-only), and as
    // grep answers it over a file of all the paths, interleaved, medians of 5.
    struct Query
    {
        const char* pattern;
        const char* regex;
    };
    const Query queries[] = {{"*.txt", "\\.txt$"},
                             {"*report*", "report"},
                             {"*\\2024\\*.xls", "\\\\2024\\\\.*\\.xls$"},
                             {"*a*", "a"}};
    for (const Query& q : queries) {
        std::vector<double> ours, first, share, theirs;
        std::size_t nFound = 0;
        for (int r = 0; r < 5; ++r) {
            t.restart();
            auto s = shareindex::IndexStore::Open(path, false, nullptr);
            // As the window and the CLI take it: in parts, the first shown at once.
            qint64 msFirst = -1;
            const auto finds = shareindex::SearchIndex(
                *s, {}, patterns::ParsePatternList(QString::fromLatin1(q.pattern)),
                [&](std::vector<SearchResult>&&, qint64) {
                    if (msFirst < 0)
                        msFirst = t.elapsed();
                });
            ours.push_back(t.elapsed());
            first.push_back(static_cast<double>(msFirst));
            nFound = static_cast<std::size_t>(finds.nFound);
            // The first rows: the same search of one server's share (what a window shows first
            // when it asks share by share).
            t.restart();
            const auto one =
                shareindex::SearchIndex(*s, {QStringLiteral("\\\\SERVER00\\share0")},
                                        patterns::ParsePatternList(QString::fromLatin1(q.pattern)));
            share.push_back(t.elapsed());
            QProcess grep;
            t.restart();
            grep.start(
                QStringLiteral("sh"),
                {QStringLiteral("-c"), QStringLiteral("LC_ALL=C grep -c -i -E '%1' '%2'")
                                           .arg(QString::fromLatin1(q.regex), list.fileName())});
            grep.waitForFinished(-1);
            theirs.push_back(t.elapsed());
        }
        const double msOurs = Median(ours), msTheirs = Median(theirs), msFirst = Median(first),
                     msShare = Median(share);
        std::printf("index search (%s) %-14s %7zu finds: %6.0f ms to the last row, first rows "
                    "%4.0f ms, %4.0f ms for one share; grep over a path list: %5.0f ms\n",
                    qPrintable(where), q.pattern, nFound, msOurs, msFirst, msShare, msTheirs);
        TableRow(QStringLiteral("search of the index (%4), %1 entries, `%2` (%3 finds)")
                     .arg(nEntries)
                     .arg(QString::fromLatin1(q.pattern))
                     .arg(nFound)
                     .arg(where),
                 QStringLiteral("%1 ms to the last row, first rows %2 ms; one share %3 ms")
                     .arg(msOurs, 0, 'f', 0)
                     .arg(msFirst, 0, 'f', 0)
                     .arg(msShare, 0, 'f', 0),
                 QStringLiteral("`grep -c -i -E` over a list of the paths: %1 ms")
                     .arg(msTheirs, 0, 'f', 0),
                 msTheirs / std::max(msOurs, 1.0));
    }
    return 0;
}
