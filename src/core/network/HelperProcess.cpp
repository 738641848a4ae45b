#include "HelperProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

extern char** environ;

HelperResult RunHelper(const QString& program, const QStringList& args, int msDeadline,
                       const std::atomic<bool>& abort)
{
    HelperResult result;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return result;
    std::vector<std::string> argStore;
    argStore.push_back(program.toStdString());
    for (const QString& a : args)
        argStore.push_back(a.toStdString());
    std::vector<char*> argv;
    for (std::string& s : argStore)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return result;
    }

    QElapsedTimer timer;
    timer.start();
    bool bKilled = false;
    char buf[4096];
    for (;;) {
        const qint64 nLeft = msDeadline - timer.elapsed();
        if (nLeft <= 0 || abort) {
            result.bTimedOut = nLeft <= 0;
            kill(pid, SIGKILL);
            bKilled = true;
            break;
        }
        pollfd pfd{fds[0], POLLIN, 0};
        // Wake up at least every 100 ms to look at abort.
        const int n = poll(&pfd, 1, static_cast<int>(std::min<qint64>(nLeft, 100)));
        if (n < 0 && errno != EINTR)
            break;
        if (n <= 0)
            continue;
        const ssize_t got = read(fds[0], buf, sizeof buf);
        if (got > 0)
            result.output.append(buf, got);
        else if (got == 0 || errno != EINTR)
            break; // end of output
    }
    close(fds[0]);
    int status = 0;
    if (!bKilled) {
        // Output is closed: the helper is ending. Give it the rest of the deadline.
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (timer.elapsed() > msDeadline || abort) {
                kill(pid, SIGKILL);
                bKilled = true;
                result.bTimedOut = !abort;
                break;
            }
            usleep(5000);
        }
    }
    if (bKilled) {
        waitpid(pid, &status, 0);
        return result;
    }
    result.nExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

QString BrowseHelperPath()
{
    const QByteArray env = qgetenv("BC_HELPER");
    if (!env.isEmpty())
        return QString::fromLocal8Bit(env);
    const QString dir =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    const QString candidate = QDir(dir).filePath(QStringLiteral("brindlecove-cli"));
    if (QFileInfo(candidate).isExecutable())
        return candidate;
    return QStringLiteral("/usr/bin/brindlecove-cli");
}
