// `kelvaro download` as a user runs it: the built executable against the
// local server, its exit status, its messages and the file it leaves.
#include "TransferBytes.h"
#include "common/TestEnvironment.h"
#include "common/TestServer.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

class DownloadCommandTest : public QObject {
    Q_OBJECT

private:
    TestServer m_server;
    QTemporaryDir m_dir;
    int m_rowNumber = 0;
    const QByteArray m_song = patterned(70000, 5);
    const QByteArray m_slow = patterned(400 * 1024, 9);

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
        m_server.serveCutShort("/cut.mp3", m_song, 20000);
        m_server.serveSlowly("/slow.mp3", m_slow, 2048, 20);
        m_server.serve("/empty.mp3", QByteArray(), "audio/mpeg");
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
        const QByteArray earlier = patterned(3000, 11);

        QTest::newRow("to a named file") << m_server.url("/media/a.mp3") << QStringList{"-o", "{here}/mine.mp3"} << 0
                                         << "mine.mp3" << m_song << "Saved {here}/mine.mp3 (70000 bytes)" << earlier;
        QTest::newRow("name from the address") << m_server.url("/media/track%20one.mp3") << QStringList() << 0
                                               << "track one.mp3" << m_song << "Saved {here}/track one.mp3" << QByteArray();
        QTest::newRow("encoded separators stay in the folder")
            << m_server.url("/media/..%2F..%2Fescape.mp3") << QStringList() << 0 << "escape.mp3" << m_song
            << "Saved {here}/escape.mp3" << QByteArray();
        QTest::newRow("refused") << QStringLiteral("http://127.0.0.1:%1/a.mp3").arg(TestServer::refusingPort())
                                 << QStringList() << 1 << "a.mp3" << earlier << "could not reach" << earlier;
        QTest::newRow("error answer") << m_server.url("/gone.mp3") << QStringList() << 1 << "gone.mp3" << earlier
                                      << "status 404; {here}/gone.mp3 was left as it was" << earlier;
        QTest::newRow("error answer, no earlier file") << m_server.url("/gone.mp3") << QStringList() << 1 << ""
                                                       << QByteArray() << "status 404" << QByteArray();
        QTest::newRow("cut short") << m_server.url("/cut.mp3") << QStringList() << 1 << "cut.mp3" << earlier
                                   << "ended short" << earlier;
        QTest::newRow("empty answer") << m_server.url("/empty.mp3") << QStringList() << 1 << "empty.mp3" << earlier
                                      << "sent no data" << earlier;
        QTest::newRow("no address") << QString() << QStringList() << 2 << "" << QByteArray() << "Usage:"
                                    << QByteArray();
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
        const QString out = QString::fromUtf8(kelvaro.readAllStandardOutput() + kelvaro.readAllStandardError());

        QCOMPARE(kelvaro.exitStatus(), QProcess::NormalExit);
        QVERIFY2(out.contains(QString(message).replace(QLatin1String("{here}"), here)), qPrintable(out));
        QCOMPARE(kelvaro.exitCode(), exitCode);
        const QStringList left = QDir(here).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
        QCOMPARE(left, where.isEmpty() ? QStringList() : QStringList{where});
        if (!where.isEmpty())
            QCOMPARE(readFile(QDir(here).filePath(where)), content);
        // Nothing lands beside the folder either.
        QCOMPARE(QDir(here + QStringLiteral("/..")).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList());
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
        QTRY_VERIFY_WITH_TIMEOUT((err += kelvaro.readAllStandardError()).contains("%"), 30000);
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
