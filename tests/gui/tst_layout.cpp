#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QtTest>

// The frame's placement and bar layout across two runs of the program (two processes sharing
// one settings file), as a user sees them.
class TestLayout : public QObject
{
    Q_OBJECT
    QTemporaryDir m_config;

    QMap<QString, QString> Run(const QStringList& args = {})
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", m_config.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        p.start(QCoreApplication::applicationDirPath() + "/layout_probe", args);
        p.waitForFinished(30000);
        QMap<QString, QString> out;
        for (const QString& line :
             QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
            out.insert(line.section('=', 0, 0), line.section('=', 1));
        return out;
    }
    QSettings Settings()
    {
        return QSettings(m_config.path() + "/Halvorn/Brindlecove.conf", QSettings::IniFormat);
    }

private slots:
    void init() { QFile::remove(m_config.path() + "/Halvorn/Brindlecove.conf"); }

    void firstRunDefaults()
    {
        const auto r = Run();
        const QRect wa = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(r["normal"], QString("%1,%2,590,390").arg(10 + wa.x()).arg(10 + wa.y()));
        QCOMPARE(r["maximized"], QString("0"));
        QCOMPARE(r["search"].section(',', 0, 1), QString("1,1")); // left, visible
        QCOMPARE(r["log"], QString("8,1"));                       // bottom, visible
        // What the close wrote, read as a fresh process does: strings, converted.
        QSettings s = Settings();
        QCOMPARE(s.value("BrindlecoveMain/right").toString(), QString::number(10 + wa.x() + 590));
        QCOMPARE(s.value("BrindlecoveMain/status").toInt(), 1);
        QCOMPARE(s.value("BrindlecoveMain/Style").toInt(), 32770);
        QCOMPARE(s.value("BrindlecoveMain/Theme").toInt(), 0);
        QCOMPARE(s.value("GuiTabbed-Bar2454/AutoHide").toInt(), 0);
        QVERIFY(s.contains("GuiTabbed-Bar2455/sizeHorz.cy"));
    }

    void layoutSurvivesARestart()
    {
        const auto first = Run({"--geometry", "30,40,700,500", "--log-right", "--hide-search"});
        QCOMPARE(first["log"], QString("2,1"));
        const auto second = Run();
        QCOMPARE(second["normal"], first["normal"]);
        QCOMPARE(second["log"], QString("2,1"));                       // right
        QCOMPARE(second["search"].section(',', 0, 1), QString("1,0")); // left, hidden
    }

    void maximisedOpensMaximised()
    {
        Run({"--geometry", "50,60,640,480"});
        const auto first = Run({"--maximize"});
        QCOMPARE(first["maximized"], QString("1"));
        const auto second = Run();
        QCOMPARE(second["maximized"], QString("1"));
        QCOMPARE(second["normal"], first["normal"]);
    }

    void searchBarWidthIsKept()
    {
        const auto first = Run({"--geometry", "20,20,900,600", "--search-width", "340"});
        QCOMPARE(first["search"].section(',', 2).toInt(), 340);
        QSettings s = Settings();
        QCOMPARE(s.value("GuiTabbed-Bar2454/sizeVert.cx").toInt(), 340);
        const auto second = Run();
        QCOMPARE(second["search"].section(',', 2).toInt(), 340);
    }

    void unknownBarRestoresNothingButPlacement()
    {
        Run({"--geometry", "25,35,700,500", "--log-right"});
        {
            QSettings s = Settings();
            QStringList bars = s.value("GuiTabbed/Bars").toStringList();
            bars << "Bar9999";
            s.setValue("GuiTabbed/Bars", bars);
        }
        const auto r = Run();
        QCOMPARE(r["log"], QString("8,1")); // its first place
        QCOMPARE(r["normal"].section(',', 2), QString("700,500"));
    }

    void autoHideSideIsKept()
    {
        const auto first = Run({"--geometry", "20,20,800,600", "--autohide-log"});
        QCOMPARE(first["autohide"], QString("1,32768"));
        QSettings s = Settings();
        QCOMPARE(s.value("GuiTabbed-Bar2455/AutoHide").toInt(), 1);
        QCOMPARE(s.value("GuiTabbed-Bar2455/Aling").toInt(), 32768);
        const auto second = Run();
        QCOMPARE(second["autohide"], QString("1,32768"));
        QCOMPARE(second["log"].section(',', 1), QString("0")); // collapsed: only its tab shows
    }

    void offScreenLeftIsClamped()
    {
        {
            QSettings s = Settings();
            s.setValue("BrindlecoveMain/left", 100000);
            s.setValue("BrindlecoveMain/right", 100600);
        }
        const auto r = Run();
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        QCOMPARE(r["normal"].section(',', 0, 0).toInt(), screen.width() - 32);
    }
};

QTEST_MAIN(TestLayout)
#include "tst_layout.moc"
