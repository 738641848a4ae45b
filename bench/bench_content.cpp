// Content search benchmarks. Prints figures next to grep's, measured in the same run on the
// same data:
//   1. brindlecove-cli search --containing over one 512 MiB file in /dev/shm (mixed words,
//      text rich in the letter m, random bytes), beside LC_ALL=C grep -c -F -i; medians of
//      interleaved runs, and the CLI's peak memory
//   2. the scan in memory, MB/s, for each needle kind and for all three in one pass
// Usage: bench_content [MiB]   (default 512; brindlecove-cli must sit beside this program)
// With BC_BENCH_TABLE=FILE each comparison is also appended to FILE as a Markdown table row.
#include "search/ContentMatcher.h"
#include "search/NeedleSet.h"

#include "BenchTable.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

extern char** environ;

namespace {

struct Run
{
    double seconds = -1;
    long nPeakKiB = 0;
    QByteArray output;
};

// Runs a program with its output in a file; wall time and the child's peak memory.
Run Spawn(const QStringList& args, const QString& outFile, const QByteArray& localeAll = {})
{
    std::vector<QByteArray> bytes;
    for (const QString& a : args)
        bytes.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    std::vector<QByteArray> envBytes;
    for (char** e = environ; *e; ++e)
        if (qstrncmp(*e, "LC_ALL=", 7) != 0)
            envBytes.emplace_back(*e);
    if (!localeAll.isEmpty())
        envBytes.push_back("LC_ALL=" + localeAll);
    std::vector<char*> envp;
    for (QByteArray& e : envBytes)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray out = outFile.toLocal8Bit();
    posix_spawn_file_actions_addopen(&actions, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    Run r;
    QElapsedTimer t;
    t.start();
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return r;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return r;
    r.seconds = static_cast<double>(t.nsecsElapsed()) / 1e9;
    r.nPeakKiB = usage.ru_maxrss;
    QFile f(outFile);
    if (f.open(QIODevice::ReadOnly))
        r.output = f.readAll();
    return r;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

// A small fast generator; the texts are the same in every run.
struct XorShift
{
    std::uint64_t s = 0x9E3779B97F4A7C15ull;
    std::uint64_t Next()
    {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
};

const char* const kMixedWords[] = {
    "the",      "of",     "and",     "to",        "in",      "a",        "is",      "that",
    "for",      "it",     "as",      "was",       "with",    "be",       "by",      "on",
    "not",      "he",     "this",    "are",       "or",      "his",      "from",    "at",
    "which",    "but",    "have",    "an",        "had",     "they",     "you",     "were",
    "their",    "one",    "all",     "we",        "can",     "her",      "has",     "there",
    "been",     "if",     "more",    "when",      "will",    "would",    "who",     "so",
    "no",       "Report", "Budget",  "March",     "meeting", "minutes",  "market",  "member",
    "make",     "many",   "may",     "most",      "much",    "must",     "Monday",  "money",
    "customer", "order",  "invoice", "delivery",  "project", "schedule", "quarter", "summary",
    "marmot",   "malady", "marble",  "marmalady", "manage",  "material", "Mallard", "Margin"};

const char* const kMWords[] = {"mammal",  "mummy",   "memo",      "mimic",  "MAMA",   "summit",
                               "hammock", "command", "momentum",  "maxim",  "mom",    "Mumm",
                               "marmot",  "marm",    "marmalady", "mamba",  "mimosa", "minimum",
                               "immense", "comma",   "Mammoth",   "rummage"};

// Makes a text piece by piece, so that the benchmark itself stays small (the CLI's peak memory
// is measured from a child that starts as a copy of this process).
class TextMaker
{
public:
    virtual ~TextMaker() = default;
    virtual void Append(QByteArray& out, std::size_t nBytes) = 0;
};

template <std::size_t N>
class WordMaker : public TextMaker
{
public:
    explicit WordMaker(const char* const (&words)[N]) : m_words(words) {}
    void Append(QByteArray& out, std::size_t nBytes) override
    {
        const auto end = out.size() + static_cast<qsizetype>(nBytes);
        while (out.size() < end) {
            const std::uint64_t r = m_rng.Next();
            out += m_words[r % N];
            out += (r >> 32) % 13 == 0 ? '\n' : ' ';
        }
        out.truncate(end);
    }

private:
    const char* const (&m_words)[N];
    XorShift m_rng;
};

class RandomMaker : public TextMaker
{
public:
    void Append(QByteArray& out, std::size_t nBytes) override
    {
        for (std::size_t i = 0; i < nBytes; i += 8) {
            const std::uint64_t v = m_rng.Next();
            out.append(reinterpret_cast<const char*>(&v),
                       static_cast<qsizetype>(std::min<std::size_t>(8, nBytes - i)));
        }
    }

private:
    XorShift m_rng;
};

// nBytes of maker's text into path, with the needle in mixed case 1,000 bytes before the end.
bool WriteText(TextMaker& maker, const QString& path, std::size_t nBytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QByteArray chunk;
    for (std::size_t done = 0; done < nBytes;) {
        chunk.clear();
        const std::size_t n = std::min<std::size_t>(1u << 20, nBytes - done);
        maker.Append(chunk, n);
        if (done + n == nBytes)
            chunk.replace(chunk.size() - 1000, 9, "MarMaLade");
        if (f.write(chunk) != chunk.size())
            return false;
        done += n;
    }
    return true;
}

double ScanMBs(const QByteArray& memory, const content::NeedleSet& set)
{
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer t;
        t.start();
        const auto at = set.Find(reinterpret_cast<const unsigned char*>(memory.constData()),
                                 static_cast<std::size_t>(memory.size()));
        best = std::min(best, static_cast<double>(t.nsecsElapsed()) / 1e9);
        if (at >= 0)
            std::printf("   (unexpected match at %lld)\n", static_cast<long long>(at));
    }
    return static_cast<double>(memory.size()) / (1 << 20) / best;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const std::size_t nMiB = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 512;
    const std::size_t nBytes = nMiB << 20;
    const QString cli = QCoreApplication::applicationDirPath() + QStringLiteral("/brindlecove-cli");
    const QString shm = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                                  : QDir::tempPath();
    QTemporaryDir dir(shm + QStringLiteral("/bc-bench-XXXXXX"));
    const QString out = dir.filePath(QStringLiteral("out.txt"));
    QDir().mkpath(dir.filePath(QStringLiteral("share")));
    const QString path = dir.filePath(QStringLiteral("share/text.bin"));

    std::printf("1. content search, one %zu MiB file in %s, needle \"marmalade\" 1,000 bytes "
                "before the end (kernel %s; medians of 3 interleaved runs):\n",
                nMiB, qPrintable(shm), content::NeedleSet::KernelName());
    WordMaker mixed(kMixedWords);
    WordMaker mRich(kMWords);
    RandomMaker random;
    struct Text
    {
        const char* name;
        TextMaker& maker;
    };
    const Text texts[] = {
        {"mixed words", mixed},
        {"text rich in the letter m", mRich},
        {"random bytes", random},
    };
    for (const Text& text : texts) {
        if (!WriteText(text.maker, path, nBytes)) {
            std::printf("   cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::vector<double> ours, grep;
        long nPeak = 0;
        bool bFound = true;
        for (int i = 0; i < 3; ++i) {
            const Run r = Spawn({cli, QStringLiteral("search"), QStringLiteral("--pattern"),
                                 QStringLiteral("*"), QStringLiteral("--containing"),
                                 QStringLiteral("marmalade"), dir.filePath(QStringLiteral("share"))},
                                out);
            ours.push_back(r.seconds);
            nPeak = std::max(nPeak, r.nPeakKiB);
            bFound = bFound && r.output.contains("text.bin");
            const Run g = Spawn({QStringLiteral("grep"), QStringLiteral("-c"), QStringLiteral("-F"),
                                 QStringLiteral("-i"), QStringLiteral("marmalade"), path},
                                out, "C");
            grep.push_back(g.seconds);
        }
        const double o = Median(ours), g = Median(grep);
        std::printf("   %-26s ours %6.3f s (%5.0f MB/s, peak %ld KiB)   grep -c -F -i %6.3f s   "
                    "time ours/grep %.2f%s\n",
                    text.name, o, static_cast<double>(nMiB) / o, nPeak, g, o / g,
                    bFound ? "" : "   NOT FOUND");
        TableRow(QStringLiteral("`brindlecove-cli search --containing`, %1 MiB of %2 in /dev/shm "
                                "(time; peak memory)")
                     .arg(nMiB)
                     .arg(QString::fromLatin1(text.name)),
                 QStringLiteral("%1 s; %2 MiB").arg(o, 0, 'f', 3).arg(nPeak / 1024),
                 QStringLiteral("`LC_ALL=C grep -c -F -i`: %1 s").arg(g, 0, 'f', 3), g / o);
    }
    QFile::remove(path);

    // In memory, over mixed words: each kind of needle alone, and what a search looks for.
    QByteArray memory;
    WordMaker(kMixedWords).Append(memory, std::min<std::size_t>(nBytes, 256u << 20));
    const QString strasse = QString::fromUtf8("Straße");
    const auto ascii = content::MakeNeedles(QStringLiteral("marmalade"));
    const auto latin = content::MakeNeedles(strasse);
    struct Kind
    {
        const char* name;
        std::vector<QByteArray> needles;
    };
    const Kind kinds[] = {
        {"Windows-1252 \"marmalade\"", {ascii->ansi}},
        {"UTF-16LE \"marmalade\"", {ascii->wide}},
        {"UTF-8 \"Straße\"", {latin->utf8}},
        {"all of \"marmalade\" (2)", ascii->Bytes()},
        {"all of \"Straße\" (3)", latin->Bytes()},
    };
    std::printf("2. the scan in memory over %lld MiB of mixed words (best of 3), MB/s:\n",
                static_cast<long long>(memory.size() >> 20));
    for (const Kind& k : kinds) {
        const content::NeedleSet set(k.needles);
        std::printf("   %-28s", k.name);
        for (content::NeedleSet::Kernel kernel : content::NeedleSet::Kernels()) {
            double best = 1e9;
            for (int i = 0; i < 3; ++i) {
                QElapsedTimer t;
                t.start();
                set.Find(reinterpret_cast<const unsigned char*>(memory.constData()),
                         static_cast<std::size_t>(memory.size()), kernel);
                best = std::min(best, static_cast<double>(t.nsecsElapsed()) / 1e9);
            }
            std::printf("  %s %6.0f", content::NeedleSet::KernelName(kernel),
                        static_cast<double>(memory.size() >> 20) / best);
        }
        std::printf("\n");
        if (std::string_view(k.name).starts_with("all"))
            TableRow(QStringLiteral("content scan in memory, %1, %2").arg(k.name, content::NeedleSet::KernelName()),
                     QStringLiteral("%1 MB/s").arg(ScanMBs(memory, set), 0, 'f', 0),
                     QStringLiteral("(grep: row above)"), 0);
    }
    return 0;
}
