#include "TestPrompter.h"
#include "common/FakeLanBrowser.h"
#include "common/MappedShareFs.h"

#include "app/CMainFrame.h"
#include "app/Commands.h"
#include "log/LogModel.h"
#include "network/NetworkTreeModel.h"
#include "results/CResultsWindow.h"
#include "results/FileOps.h"
#include "search/CSearchDlg.h"
#include "search/SearchEngine.h"

#include "index/IndexStore.h"
#include <QAction>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QTabBar>
#include <QTreeView>

#include <QtTest>

// Searches from the frame, with local folders standing in for the shares.
class TestSearchGui : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    std::unique_ptr<TestPrompter> m_prompter;
    std::unique_ptr<CMainFrame> m_frame;
    NodeHandle m_wg = NoNode;
    static inline int s_delayMs = 0;

    CMainFrame& Frame() { return *m_frame; }
    void Select(NodeHandle h)
    {
        Frame().TreeModel()->Sync();
        Frame().SearchDlg()->Tree()->setCurrentIndex(Frame().TreeModel()->IndexOf(h));
    }
    void Search(const QString& pattern, const QString& containing = QString())
    {
        Frame().SearchDlg()->SetSearchText(pattern);
        Frame().SearchDlg()->SetContainingText(containing);
        QTest::mouseClick(Frame().SearchDlg()->SearchButton(), Qt::LeftButton);
    }

    // Which way the sort triangle of a section points: -1 up, 1 down, 0 none seen. The
    // triangle is what differs between the section drawn sorted both ways; its narrow end is
    // its tip.
    static int ArrowDirection(QHeaderView* header, int section)
    {
        const Qt::SortOrder order = header->sortIndicatorOrder();
        for (int i = 0; i < section; ++i) // the section in view
            header->resizeSection(i, 40);
        const QImage shown = header->grab().toImage();
        header->setSortIndicator(section, order == Qt::AscendingOrder ? Qt::DescendingOrder
                                                                      : Qt::AscendingOrder);
        const QImage other = header->grab().toImage();
        header->setSortIndicator(section, order);
        int top = -1, bottom = -1;
        QMap<int, int> widths;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                if (shown.pixel(x, y) != other.pixel(x, y) && qGray(shown.pixel(x, y)) < 160) {
                    if (top < 0)
                        top = y;
                    bottom = y;
                    ++widths[y];
                }
        if (top < 0 || bottom == top)
            return 0;
        return widths.value(top) < widths.value(bottom) ? -1 : 1;
    }

    // A server of WORKGROUP with one share, Idx, holding files (paths below the share), picked
    // as the start node.
    void PickNewShare(const QString& server, const QMap<QString, QByteArray>& files)
    {
        QMap<QString, QByteArray> placed;
        for (auto it = files.constBegin(); it != files.constEnd(); ++it)
            placed.insert(server + "/Idx/" + it.key(), it.value());
        MakeFiles(m_dir.path(), placed);
        NetworkTree& t = Frame().Tree();
        const NodeHandle node = t.InsertItem(m_wg, InsertPos::Last, server, NK_SERVER);
        t.InsertItem(node, InsertPos::Last, "Idx", NK_SHARE);
        Select(node);
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QStringList many;
        QMap<QString, QByteArray> files{{"PC1/Docs/report.txt", "budget"},
                                        {"PC1/Docs/b.doc", "x"},
                                        {"PC1/Docs/sub/c.txt", "Budget"},
                                        {"PC2/Public/big.bin", QByteArray(5000, 'z')}};
        for (int i = 0; i < 30; ++i)
            files.insert(QString("PC2/Public/f%1/x.txt").arg(i), "x");
        MakeFiles(m_dir.path(), files);
        CMainFrame::s_fnShareFsFactory = [root = m_dir.path()] {
            return std::make_unique<MappedShareFs>(root, s_delayMs);
        };
    }
    void cleanupTestCase() { CMainFrame::s_fnShareFsFactory = nullptr; }
    void init()
    {
        QSettings("Halvorn", "Brindlecove").clear();
        // An index of this test's own, empty at every start.
        qputenv("BC_INDEX_FILE", QFile::encodeName(m_dir.filePath("index.sqlite")));
        shareindex::Forget(shareindex::DefaultLocation());
        s_delayMs = 0;
        m_prompter = std::make_unique<TestPrompter>();
        m_frame = std::make_unique<CMainFrame>(*m_prompter, std::make_shared<FakeLanBrowser>());
        m_frame->Search().SetWorkerStartPause(0);
        NetworkTree& t = Frame().Tree();
        const NodeHandle root =
            t.InsertItem(NoNode, InsertPos::Last, "MS Windows Network", NK_NETWORK);
        m_wg = t.InsertItem(root, InsertPos::Last, "WORKGROUP", NK_DOMAIN);
        const NodeHandle pc1 = t.InsertItem(m_wg, InsertPos::Last, "PC1", NK_SERVER);
        t.InsertItem(pc1, InsertPos::Last, "Docs", NK_SHARE);
        t.InsertItem(t.InsertItem(m_wg, InsertPos::Last, "PC2", NK_SERVER), InsertPos::Last,
                     "Public", NK_SHARE);
        Frame().m_hRootNode = root;
        m_frame->show();
    }
    void cleanup()
    {
        m_frame.reset();
        m_prompter.reset();
    }

    void noNodeSelected()
    {
        Search("*");
        QCOMPARE(m_prompter->messages.size(), 1);
        QCOMPARE(m_prompter->messages[0].strText,
                 QString("Select a path for the searching in the left pane\nor press 'Discover' "
                         "button in order to retrieve current network tree."));
        QCOMPARE(m_prompter->messages[0].strCaption, QString("Brindlecove"));
        QCOMPARE(Frame().SearchDlg()->SearchButton()->text(), QString("Search"));
        QVERIFY(Frame().MdiArea()->subWindowList().isEmpty());
    }

    void searchRunsToItsEnd_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("containing");
        QTest::addColumn<int>("found");
        QTest::newRow("*.txt") << "*.txt"
                               << "" << 32;
        QTest::newRow("content") << "*"
                                 << "BUDGET" << 2;
        QTest::newRow("empty pattern") << ""
                                       << "" << 0;
    }
    void searchRunsToItsEnd()
    {
        QFETCH(QString, pattern);
        QFETCH(QString, containing);
        QFETCH(int, found);
        Select(m_wg);
        QSignalSpy finished(&Frame(), &CMainFrame::SearchFinished);
        Search(pattern, containing);
        QCOMPARE(Frame().SearchDlg()->SearchButton()->text(), QString("Stop"));
        QCOMPARE(Frame().SearchDlg()->SearchButton()->toolTip(), QString("Stop Search"));
        QCOMPARE(Frame().CurrentMenuResource(), 129);
        QVERIFY(finished.wait(10000));
        CChildFrame* results = Frame().ActiveResults();
        QVERIFY(results);
        QCOMPARE(results->windowTitle(), pattern);
        QCOMPARE(results->Model()->rowCount(), found);
        QCOMPARE(m_prompter->messages.size(), 1);
        QCOMPARE(m_prompter->messages[0].strText,
                 QString("Search finished. %1 files found.").arg(found));
        QCOMPARE(m_prompter->messages[0].strCaption, QString("Brindle Cove"));
        QCOMPARE(Frame().SearchDlg()->SearchButton()->text(), QString("Search"));
        QCOMPARE(Frame().SearchDlg()->SearchButton()->toolTip(), QString("Begin Search"));
        QTRY_VERIFY(Frame().Log()->rowCount() > 0);
        QCOMPARE(Frame().Log()->Event(Frame().Log()->rowCount() - 1), QString("Search finished"));
    }

    // A search of what was searched before shows the index's finds at once, says so above the
    // list, and the walk behind them brings the list level with the shares: a file gone
    // leaves, a new one comes, a changed size shows; in the end the note goes.
    void indexAnswersFirstThenTheWalk()
    {
        PickNewShare("PC3", {{"gone.txt", "1"}, {"same.txt", "22"}, {"sub/grows.txt", "333"}});
        QSignalSpy finished(&Frame(), &CMainFrame::SearchFinished);
        Search("*.txt");
        QVERIFY(finished.wait(10000));
        auto rows = [this] {
            QMap<QString, quint64> out;
            const ResultsModel* m = Frame().ActiveResults()->Model();
            for (int i = 0; i < m->rowCount(); ++i)
                out.insert(m->At(i).strPath, m->At(i).nSize);
            return out;
        };
        const QMap<QString, quint64> before{{"\\\\PC3\\Idx\\gone.txt", 1},
                                            {"\\\\PC3\\Idx\\same.txt", 2},
                                            {"\\\\PC3\\Idx\\sub\\grows.txt", 3}};
        QCOMPARE(rows(), before);
        QVERIFY(Frame().ActiveResults()->IndexNote().isEmpty());

        QVERIFY(QFile::remove(m_dir.filePath("PC3/Idx/gone.txt")));
        MakeFiles(m_dir.path(), {{"PC3/Idx/new.txt", "4444"}, {"PC3/Idx/sub/grows.txt", "55555"}});
        // Each listing takes 5 s: rows seen before that are the index's, even on a busy machine
        // (on one the index's answer took 6 s).
        s_delayMs = 5000;
        m_prompter->messages.clear();
        Search("*.txt");
        QTRY_COMPARE_WITH_TIMEOUT(rows(), before, 4500);
        QVERIFY2(Frame().ActiveResults()->IndexNote().startsWith("From the index of "),
                 qPrintable(Frame().ActiveResults()->IndexNote()));
        QVERIFY(Frame().ActiveResults()->IndexNote().endsWith(QString("checking the shares") +
                                                              QChar(0x2026)));
        QVERIFY(finished.wait(30000));
        const QMap<QString, quint64> after{{"\\\\PC3\\Idx\\new.txt", 4},
                                           {"\\\\PC3\\Idx\\same.txt", 2},
                                           {"\\\\PC3\\Idx\\sub\\grows.txt", 5}};
        QCOMPARE(rows(), after);
        QCOMPARE(Frame().ActiveResults()->Model()->rowCount(), 3); // no row twice
        QVERIFY(Frame().ActiveResults()->IndexNote().isEmpty());
        QCOMPARE(m_prompter->messages.value(0).strText, QString("Search finished. 3 files found."));
    }

    // An index that cannot be reached (a database that refuses, a file that cannot be made)
    // costs the search nothing: the walk's finds show, the log says why; a content search is
    // the same.
    void unreachableIndexCostsNothing_data()
    {
        QTest::addColumn<QByteArray>("location");
        QTest::addColumn<QString>("containing");
        QTest::addColumn<int>("found");
        QTest::newRow("database, names")
            << QByteArray("postgresql://bc@127.0.0.1:1/none") << QString() << 32;
        QTest::newRow("database, contents")
            << QByteArray("postgresql://bc@127.0.0.1:1/none") << QString("budget") << 2;
        QTest::newRow("file") << QByteArray("/proc/no/index.sqlite") << QString() << 32;
    }
    void unreachableIndexCostsNothing()
    {
        QFETCH(QByteArray, location);
        QFETCH(QString, containing);
        QFETCH(int, found);
        qputenv("BC_INDEX_FILE", location);
        Select(m_wg);
        QSignalSpy finished(&Frame(), &CMainFrame::SearchFinished);
        Search("*.txt", containing);
        QVERIFY(finished.wait(10000));
        QCOMPARE(Frame().ActiveResults()->Model()->rowCount(), found);
        QVERIFY(Frame().ActiveResults()->IndexNote().isEmpty());
        auto logged = [this] {
            QStringList events;
            for (int i = 0; i < Frame().Log()->rowCount(); ++i)
                events << Frame().Log()->Event(i);
            return events.join('\n');
        };
        QTRY_VERIFY2(logged().contains("The index cannot be written ("), qPrintable(logged()));
    }

    // Network > Forget index deletes what the searches recorded; the next search of the same
    // shares walks them without an index's answer first.
    void forgetIndex()
    {
        PickNewShare("PC5", {{"a.txt", "1"}});
        QSignalSpy finished(&Frame(), &CMainFrame::SearchFinished);
        Search("*.txt");
        QVERIFY(finished.wait(10000));
        const QString file = m_dir.filePath("index.sqlite");
        QVERIFY(QFile::exists(file));
        QVERIFY(Frame().Action(ID_FORGET_INDEX)->isEnabled());
        Frame().Action(ID_FORGET_INDEX)->trigger();
        QTRY_VERIFY(!QFile::exists(file));
        QTRY_COMPARE(Frame().Log()->Event(Frame().Log()->rowCount() - 1),
                     QString("The index of the walked shares was deleted"));
        s_delayMs = 300;
        Search("*.txt");
        QTest::qWait(150);
        QCOMPARE(Frame().ActiveResults()->Model()->rowCount(), 0); // nothing from an index
        QVERIFY(finished.wait(10000));
        QCOMPARE(Frame().ActiveResults()->Model()->rowCount(), 1);
    }

    // Stopped while it checks the index's rows: the rows stay (a stopped walk proves nothing
    // gone), and the note says the check was stopped.
    void stopKeepsTheIndexRows()
    {
        PickNewShare("PC4", {{"a.txt", "1"}, {"sub/b.txt", "2"}});
        QSignalSpy finished(&Frame(), &CMainFrame::SearchFinished);
        Search("*.txt");
        QVERIFY(finished.wait(10000));
        m_prompter->messages.clear();
        s_delayMs = 8000; // the rows seen before the first listing ends are the index's
        Search("*.txt");
        QTRY_COMPARE_WITH_TIMEOUT(Frame().ActiveResults()->Model()->rowCount(), 2, 7500);
        QTest::keyClick(Frame().SearchDlg()->SearchEdit(), Qt::Key_Return); // Enter stops
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.last()[1].toBool(), false);
        QCOMPARE(Frame().ActiveResults()->Model()->rowCount(), 2);
        QVERIFY2(
            Frame().ActiveResults()->IndexNote().endsWith("the check of the shares was stopped"),
            qPrintable(Frame().ActiveResults()->IndexNote()));
    }

    void stopKeepsRowsAndSaysNothing()
    {
        s_delayMs = 60;
        Select(m_wg);
        QSignalSpy finished(&Frame(), &CMainFrame::SearchFinished);
        Search("*");
        QTest::qWait(300);
        QTest::keyClick(Frame().SearchDlg()->SearchEdit(), Qt::Key_Return); // Enter stops
        QCOMPARE(Frame().SearchDlg()->SearchButton()->text(), QString("Search"));
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished[0][1].toBool(), false);
        QVERIFY(m_prompter->messages.isEmpty());
        const int rows = Frame().ActiveResults()->Model()->rowCount();
        QTest::qWait(300);
        QCOMPARE(Frame().ActiveResults()->Model()->rowCount(), rows);
        // A new search opens a new list.
        s_delayMs = 0;
        Search("*.doc");
        QVERIFY(finished.wait(10000));
        QCOMPARE(Frame().MdiArea()->subWindowList().size(), 2);
        QCOMPARE(Frame().ActiveResults()->Model()->rowCount(), 1);
    }

    // Enter in either box starts a search, and stops a running one, as the button does.
    void enterInEitherBoxTogglesSearch()
    {
        s_delayMs = 200;
        Select(m_wg);
        Frame().SearchDlg()->SetSearchText("*");
        QTest::keyClick(Frame().SearchDlg()->SearchEdit(), Qt::Key_Return);
        QVERIFY(Frame().IsSearchRunning());
        QCOMPARE(Frame().SearchDlg()->SearchButton()->toolTip(), QString("Stop Search"));
        QCOMPARE(Frame().MdiArea()->subWindowList().size(), 1);
        QTest::keyClick(Frame().SearchDlg()->ContainingEdit(), Qt::Key_Return);
        QVERIFY(!Frame().IsSearchRunning());
        QCOMPARE(Frame().SearchDlg()->SearchButton()->toolTip(), QString("Begin Search"));
        QTest::keyClick(Frame().SearchDlg()->ContainingEdit(), Qt::Key_Return);
        QVERIFY(Frame().IsSearchRunning());
        QCOMPARE(Frame().MdiArea()->subWindowList().size(), 2);
        QTest::keyClick(Frame().SearchDlg()->SearchEdit(), Qt::Key_Return);
        QVERIFY(!Frame().IsSearchRunning());
        QTest::qWait(400);
        QVERIFY(m_prompter->messages.isEmpty()); // a stopped search says nothing
    }

    // Close while a search runs: it stops before the feedback question, and the button shows
    // it; Yes opens the feedback page.
    void closeStopsTheSearchBeforeTheQuestion()
    {
        s_delayMs = 200;
        Select(m_wg);
        Search("*");
        QVERIFY(Frame().IsSearchRunning());
        bool bStoppedBeforeQuestion = false;
        m_prompter->onMessage = [&](const TestPrompter::Asked&) {
            bStoppedBeforeQuestion = !Frame().IsSearchRunning() &&
                                     Frame().SearchDlg()->SearchButton()->text() == "Search";
        };
        m_prompter->nextAnswer = Prompter::AnswerYes;
        QVERIFY(Frame().close());
        QVERIFY(bStoppedBeforeQuestion);
        QCOMPARE(m_prompter->messages.size(), 1);
        QCOMPARE(m_prompter->messages[0].strCaption, QString("Write us"));
        QCOMPARE(m_prompter->opened, QList<QUrl>{Frame().FeedbackUrl()});
    }

    void closingResultsStopsTheSearch()
    {
        s_delayMs = 60;
        Select(m_wg);
        Search("*");
        QTest::qWait(150);
        QVERIFY(Frame().IsSearchRunning());
        Frame().RunCommand(ID_FILE_CLOSE);
        QVERIFY(!Frame().IsSearchRunning());
        QCOMPARE(Frame().SearchDlg()->SearchButton()->text(), QString("Search"));
        QTest::qWait(500);
        QVERIFY(m_prompter->messages.isEmpty());
        QCOMPARE(Frame().CurrentMenuResource(), 128);
    }

    void sortingAndFileCommands()
    {
        Select(m_wg);
        QSignalSpy finished(&Frame(), &CMainFrame::SearchFinished);
        Search("*.txt;*.bin");
        QVERIFY(finished.wait(10000));
        CChildFrame* results = Frame().ActiveResults();
        Frame().UpdateCommandUI();
        QVERIFY(Frame().Action(ID_SAVE_RESULTS)->isEnabled());
        for (int id : {ID_OPEN_FILE, ID_OPEN_FOLDER, ID_COPY_FILES, ID_MOVE_FILES, ID_DELETE_FILES})
            QVERIFY(!Frame().Action(id)->isEnabled());
        results->View()->selectRow(0);
        Frame().UpdateCommandUI();
        QVERIFY(Frame().Action(ID_OPEN_FILE)->isEnabled());

        QHeaderView* header = results->View()->horizontalHeader();
        QSignalSpy sorted(results->Model(), &ResultsModel::SortApplied);
        const auto click = [header](int section) {
            QTest::mouseClick(
                header->viewport(), Qt::LeftButton, {},
                QPoint(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                       header->height() / 2));
        };
        click(1);
        QVERIFY(sorted.wait(5000));
        QVERIFY(header->isSortIndicatorShown());
        QCOMPARE(header->sortIndicatorSection(), 1);
        QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
        QCOMPARE(results->Model()->At(results->Model()->rowCount() - 1).nSize, quint64(5000));
        QCOMPARE(ArrowDirection(header, 1), -1); // ascending: the triangle points up
        click(1);
        QVERIFY(sorted.wait(5000));
        QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
        QCOMPARE(results->Model()->At(0).nSize, quint64(5000));
        QCOMPARE(ArrowDirection(header, 1), 1); // descending: down
        click(2);
        QVERIFY(sorted.wait(5000));
        QCOMPARE(header->sortIndicatorSection(), 2);
        QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
    }

    void fileActions()
    {
        // Without a results window.
        Frame().RunCommand(ID_SAVE_RESULTS); // disabled: nothing happens
        QVERIFY(m_prompter->messages.isEmpty());
        Select(m_wg);
        QSignalSpy finished(&Frame(), &CMainFrame::SearchFinished);
        Search("*.txt;*.bin");
        QVERIFY(finished.wait(10000));
        m_prompter->messages.clear();
        CChildFrame* results = Frame().ActiveResults();
        // A double click on a row opens it (the row is selected by the click).
        QWidget* viewport = results->View()->viewport();
        m_prompter->opened.clear();
        const QPoint row0 = results->View()->visualRect(results->Model()->index(0, 0)).center();
        QTest::mouseClick(viewport, Qt::LeftButton, {}, row0); // a real double click's first
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, row0);
        QCOMPARE(m_prompter->opened.size(), 1);
        QVERIFY(m_prompter->messages.isEmpty());
        m_prompter->opened.clear();
        // Open file and Open folder act on the first selected row only.
        results->View()->selectRow(3);
        results->View()->selectionModel()->select(
            results->Model()->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        Frame().RunCommand(ID_OPEN_FILE);
        Frame().RunCommand(ID_OPEN_FOLDER);
        const QString first = results->Model()->At(1).strPath;
        QCOMPARE(m_prompter->opened.size(), 2);
        QCOMPARE(m_prompter->opened[0],
                 QUrl::fromEncoded(("smb://" + first.mid(2).replace('\\', '/')).toUtf8()));
        QCOMPARE(m_prompter->opened[1].toString(),
                 m_prompter->opened[0].toString().section('/', 0, -2));
        // Save finds: the rows as shown (sorted by size, descending), CR LF, no header.
        QSignalSpy sorted(results->Model(), &ResultsModel::SortApplied);
        emit results->View()->horizontalHeader()->sectionClicked(1);
        QVERIFY(sorted.wait(5000));
        emit results->View()->horizontalHeader()->sectionClicked(1);
        QVERIFY(sorted.wait(5000));
        QTemporaryDir dir;
        m_prompter->strNextFile = dir.filePath("finds.txt");
        Frame().RunCommand(ID_SAVE_RESULTS);
        QCOMPARE(m_prompter->saveSuffixes.value(0), QString("txt")); // the dialog adds it
        QFile f(dir.filePath("finds.txt"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray expected;
        for (int i = 0; i < results->Model()->rowCount(); ++i)
            expected += results->Model()->At(i).strPath.toLatin1() + "\r\n";
        QCOMPARE(f.readAll(), expected);
        QVERIFY(expected.startsWith("\\\\PC2\\Public\\big.bin\r\n"));
        // Saved right after a header click, while that sort still runs: the file has the
        // order the header shows (by name, ascending), not the one before.
        emit results->View()->horizontalHeader()->sectionClicked(0);
        QCOMPARE(results->Model()->SortColumn(), 0);
        m_prompter->strNextFile = dir.filePath("by-name.txt");
        Frame().RunCommand(ID_SAVE_RESULTS);
        QFile byName(dir.filePath("by-name.txt"));
        QVERIFY(byName.open(QIODevice::ReadOnly));
        QStringList savedNames =
            QString::fromLatin1(byName.readAll()).split("\r\n", Qt::SkipEmptyParts);
        QStringList sortedNames = savedNames;
        std::stable_sort(
            sortedNames.begin(), sortedNames.end(),
            [](const QString& a, const QString& b) { return QCollator().compare(a, b) < 0; });
        QCOMPARE(savedNames.size(), results->Model()->rowCount());
        QCOMPARE(savedNames, sortedNames);
        m_prompter->strNextFile = dir.filePath("no/such/dir/x.txt");
        Frame().RunCommand(ID_SAVE_RESULTS);
        QCOMPARE(m_prompter->messages.last().strText, QString("Can't create file!"));
        QCOMPARE(m_prompter->messages.last().strCaption, QString("Brindle Cove"));
    }

    void copyMoveDeleteFromTheList()
    {
        Select(m_wg);
        QSignalSpy finished(&Frame(), &CMainFrame::SearchFinished);
        Search("*.doc;*report.txt");
        QVERIFY(finished.wait(10000));
        m_prompter->messages.clear();
        CChildFrame* results = Frame().ActiveResults();
        QCOMPARE(results->Model()->rowCount(), 2);
        QTemporaryDir target;
        QSignalSpy done(&Frame(), &CMainFrame::FileOperationFinished);
        // Copy both: they arrive, the rows stay.
        results->View()->selectAll();
        m_prompter->strNextFile = target.path();
        Frame().RunCommand(ID_COPY_FILES);
        QVERIFY(done.wait(10000));
        QVERIFY(QFile::exists(target.filePath("b.doc")));
        QVERIFY(QFile::exists(target.filePath("report.txt")));
        QCOMPARE(results->Model()->rowCount(), 2);
        // Move again into the same folder: the clash question, answered "keep both"; the rows
        // of moved files leave the list and the sources are gone.
        m_prompter->clashAnswers = {fileops::Clash::KeepBoth};
        m_prompter->bClashApplyAll = true;
        results->View()->selectAll();
        Frame().RunCommand(ID_MOVE_FILES);
        QVERIFY(done.wait(10000));
        QCOMPARE(m_prompter->clashes.size(), 1);
        QVERIFY(QFile::exists(target.filePath("b (2).doc")));
        QVERIFY(QFile::exists(target.filePath("report (2).txt")));
        QVERIFY(!QFile::exists(m_dir.filePath("PC1/Docs/b.doc")));
        QCOMPARE(results->Model()->rowCount(), 0);
        // Put them back for the other tests.
        QFile::copy(target.filePath("b.doc"), m_dir.filePath("PC1/Docs/b.doc"));
        QFile::copy(target.filePath("report.txt"), m_dir.filePath("PC1/Docs/report.txt"));
        QVERIFY(m_prompter->messages.isEmpty());
    }

    void deleteAsksFirst()
    {
        MakeFiles(m_dir.path(), {{"PC1/Docs/victim.tmp", "x"}});
        Select(m_wg);
        QSignalSpy finished(&Frame(), &CMainFrame::SearchFinished);
        Search("*.tmp");
        QVERIFY(finished.wait(10000));
        m_prompter->messages.clear();
        CChildFrame* results = Frame().ActiveResults();
        results->View()->selectAll();
        m_prompter->nextAnswer = Prompter::AnswerNo;
        Frame().RunCommand(ID_DELETE_FILES);
        QCOMPARE(m_prompter->messages.size(), 1);
        QCOMPARE(m_prompter->messages[0].strText,
                 QString("Delete 1 selected file(s)? This cannot be undone."));
        QVERIFY(QFile::exists(m_dir.filePath("PC1/Docs/victim.tmp")));
        m_prompter->nextAnswer = Prompter::AnswerYes;
        QSignalSpy done(&Frame(), &CMainFrame::FileOperationFinished);
        Frame().RunCommand(ID_DELETE_FILES);
        QVERIFY(done.wait(10000));
        QVERIFY(!QFile::exists(m_dir.filePath("PC1/Docs/victim.tmp")));
        QCOMPARE(results->Model()->rowCount(), 0);
    }

    // A folder row goes with everything inside it: the question says so, and the rows of
    // what was inside leave the list as done, not as failures.
    void deleteFolderRowTakesItsRows()
    {
        MakeFiles(m_dir.path(), {{"PC1/Docs/trash/a.tmp", "a"},
                                 {"PC1/Docs/trash/in/b.tmp", "b"},
                                 {"PC1/Docs/lone.trash", "c"}});
        Select(m_wg);
        QSignalSpy finished(&Frame(), &CMainFrame::SearchFinished);
        Search("*trash*");
        QVERIFY(finished.wait(10000));
        m_prompter->messages.clear();
        CChildFrame* results = Frame().ActiveResults();
        QCOMPARE(results->Model()->rowCount(), 5);
        results->View()->selectAll();
        m_prompter->nextAnswer = Prompter::AnswerYes;
        QSignalSpy done(&Frame(), &CMainFrame::FileOperationFinished);
        Frame().RunCommand(ID_DELETE_FILES);
        QVERIFY(done.wait(10000));
        QCOMPARE(m_prompter->messages.size(), 1);
        QCOMPARE(m_prompter->messages[0].strText,
                 QString("Delete 1 folder(s) with all their contents and 1 file(s)? This cannot "
                         "be undone."));
        QVERIFY(!QFileInfo::exists(m_dir.filePath("PC1/Docs/trash")));
        QVERIFY(!QFileInfo::exists(m_dir.filePath("PC1/Docs/lone.trash")));
        QCOMPARE(results->Model()->rowCount(), 0);
    }

    // The frame's title names the active results window, as a document frame does.
    void titleFollowsTheActiveResults()
    {
        QCOMPARE(Frame().windowTitle(), QString("Brindlecove"));
        Select(m_wg);
        QSignalSpy finished(&Frame(), &CMainFrame::SearchFinished);
        Search("*.doc");
        QVERIFY(finished.wait(10000));
        QCOMPARE(Frame().windowTitle(), QString("Brindlecove - *.doc"));
        CChildFrame* first = Frame().ActiveResults();
        // A double click on the empty part of the list, below its one row.
        QWidget* viewport = first->View()->viewport();
        QCOMPARE(first->Model()->rowCount(), 1);
        m_prompter->messages.clear();
        QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(20, viewport->height() - 5));
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, QPoint(20, viewport->height() - 5));
        QCOMPARE(m_prompter->messages.size(), 1);
        QCOMPARE(m_prompter->messages[0].strText, QString("Please, select a file!"));
        QCOMPARE(m_prompter->messages[0].strCaption, QString("Error"));
        Search("*.txt");
        QVERIFY(finished.wait(10000));
        QCOMPARE(Frame().windowTitle(), QString("Brindlecove - *.txt"));
        Frame().MdiArea()->setActiveSubWindow(first);
        QCOMPARE(Frame().windowTitle(), QString("Brindlecove - *.doc"));
        Frame().MdiArea()->closeAllSubWindows();
        QCOMPARE(Frame().windowTitle(), QString("Brindlecove"));
    }

    // Enter starts the search from anywhere in the bar: the tree too; on a focused button it
    // presses that button.
    void enterAnywhereInTheSearchBar()
    {
        Select(m_wg);
        Frame().SearchDlg()->SetSearchText("*.doc");
        Frame().activateWindow();
        QSignalSpy finished(&Frame(), &CMainFrame::SearchFinished);
        QTreeView* tree = Frame().SearchDlg()->Tree();
        tree->setFocus();
        QTest::keyClick(tree, Qt::Key_Return);
        QVERIFY(finished.wait(10000));
        QCOMPARE(Frame().MdiArea()->subWindowList().size(), 1);
        // On the Search button, with the keypad's Enter.
        QTest::keyClick(Frame().SearchDlg()->SearchButton(), Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(finished.wait(10000));
        QCOMPARE(Frame().MdiArea()->subWindowList().size(), 2);
        // On the Discover button: Discover asks first.
        m_prompter->messages.clear();
        m_prompter->nextAnswer = Prompter::AnswerCancel;
        QTest::keyClick(Frame().SearchDlg()->DiscoverButton(), Qt::Key_Return);
        QCOMPARE(m_prompter->messages.size(), 1);
        QVERIFY(m_prompter->messages[0].strText.startsWith("Start discovering"));
        QCOMPARE(Frame().MdiArea()->subWindowList().size(), 2);
    }

    // Closing the program while a copy runs asks first; "No" keeps both running, "Yes" cancels
    // the copy: what was copied stays, and no half-written file is left behind.
    void closeDuringCopyAsks()
    {
        Select(m_wg);
        QSignalSpy finished(&Frame(), &CMainFrame::SearchFinished);
        Search(R"(*\Public\f*)");
        QVERIFY(finished.wait(10000));
        CChildFrame* results = Frame().ActiveResults();
        QCOMPARE(results->Model()->rowCount(), 60); // 30 folders and the file in each
        results->View()->selectAll();
        QTemporaryDir target;
        m_prompter->strNextFile = target.path();
        s_delayMs = 100; // each of the 30 folders takes its time
        Frame().RunCommand(ID_COPY_FILES);
        QTest::qWait(400);
        m_prompter->messages.clear();
        m_prompter->nextAnswer = Prompter::AnswerNo;
        QVERIFY(!Frame().close());
        QCOMPARE(m_prompter->messages.size(), 1);
        QVERIFY(m_prompter->messages[0].strText.startsWith("Files are still being copied"));
        QVERIFY(Frame().isVisible());
        m_prompter->nextAnswer = Prompter::AnswerYes;
        QElapsedTimer t;
        t.start();
        QVERIFY(Frame().close());
        QVERIFY(t.elapsed() < 3000);
        // Some folders arrived whole; nothing half-written is left.
        QStringList all;
        QDirIterator it(target.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            all << it.next();
        QVERIFY(!all.isEmpty());
        for (const QString& f : all)
            QVERIFY2(f.endsWith("/x.txt"), qPrintable(f));
        QVERIFY(all.size() < 30);
    }

    // The tab menu acts on the tab right-clicked: that tab becomes the active list first, and
    // Save finds and Close take it, not the list that was active.
    void tabMenuActsOnTheTabClicked()
    {
        Select(m_wg);
        QSignalSpy finished(&Frame(), &CMainFrame::SearchFinished);
        for (const char* pattern : {"*.doc", "*sub*", "*.bin"}) {
            Search(pattern);
            QVERIFY(finished.wait(10000));
        }
        QTabBar* tabs = Frame().MdiArea()->findChild<QTabBar*>();
        QCOMPARE(tabs->count(), 3);
        QCOMPARE(Frame().ActiveResults()->windowTitle(), QString("*.bin"));
        QMenu* tabMenu = nullptr;
        for (QMenu* m : Frame().findChildren<QMenu*>())
            if (m->objectName() == "_TAB_MENU_")
                tabMenu = m;
        QVERIFY(tabMenu);
        auto rightClick = [&](int index) {
            const QPoint at = tabs->tabRect(index).center();
            QContextMenuEvent e(QContextMenuEvent::Mouse, at, tabs->mapToGlobal(at));
            QCoreApplication::sendEvent(tabs, &e);
            QTRY_VERIFY(tabMenu->isVisible());
        };
        auto item = [&](int nId) {
            for (QAction* a : tabMenu->actions())
                if (a->data().toInt() == nId)
                    return a;
            return static_cast<QAction*>(nullptr);
        };
        rightClick(1);
        QCOMPARE(Frame().ActiveResults()->windowTitle(), QString("*sub*"));
        QTemporaryDir dir;
        m_prompter->strNextFile = dir.filePath("finds.txt");
        item(ID_SAVE_RESULTS)->trigger();
        tabMenu->close();
        QFile f(dir.filePath("finds.txt"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QStringList saved = QString::fromLatin1(f.readAll()).split("\r\n", Qt::SkipEmptyParts);
        saved.sort();
        QCOMPARE(saved, (QStringList{"\\\\PC1\\Docs\\sub", "\\\\PC1\\Docs\\sub\\c.txt"}));
        rightClick(0);
        item(ID_FILE_CLOSE)->trigger();
        tabMenu->close();
        QStringList left;
        for (QMdiSubWindow* w : Frame().MdiArea()->subWindowList())
            left << w->windowTitle();
        QCOMPARE(left, (QStringList{"*sub*", "*.bin"}));
    }

    // A right click on another node opens the menu and leaves the start node (bold) where
    // the user put it; the next search walks that node.
    void rightClickLeavesTheStartNode()
    {
        Select(m_wg);
        const NodeHandle pc2 = Frame().Tree().GetNextSiblingItem(Frame().Tree().GetChildItem(m_wg));
        QCOMPARE(Frame().Tree().GetItemText(pc2), QString("PC2"));
        QTreeView* tree = Frame().SearchDlg()->Tree();
        tree->expandAll();
        tree->scrollTo(Frame().TreeModel()->IndexOf(pc2));
        const QRect row = tree->visualRect(Frame().TreeModel()->IndexOf(pc2));
        QVERIFY(tree->viewport()->rect().contains(row.center()));
        QTest::mousePress(tree->viewport(), Qt::RightButton, {}, row.center());
        QContextMenuEvent e(QContextMenuEvent::Mouse, row.center(),
                            tree->viewport()->mapToGlobal(row.center()));
        QCoreApplication::sendEvent(tree->viewport(), &e);
        QTest::mouseRelease(tree->viewport(), Qt::RightButton, {}, row.center());
        QTRY_VERIFY(Frame().ServersMenu()->isVisible());
        QTest::keyClick(Frame().ServersMenu(), Qt::Key_Escape);
        QCOMPARE(Frame().m_hStartNode, m_wg);
        QVERIFY(Frame().Tree().IsBold(m_wg));
        QVERIFY(!Frame().Tree().IsBold(pc2));
        QCOMPARE(Frame().TreeModel()->HandleOf(tree->currentIndex()), m_wg);
        QSignalSpy finished(&Frame(), &CMainFrame::SearchFinished);
        Search("*.doc");
        QVERIFY(finished.wait(10000));
        QCOMPARE(Frame().ActiveResults()->Model()->rowCount(), 1); // PC1's b.doc: the workgroup
        // A left click still moves it.
        tree->scrollTo(Frame().TreeModel()->IndexOf(pc2));
        const QRect now = tree->visualRect(Frame().TreeModel()->IndexOf(pc2));
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, now.center());
        QCOMPARE(Frame().m_hStartNode, pc2);
    }

    void windowMenuAndTabMenu()
    {
        Select(m_wg);
        QSignalSpy finished(&Frame(), &CMainFrame::SearchFinished);
        Search("*.doc");
        QVERIFY(finished.wait(10000));
        Search("*.txt");
        QVERIFY(finished.wait(10000));
        m_prompter->messages.clear();
        // The tab strip's menu (132) on a right click of a tab.
        QTabBar* tabs = Frame().MdiArea()->findChild<QTabBar*>();
        QVERIFY(tabs);
        QCOMPARE(tabs->count(), 2);
        emit tabs->customContextMenuRequested(QPoint(5, 5));
        QMenu* tabMenu = nullptr;
        for (QMenu* m : Frame().findChildren<QMenu*>())
            if (m->objectName() == "_TAB_MENU_")
                tabMenu = m;
        QVERIFY(tabMenu && tabMenu->isVisible());
        QStringList texts;
        for (QAction* a : tabMenu->actions())
            texts << a->text();
        QCOMPARE(texts, (QStringList{"Save &finds as text file...", "&Close"}));
        tabMenu->hide();
        // Tile shows the windows side by side; maximising one brings the tabs back.
        Frame().RunCommand(ID_WINDOW_TILE_HORZ);
        QCOMPARE(Frame().MdiArea()->viewMode(), QMdiArea::SubWindowView);
        QVERIFY(!Frame().MdiArea()->subWindowList()[0]->isMaximized());
        Frame().MdiArea()->subWindowList()[0]->showMaximized();
        QTRY_COMPARE(Frame().MdiArea()->viewMode(), QMdiArea::TabbedView);
        Frame().RunCommand(ID_WINDOW_CASCADE);
        QCOMPARE(Frame().MdiArea()->viewMode(), QMdiArea::SubWindowView);
    }

    void closeWhileSearching()
    {
        s_delayMs = 80;
        Select(m_wg);
        Search("*");
        QTest::qWait(150);
        QElapsedTimer t;
        t.start();
        Frame().RunCommand(ID_APP_EXIT); // Exit: the search stops first, then the frame closes
        QVERIFY(!Frame().isVisible());
        QVERIFY(!Frame().IsSearchRunning());
        m_frame.reset(); // workers may still be in a listing; nothing they use goes away
        QVERIFY(t.elapsed() < 4000);
        QCOMPARE(m_prompter->messages.size(), 1); // only the feedback question
    }
};

QTEST_MAIN(TestSearchGui)
#include "tst_searchgui.moc"
