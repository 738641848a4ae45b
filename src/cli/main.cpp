// brindlecove-cli: the program's engines from the command line.
#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {
const char* const kUsage =
    "Usage: brindlecove-cli [--help] [--version] <command> [arguments]\n"
    "\n"
    "Finds files on the shared folders of the local network.\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this help and exit\n"
    "  -v, --version  show the version and exit\n";

int Fail(const QString& message)
{
    std::fprintf(stderr, "brindlecove-cli: %s\n", qPrintable(message));
    std::fprintf(stderr, "Try 'brindlecove-cli --help'.\n");
    return 2;
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty())
        return Fail(QStringLiteral("no command given"));
    const QString& first = args.front();
    if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (first == QLatin1String("--version") || first == QLatin1String("-v")) {
        std::printf("brindlecove-cli %s\n", BC_VERSION_STRING);
        return 0;
    }
    return Fail(QStringLiteral("unknown command '%1'").arg(first));
}
