// brindlecove-cli: the program's engines from the command line.
#include "CliCommon.h"
#include "app/Settings.h"
#include "index/IndexStore.h"
#include "smb/HelperPool.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {
const char* const kUsage =
    "Usage: brindlecove-cli [--help] [--version] <command> [arguments]\n"
    "\n"
    "Finds files on the shared folders of the local network.\n"
    "\n"
    "Commands:\n"
    "  browse [--nft FILE] [--verbose]       list workgroups, their servers and shares\n"
    "  domain NAME [--nft FILE] [--verbose]  the servers and shares of one workgroup\n"
    "  scan FIRST LAST [--name NAME] [--nft FILE] [--verbose]\n"
    "                                        the shares of every address of a range (<= 300)\n"
    "  shares HOST                           the shares of one server\n"
    "  tree FILE.nft                         print a saved network tree\n"
    "  search --pattern \"*.txt;*.doc\" [--containing TEXT] [--long | --json]\n"
    "         [--nft FILE [--node \"WORKGROUP\\ALPHA\"] | TARGET...]\n"
    "                                        find files; TARGET is \\\\HOST, "
    "\\\\HOST\\share[\\dir]\n"
    "                                        or a local folder\n"
    "         [--index-only | --index-first | --no-index]\n"
    "                                        --index-only: only what the index holds, at once;\n"
    "                                        --index-first (on a terminal without asking): the\n"
    "                                        index's finds first, then the walk's new ones\n"
    "  index update TARGET... | --nft FILE [--node N]\n"
    "                                        list every folder into the index (for a timer)\n"
    "  index watch \\\\HOST\\share... [--seconds N]\n"
    "                                        keep their index fresh (change notifications)\n"
    "  index status                          the indexed shares, their entries and age\n"
    "  index forget                          delete the index\n"
    "  --index FILE | postgresql://...       (search, index) the index to use: a file, or a\n"
    "                                        PostgreSQL database shared by several machines\n"
    "\n"
    "Trees are printed one node per line, indented by depth; --nft saves the tree instead.\n"
    "search prints one full path per line in the order found; --long adds the size in bytes\n"
    "and the UTC time, tab-separated; --json writes one JSON object per line.\n"
    "--verbose writes the status texts to standard error.\n"
    "Every search records the folders it lists in the index of walked shares\n"
    "($XDG_DATA_HOME/Brindlecove/index.sqlite, readable by you alone); --no-index does not.\n"
    "\n"
    "Logins (every command): --user DOMAIN\\USER with the password in the first line of\n"
    "--password-file FILE or in BRINDLECOVE_PASSWORD, or --kerberos (the ticket in the\n"
    "credential cache), or --guest. Without them: the Kerberos ticket when there is one, else\n"
    "guest. A server that refuses the login is an error (\"login failed\" or \"Permission\n"
    "denied\"), never a quiet guest login.\n"
    "Exit status: 0 on success (search: something found), 1 when search found nothing,\n"
    "2 on error; search also exits with 2 when a folder or file could not be read (each is\n"
    "named on standard error), even when it found something.\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this help and exit\n"
    "  -v, --version  show the version and exit\n";
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty())
        return cli::Fail(QStringLiteral("no command given"));
    const QString first = args.takeFirst();
    if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
        std::fputs(kUsage, stdout);
        return cli::kExitOk;
    }
    if (first == QLatin1String("--version") || first == QLatin1String("-v")) {
        std::printf("brindlecove-cli %s\n", BC_VERSION_STRING);
        return cli::kExitOk;
    }
    settings::ApplyHelperLimits();
    if (const int rcLogin = cli::TakeLoginOptions(args); rcLogin >= 0)
        return rcLogin;
    QString strIndex;
    if (!cli::TakeOption(args, QStringLiteral("--index"), &strIndex))
        return cli::Fail(
            QStringLiteral("--index needs a file or a postgresql:// connection string"));
    if (!strIndex.isEmpty())
        shareindex::SetLocation(strIndex);
    const int rc = first == QLatin1String("search")  ? cli::RunSearchCommand(args)
                   : first == QLatin1String("index") ? cli::RunIndexCommand(args)
                                                     : cli::RunNetworkCommand(first, args);
    // No helper outlives the program.
    smb::HelperPool::Instance()->Shutdown();
    return rc;
}
