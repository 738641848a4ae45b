// brindlecove-cli's login options: --user with a password from a file or the environment,
// --kerberos, --guest. A password is never taken from the command line itself, where every
// user of the machine can read it.
#include "CliCommon.h"
#include "smb/Logins.h"

#include <QFile>

#include <sys/prctl.h>

#include <cstdlib>
#include <cstring>
#include <optional>

namespace cli {

namespace {
const char* const kPasswordVariable = "BRINDLECOVE_PASSWORD";
bool s_bGaveUser = false;

// The variable's value, then gone: from this process's environment (so the SMB helpers it starts
// do not inherit it) and from the memory /proc/PID/environ shows.
std::optional<QString> TakePasswordVariable()
{
    char* value = std::getenv(kPasswordVariable);
    if (!value)
        return std::nullopt;
    const QString password = QString::fromLocal8Bit(value);
    // The whole "NAME=value" entry, so that not even the name shows.
    char* entry = value - std::strlen(kPasswordVariable) - 1;
    ::unsetenv(kPasswordVariable);
    std::memset(entry, 0, std::strlen(entry));
    return password;
}

// The first line of the file, without its line end.
bool ReadPasswordFile(const QString& path, QString* pPassword, QString* pError)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *pError = f.errorString();
        return false;
    }
    QByteArray line = f.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    *pPassword = QString::fromUtf8(line);
    return true;
}
} // namespace

bool GaveUser()
{
    return s_bGaveUser;
}

int TakeLoginOptions(QStringList& args)
{
    // Taken out first, whatever the options say: no helper inherits it.
    const std::optional<QString> envPassword = TakePasswordVariable();
    for (const QString& a : std::as_const(args))
        if (a == QLatin1String("--password") || a.startsWith(QLatin1String("--password=")))
            return Fail(QStringLiteral("a password is not taken on the command line: give "
                                       "--password-file FILE or set %1")
                            .arg(QLatin1String(kPasswordVariable)));
    QString strUser, strFile;
    if (!TakeOption(args, QStringLiteral("--user"), &strUser) ||
        !TakeOption(args, QStringLiteral("--password-file"), &strFile))
        return Fail(QStringLiteral("an option is missing its value"));
    const bool bGuest = TakeFlag(args, QStringLiteral("--guest"));
    const bool bKerberos = TakeFlag(args, QStringLiteral("--kerberos"));
    if (int(bGuest) + int(bKerberos) + int(!strUser.isEmpty()) > 1)
        return Fail(QStringLiteral("give one of --user, --kerberos and --guest"));
    if (!strFile.isEmpty() && strUser.isEmpty())
        return Fail(QStringLiteral("--password-file goes with --user"));

    const auto logins = smb::Logins::Instance();
    smb::Logins::Install();
    if (bGuest) {
        logins->SetFixed(smb::Credentials{});
    } else if (bKerberos) {
        smb::Credentials c;
        c.bKerberos = true;
        logins->SetFixed(c);
    } else if (!strUser.isEmpty()) {
        QString strPassword, err;
        if (!strFile.isEmpty()) {
            if (!ReadPasswordFile(strFile, &strPassword, &err))
                return Fail(QStringLiteral("cannot read %1: %2").arg(strFile, err));
        } else if (envPassword) {
            strPassword = *envPassword;
        } else {
            return Fail(QStringLiteral("no password for %1: give --password-file FILE or set %2")
                            .arg(strUser, QLatin1String(kPasswordVariable)));
        }
        // This process holds a password now: no core dump, no reading of its memory.
        ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
        logins->SetFixed(smb::Logins::Parse(strUser, strPassword));
        logins->SetNote(
            [](const QString& note) { PrintErrLine(QStringLiteral("brindlecove-cli: ") + note); });
        s_bGaveUser = true;
    }
    // Otherwise: the Kerberos ticket when there is one, else guest; nobody to ask.
    return -1;
}

} // namespace cli
