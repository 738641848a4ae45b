#include "search/CSearchDlg.h"
#include "ui/ResizeRules.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>

using namespace resize;

class TestResize : public QObject
{
    Q_OBJECT
private slots:
    // One record, one size change, every rule: rectangles in client coordinates (x, width).
    void rules_data()
    {
        QTest::addColumn<int>("rule");
        QTest::addColumn<bool>("rightEdge");
        QTest::addColumn<int>("oldWidth");
        QTest::addColumn<int>("newWidth");
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<QRect>("expected");
        QTest::addColumn<bool>("stored");
        // Dragging the right edge 40 pixels wider.
        QTest::newRow("stay") << int(Stay) << true << 200 << 240 << QRect(10, 5, 50, 10)
                              << QRect(10, 5, 50, 10) << true;
        QTest::newRow("stretch") << int(Stretch) << true << 200 << 240 << QRect(10, 5, 50, 10)
                                 << QRect(10, 5, 90, 10) << true;
        QTest::newRow("move") << int(Move) << true << 200 << 240 << QRect(10, 5, 50, 10)
                              << QRect(50, 5, 50, 10) << true;
        // The left edge dragged: the same in client coordinates for equal left/right rules.
        QTest::newRow("move, left edge") << int(Move) << false << 200 << 240 << QRect(10, 5, 50, 10)
                                         << QRect(50, 5, 50, 10) << true;
        QTest::newRow("stretch, narrower") << int(Stretch) << true << 200 << 170
                                           << QRect(10, 5, 50, 10) << QRect(10, 5, 20, 10) << true;
        // Centre at 30% of 200 (60 = centre of 35..85): at 30% of 400 = 120.
        QTest::newRow("centre") << int(Centre) << true << 200 << 400 << QRect(35, 5, 50, 10)
                                << QRect(95, 5, 50, 10) << true;
        // Scale 10..60 in 200: 20..120 in 400; never stored.
        QTest::newRow("scale") << int(Scale) << true << 200 << 400 << QRect(10, 5, 50, 10)
                               << QRect(20, 5, 100, 10) << false;
        QTest::newRow("scale back") << int(Scale) << true << 200 << 200 << QRect(10, 5, 50, 10)
                                    << QRect(10, 5, 50, 10) << false;
        // Unknown rules act as stay.
        QTest::newRow("rule 9") << 9 << true << 200 << 240 << QRect(10, 5, 50, 10)
                                << QRect(10, 5, 50, 10) << true;
    }
    void rules()
    {
        QFETCH(int, rule);
        QFETCH(bool, rightEdge);
        QFETCH(int, oldWidth);
        QFETCH(int, newWidth);
        QFETCH(QRect, rect);
        QFETCH(QRect, expected);
        QFETCH(bool, stored);
        const QSize initial(200, 100);
        const Record r = MakeRecord(7, rule, rule, Stay, Stay, 0, -1, -1, -1, -1, rect, initial);
        Edges e;
        e.bRight = rightEdge;
        e.bLeft = !rightEdge;
        const Outcome o =
            Layout(r, e, QSize(newWidth, 100), initial, QSize(newWidth - oldWidth, 0), rect);
        QCOMPARE(o.rect, expected);
        QCOMPARE(o.bStore, stored);
        QCOMPARE(o.bMove, expected != rect);
    }

    void proportional()
    {
        // Half the gain in position, half in size: 400 wide, 200 gained since the start.
        const Record r = MakeRecord(1, Proportional, Proportional, Stay, Stay, 0, 0.5, 0.5, -1, -1,
                                    QRect(10, 0, 50, 10), QSize(200, 100));
        Edges e;
        e.bRight = true;
        const Outcome o =
            Layout(r, e, QSize(400, 100), QSize(200, 100), QSize(200, 0), QRect(10, 0, 50, 10));
        QCOMPARE(o.rect, QRect(110, 0, 150, 10)); // left 10+100, right 10+50+1.0*200
        QVERIFY(!o.bStore);
    }

    void stayKeepsPresentExtentForAbsoluteRules()
    {
        // A scale rule on the left edge only: a right-edge drag picks rule 0 there (the left rule
        // is not used), whose special case keeps the control where it is now.
        const Record r = MakeRecord(1, Scale, Stay, Stay, Stay, 0, -1, -1, -1, -1,
                                    QRect(10, 0, 50, 10), QSize(200, 100));
        Edges e;
        e.bRight = true;
        const Outcome o =
            Layout(r, e, QSize(400, 100), QSize(200, 100), QSize(200, 0), QRect(33, 0, 44, 10));
        QCOMPARE(o.rect, QRect(33, 0, 44, 10));
        QVERIFY(!o.bMove);
        QVERIFY(!o.bStore);
    }

    void movingEdges_data()
    {
        QTest::addColumn<QRect>("oldClient");
        QTest::addColumn<QRect>("newClient");
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<QString>("edges");
        QTest::newRow("right") << QRect(0, 0, 200, 100) << QRect(0, 0, 240, 100) << QPoint(239, 50)
                               << "R";
        QTest::newRow("left") << QRect(100, 0, 200, 100) << QRect(60, 0, 240, 100) << QPoint(61, 50)
                              << "L";
        QTest::newRow("at the centre is right")
            << QRect(0, 0, 200, 100) << QRect(0, 0, 240, 100) << QPoint(120, 50) << "R";
        QTest::newRow("bottom") << QRect(0, 0, 200, 100) << QRect(0, 0, 200, 140) << QPoint(10, 139)
                                << "B";
        QTest::newRow("top") << QRect(0, 100, 200, 100) << QRect(0, 60, 200, 140) << QPoint(10, 61)
                             << "T";
        QTest::newRow("moved only")
            << QRect(0, 0, 200, 100) << QRect(50, 50, 200, 100) << QPoint(0, 0) << "";
    }
    void movingEdges()
    {
        QFETCH(QRect, oldClient);
        QFETCH(QRect, newClient);
        QFETCH(QPoint, pointer);
        QFETCH(QString, edges);
        const Edges e = GuessMovingEdges(oldClient, newClient, pointer);
        QString got;
        if (e.bLeft)
            got += 'L';
        if (e.bRight)
            got += 'R';
        if (e.bTop)
            got += 'T';
        if (e.bBottom)
            got += 'B';
        QCOMPARE(got, edges);
    }

    void centreFactorIsTakenFromTheControl()
    {
        const Record r = MakeRecord(1, Centre, Centre, Stay, Stay, 0, 0.9, -1, -1, -1,
                                    QRect(35, 0, 50, 10), QSize(200, 100));
        QCOMPARE(r.fxPos, 0.3);
        QCOMPARE(r.fyPos, -1.0);
    }

    // Adding a control again keeps one record, the later one, with the rectangle it has then.
    void addingTwiceKeepsTheLater()
    {
        struct Dlg : CResizeDlg
        {
            QWidget* child = new QWidget(this);
            Dlg()
            {
                resize(200, 100);
                child->setGeometry(10, 10, 20, 20);
                InitLayout();
                AddControl(child, Stay, Stay, Stay, Stay);
                child->setGeometry(30, 10, 20, 20);
                AddControl(child, Move, Move, Stay, Stay);
            }
        } dlg;
        QCOMPARE(dlg.Records().size(), std::size_t(2)); // the size grip and the control
        QCOMPARE(dlg.Records().back().rect, QRect(30, 10, 20, 20));
        QCOMPARE(dlg.Records().back().nLeft, int(Move));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        dlg.m_fnPointer = [&dlg] { return dlg.mapToGlobal(QPoint(199, 50)); };
        dlg.resize(240, 100);
        QCOMPARE(dlg.child->geometry(), QRect(70, 10, 20, 20));
        // Moving without resizing moves nothing.
        dlg.move(dlg.pos() + QPoint(15, 15));
        QCOMPARE(dlg.child->geometry(), QRect(70, 10, 20, 20));
    }

    // The Search Bar's dialog: wider stretches the boxes and the tree and keeps the button at
    // the right edge; taller lengthens the tree and moves Discover down; the animation stays
    // centred; it cannot shrink below its first size.
    void searchBarFollowsItsSize()
    {
        CSearchDlg dlg;
        dlg.m_fnPointer = [&dlg] {
            return dlg.mapToGlobal(QPoint(dlg.width() - 1, dlg.height() - 1));
        };
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        const QSize start = dlg.size();
        const QRect edit = dlg.SearchEdit()->geometry();
        const QRect button = dlg.SearchButton()->geometry();
        const QRect containing = dlg.ContainingEdit()->geometry();
        const QRect tree = dlg.Tree()->geometry();
        const QRect discover = dlg.DiscoverButton()->geometry();
        const QRect grip = dlg.SizeGrip()->geometry();
        dlg.resize(start + QSize(40, 0));
        QCOMPARE(dlg.SearchEdit()->geometry(), edit.adjusted(0, 0, 40, 0));
        QCOMPARE(dlg.SearchButton()->geometry(), button.translated(40, 0));
        QCOMPARE(dlg.ContainingEdit()->geometry(), containing.adjusted(0, 0, 40, 0));
        QCOMPARE(dlg.Tree()->geometry(), tree.adjusted(0, 0, 40, 0));
        QCOMPARE(dlg.DiscoverButton()->geometry(), discover.adjusted(0, 0, 40, 0));
        QCOMPARE(dlg.SizeGrip()->geometry(), grip.translated(40, 0));
        dlg.resize(start + QSize(40, 60));
        QCOMPARE(dlg.Tree()->geometry(), tree.adjusted(0, 0, 40, 60));
        QCOMPARE(dlg.DiscoverButton()->geometry(), discover.adjusted(0, 60, 40, 60));
        QCOMPARE(dlg.SearchButton()->geometry(), button.translated(40, 0));
        const QRect anim = dlg.Animation()->geometry();
        QCOMPARE(anim.left(), dlg.width() / 2 - anim.width() / 2);
        QCOMPARE(anim.top(), dlg.height() / 2 - anim.height() / 2);
        // Dragged from the left: the same rules give the same client layout.
        dlg.m_fnPointer = [&dlg] { return dlg.mapToGlobal(QPoint(0, 0)); };
        dlg.resize(start);
        QCOMPARE(dlg.SearchEdit()->geometry(), edit);
        QCOMPARE(dlg.SearchButton()->geometry(), button);
        QCOMPARE(dlg.minimumWidth(), start.width());
        QVERIFY(dlg.minimumHeight() < start.height());
        dlg.resize(start.width(), 10);
        QCOMPARE(dlg.height(), dlg.minimumHeight());
        QVERIFY(dlg.Tree()->height() >= 3 * dlg.fontMetrics().height());
        QVERIFY(dlg.DiscoverButton()->geometry().top() >= dlg.Tree()->geometry().bottom());
    }
};

QTEST_MAIN(TestResize)
#include "tst_resize.moc"
