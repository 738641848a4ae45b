// The program's own dialogs as a person meets them: typed into, answered with keys.
#include "TestPrompter.h"
#include "common/FakeLanBrowser.h"

#include "app/CAboutDlg.h"
#include "app/CMainFrame.h"
#include "app/WidgetPrompter.h"
#include "network/CLoginDlg.h"
#include "network/CNetworkDialogs.h"
#include "results/CResultsWindow.h"
#include "search/CSearchDlg.h"

#include <QAccessible>
#include <QMdiArea>
#include <QSettings>
#include <QStandardPaths>
#include <QTabBar>
#include <QToolButton>

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

// Runs fn on the next modal widget of type T once it shows; bounded by a deadline.
template <class T> void WhenModal(std::function<void(T*)> fn, int msDeadline = 5000)
{
    auto* timer = new QTimer;
    auto left = std::make_shared<int>(msDeadline / 20);
    QObject::connect(timer, &QTimer::timeout, [timer, left, fn] {
        T* w = qobject_cast<T*>(QApplication::activeModalWidget());
        if (w && w->isVisible()) {
            timer->deleteLater();
            fn(w);
        } else if (--*left <= 0) {
            timer->deleteLater();
            if (QWidget* other = QApplication::activeModalWidget())
                other->close();
        }
    });
    timer->start(20);
}

void TypeNameAndAccept(QFileDialog* dlg, const QString& name)
{
    auto* edit = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QVERIFY(edit);
    edit->setFocus();
    edit->clear();
    QTest::keyClicks(edit, name);
    QTest::keyClick(edit, Qt::Key_Return);
}

void Answer(QMessageBox* box, QMessageBox::StandardButton button, QString* pText)
{
    *pText = box->text();
    QTest::mouseClick(box->button(button), Qt::LeftButton);
}

// Every control a person can reach with the keyboard, as an assistive technology sees it:
// "role 'name'" per control, and the ones without a name.
void WalkAccessible(QAccessibleInterface* iface, QStringList* pSeen, QStringList* pNameless,
                    int nDepth = 0)
{
    if (!iface || nDepth > 40)
        return;
    const QAccessible::State state = iface->state();
    if (state.invisible || state.offscreen)
        return;
    const QString name = iface->text(QAccessible::Name).trimmed();
    // Focusable controls, and every button (a toolbar's are not focusable, but are clicked).
    const bool bButton =
        iface->role() == QAccessible::Button || iface->role() == QAccessible::PushButton;
    if (state.focusable || bButton) {
        QString what = QString::number(int(iface->role()), 16);
        if (QObject* o = iface->object())
            what =
                QString::fromLatin1(o->metaObject()->className()) + "/" + o->objectName() +
                (o->parent() ? QString("@") + o->parent()->metaObject()->className() : QString());
        *pSeen << what + " '" + name + "'";
        if (name.isEmpty())
            *pNameless << what;
    }
    for (int i = 0; i < iface->childCount(); ++i)
        WalkAccessible(iface->child(i), pSeen, pNameless, nDepth + 1);
}

QStringList Nameless(QWidget* w, QStringList* pSeen = nullptr)
{
    QStringList seen, nameless;
    WalkAccessible(QAccessible::queryAccessibleInterface(w), &seen, &nameless);
    if (pSeen)
        *pSeen = seen;
    return nameless;
}

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings("Halvorn", "Brindlecove").clear();
    }

    // The main window with a results tab, and every dialog: each focusable control has a name
    // a screen reader can say.
    void everyControlHasAName()
    {
        TestPrompter prompter;
        CMainFrame frame(prompter, std::make_shared<FakeLanBrowser>());
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        frame.CreateResultsWindow()->setWindowTitle("*.doc");
        frame.CreateResultsWindow()->setWindowTitle("*.txt");
        QStringList seen;
        const QStringList nameless = Nameless(&frame, &seen);
        QVERIFY2(nameless.isEmpty(), qPrintable(nameless.join(", ")));
        // The walk reached the controls a person uses.
        for (const char* expected : {"'Search for files'", "'Containing text'", "'Network tree'",
                                     "'Search'", "'Discover'", "'Found files'", "'Network Log'"})
            QVERIFY2(seen.filter(expected).size() >= 1,
                     qPrintable(expected + (": " + seen.join(", "))));

        CIpRangeDlg range(&frame);
        CAddDomainDlg domain(&frame);
        CAboutDlg about(&frame);
        CLoginDlg login("ALPHA", "guest may not open \\\\ALPHA\\private.", QString(), &frame);
        for (QDialog* dlg : std::initializer_list<QDialog*>{&range, &domain, &about, &login}) {
            dlg->show();
            QVERIFY(QTest::qWaitForWindowExposed(dlg));
            const QStringList missing = Nameless(dlg, &seen);
            QVERIFY2(missing.isEmpty(), qPrintable(QString(dlg->metaObject()->className()) + ": " +
                                                   missing.join(", ") + " of " + seen.join(", ")));
            dlg->hide();
        }
    }

    // "Connect to": a user name is needed, the password is hidden, the last user is offered.
    void loginDialog()
    {
        CLoginDlg dlg("ALPHA", "why", QString());
        QCOMPARE(dlg.windowTitle(), QString("Connect to \\\\ALPHA"));
        auto* ok = dlg.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
        QVERIFY(!ok->isEnabled());
        QCOMPARE(dlg.PasswordEdit()->echoMode(), QLineEdit::Password);
        QTest::keyClicks(dlg.UserEdit(), "LAB\\ann");
        QVERIFY(ok->isEnabled());
        dlg.PasswordEdit()->setText(" pw ");
        dlg.RememberCheck()->setChecked(true);
        const smb::Logins::Typed t = dlg.Typed();
        QCOMPARE(t.strUser, QString("LAB\\ann"));
        QCOMPARE(t.strPassword, QString(" pw ")); // a password is taken as typed
        QVERIFY(t.bRemember);
        CLoginDlg again("ALPHA", "why", "LAB\\ann");
        QCOMPARE(again.UserEdit()->text(), QString("LAB\\ann"));
        QVERIFY(again.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->isEnabled());
    }

    // The results tabs and their close buttons are reached with the keyboard.
    void resultsTabsByKeyboard()
    {
        TestPrompter prompter;
        CMainFrame frame(prompter, std::make_shared<FakeLanBrowser>());
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        frame.CreateResultsWindow();
        frame.CreateResultsWindow();
        auto* tabs = frame.MdiArea()->findChild<QTabBar*>();
        QVERIFY(tabs);
        QVERIFY(tabs->focusPolicy() & Qt::TabFocus);
        QCOMPARE(frame.MdiArea()->subWindowList().size(), 2);
        // Ctrl+Tab goes to the next results window, Ctrl+F4 closes the active one.
        QMdiSubWindow* before = frame.MdiArea()->activeSubWindow();
        frame.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&frame));
        before->widget()->setFocus();
        QTest::keyClick(before->widget(), Qt::Key_Tab, Qt::ControlModifier);
        QTRY_VERIFY(frame.MdiArea()->activeSubWindow() != before);
        QTest::keyClick(frame.MdiArea()->activeSubWindow()->widget(), Qt::Key_F4,
                        Qt::ControlModifier);
        QTRY_COMPARE(frame.MdiArea()->subWindowList().size(), 1);
        QCOMPARE(frame.MdiArea()->subWindowList().front(), before);
        QTest::keyClick(before->widget(), Qt::Key_W, Qt::ControlModifier);
        QTRY_COMPARE(frame.MdiArea()->subWindowList().size(), 0);
    }

    // The suffix is added by the dialog, so the overwrite question is asked about the file
    // that is written, never about another one, and never skipped.
    void saveAddsSuffixBeforeOverwriteQuestion_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("asked");
        QTest::newRow("new name") << "fresh"
                                  << "nft" << 0 << "fresh.nft" << false;
        QTest::newRow("existing, replace") << "lan"
                                           << "nft" << int(QMessageBox::Yes) << "lan.nft" << true;
        QTest::newRow("existing, keep") << "lan"
                                        << "nft" << int(QMessageBox::No) << "" << true;
        QTest::newRow("finds, existing") << "finds"
                                         << "txt" << int(QMessageBox::Yes) << "finds.txt" << true;
        QTest::newRow("own suffix kept") << "list.log"
                                         << "txt" << 0 << "list.log" << false;
    }
    void saveAddsSuffixBeforeOverwriteQuestion()
    {
        QFETCH(QString, typed);
        QFETCH(QString, suffix);
        QFETCH(int, answer);
        QFETCH(QString, expected);
        QFETCH(bool, asked);
        QTemporaryDir dir;
        for (const char* existing : {"lan.nft", "finds.txt", "lan", "finds"}) {
            QFile f(dir.filePath(existing));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("old");
        }
        QString question;
        WhenModal<QFileDialog>([&](QFileDialog* dlg) {
            if (answer)
                WhenModal<QMessageBox>([&](QMessageBox* box) {
                    Answer(box, QMessageBox::StandardButton(answer), &question);
                    // Kept: the dialog stays open for another name; the user gives up.
                    if (answer == QMessageBox::No)
                        WhenModal<QFileDialog>(
                            [](QFileDialog* again) { QTest::keyClick(again, Qt::Key_Escape); });
                });
            TypeNameAndAccept(dlg, typed);
        });
        WidgetPrompter prompter;
        const QString got = prompter.GetSaveFileName(
            "Save As", dir.path(),
            suffix == "nft" ? "Network tree files(*.nft)" : "Text files(*.txt)", suffix);
        QCOMPARE(got, expected.isEmpty() ? QString() : dir.filePath(expected));
        QCOMPARE(!question.isEmpty(), asked);
        if (asked)
            QVERIFY2(question.contains(expected.isEmpty() ? typed + "." + suffix : expected),
                     qPrintable(question));
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
