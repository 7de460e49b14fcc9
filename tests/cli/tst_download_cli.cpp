// `kelvaro download` as a user runs it: the built executable against the
// local server, its exit status, its messages and the file it leaves.
#include "common/TransferBytes.h"
#include "common/TestEnvironment.h"
#include "common/TestServer.h"

#include <httplib.h>

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/mount.h>
#include <unistd.h>

class DownloadCommandTest : public QObject {
    Q_OBJECT

private:
    TestServer m_server;
    QTemporaryDir m_dir;
    int m_rowNumber = 0;
    const QByteArray m_song = patterned(70000, 5);
    const QByteArray m_slow = patterned(400 * 1024, 9);
    const QByteArray m_page = "<html><body>a recording page</body></html>";
    std::shared_ptr<RangeRoute> m_breaks; // can be continued; breaks off when told

    QString rowFolder()
    {
        const QString folder = m_dir.filePath(QStringLiteral("row%1/inner").arg(++m_rowNumber));
        QDir().mkpath(folder);
        return folder;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_server.serve("/media/.*", m_song, "audio/mpeg");
        m_server.serve("/gone.mp3", "<html>gone</html>", "text/html", 404);
        m_server.serve("/s/page.mp3", m_page, "text/html; charset=utf-8");
        m_server.serveCutShort("/cut.mp3", m_song, 20000);
        m_server.serveSlowly("/slow.mp3", m_slow, 2048, 20);
        m_server.serve("/empty.mp3", QByteArray(), "audio/mpeg");
        m_server.serveStalled("/stall.mp3", m_song, 4000);
        m_server.http().Get("/to-file.mp3", [](const httplib::Request &, httplib::Response &res) {
            res.status = 302;
            res.set_header("Location", "file:///etc/passwd");
        });
        RangeAnswers breaks;
        breaks.body = m_song;
        breaks.etag = "\"song-1\"";
        m_breaks = m_server.serveRanges("/breaks.mp3", breaks);
        m_server.start();
    }

    // `where` is the file the download must leave, relative to the folder
    // the command runs in; "" when none. `earlier` is put there first: only
    // a complete download replaces it.
    void runs_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QStringList>("options"); // "{here}" is the folder the command runs in
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("where");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("message"); // expected in stdout or stderr
        QTest::addColumn<QByteArray>("earlier");
        QTest::addColumn<bool>("progress"); // the transfer's start and end lines are on stderr
        const QByteArray earlier = patterned(3000, 11);

        QTest::newRow("to a named file") << m_server.url("/media/a.mp3") << QStringList{"-o", "{here}/mine.mp3"} << 0
                                         << "mine.mp3" << m_song << "Saved {here}/mine.mp3 (70000 bytes)" << earlier
                                         << true;
        QTest::newRow("name from the address") << m_server.url("/media/track%20one.mp3") << QStringList() << 0
                                               << "track one.mp3" << m_song << "Saved {here}/track one.mp3"
                                               << QByteArray() << true;
        QTest::newRow("encoded separators stay in the folder")
            << m_server.url("/media/..%2F..%2Fescape.mp3") << QStringList() << 0 << "escape.mp3" << m_song
            << "Saved {here}/escape.mp3" << QByteArray() << true;
        QTest::newRow("refused") << QStringLiteral("http://127.0.0.1:%1/a.mp3").arg(TestServer::refusingPort())
                                 << QStringList() << 1 << "a.mp3" << earlier << "could not reach" << earlier << false;
        QTest::newRow("error answer") << m_server.url("/gone.mp3") << QStringList() << 1 << "gone.mp3" << earlier
                                      << "status 404; {here}/gone.mp3 was left as it was" << earlier << false;
        QTest::newRow("error answer, no earlier file") << m_server.url("/gone.mp3") << QStringList() << 1 << ""
                                                       << QByteArray() << "status 404; nothing saved" << QByteArray()
                                                       << false;
        QTest::newRow("web page as an MP3")
            << m_server.url("/s/page.mp3") << QStringList() << 1 << "page.mp3" << earlier
            << "looks like a web page (text/html), not an audio file; for a recording page use 'kelvaro get "
                   + m_server.url("/s/page.mp3") + "'; {here}/page.mp3 was left as it was"
            << earlier << false;
        QTest::newRow("web page as an MP3, no earlier file") << m_server.url("/s/page.mp3") << QStringList() << 1 << ""
                                                             << QByteArray() << "looks like a web page" << QByteArray()
                                                             << false;
        QTest::newRow("web page to another name") << m_server.url("/s/page.mp3") << QStringList{"-o", "{here}/p.html"}
                                                  << 0 << "p.html" << m_page << "Saved {here}/p.html" << QByteArray()
                                                  << true;
        QTest::newRow("cut short") << m_server.url("/cut.mp3") << QStringList{"--retries", "0"} << 1 << "cut.mp3" << earlier
                                   << "ended short" << earlier << true;
        QTest::newRow("empty answer") << m_server.url("/empty.mp3") << QStringList() << 1 << "empty.mp3" << earlier
                                      << "sent no data" << earlier << false;
        QTest::newRow("no address") << QString() << QStringList() << 2 << "" << QByteArray() << "Usage:"
                                    << QByteArray() << false;
        QTest::newRow("--no-continue, --retries 0, --no-tags")
            << m_server.url("/media/b.mp3") << QStringList{"--no-continue", "--retries", "0", "--no-tags"} << 0
            << "b.mp3" << m_song << "Saved {here}/b.mp3 (70000 bytes)" << QByteArray() << true;
        QTest::newRow("--retries without a number") << m_server.url("/media/c.mp3") << QStringList{"--retries", "x"} << 2
                                                    << "" << QByteArray() << "--retries needs a number from 0 to 10"
                                                    << QByteArray() << false;
        QTest::newRow("help tells the options") << QString() << QStringList{"--help"} << 0 << "" << QByteArray()
                                                << "--retries N" << QByteArray() << false;
    }

    void runs()
    {
        QFETCH(QString, address);
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QFETCH(QString, where);
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        QFETCH(QByteArray, earlier);
        QFETCH(bool, progress);

        const QString here = rowFolder();
        if (!earlier.isEmpty()) {
            QFile file(QDir(here).filePath(where));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(earlier) == earlier.size());
        }
        QStringList args{QStringLiteral("download")};
        if (!address.isEmpty())
            args << address;
        for (const QString &option : options)
            args << QString(option).replace(QLatin1String("{here}"), here);
        QProcess kelvaro;
        kelvaro.setWorkingDirectory(here);
        kelvaro.start(QStringLiteral(KELVARO_CLI), args);
        QVERIFY(kelvaro.waitForFinished(60000));
        const QString err = QString::fromUtf8(kelvaro.readAllStandardError());
        const QString out = QString::fromUtf8(kelvaro.readAllStandardOutput()) + err;

        QCOMPARE(kelvaro.exitStatus(), QProcess::NormalExit);
        QVERIFY2(out.contains(QString(message).replace(QLatin1String("{here}"), here)), qPrintable(out));
        // stderr is no terminal here: no frames redrawn in place, only a line
        // when the data starts and one with the final count.
        QVERIFY2(!err.contains(QLatin1Char('\r')), qPrintable(err));
        const QStringList lines = err.split(QLatin1Char('\n'));
        const qsizetype started = lines.indexOf(QRegularExpression(QStringLiteral("^receiving \\(.+\\)$")));
        QCOMPARE(started >= 0, progress);
        if (progress)
            QVERIFY2(lines.value(started + 1).endsWith(QLatin1String("/s")) && lines.count(lines.at(started)) == 1,
                     qPrintable(err));
        else
            QVERIFY2(!err.contains(QLatin1String("/s\n")), qPrintable(err));
        QCOMPARE(kelvaro.exitCode(), exitCode);
        const QStringList left = QDir(here).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
        QCOMPARE(left, where.isEmpty() ? QStringList() : QStringList{where});
        if (!where.isEmpty())
            QCOMPARE(readFile(QDir(here).filePath(where)), content);
        // Nothing lands beside the folder either.
        QCOMPARE(QDir(here + QStringLiteral("/..")).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList());
    }

    // On a terminal the line is redrawn in place: the size from the first
    // frame on, the speed and time left only once the speed has been
    // measured, and the last frame with the average speed and no time left.
    void terminalFrames()
    {
        const QString here = rowFolder();
        const QString command = QStringLiteral("'%1' download '%2' -o '%3/t.mp3'")
                                    .arg(QStringLiteral(KELVARO_CLI), m_server.url("/slow.mp3"), here);
        QProcess terminal; // `script` gives the command a terminal, and copies what it draws
        terminal.start(QStringLiteral("script"), {"-qfec", command, "/dev/null"});
        QVERIFY(terminal.waitForFinished(60000));
        QCOMPARE(terminal.exitCode(), 0);
        QCOMPARE(readFile(here + "/t.mp3"), m_slow);
        const QString drawn = QString::fromUtf8(terminal.readAllStandardOutput());
        QStringList frames;
        for (const QString &frame : drawn.split(QRegularExpression(QStringLiteral("[\r\n]+")), Qt::SkipEmptyParts))
            if (frame.startsWith(QLatin1Char('[')))
                frames << frame.trimmed();
        const QString bar = QStringLiteral("^\\[[#-]{30}\\] +\\d+%  [\\d.]+ (B|KiB) of 400.0 KiB");
        QVERIFY2(frames.size() >= 5 && frames.first().contains(QRegularExpression(bar + "$")), qPrintable(drawn));
        QVERIFY2(frames.indexOf(QRegularExpression(bar + "  [\\d.]+ (B|KiB|MiB)/s  0:\\d\\d left$")) > 0, qPrintable(drawn));
        QVERIFY2(frames.last().contains(QRegularExpression("^\\[#{30}\\] 100%  400.0 KiB of 400.0 KiB  [\\d.]+ KiB/s$")),
                 qPrintable(frames.last()));
    }

    // A download broken off at 20000 bytes: retried and continued at once,
    // or (without retries) kept and continued by the next run unless that
    // one asks to start over. The file is the song, byte for byte.
    void continuesAndRetries_data()
    {
        QTest::addColumn<QStringList>("first");  // options of the first run
        QTest::addColumn<QStringList>("second"); // of a second run, when the first failed
        QTest::addColumn<QStringList>("said");   // in order, across both runs
        QTest::addColumn<QByteArray>("ranges"); // what the second answer was asked for (the first: all)
        const QByteArray rest = "Range=bytes=20000-;If-Range=\"song-1\"";
        QTest::newRow("retried, continued")
            << QStringList() << QStringList() << QStringList{"retry 1 of 3 after 1 s", "resuming at 20000 bytes", "Saved"} << rest;
        QTest::newRow("kept, continued by the next run")
            << QStringList{"--retries", "0"} << QStringList()
            << QStringList{"ended short", "20000 bytes kept in b.mp3.part for the next download", "resuming at 20000 bytes",
                           "Saved"}
            << rest;
        QTest::newRow("kept, started over") << QStringList{"--retries", "0"} << QStringList{"--no-continue"}
                                            << QStringList{"ended short", "Saved"} << QByteArray("Range=;If-Range=");
    }
    void continuesAndRetries()
    {
        QFETCH(QStringList, first);
        QFETCH(QStringList, second);
        QFETCH(QStringList, said);
        QFETCH(QByteArray, ranges);
        m_breaks->change([](RangeAnswers &answers) {
            answers.cutAfter = 20000;
            answers.cuts = 1;
        });
        const qsizetype asked = m_breaks->requests().size();
        const QString here = rowFolder();
        QString out;
        int exitCode = -1;
        for (const QStringList &options : {first, second}) {
            QProcess kelvaro;
            kelvaro.setWorkingDirectory(here);
            kelvaro.start(QStringLiteral(KELVARO_CLI),
                          QStringList{"download", m_server.url("/breaks.mp3"), "-o", "b.mp3"} + options);
            QVERIFY(kelvaro.waitForFinished(60000));
            out += QString::fromUtf8(kelvaro.readAllStandardError() + kelvaro.readAllStandardOutput());
            exitCode = kelvaro.exitCode();
            if (exitCode == 0)
                break;
        }
        QCOMPARE(exitCode, 0);
        qsizetype at = 0;
        for (const QString &text : said) {
            at = out.indexOf(text, at);
            QVERIFY2(at >= 0, qPrintable(text + QStringLiteral(" not found in order in:\n") + out));
        }
        QCOMPARE(m_breaks->requests().mid(asked), QList<QByteArray>({"Range=;If-Range=", ranges}));
        QCOMPARE(readFile(QDir(here).filePath("b.mp3")), m_song);
        QCOMPARE(QDir(here).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"b.mp3"});
    }

    // Hostile folders and answers for the file layer. `plant` is put at
    // "{target}.part" first (the victim is a file outside the folder):
    // whatever it is, it is never written through nor removed, and the
    // download lands in the folder as the target. `name` is the -o name,
    // `saved` the name the file must end up with.
    void hostile_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("plant"); // symlink, hardlink, folder, file, readonly, full or ""
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("saved"); // "" when nothing may be saved
        QTest::addColumn<QString>("message");

        const QString media = m_server.url("/media/x.mp3");
        for (const char *plant : {"symlink", "hardlink", "folder", "file"})
            QTest::newRow(qPrintable(QStringLiteral("planted %1 .part").arg(QLatin1String(plant))))
                << media << "song.mp3" << plant << 0 << "song.mp3" << "Saved {here}/song.mp3 (70000 bytes)";
        QTest::newRow("planted symlink .part, 404") << m_server.url("/gone.mp3") << "song.mp3" << "symlink" << 1
                                                    << "" << "status 404";
        const auto latin = [](int bytes) { return QString(bytes - 4, QLatin1Char('a')) + QStringLiteral(".mp3"); };
        for (const int bytes : {250, 251, 255, 256}) {
            const QString saved = bytes <= 250 ? latin(bytes) : latin(250);
            QTest::newRow(qPrintable(QStringLiteral("%1-byte name").arg(bytes)))
                << media << latin(bytes) << "" << 0 << saved << "Saved {here}/" + saved;
        }
        // 100 characters of 3 bytes: shortened to 82 of them and the extension.
        const QString chinese = QString(100, QChar(0x6B4C)) + QStringLiteral(".mp3");
        const QString chineseSaved = QString(82, QChar(0x6B4C)) + QStringLiteral(".mp3");
        QTest::newRow("100 Chinese characters") << media << chinese << "" << 0 << chineseSaved
                                                << "Saved {here}/" + chineseSaved;
        QTest::newRow("file:// redirect") << m_server.url("/to-file.mp3") << "song.mp3" << "" << 1 << ""
                                          << "refused a redirect to file:///etc/passwd: only http and https are followed";
        QTest::newRow("disk full") << media << "song.mp3" << "full" << 1 << "" << "No space left on device";
    }

    void hostile()
    {
        QFETCH(QString, address);
        QFETCH(QString, name);
        QFETCH(QString, plant);
        QFETCH(int, exitCode);
        QFETCH(QString, saved);
        QFETCH(QString, message);

        const QString here = rowFolder();
        const QString victim = m_dir.filePath(QStringLiteral("victim%1").arg(m_rowNumber));
        const QByteArray victimBytes = "VICTIM\n";
        {
            QFile file(victim);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(victimBytes) == victimBytes.size());
        }
        const QString part = QDir(here).filePath(name + QStringLiteral(".part"));
        if (plant == QLatin1String("symlink"))
            QVERIFY(QFile::link(victim, part));
        else if (plant == QLatin1String("hardlink"))
            QCOMPARE(::link(QFile::encodeName(victim).constData(), QFile::encodeName(part).constData()), 0);
        else if (plant == QLatin1String("folder"))
            QVERIFY(QDir().mkdir(part));
        else if (plant == QLatin1String("file"))
            QVERIFY(QFile::copy(victim, part));
        const auto unmount = qScopeGuard([&] { if (plant == QLatin1String("full")) ::umount(QFile::encodeName(here).constData()); });
        if (plant == QLatin1String("full")) {
            // A 64 KiB file system cannot take the 70000-byte song.
            if (::mount("tmpfs", QFile::encodeName(here).constData(), "tmpfs", 0, "size=64k") != 0)
                QSKIP("mounting a small tmpfs is not permitted here");
        }

        QProcess kelvaro;
        kelvaro.setWorkingDirectory(here);
        kelvaro.start(QStringLiteral(KELVARO_CLI), {QStringLiteral("download"), address, QStringLiteral("-o"),
                                                    QDir(here).filePath(name)});
        QVERIFY(kelvaro.waitForFinished(60000));
        const QString out = QString::fromUtf8(kelvaro.readAllStandardOutput() + kelvaro.readAllStandardError());
        QVERIFY2(out.contains(QString(message).replace(QLatin1String("{here}"), here)), qPrintable(out));
        QCOMPARE(kelvaro.exitCode(), exitCode);

        // The victim is as it was; the planted thing is still there, untouched.
        QCOMPARE(readFile(victim), victimBytes);
        QStringList expected;
        if (!saved.isEmpty())
            expected << saved;
        if (!plant.isEmpty() && plant != QLatin1String("full"))
            expected << name + QStringLiteral(".part");
        expected.sort();
        QCOMPARE(QDir(here).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name),
                 expected);
        if (!saved.isEmpty()) {
            QVERIFY(!QFileInfo(QDir(here).filePath(saved)).isSymLink());
            QCOMPARE(readFile(QDir(here).filePath(saved)), m_song);
        }
        if (plant == QLatin1String("symlink"))
            QCOMPARE(QFileInfo(part).symLinkTarget(), victim);
    }

    // A stop signal during a stall: SIGINT, SIGTERM and SIGHUP alike end the
    // transfer at once, exit with 128 + the signal, keep the earlier file
    // and leave no ".part".
    void stopDuringStall_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
    }

    void stopDuringStall()
    {
        QFETCH(int, signalNumber);
        const QString here = rowFolder();
        const QByteArray earlier = patterned(3000, 11);
        {
            QFile file(QDir(here).filePath(QStringLiteral("stall.mp3")));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(earlier) == earlier.size());
        }
        QProcess kelvaro;
        kelvaro.setWorkingDirectory(here);
        kelvaro.start(QStringLiteral(KELVARO_CLI), {QStringLiteral("download"), m_server.url("/stall.mp3")});
        QVERIFY(kelvaro.waitForStarted());
        // The server sends 4000 bytes and then nothing.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(QDir(here).filePath(QStringLiteral("stall.mp3.part"))).size() == 4000, 30000);
        QElapsedTimer stopping;
        stopping.start();
        QCOMPARE(::kill(pid_t(kelvaro.processId()), signalNumber), 0);
        QVERIFY(kelvaro.waitForFinished(30000));
        const qint64 stopMs = stopping.elapsed();
        const QByteArray err = kelvaro.readAllStandardError();

        QVERIFY2(stopMs < 500, qPrintable(QStringLiteral("took %1 ms to stop").arg(stopMs)));
        QCOMPARE(kelvaro.exitStatus(), QProcess::NormalExit);
        QCOMPARE(kelvaro.exitCode(), 128 + signalNumber);
        QVERIFY2(err.contains("stopped after 4000 bytes"), err);
        QCOMPARE(QDir(here).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"stall.mp3"});
        QCOMPARE(readFile(QDir(here).filePath(QStringLiteral("stall.mp3"))), earlier);
    }

    // Ctrl-C stops the transfer; the earlier file stays, no ".part" is left.
    void interruptStopsCleanly()
    {
        const QString here = rowFolder();
        const QByteArray earlier = patterned(3000, 11);
        {
            QFile file(QDir(here).filePath(QStringLiteral("slow.mp3")));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(earlier) == earlier.size());
        }
        QProcess kelvaro;
        kelvaro.setWorkingDirectory(here);
        kelvaro.start(QStringLiteral(KELVARO_CLI), {QStringLiteral("download"), m_server.url("/slow.mp3")});
        QVERIFY(kelvaro.waitForStarted());
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT((err += kelvaro.readAllStandardError()).contains("receiving (400.0 KiB)\n"), 30000);
        QCOMPARE(::kill(pid_t(kelvaro.processId()), SIGINT), 0);
        QVERIFY(kelvaro.waitForFinished(30000));
        err += kelvaro.readAllStandardError();

        QCOMPARE(kelvaro.exitStatus(), QProcess::NormalExit); // not killed by the signal
        QCOMPARE(kelvaro.exitCode(), 130);
        QVERIFY2(err.contains("stopped"), err);
        QCOMPARE(QDir(here).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"slow.mp3"});
        QCOMPARE(readFile(QDir(here).filePath(QStringLiteral("slow.mp3"))), earlier);
    }
};

KELVARO_TEST_MAIN(DownloadCommandTest)
#include "tst_download_cli.moc"
