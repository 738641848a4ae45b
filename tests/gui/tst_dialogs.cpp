// The program's own dialogs as a person meets them: typed into, answered with keys.
#include "app/WidgetPrompter.h"

#include <QApplication>
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
template<class T>
void WhenModal(std::function<void(T*)> fn, int msDeadline = 5000)
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

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    // The suffix is added by the dialog, so the overwrite question is asked about the file
    // that is written, never about another one, and never skipped.
    void saveAddsSuffixBeforeOverwriteQuestion_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("asked");
        QTest::newRow("new name") << "fresh" << "nft" << 0 << "fresh.nft" << false;
        QTest::newRow("existing, replace") << "lan" << "nft" << int(QMessageBox::Yes)
                                           << "lan.nft" << true;
        QTest::newRow("existing, keep") << "lan" << "nft" << int(QMessageBox::No) << ""
                                        << true;
        QTest::newRow("finds, existing") << "finds" << "txt" << int(QMessageBox::Yes)
                                         << "finds.txt" << true;
        QTest::newRow("own suffix kept") << "list.log" << "txt" << 0 << "list.log" << false;
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
                        WhenModal<QFileDialog>([](QFileDialog* again) {
                            QTest::keyClick(again, Qt::Key_Escape);
                        });
                });
            TypeNameAndAccept(dlg, typed);
        });
        WidgetPrompter prompter;
        const QString got = prompter.GetSaveFileName(
            "Save As", dir.path(), suffix == "nft" ? "Network tree files(*.nft)" : "Text files(*.txt)",
            suffix);
        QCOMPARE(got, expected.isEmpty() ? QString() : dir.filePath(expected));
        QCOMPARE(!question.isEmpty(), asked);
        if (asked)
            QVERIFY2(question.contains(expected.isEmpty() ? typed + "." + suffix : expected),
                     qPrintable(question));
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
