#include "app/CMainFrame.h"
#include "app/Settings.h"
#include "app/WidgetPrompter.h"
#include "smb/HelperPool.h"

#include <QApplication>
#include <QCommandLineParser>

namespace {

void Describe(QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Finds files on the shared folders of the local network. The same "
                       "searches from a terminal: brindlecove-cli."));
    parser.addHelpOption();
    parser.addVersionOption();
}

// --help and --version answer on the terminal, without a display.
bool AnswersOnTerminal(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "--help" || a == "-h" || a == "-?" || a == "--help-all" || a == "--version" ||
            a == "-v")
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    if (AnswersOnTerminal(argc, argv)) {
        QCoreApplication core(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("brindlecove"));
        QCoreApplication::setApplicationVersion(QStringLiteral(BC_VERSION_STRING));
        QCommandLineParser parser;
        Describe(parser);
        parser.process(core); // prints and exits
        return 0;
    }
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QString::fromLatin1(settings::kOrganization));
    QCoreApplication::setApplicationName(QString::fromLatin1(settings::kApplication));
    QCoreApplication::setApplicationVersion(QStringLiteral(BC_VERSION_STRING));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.halvorn.Brindlecove"));
    // The command line opens nothing: the program always starts with an empty tree and no
    // results window. An unknown option is said and ends the program (Qt's own, such as
    // -platform, QApplication has taken already).
    QCommandLineParser parser;
    Describe(parser);
    parser.process(app);
    settings::ApplyHelperLimits();
    int rc = 0;
    {
        WidgetPrompter prompter;
        CMainFrame frame(prompter);
        prompter.SetParent(&frame);
        frame.ShowAsPlaced();
        rc = app.exec();
    }
    // The frame has stopped its workers; no SMB helper outlives the program.
    smb::HelperPool::Instance()->Shutdown();
    return rc;
}
