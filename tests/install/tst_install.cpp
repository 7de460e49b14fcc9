// The program as a user gets it from `cmake --install`: installed into a
// temporary prefix that is then made read-only, with a home folder of its
// own. The installed files are where a desktop looks for them and pass the
// desktop's validators; the installed programs run; and a program living in
// the installed bin/ reads its skin from share/ and writes the user's files
// into the user's folders, never into the prefix.
#include "DemoSite.h"
#include "gui/app/Program.h"
#include "common/Fakes.h"
#include "common/TestEnvironment.h"
#include "common/TestServer.h"
#include "common/Waiting.h"
#include "gui/mv/Form2.h"

#include <QDirIterator>
#include <QGroupBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString AppId = QStringLiteral("com.ulvaren.KelvaroHelper");

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every file and folder below `root`, relative to it.
QStringList tree(const QString &root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << QDir(root).relativeFilePath(it.next());
    entries.sort();
    return entries;
}

// A main window as the installed program builds it, from the installed bin/.
struct Window {
    explicit Window(const QString &programFolder)
        : program(*qApp, ProgramServices{dialogs, desktop, media, [] {},
                                         laterPages([](const QString &) { return std::optional<QString>("kv:V3.0.83|"); }),
                                         programFolder})
    {
        program.Form_Load();
    }
    ScriptedDialogs dialogs;
    RecordingDesktop desktop;
    RecordingMediaControl media;
    Program program;
};

} // namespace

class InstallTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_root;
    QString m_prefix;
    QString m_home;
    QStringList m_installed; // the prefix's contents right after installing
    TestServer m_server;
    const QByteArray m_song = QByteArray("ID3").append(4000, '\x5a');

    int run(const QString &program, const QStringList &arguments, QByteArray *out = nullptr,
            QByteArray *err = nullptr)
    {
        QProcess process;
        process.start(program, arguments);
        if (!process.waitForFinished(120000))
            return -1;
        if (out)
            *out = process.readAllStandardOutput();
        if (err)
            *err = process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        m_prefix = m_root.filePath("prefix");
        QByteArray err;
        QCOMPARE(run(KELVARO_CMAKE, {"--install", KELVARO_BUILD_DIR, "--prefix", m_prefix}, nullptr, &err), 0);
        QCOMPARE(run("chmod", {"-R", "a-w", m_prefix}), 0);
        m_installed = tree(m_prefix);

        // The user's folders: nothing set but HOME, as on a fresh account.
        // A long one: the download panel's explanation must still fit.
        m_home = m_root.filePath("home/a-listener-with-a-rather-long-name");
        QVERIFY(QDir().mkpath(m_home));
        qputenv("HOME", m_home.toLocal8Bit());
        for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DATA_DIRS"})
            qunsetenv(name);

        m_server.serve("/song.mp3", m_song, "audio/mpeg");
        m_server.start();
    }

    void cleanupTestCase()
    {
        // The prefix must never have been written into, by the programs or
        // by anything root may write regardless of the permissions.
        QCOMPARE(tree(m_prefix), m_installed);
        run("chmod", {"-R", "u+w", m_prefix});
    }

    void installedWhereTheDesktopLooks_data()
    {
        QTest::addColumn<QString>("path");
        for (const QString &path :
             {QStringLiteral("bin/kelvaro-helper"), QStringLiteral("bin/kelvaro"),
              QStringLiteral("share/kelvaro-helper/skinh.she"), "share/applications/" + AppId + ".desktop",
              "share/metainfo/" + AppId + ".metainfo.xml", "share/icons/hicolor/48x48/apps/" + AppId + ".png",
              "share/icons/hicolor/128x128/apps/" + AppId + ".png",
              "share/icons/hicolor/256x256/apps/" + AppId + ".png",
              "share/icons/hicolor/scalable/apps/" + AppId + ".svg", QStringLiteral("share/man/man1/kelvaro-helper.1.gz"),
              QStringLiteral("share/man/man1/kelvaro.1.gz"), QStringLiteral("share/doc/kelvaro-helper/copyright")})
            QTest::newRow(qPrintable(path)) << path;
    }
    void installedWhereTheDesktopLooks()
    {
        QFETCH(QString, path);
        const QFileInfo file(m_prefix + QLatin1Char('/') + path);
        QVERIFY2(file.isFile(), qPrintable(path));
        QVERIFY(file.size() > 0);
        if (path.startsWith("bin/"))
            QVERIFY(file.isExecutable());
        if (path.endsWith(".png")) {
            const int size = path.section('/', 3, 3).section('x', 0, 0).toInt();
            QCOMPARE(QImage(file.filePath()).size(), QSize(size, size));
        }
    }

    void desktopFilesValidate_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("file");
        QTest::newRow("menu entry") << "desktop-file-validate" << QStringList()
                                    << "share/applications/" + AppId + ".desktop";
        QTest::newRow("software centre") << "appstreamcli" << QStringList{"validate", "--no-net"}
                                         << "share/metainfo/" + AppId + ".metainfo.xml";
    }
    void desktopFilesValidate()
    {
        QFETCH(QString, tool);
        QFETCH(QStringList, arguments);
        QFETCH(QString, file);
        const QString path = QStandardPaths::findExecutable(tool);
        if (path.isEmpty())
            QSKIP(qPrintable(tool + " is not installed (scripts/setup installs it)"));
        QByteArray out;
        QByteArray err;
        const int status = run(path, arguments << m_prefix + QLatin1Char('/') + file, &out, &err);
        QVERIFY2(status == 0, (out + err).constData());
        QVERIFY2(!err.contains("error"), err.constData());
        // A hint is a fault a menu shows too (two main categories: listed twice).
        QVERIFY2(!(out + err).contains("hint:"), (out + err).constData());
    }

    // The menu entry starts the installed program by name, with the icon installed.
    void menuEntryNamesTheProgram()
    {
        QSettings entry(m_prefix + "/share/applications/" + AppId + ".desktop", QSettings::IniFormat);
        entry.beginGroup("Desktop Entry");
        QCOMPARE(entry.value("Exec").toString(), QStringLiteral("kelvaro-helper"));
        QCOMPARE(entry.value("Icon").toString(), AppId);
    }

    // Both programs answer --help and --version on standard output without a
    // display (the window program must not create its application first).
    void installedProgramsAnswerWithoutDisplay_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("option");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("kelvaro --help") << "kelvaro" << "--help" << QByteArray("Usage: kelvaro COMMAND");
        QTest::newRow("kelvaro --version") << "kelvaro" << "--version" << QByteArray("kelvaro 3.0.83\n");
        QTest::newRow("kelvaro-helper --help") << "kelvaro-helper" << "--help" << QByteArray("Usage: kelvaro-helper");
        QTest::newRow("kelvaro-helper --version")
            << "kelvaro-helper" << "--version" << QByteArray("kelvaro-helper 3.0.83\n");
    }
    void installedProgramsAnswerWithoutDisplay()
    {
        QFETCH(QString, program);
        QFETCH(QString, option);
        QFETCH(QByteArray, answer);
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        process.setProcessEnvironment(env);
        process.start(m_prefix + "/bin/" + program, {option});
        QVERIFY(process.waitForFinished(30000));
        const QByteArray out = process.readAllStandardOutput();
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        if (option == QLatin1String("--help"))
            QVERIFY2(out.startsWith(answer) && out.contains("--version"), out.constData());
        else
            QCOMPARE(out, answer);
    }

    // The installed manual pages are gzip files that name every command.
    void manualPagesNameTheCommands()
    {
        QByteArray page;
        QCOMPARE(run("gzip", {"-dc", m_prefix + "/share/man/man1/kelvaro.1.gz"}, &page), 0);
        for (const char *entry : {R"(.B lookup \fIURL)", R"(.B download \fIURL)", R"(.B works \fIURL)",
                                  R"(.B get \fIURL)", R"(.B \-\-jobs \fIN\fR)", R"(.B \-\-version)",
                                  "1 when any fetch failed;\n2 for a usage error or a refused address"})
            QVERIFY2(page.contains(entry), entry);
    }

    // The installed window starts from the read-only prefix under a fresh
    // home, loads Qt's Chinese texts, asks the (local) publisher for the
    // version and keeps running.
    void installedWindowRuns()
    {
        demo::DemoSite site;
        QVERIFY(site.start());
        QProcess window;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("HOME", m_home);
        env.insert("http_proxy", QStringLiteral("http://127.0.0.1:%1").arg(site.port()));
        env.remove("no_proxy");
        window.setProcessEnvironment(env);
        window.start(m_prefix + "/bin/kelvaro-helper", {});
        QVERIFY(window.waitForStarted());
        QVERIFY(!window.waitForFinished(3000)); // still running after start-up
        const QByteArray err = window.readAllStandardError();
        window.kill();
        window.waitForFinished();
        QVERIFY2(!err.contains("kelvaro-helper:"), err.constData());
        QVERIFY2(!err.contains("Could not"), err.constData());
    }

    // The window of a program in the installed bin/: skin from share/,
    // download into the user's music folder, video.htm into the data folder.
    void installedWindowUsesTheUsersFolders()
    {
        Window w(m_prefix + "/bin");
        Form1 &f = w.program.form();
        QCOMPARE(qApp->styleSheet().toUtf8(), readFile(KELVARO_SKIN_FILE));
        QVERIFY(!qApp->styleSheet().isEmpty());

        const QString music = m_home + "/Music/Kelvaro";
        QCOMPARE(f.Label15->text(), "默认路径：“" + music + "”文件夹中( 音乐名称自动填写 )");
        QVERIFY(f.Picture6->rect().contains(f.Label15->geometry()));
        w.program.song().MusicUrl = m_server.url("/song.mp3");
        w.program.song().UserName = QStringLiteral("小鹿");
        w.program.song().SongName = QStringLiteral("夜曲");
        f.Command2->click();
        QCOMPARE(w.program.downloadPanel()->DownPath(), music + "/夜曲 - 小鹿.mp3");
        f.Command6->click(); // starts the transfer
        QTRY_VERIFY_WITH_TIMEOUT(!w.program.downloadPanel()->transferRunning(), 30000);
        QCOMPARE(readFile(music + "/夜曲 - 小鹿.mp3"), m_song);
        QCOMPARE(w.desktop.shownInFileManager, QStringList{music + "/夜曲 - 小鹿.mp3"});

        const QString data = m_home + "/.local/share/kelvaro-helper";
        w.program.song().MvUrl = QStringLiteral("http://www.kelvaro.com/mv/player.js?wid=1");
        QString note;
        bool noteFits = false;
        QTimer::singleShot(0, &f, [&] {
            if (Form2 *dialog = f.findChild<Form2 *>()) {
                note = dialog->Label3->text();
                noteFits = dialog->Frame2->rect().contains(dialog->Label3->geometry()) &&
                           dialog->Label3->geometry().bottom() < dialog->Command1->y();
                dialog->reject();
            }
        });
        f.Command8->click();
        QVERIFY(readFile(data + "/video.htm").contains("http://www.kelvaro.com/mv/player.js?wid=1"));
        QCOMPARE(note, "已在“" + data + "”下生成名为“video.htm”");
        QVERIFY(noteFits);
    }

    // The volume and the folder last browsed to are there again in the next run.
    void theNextRunRemembers()
    {
        const QString chosen = m_home + "/歌/mine.mp3";
        QVERIFY(QDir().mkpath(m_home + "/歌"));
        {
            Window first(m_prefix + "/bin");
            QCOMPARE(first.program.form().Slider1->value(), 1000); // full, the first time
            first.program.form().Slider1->setValue(370);
            first.dialogs.saveAnswers.push_back(chosen);
            first.program.form().Command1->click();
            QCOMPARE(first.program.downloadPanel()->DownPath(), chosen);
        }
        Window next(m_prefix + "/bin");
        QCOMPARE(next.program.form().Slider1->value(), 370);
        next.program.form().Command1->click();
        QCOMPARE(next.dialogs.saves.size(), 1);
        QCOMPARE(next.dialogs.saves.first().startFolder, m_home + "/歌");
        QVERIFY(QFileInfo::exists(m_home + "/.config/kelvaro-helper/kelvaro-helper.conf"));
    }
};

KELVARO_TEST_MAIN(InstallTest)
#include "tst_install.moc"
