#include "app/CMainFrame.h"
#include "app/Settings.h"
#include "app/WidgetPrompter.h"
#include "smb/HelperPool.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QString::fromLatin1(settings::kOrganization));
    QCoreApplication::setApplicationName(QString::fromLatin1(settings::kApplication));
    QCoreApplication::setApplicationVersion(QStringLiteral(BC_VERSION_STRING));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.halvorn.Brindlecove"));
    // The command line opens nothing: the program always starts with an empty tree and no
    // results window.
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
