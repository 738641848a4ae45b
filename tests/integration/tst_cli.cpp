#include "common/HelperChildren.h"

#include <QtTest>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

// brindlecove-cli as a user runs it, against the loopback test network.
class TestCli : public QObject
{
    Q_OBJECT

    struct Out
    {
        int code;
        QString out;
        QString err;
    };
    static Out Cli(const QStringList& args)
    {
        QProcess p;
        p.start(QCoreApplication::applicationDirPath() + "/brindlecove-cli", args);
        if (!p.waitForFinished(120000))
            return {-1, {}, {}};
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }

private slots:
    void helpAndVersion()
    {
        Out o = Cli({"--help"});
        QCOMPARE(o.code, 0);
        QVERIFY(o.out.contains("browse"));
        o = Cli({"--version"});
        QCOMPARE(o.code, 0);
        QVERIFY(o.out.startsWith("brindlecove-cli 2.1"));
    }

    // The desktop program answers --version and --help on the terminal, without a display, and
    // refuses an unknown option instead of starting.
    void desktopProgramOnTerminal_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        QTest::newRow("version") << QStringList{"--version"} << 0 << "brindlecove 2.1";
        QTest::newRow("help") << QStringList{"--help"} << 0 << "brindlecove-cli";
        QTest::newRow("unknown") << QStringList{"--frobnicate"} << 1 << "frobnicate";
    }
    void desktopProgramOnTerminal()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, says);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        if (code == 0)
            env.remove("QT_QPA_PLATFORM"); // no display at all: the answer needs none
        p.setProcessEnvironment(env);
        p.start(QCoreApplication::applicationDirPath() + "/brindlecove", args);
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), code);
        const QString out = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
        QVERIFY2(out.contains(says), qPrintable(out));
    }

    void badArguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("none") << QStringList{} << "no command";
        QTest::newRow("unknown") << QStringList{"frobnicate"} << "unknown command";
        QTest::newRow("scan too large") << QStringList{"scan", "192.168.1.1", "192.168.2.45"}
                                        << "Sorry, IP range can't contain more than 300 IPs!";
        QTest::newRow("scan reversed") << QStringList{"scan", "10.0.0.2", "10.0.0.1"} << "300 IPs";
        QTest::newRow("scan bad address")
            << QStringList{"scan", "10.0.0.256", "10.0.0.1"} << "0 to 255";
        QTest::newRow("shares no host") << QStringList{"shares"} << "one host";
        QTest::newRow("tree missing file")
            << QStringList{"tree", "/nonexistent.nft"} << "cannot read";
        QTest::newRow("nft without name") << QStringList{"browse", "--nft"} << "--nft";
        QTest::newRow("password on the command line")
            << QStringList{"search", "--pattern", "*", "--password", "x", "\\\\ALPHA"}
            << "not taken on the command line";
        QTest::newRow("user without password")
            << QStringList{"shares", "ALPHA", "--user", "bcuser"} << "no password for bcuser";
        QTest::newRow("two logins")
            << QStringList{"shares", "ALPHA", "--user", "bcuser", "--guest"} << "one of";
    }
    void badArguments()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const Out o = Cli(args);
        QCOMPARE(o.code, 2);
        QVERIFY2(o.err.contains(message), qPrintable(o.err));
    }

    // Names are printed as they are: a "%2" is no place holder, a line feed no line end.
    void namesPrintedWhole()
    {
        QTemporaryDir dir;
        const QStringList names{"x%2Fy.txt", "a%1b%L1.txt", "two\nlines.txt"};
        for (const QString& n : names) {
            QFile f(dir.filePath(n));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("12345");
        }
        const Out o = Cli({"search", "--long", "--pattern", "*.txt", dir.path()});
        QCOMPARE(o.code, 0);
        QStringList lines = o.out.split('\n', Qt::SkipEmptyParts);
        lines.sort();
        QCOMPARE(lines.size(), 3);
        QStringList expected;
        for (const QString& n : names)
            expected << dir.path() + "/" + QString(n).replace('\n', QChar(0x240a)) + "\t5\t";
        expected.sort();
        for (int i = 0; i < 3; ++i)
            QVERIFY2(lines[i].startsWith(expected[i]), qPrintable(lines[i]));
    }

    void browseSaveAndReadBack()
    {
        QTemporaryDir dir;
        const QString nft = dir.filePath("lan.nft");
        Out o = Cli({"browse", "--nft", nft});
        QCOMPARE(o.code, 0);
        QVERIFY(o.out.isEmpty());
        o = Cli({"tree", nft});
        QCOMPARE(o.code, 0);
        QCOMPARE(
            o.out,
            QString("MS Windows Network\n"
                    "  LAB\n    GAMMA\n      IPC$\n      lab\n      scratch\n"
                    "  WORKGROUP\n    ALPHA\n      admin$\n      docs\n      IPC$\n      laser\n"
                    "      music\n      private\n      public\n"
                    "    BETA\n      IPC$\n      projects\n      public\n"));
        const Out browse = Cli({"browse", "--verbose"});
        QCOMPARE(browse.out, o.out);
        QVERIFY(browse.err.contains("Getting information about WORKGROUP\\BETA"));
        QVERIFY(browse.err.contains("Network tree has been updated!"));
    }

    void sharesScanDomain()
    {
        Out o = Cli({"shares", "127.0.0.12"});
        QCOMPARE(o.code, 0);
        QCOMPARE(o.out.split('\n', Qt::SkipEmptyParts),
                 (QStringList{"projects", "public", "IPC$"}));
        o = Cli({"shares", "127.0.0.19"});
        QCOMPARE(o.code, 2);
        o = Cli({"scan", "127.0.0.12", "127.0.0.14", "--name", "lab range"});
        QCOMPARE(o.code, 0);
        QCOMPARE(
            o.out,
            QString("MS Windows Network\n  lab range\n    127.0.0.12\n      IPC$\n      projects\n"
                    "      public\n    127.0.0.13\n      IPC$\n      lab\n      scratch\n"));
        o = Cli({"domain", "LAB"});
        QCOMPARE(o.code, 0);
        QCOMPARE(
            o.out,
            QString(
                "MS Windows Network\n  LAB\n    GAMMA\n      IPC$\n      lab\n      scratch\n"));
        o = Cli({"domain", "NOSUCHGROUP"});
        QCOMPARE(o.code, 0);
        QCOMPARE(o.out, QString("MS Windows Network\n  NOSUCHGROUP\n"));
        QVERIFY(o.err.contains("A system error has occurred: "));
    }

    // Every search records what it lists; --index-only answers from that at once with the set a
    // walk gives; a crawl (index update) brings it level with files that came and went through
    // SMB; status names the shares; forget deletes it; --no-index leaves no index behind. The
    // same with the index in a file of this user's and in a PostgreSQL database (--index).
    void indexAnswersAsTheWalk_data()
    {
        QTest::addColumn<bool>("server");
        QTest::newRow("file") << false;
        QTest::newRow("PostgreSQL") << true;
    }
    void indexAnswersAsTheWalk()
    {
        QFETCH(bool, server);
        QTemporaryDir dir;
        const QString indexFile = dir.filePath("index.sqlite");
        qputenv("BC_INDEX_FILE", QFile::encodeName(indexFile));
        const auto restore = qScopeGuard([] { qunsetenv("BC_INDEX_FILE"); });
        QStringList where;
        if (server) {
            QFile url(qEnvironmentVariable("BC_TEST_INDEX_URL_FILE"));
            if (!url.open(QIODevice::ReadOnly))
                QSKIP("no PostgreSQL server of the tests (BC_TEST_INDEX_URL_FILE)");
            where = QStringList{"--index", QString::fromUtf8(url.readAll()).trimmed()};
            QCOMPARE(Cli(QStringList{"index", "forget"} + where).code, 0);
        }
        auto index = [&](QStringList args) { return Cli(args + where); };
        auto lines = [](const QString& out) {
            QStringList l = out.split('\n', Qt::SkipEmptyParts);
            l.sort();
            return l;
        };
        Out o = index({"search", "--no-index", "--pattern", "*", "\\\\127.0.0.12"});
        QVERIFY2(!o.out.isEmpty(), qPrintable(o.err));
        QVERIFY(!QFile::exists(indexFile));
        QVERIFY(index({"index", "status"}).out.startsWith("no index yet"));

        const Out walk = index({"search", "--pattern", "*", "\\\\127.0.0.11"});
        QVERIFY(walk.out.count('\n') > 10);
        QCOMPARE(QFile::exists(indexFile), !server);
        o = index({"search", "--index-only", "--pattern", "*", "\\\\127.0.0.11"});
        QCOMPARE(o.code, 0);
        QCOMPARE(lines(o.out), lines(walk.out));
        QVERIFY2(o.err.contains("from the index of"), qPrintable(o.err));
        o = index({"search", "--index-only", "--pattern", "*.mp3", "\\\\127.0.0.11\\music"});
        QCOMPARE(lines(o.out),
                 lines(walk.out).filter(QRegularExpression("\\\\music\\\\.*\\.mp3$")));

        const QString name = QString("indexed-%1.txt").arg(QCoreApplication::applicationPid());
        QFile local(dir.filePath(name));
        QVERIFY(local.open(QIODevice::WriteOnly));
        local.write("new\n");
        local.close();
        auto smb = [](const QString& command) {
            QProcess p;
            p.start("smbclient", {"-N", "//127.0.0.11/public", "-c", command});
            return p.waitForFinished(30000) && p.exitCode() == 0;
        };
        QVERIFY(smb(QString("lcd %1; put %2").arg(dir.path(), name)));
        const QString found = "\\\\127.0.0.11\\public\\" + name;
        QCOMPARE(index({"index", "update", "\\\\127.0.0.11\\public"}).code, 0);
        o = index({"search", "--index-only", "--pattern", "*\\indexed-*", "\\\\127.0.0.11"});
        QCOMPARE(lines(o.out), QStringList{found});
        QVERIFY(smb("del " + name));
        QCOMPARE(index({"index", "update", "\\\\127.0.0.11\\public"}).code, 0);
        o = index({"search", "--index-only", "--pattern", "*\\indexed-*", "\\\\127.0.0.11"});
        QCOMPARE(o.code, 1);
        QCOMPARE(o.out, QString());

        o = index({"index", "status"});
        QCOMPARE(o.code, 0);
        QVERIFY2(o.out.contains("\\\\127.0.0.11\\music\t") && o.out.contains(" entries"),
                 qPrintable(o.out));
        QVERIFY(!o.out.contains("\\\\127.0.0.11\\private")); // never listed: not in the index
        if (server) // the connection string's password stays out of what is printed
            QVERIFY(!o.out.contains(QUrl(where.last()).password()));
        QCOMPARE(index({"index", "forget"}).code, 0);
        QVERIFY(!QFile::exists(indexFile));
        o = index({"index", "status"});
        QVERIFY(o.out.startsWith("no index yet"));
        QCOMPARE(index({"search", "--index-only", "--pattern", "*"}).code, 2);
    }

    // A search of names answers from the index first (--index-first; a terminal without
    // asking): the index's finds at once, then what the walk finds new; a find the walk no
    // longer meets is named as gone. Into a pipe without asking, the walk's finds alone.
    void indexFirstThenTheWalk()
    {
        QTemporaryDir dir;
        qputenv("BC_INDEX_FILE", QFile::encodeName(dir.filePath("index.sqlite")));
        const auto restore = qScopeGuard([] { qunsetenv("BC_INDEX_FILE"); });
        const QString tag = QString("first-%1").arg(QCoreApplication::applicationPid());
        auto smb = [&](const QString& command) {
            QProcess p;
            p.start("smbclient", {"-N", "//127.0.0.11/public", "-c",
                                  QString("lcd %1; %2").arg(dir.path(), command)});
            return p.waitForFinished(30000) && p.exitCode() == 0;
        };
        for (const QString& name : {tag + "-old.txt", tag + "-new.txt"}) {
            QFile f(dir.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("x\n");
        }
        const auto cleanup = qScopeGuard([&] { smb(QString("del %1-*").arg(tag)); });
        QVERIFY(smb(QString("put %1-old.txt").arg(tag)));
        const QString share = "\\\\127.0.0.11\\public";
        const QString pattern = "*\\" + tag + "-*";
        QCOMPARE(Cli({"search", "--pattern", pattern, share}).out,
                 share + "\\" + tag + "-old.txt\n");
        QVERIFY(smb(QString("del %1-old.txt; put %1-new.txt").arg(tag)));

        Out o = Cli({"search", "--index-first", "--pattern", pattern, share});
        QCOMPARE(o.code, 0);
        QCOMPARE(o.out, share + "\\" + tag + "-old.txt\n" + share + "\\" + tag + "-new.txt\n");
        QVERIFY2(o.err.contains("from the index of"), qPrintable(o.err));
        QVERIFY2(o.err.contains(QRegularExpression(
                     "gone since the index of [^:]+:\\d\\d:\\d\\d: " +
                     QRegularExpression::escape(share + "\\" + tag + "-old.txt"))),
                 qPrintable(o.err));
        // The walk wrote the index again: now it is level with the share.
        o = Cli({"search", "--index-first", "--pattern", pattern, share});
        QCOMPARE(o.out, share + "\\" + tag + "-new.txt\n");
        QVERIFY(!o.err.contains("gone"));
        QVERIFY(smb(QString("del %1-new.txt").arg(tag)));
        o = Cli({"search", "--pattern", pattern, share});
        QCOMPARE(o.code, 1);
        QCOMPARE(o.out, QString());
    }

    // A watch holds its helper for as long as it runs: of four shares of one server, three are
    // watched and the fourth is named as left out (the server's last place in the pool stays
    // free for listing what changed), and the command still ends when told.
    void watchLeavesAServerAPlace()
    {
        QTemporaryDir dir;
        qputenv("BC_INDEX_FILE", QFile::encodeName(dir.filePath("index.sqlite")));
        const auto restore = qScopeGuard([] { qunsetenv("BC_INDEX_FILE"); });
        QStringList shares;
        for (const char* s : {"docs", "music", "public", "private"})
            shares << QString("\\\\127.0.0.11\\%1").arg(s);
        QElapsedTimer t;
        t.start();
        const Out o = Cli(QStringList{"index", "watch"} + shares + QStringList{"--seconds", "2"});
        QCOMPARE(o.code, 0);
        QVERIFY2(t.elapsed() < 30000, qPrintable(QString::number(t.elapsed())));
        for (int i = 0; i < 3; ++i)
            QVERIFY2(o.err.contains("brindlecove-cli: watching " + shares[i] + "\n"),
                     qPrintable(o.err));
        QVERIFY2(o.err.contains("brindlecove-cli: not watching " + shares[3] + ": "),
                 qPrintable(o.err));
        QCOMPARE(o.err.count("not watching"), 1);
    }

    // While `index watch` runs, what happens on the share through SMB reaches the index within
    // seconds: a file that arrived after the last walk and before the watch began, a file that
    // arrives, one renamed, a folder that arrives with its contents, a file deleted.
    void indexFollowsAWatchedShare()
    {
        QTemporaryDir dir;
        qputenv("BC_INDEX_FILE", QFile::encodeName(dir.filePath("index.sqlite")));
        const auto restore = qScopeGuard([] { qunsetenv("BC_INDEX_FILE"); });
        const QString tag = QString("watched-%1").arg(QCoreApplication::applicationPid());
        auto smb = [&](const QString& command) {
            QProcess p;
            p.start("smbclient", {"-N", "//127.0.0.11/public", "-c",
                                  QString("lcd %1; %2").arg(dir.path(), command)});
            return p.waitForFinished(30000) && p.exitCode() == 0;
        };
        QFile local(dir.filePath(tag + ".txt"));
        QVERIFY(local.open(QIODevice::WriteOnly));
        local.write("x\n");
        local.close();
        QCOMPARE(Cli({"index", "update", "\\\\127.0.0.11\\public"}).code, 0);
        // A file that arrives after the last walk and before the watch is held by the server.
        QFile early(dir.filePath(tag + "-early.txt"));
        QVERIFY(early.open(QIODevice::WriteOnly));
        early.write("x\n");
        early.close();
        QVERIFY(smb(QString("put %1-early.txt").arg(tag)));

        QProcess watch;
        watch.start(QCoreApplication::applicationDirPath() + "/brindlecove-cli",
                    {"index", "watch", "\\\\127.0.0.11\\public", "--seconds", "120"});
        QVERIFY(watch.waitForStarted());
        const auto stopWatch = qScopeGuard([&] {
            watch.terminate();
            watch.waitForFinished(10000);
        });
        QByteArray said;
        QTRY_VERIFY2_WITH_TIMEOUT((said += watch.readAllStandardError()).contains("watching"),
                                  said.constData(), 10000);
        QTest::qWait(1500); // the watch is armed on the server

        auto indexed = [&] {
            const Out o = Cli(
                {"search", "--index-only", "--pattern", "*" + tag + "*", "\\\\127.0.0.11\\public"});
            QStringList l = o.out.split('\n', Qt::SkipEmptyParts);
            l.sort();
            return l;
        };
        const QString base = "\\\\127.0.0.11\\public\\";
        QElapsedTimer t;
        auto until = [&](const QStringList& want) {
            t.start();
            while (t.elapsed() < 10000) {
                if (indexed() == want)
                    return true;
                QTest::qWait(100);
            }
            return false;
        };
        QVERIFY2(until({base + tag + "-early.txt"}), qPrintable(indexed().join(' ')));
        QVERIFY(smb(QString("del %1-early.txt").arg(tag)));
        QVERIFY2(until({}), qPrintable(indexed().join(' ')));
        QVERIFY(smb(QString("put %1.txt").arg(tag)));
        QVERIFY2(until({base + tag + ".txt"}), qPrintable(indexed().join(' ')));
        qInfo("a new file was in the index %lld ms after the upload", t.elapsed());
        QVERIFY(smb(QString("rename %1.txt %1-renamed.txt").arg(tag)));
        QVERIFY2(until({base + tag + "-renamed.txt"}), qPrintable(indexed().join(' ')));
        qInfo("a rename was in the index %lld ms after it", t.elapsed());
        QVERIFY(smb(QString("mkdir %1-dir; cd %1-dir; put %1.txt %1-inside.txt").arg(tag)));
        QVERIFY2(until({base + tag + "-dir", base + tag + "-dir\\" + tag + "-inside.txt",
                        base + tag + "-renamed.txt"}),
                 qPrintable(indexed().join(' ')));
        QVERIFY(smb(QString("del %1-renamed.txt; cd %1-dir; del %1-inside.txt; cd ..; rmdir %1-dir")
                        .arg(tag)));
        QVERIFY2(until({}), qPrintable(indexed().join(' ')));
        qInfo("deletions were in the index %lld ms after them", t.elapsed());
        watch.terminate();
        QVERIFY(watch.waitForFinished(10000));
        QCOMPARE(watch.exitCode(), 0);
    }

    // What could not be read is named on stderr and makes the exit code 2, finds or not;
    // printer and IPC shares hold no files and are no failure.
    void searchNamesWhatItCannotRead()
    {
        Out o = Cli({"search", "--pattern", "*.txt", "\\\\127.0.0.11\\docs"});
        QCOMPARE(o.code, 0);
        QVERIFY(o.out.contains("\\\\127.0.0.11\\docs\\report.txt\n"));
        QCOMPARE(o.err, QString());
        o = Cli({"search", "--pattern", "*", "\\\\127.0.0.11\\private"});
        QCOMPARE(o.code, 2);
        QCOMPARE(o.out, QString());
        QVERIFY2(o.err.contains("cannot read \\\\127.0.0.11\\private: Permission denied"),
                 qPrintable(o.err));
        o = Cli({"search", "--pattern", "*.mp3", "\\\\127.0.0.11"});
        QCOMPARE(o.code, 2);
        QVERIFY(o.out.contains(".mp3\n"));
        QCOMPARE(o.err.count("cannot read"), 1);
        QVERIFY(!o.err.contains("laser") && !o.err.contains("IPC$"));
        o = Cli({"search", "--pattern", "*.nothing", "\\\\127.0.0.12\\projects"});
        QCOMPARE(o.code, 1);
        o = Cli({"search", "--pattern", "*", "\\\\127.0.0.19\\gone"});
        QCOMPARE(o.code, 2);
        QVERIFY(o.err.contains("Connection refused"));
        // A name that neither a name service nor an announcement knows.
        o = Cli({"search", "--pattern", "*", "\\\\NOSUCHSERVER\\files"});
        QCOMPARE(o.code, 2);
        QVERIFY2(o.err.contains("cannot read \\\\NOSUCHSERVER\\files: the server name was not "
                                "found on the network"),
                 qPrintable(o.err));
    }

    // The same content search, again and again: the same finds every time, never a crash.
    // Logins: the password from a file or the environment; a refused login or share is an
    // error on stderr (exit 2), never a quiet guest login.
    void searchWithLogins_data()
    {
        QTest::addColumn<QStringList>("login");
        QTest::addColumn<QString>("password"); // the file's or the environment's
        QTest::addColumn<bool>("bEnvironment");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("err");
        const QStringList user{"--user", "WORKGROUP\\bcuser"};
        QTest::newRow("password file") << user << "bcpass123\n" << false << 0 << "";
        QTest::newRow("environment") << user << "bcpass123" << true << 0 << "";
        QTest::newRow("wrong password")
            << user << "wrong\n"
            << false << 2
            << "cannot read \\\\ALPHA\\private: login failed: unknown user name or bad password";
        QTest::newRow("guest") << QStringList{"--guest"} << "" << false << 2
                               << "cannot read \\\\ALPHA\\private: Permission denied";
        QTest::newRow("no options") << QStringList{} << "" << false << 2
                                    << "cannot read \\\\ALPHA\\private: Permission denied";
    }
    void searchWithLogins()
    {
        QFETCH(QStringList, login);
        QFETCH(QString, password);
        QFETCH(bool, bEnvironment);
        QFETCH(int, code);
        QFETCH(QString, err);
        QTemporaryDir dir;
        QStringList args{"search", "--pattern", "*", "\\\\ALPHA\\private"};
        args += login;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("BRINDLECOVE_PASSWORD");
        if (bEnvironment) {
            env.insert("BRINDLECOVE_PASSWORD", password);
        } else if (login.contains("--user")) {
            QFile f(dir.filePath("pw"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(password.toUtf8());
            f.close();
            args << "--password-file" << f.fileName();
        }
        p.setProcessEnvironment(env);
        p.start(QCoreApplication::applicationDirPath() + "/brindlecove-cli", args);
        QVERIFY(p.waitForFinished(60000));
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        const QString stderrText = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitCode(), code);
        if (code == 0) {
            QCOMPARE(out, QString("\\\\ALPHA\\private\\confidential.txt\n"));
        } else {
            QVERIFY(out.isEmpty());
            QVERIFY2(stderrText.contains(err), qPrintable(stderrText));
        }
        QVERIFY(!stderrText.contains("bcpass123"));
    }

    // \\HERON lists its shares only after a login. Without --user each command says on stderr
    // that the server needs one (exit 2) and never shows it as a server without shares; with
    // --user its shares are listed and searched, also as a server node of a tree file that
    // holds no shares for it.
    void serverThatNeedsALogin_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("bUser");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("out"); // what stdout holds (a line of it)
        QTest::addColumn<int>("nLines");  // lines on stdout, -1: not counted
        const QStringList search{"search", "--pattern", "*.txt", "--nft", "@TREE@", "--node"};
        QTest::newRow("shares") << QStringList{"shares", "HERON"} << false << 2 << "" << 0;
        QTest::newRow("shares, login")
            << QStringList{"shares", "HERON"} << true << 0 << "ridge" << 2;
        QTest::newRow("scan") << QStringList{"scan", "127.0.0.16", "127.0.0.16"} << false << 2
                              << "    127.0.0.16" << 3;
        QTest::newRow("scan, login")
            << QStringList{"scan", "127.0.0.16", "127.0.0.16"} << true << 0 << "      ridge" << 5;
        QTest::newRow("search server")
            << QStringList{"search", "--pattern", "*.txt", "\\\\HERON"} << false << 2 << "" << 0;
        QTest::newRow("search server, login")
            << QStringList{"search", "--pattern", "*.txt", "\\\\HERON"} << true << 0
            << "\\\\HERON\\ridge\\heron\\notes-150.txt" << 150;
        QTest::newRow("search node")
            << (search + QStringList{"RIDGE\\HERON"}) << false << 2 << "" << 0;
        QTest::newRow("search node, login") << (search + QStringList{"RIDGE\\HERON"}) << true << 0
                                            << "\\\\HERON\\ridge\\heron\\notes-001.txt" << 150;
        QTest::newRow("search workgroup, login") << (search + QStringList{"RIDGE"}) << true << 0
                                                 << "\\\\HERON\\ridge\\heron\\notes-077.txt" << 150;
    }
    void serverThatNeedsALogin()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, bUser);
        QFETCH(int, code);
        QFETCH(QString, out);
        QFETCH(int, nLines);
        QTemporaryDir dir;
        // RIDGE with HERON and no shares, as a tree file of a browse that could not list them.
        QFile tree(dir.filePath("ridge.nft"));
        QVERIFY(tree.open(QIODevice::WriteOnly));
        const QString text = "2RIDGE\n0HERON\n";
        tree.write(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
        tree.close();
        args.replaceInStrings("@TREE@", tree.fileName());
        if (bUser) {
            QFile pw(dir.filePath("pw"));
            QVERIFY(pw.open(QIODevice::WriteOnly));
            pw.write("bcpass123\n");
            pw.close();
            args << "--user"
                 << "bcuser"
                 << "--password-file" << pw.fileName();
        }
        const Out o = Cli(args);
        QCOMPARE(o.code, code);
        const QStringList lines = o.out.split('\n', Qt::SkipEmptyParts);
        if (!out.isEmpty())
            QVERIFY2(lines.contains(out), qPrintable(o.out));
        if (nLines >= 0)
            QCOMPARE(lines.size(), nLines);
        if (code == 2)
            QVERIFY2(
                QRegularExpression(R"(\\\\(HERON|127\.0\.0\.16) needs a login to list its shares)")
                    .match(o.err)
                    .hasMatch(),
                qPrintable(o.err));
        else
            QVERIFY2(o.err.isEmpty(), qPrintable(o.err));
    }

    // The containing text in Windows-1252, UTF-16LE and UTF-8 files, on a local folder and on
    // a share (where the helper reads the files): letters A-Z fold, others match as typed.
    void containingInEveryEncoding_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("found");
        const QStringList every{"cp1252.txt", "utf16.txt", "utf8.txt"};
        QTest::newRow("as written") << QString::fromUtf8("Straße") << every;
        QTest::newRow("A-Z in another case") << QString::fromUtf8("STRAße") << every;
        QTest::newRow("ß is not ss") << QString("strasse") << QStringList{"ss.txt"};
        QTest::newRow("cyrillic, utf-8 and utf-16 only")
            << QString::fromUtf8("план") << QStringList{"utf16.txt", "utf8.txt"};
        QTest::newRow("no question marks for cyrillic")
            << QString::fromUtf8("????план") << QStringList{};
    }
    void containingInEveryEncoding()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, found);
        const QString lan = qEnvironmentVariable("BC_TESTLAN_DIR");
        QVERIFY(!lan.isEmpty());
        const QString sub = "enc-" + QString::number(QCoreApplication::applicationPid());
        const QString local = lan + "/shares/ALPHA/public/" + sub;
        QVERIFY(QDir().mkpath(local));
        auto cleanup = qScopeGuard([&] { QDir(local).removeRecursively(); });
        const QString u16 = QString::fromUtf8("Die Straße, der план.");
        const QList<std::pair<QString, QByteArray>> files{
            {"cp1252.txt", QByteArray("Die Stra\xdf"
                                      "e. ????")},
            {"utf16.txt", QByteArray(reinterpret_cast<const char*>(u16.utf16()), u16.size() * 2)},
            {"utf8.txt", u16.toUtf8()},
            {"ss.txt", QByteArray("Die STRASSE")}};
        for (const auto& [name, bytes] : files) {
            QFile f(local + "/" + name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(bytes);
            f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther |
                             QFile::ReadGroup);
        }
        for (const QString& root : {local, "\\\\127.0.0.11\\public\\" + sub}) {
            const Out o = Cli({"search", "--pattern", "*.txt", "--containing", text, root});
            QCOMPARE(o.code, found.isEmpty() ? 1 : 0);
            QStringList names;
            for (const QString& line : o.out.split('\n', Qt::SkipEmptyParts))
                names << line.section(QRegularExpression("[/\\\\]"), -1);
            names.sort();
            QVERIFY2(names == found, qPrintable(root + ": " + names.join(", ") + "\n" + o.err));
        }
    }

    // Names from a share go to stderr (--verbose, failures) with their control characters as
    // pictures: an escape sequence in a folder name never reaches the terminal.
    void namesOnStderrUseControlPictures()
    {
        QTemporaryDir dir;
        const QString evil = QString("evil") + QChar(0x1b) + "]0;pwned" + QChar(7) + QChar(0x1b) +
                             "[31m" + QChar('\r') + "x";
        QVERIFY(QDir(dir.path()).mkpath(evil));
        QFile f(dir.path() + "/" + evil + "/a.txt");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        const Out o = Cli({"search", "--verbose", "--pattern", "*.txt", dir.path()});
        QCOMPARE(o.code, 0);
        QVERIFY2(o.err.contains("Searching in"), qPrintable(o.err));
        for (const QString& stream : {o.out, o.err}) {
            for (QChar c : {QChar(0x1b), QChar(7), QChar('\r')})
                QVERIFY2(!stream.contains(c), qPrintable(stream));
            QVERIFY(stream.contains(QChar(0x241b))); // ␛
        }
    }

    // The password from the environment is in no helper's environment and no longer in the
    // program's own while it runs.
    void passwordVariableIsTakenOut()
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("BRINDLECOVE_PASSWORD", "bcpass123");
        env.insert("BC_SMB_TEST_FAULT", "hang:private"); // the helper stays while we look
        p.setProcessEnvironment(env);
        p.start(QCoreApplication::applicationDirPath() + "/brindlecove-cli",
                {"search", "--user", "bcuser", "--pattern", "*", "\\\\127.0.0.11\\private"});
        QVERIFY(p.waitForStarted());
        auto stop = qScopeGuard([&] {
            p.kill();
            p.waitForFinished(5000);
        });
        QStringList helpers;
        for (int i = 0; i < 100 && helpers.isEmpty(); ++i) {
            QTest::qWait(100);
            helpers = HelperPids(p.processId());
        }
        QVERIFY(!helpers.isEmpty());
        for (const QString& pid : helpers + QStringList{QString::number(p.processId())}) {
            QFile e("/proc/" + pid + "/environ");
            QVERIFY(e.open(QIODevice::ReadOnly));
            const QByteArray bytes = e.readAll();
            QVERIFY2(!bytes.contains("bcpass123") && !bytes.contains("BRINDLECOVE_PASSWORD"),
                     qPrintable(pid));
        }
    }

    // A helper may not be read by other processes of its user: no core dumps, no /proc/PID/mem
    // or environ. Started as an unprivileged user, another process of that user is refused.
    void helperIsNotDumpable()
    {
        constexpr uid_t kNobody = 65534;
        int sv[2];
        QVERIFY(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) == 0);
        QProcess helper;
        helper.setChildProcessModifier([fd = sv[1]] {
            // Descriptor 3 is the helper's channel, open across exec; nothing else is.
            const bool bMoved = fd == 3 ? ::fcntl(3, F_SETFD, 0) == 0 : ::dup2(fd, 3) == 3;
            if (!bMoved || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                ::_exit(99);
        });
        helper.start(QCoreApplication::applicationDirPath() + "/brindlecove-smb", {"--fd", "3"});
        QVERIFY(helper.waitForStarted());
        ::close(sv[1]);
        auto stop = qScopeGuard([&] {
            ::close(sv[0]); // the helper ends when its channel does
            if (!helper.waitForFinished(5000))
                helper.kill();
        });
        QTest::qWait(500);
        QCOMPARE(helper.state(), QProcess::Running);
        const QByteArray path = "/proc/" + QByteArray::number(helper.processId()) + "/environ";
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                ::_exit(3);
            const int fd = ::open(path.constData(), O_RDONLY);
            ::_exit(fd >= 0 ? 1 : 0);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0); // refused
    }

    // A wrong password over three shares of one server: the server sees at most two failed
    // logins (the share, then its share list to tell a refused login from a refused share),
    // not one or more per share and helper. Counted in the server's own authentication log.
    void wrongPasswordIsTriedOnce()
    {
        const QString lan = qEnvironmentVariable("BC_TESTLAN_DIR");
        auto failedLogins = [&] {
            int n = 0;
            for (const QFileInfo& fi :
                 QDir(lan + "/hosts/ALPHA/log").entryInfoList({"*.log"}, QDir::Files)) {
                QFile f(fi.filePath());
                if (f.open(QIODevice::ReadOnly))
                    n += int(f.readAll().count("status [NT_STATUS_WRONG_PASSWORD]"));
            }
            return n;
        };
        QTemporaryDir dir;
        QFile pw(dir.filePath("pw"));
        QVERIFY(pw.open(QIODevice::WriteOnly));
        pw.write("not-the-password\n");
        pw.close();
        for (int run = 0; run < 3; ++run) {
            const int before = failedLogins();
            const Out o = Cli({"search", "--user", "bcuser", "--password-file", pw.fileName(),
                               "--pattern", "*", "\\\\127.0.0.11\\docs", "\\\\127.0.0.11\\music",
                               "\\\\127.0.0.11\\private"});
            QCOMPARE(o.code, 2);
            QCOMPARE(o.err.count("login failed"), 3);
            QVERIFY(o.out.isEmpty());             // never a guest's finds
            QTRY_VERIFY(failedLogins() > before); // the server's log is written
            QTest::qWait(300);
            const int n = failedLogins() - before;
            QVERIFY2(n >= 1 && n <= 2, qPrintable(QString::number(n)));
        }
    }

    void searchInALoop()
    {
        QStringList first;
        for (int i = 0; i < 15; ++i) {
            const Out o = Cli({"search", "--pattern", "*.TXT;*.doc", "--containing", "budget",
                               "\\\\127.0.0.11\\docs", "\\\\127.0.0.12", "//127.0.0.13/lab"});
            QCOMPARE(o.code, 0);
            QStringList lines = o.out.split('\n', Qt::SkipEmptyParts);
            lines.sort();
            if (i == 0)
                first = lines;
            QVERIFY(first.size() >= 4);
            QCOMPARE(lines, first);
        }
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
