#include "app/CMainFrame.h"
#include "app/Settings.h"
#include "app/WidgetPrompter.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QString::fromLatin1(settings::kOrganization));
    QCoreApplication::setApplicationName(QString::fromLatin1(settings::kApplication));
    QCoreApplication::setApplicationVersion(QStringLiteral(BC_VERSION_STRING));
    QGuiApplication::setDesktopFileName(QStringLiteral("brindlecove"));
    // The command line opens nothing: the program always starts with an empty tree and no
    // results window.
    WidgetPrompter prompter;
    CMainFrame frame(prompter);
    prompter.SetParent(&frame);
    frame.ShowAsPlaced();
    return app.exec();
}
