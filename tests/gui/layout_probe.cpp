// Starts the frame, applies the actions given on the command line, prints what the frame looks
// like and closes it as a user would (which saves the layout). Used by tst_layout to test what
// a second process restores.
#include "TestPrompter.h"
#include "common/FakeLanBrowser.h"

#include "app/CMainFrame.h"
#include "log/CLogBar.h"
#include "ui/CAutoHide.h"

#include <QToolButton>

#include <QApplication>
#include <QDockWidget>
#include <QTest>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    TestPrompter prompter;
    CMainFrame frame(prompter, std::make_shared<FakeLanBrowser>());
    frame.ShowAsPlaced();
    QTest::qWait(200);
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == "--geometry") {
            const QStringList v = args[++i].split(',');
            frame.setGeometry(v[0].toInt(), v[1].toInt(), v[2].toInt(), v[3].toInt());
        } else if (a == "--maximize") {
            frame.showMaximized();
        } else if (a == "--log-right") {
            frame.addDockWidget(Qt::RightDockWidgetArea, frame.LogBar());
        } else if (a == "--hide-search") {
            frame.SearchBar()->hide();
        } else if (a == "--autohide-log") {
            frame.LogBar()->titleBarWidget()->findChild<QToolButton*>("pin")->click();
        } else if (a == "--search-width") {
            frame.resizeDocks({frame.SearchBar()}, {args[++i].toInt()}, Qt::Horizontal);
        }
        QTest::qWait(100);
    }
    QTest::qWait(200);
    // The normal rectangle as the settings hold it: the window's outer corner (decorations
    // included; the offscreen platform draws a 2-pixel frame) and the client area's size.
    const QPoint decoration = frame.geometry().topLeft() - frame.frameGeometry().topLeft();
    const QRect g = frame.isMaximized() ? frame.normalGeometry().translated(-decoration)
                                        : QRect(frame.frameGeometry().topLeft(), frame.size());
    std::printf("normal=%d,%d,%d,%d\n", g.x(), g.y(), g.width(), g.height());
    std::printf("maximized=%d\n", frame.isMaximized() ? 1 : 0);
    std::printf("search=%d,%d,%d\n", int(frame.dockWidgetArea(frame.SearchBar())),
                frame.SearchBar()->isVisible() ? 1 : 0, frame.SearchBar()->width());
    std::printf("log=%d,%d\n", int(frame.dockWidgetArea(frame.LogBar())),
                frame.LogBar()->isVisible() ? 1 : 0);
    std::printf("style=%d\n", frame.DisplayStyle());
    std::printf("autohide=%d,%d\n", frame.AutoHide()->IsCollapsed(frame.LogBar()) ? 1 : 0,
                CAutoHide::AlingOf(frame.AutoHide()->SideOf(frame.LogBar())));
    std::fflush(stdout);
    frame.close();
    return 0;
}
