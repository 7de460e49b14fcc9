// The download engine against the local server: the status sequences, the
// bytes in the file, the speed rule, the stop latch and the faults of servers
// and target files.
#include "TransferBytes.h"
#include "common/TestEnvironment.h"
#include "download/Cls_DownLoad.h"
#include "common/TestServer.h"
#include "platform/Network.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Progress {
    QString url;
    qint64 downloaded;
    qint64 size;
    qint64 speed;
};

// Records what an engine raises, in order: statuses as their numbers and a
// run of progress events as one "P".
struct Recording {
    explicit Recording(Cls_DownLoad &engine)
    {
        QObject::connect(&engine, &Cls_DownLoad::DLFileStatus, &engine, [this](int state) {
            trail << QString::number(state);
            if (onStatus)
                onStatus(state);
        });
        QObject::connect(&engine, &Cls_DownLoad::DLFileDowning, &engine,
                         [this](const QString &url, qint64 downloaded, qint64 size, qint64 speed) {
                             if (trail.isEmpty() || trail.last() != "P")
                                 trail << "P";
                             progress.append({url, downloaded, size, speed});
                             if (onProgress)
                                 onProgress(progress.last());
                         });
    }
    QString joined() const { return trail.join(','); }

    QStringList trail;
    QList<Progress> progress;
    std::function<void(const Progress &)> onProgress;
    std::function<void(int)> onStatus;
};

} // namespace

class DownloadEngineTest : public QObject {
    Q_OBJECT

    TestServer m_server;
    QTemporaryDir m_dir;
    int m_fileNumber = 0;
    const QByteArray m_plain = patterned(5000);
    const QByteArray m_big = patterned(200 * 1024, 3);
    const QByteArray m_notFound = "<html><body><h1>404 Not Found</h1><p>no such recording</p></body></html>";

    QString freshPath() { return m_dir.filePath(QStringLiteral("target-%1.mp3").arg(++m_fileNumber)); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_server.serve("/plain", m_plain, "text/plain"); // text the server would compress if let
        m_server.serve("/big", m_big, "audio/mpeg");
        m_server.serve("/bytes1026", patterned(1026, 7), "audio/mpeg");
        m_server.serve("/bytes1030", patterned(1030, 8), "audio/mpeg");
        m_server.serve("/empty", QByteArray(), "audio/mpeg");
        m_server.serve("/missing", m_notFound, "text/html", 404);
        m_server.serveWithoutLength("/nolength", patterned(3000, 1));
        m_server.serveChunked("/chunked", patterned(4000, 2), 700);
        m_server.serveRedirect("/moved", "/plain");
        m_server.serveCutShort("/reset", patterned(8000, 4), 3000);
        m_server.serveStalled("/stall", patterned(8000, 5), 2000);
        m_server.serveSilence("/silent");
        m_server.serveSlowly("/slow", m_big, 4096, 30);
        m_server.serveAnnouncing("/huge", Q_INT64_C(3) << 30, patterned(1000, 6));
        m_server.start();
    }

    // Status 8 ends a call the server did not answer (no file); otherwise the
    // file holds exactly what arrived, and a short one says so.
    void sequences_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("trail");
        QTest::addColumn<QByteArray>("body");     // what the file must hold
        QTest::addColumn<qint64>("announced");    // lFilesize of every progress event
        QTest::addColumn<bool>("shortTransfer");
        QTest::addColumn<int>("httpStatus");
        QTest::addColumn<bool>("stalls");         // ends by the stall limit
        const QString done = QStringLiteral("1,2,3,4,P,9,6");
        const QString refused = QStringLiteral("1,2,8,6");
        QTest::newRow("whole file") << m_server.url("/plain") << done << m_plain << qint64(5000) << false << 200 << false;
        QTest::newRow("empty body: no progress") << m_server.url("/empty") << "1,2,3,4,9,6" << QByteArray() << qint64(0)
                                                 << false << 200 << false;
        QTest::newRow("404 with a body") << m_server.url("/missing") << done << m_notFound
                                         << qint64(m_notFound.size()) << false << 404 << false;
        QTest::newRow("no Content-Length") << m_server.url("/nolength") << done << patterned(3000, 1) << qint64(0)
                                           << false << 200 << false;
        QTest::newRow("chunked") << m_server.url("/chunked") << done << patterned(4000, 2) << qint64(0) << false
                                 << 200 << false;
        QTest::newRow("redirect") << m_server.url("/moved") << done << m_plain << qint64(5000) << false << 200 << false;
        QTest::newRow("reset mid-body") << m_server.url("/reset") << done << patterned(8000, 4).left(3000)
                                        << qint64(8000) << true << 200 << false;
        QTest::newRow("stalled mid-body") << m_server.url("/stall") << done << patterned(8000, 5).left(2000)
                                          << qint64(8000) << true << 200 << true;
        QTest::newRow("size beyond 32 bits") << m_server.url("/huge") << done << patterned(1000, 6)
                                             << (Q_INT64_C(3) << 30) << true << 200 << false;
        QTest::newRow("connection refused")
            << QStringLiteral("http://127.0.0.1:%1/song.mp3").arg(TestServer::refusingPort()) << refused
            << QByteArray() << qint64(0) << false << 0 << false;
        QTest::newRow("unknown host") << "http://no-such-host.invalid/song.mp3" << refused << QByteArray() << qint64(0)
                                      << false << 0 << false;
        QTest::newRow("server never answers") << m_server.url("/silent") << refused << QByteArray() << qint64(0)
                                              << false << 0 << true;
        QTest::newRow("not an http address") << "song.mp3" << refused << QByteArray() << qint64(0) << false << 0
                                             << false;
    }
    void sequences()
    {
        QFETCH(QString, url);
        QFETCH(QString, trail);
        QFETCH(QByteArray, body);
        QFETCH(qint64, announced);
        QFETCH(bool, shortTransfer);
        QFETCH(int, httpStatus);
        QFETCH(bool, stalls);
        Cls_DownLoad engine;
        engine.setStallLimit(300);
        Recording seen(engine);
        const QString path = freshPath();
        bool fileBeforeOpening = true;
        qint64 onDiskAtTheEnd = -1;
        seen.onStatus = [&](int state) {
            if (state == 4)
                fileBeforeOpening = QFileInfo::exists(path);
            if (state == 9)
                onDiskAtTheEnd = QFileInfo(path).size();
        };
        QElapsedTimer clock;
        clock.start();
        const DownloadResult result = engine.DLFile(url, path, 10000);
        const qint64 took = clock.elapsed();

        QCOMPARE(seen.joined(), trail);
        const bool answered = !trail.contains(",8,");
        QCOMPARE(result.ending, answered ? DownloadResult::Ending::Finished : DownloadResult::Ending::AddressRefused);
        QCOMPARE(result.bytes, qint64(body.size()));
        QCOMPARE(result.shortTransfer, shortTransfer);
        QCOMPARE(result.error.isEmpty(), answered && !shortTransfer);
        QCOMPARE(result.httpStatus, httpStatus);
        QCOMPARE(result.announced, announced);
        QCOMPARE(QFileInfo::exists(path), answered);
        if (answered) {
            QVERIFY2(!fileBeforeOpening, "the target is opened only after status 4");
            QCOMPARE(onDiskAtTheEnd, qint64(body.size())); // all of it is written before the end is reported
            QCOMPARE(readFile(path), body);
        }
        qint64 previous = 0;
        for (const Progress &event : seen.progress) {
            QCOMPARE(event.url, url);
            QCOMPARE(event.size, announced);
            QVERIFY2(event.downloaded > previous && event.downloaded - previous <= 512,
                     qPrintable(QStringLiteral("a chunk of %1 bytes").arg(event.downloaded - previous)));
            previous = event.downloaded;
        }
        QCOMPARE(previous, result.bytes);
        QCOMPARE(networkManager().findChildren<QNetworkReply *>().size(), 0);
        QVERIFY(!engine.isRunning());
        QVERIFY2(took < 10000 && (!stalls || took >= 270), qPrintable(QString::number(took))); // timers may fire 5 % early
        if (stalls)
            QVERIFY2(result.error.contains(QLatin1String("0.3 s")), qPrintable(result.error));
    }

    // The request asks for the bytes as they are, uncached; a longer file
    // already at the target is cut to what arrived.
    void requestAndTruncation()
    {
        const QString path = freshPath();
        {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write(QByteArray(20000, 'X')) == 20000);
        }
        Cls_DownLoad engine;
        QVERIFY(engine.DLFile(m_server.url("/plain"), path, 10000).complete());
        QCOMPARE(readFile(path), m_plain);
        const QByteArray headers = m_server.lastRequestHeaders("/plain");
        for (const QByteArray header : {"User-Agent: VB Http", "Cache-Control: no-cache", "Accept-Encoding: identity"})
            QVERIFY2(headers.split('\n').contains(header), headers.constData());
    }

    // Once the file fails, no status follows; nothing is left half-open.
    void unwritableTarget_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("trail");
        QTest::newRow("missing folder") << m_dir.filePath(QStringLiteral("no-such-folder/song.mp3")) << "1,2,3,4";
        QTest::newRow("device that is always full") << QStringLiteral("/dev/full") << "1,2,3,4,P";
    }
    void unwritableTarget()
    {
        QFETCH(QString, path);
        QFETCH(QString, trail);
        Cls_DownLoad engine;
        Recording seen(engine);
        const DownloadResult result = engine.DLFile(m_server.url("/plain"), path, 10000);
        QCOMPARE(seen.joined(), trail);
        QCOMPARE(result.ending, DownloadResult::Ending::FileError);
        QCOMPARE(result.bytes, qint64(0));
        QVERIFY2(result.error.contains(path), qPrintable(result.error));
        QVERIFY(!engine.isRunning());
        const QString good = freshPath();
        QVERIFY(engine.DLFile(m_server.url("/plain"), good, 10000).complete());
        QCOMPARE(readFile(good), m_plain);
    }

    void noSession()
    {
        Cls_DownLoad engine;
        engine.setSessionSource([]() -> QNetworkAccessManager * { return nullptr; });
        Recording seen(engine);
        const QString path = freshPath();
        const int requests = m_server.requestCount("/big");
        const DownloadResult result = engine.DLFile(m_server.url("/big"), path, 10000);
        QCOMPARE(seen.joined(), QStringLiteral("1,7"));
        QCOMPARE(result.ending, DownloadResult::Ending::NoSession);
        QVERIFY(!QFileInfo::exists(path));
        QCOMPARE(m_server.requestCount("/big"), requests);
    }

    // When the stop request arrives decides how many chunks follow it; the
    // request is used up by the transfer it stopped.
    void stopRequests_data()
    {
        QTest::addColumn<QString>("when");
        QTest::addColumn<int>("events"); // progress events in all
        QTest::newRow("between chunks: one more chunk") << "delivered" << 4;
        QTest::newRow("inside the progress event: none more") << "progress" << 3;
        QTest::newRow("while idle: the first chunk") << "idle" << 1;
    }
    void stopRequests()
    {
        QFETCH(QString, when);
        QFETCH(int, events);
        Cls_DownLoad engine;
        Recording seen(engine);
        seen.onProgress = [&](const Progress &) {
            if (seen.progress.size() == 3 && when == "delivered") // as a click on the stop button would
                QMetaObject::invokeMethod(&engine, [&] { engine.DLFileStop(); }, Qt::QueuedConnection);
            else if (seen.progress.size() == 3 && when == "progress")
                engine.DLFileStop();
        };
        if (when == "idle")
            engine.DLFileStop();
        const QString path = freshPath();

        const DownloadResult result = engine.DLFile(m_server.url("/big"), path, 10000);
        QCOMPARE(seen.joined(), QStringLiteral("1,2,3,4,P,5,6"));
        QCOMPARE(seen.progress.size(), events);
        QCOMPARE(result.ending, DownloadResult::Ending::Stopped);
        QCOMPARE(result.bytes, seen.progress.last().downloaded);
        QCOMPARE(readFile(path), m_big.left(int(result.bytes)));
        QVERIFY(!result.complete() && !result.shortTransfer);
        QVERIFY(!engine.stopPending());
        QVERIFY(engine.DLFile(m_server.url("/plain"), freshPath(), 10000).complete());
    }

    // The clock (seconds since midnight) answers the start time first, then
    // `now` for every chunk; speeds round half to even.
    void speedRule_data()
    {
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("now");
        QTest::addColumn<QString>("route");
        QTest::addColumn<qint64>("lastSpeed");
        QTest::newRow("no whole second yet") << 100.0 << 100.5 << "/plain" << qint64(1025);
        QTest::newRow("past midnight: negative") << 86399.6 << 0.2 << "/plain" << qint64(1025);
        QTest::newRow("elapsed 2.5 rounds to 2") << 0.0 << 2.5 << "/plain" << qint64(2500);
        QTest::newRow("elapsed 3.5 rounds to 4") << 0.0 << 3.5 << "/plain" << qint64(1250);
        QTest::newRow("256.5 rounds to 256") << 0.0 << 4.0 << "/bytes1026" << qint64(256);
        QTest::newRow("257.5 rounds to 258") << 0.0 << 4.0 << "/bytes1030" << qint64(258);
    }
    void speedRule()
    {
        QFETCH(double, start);
        QFETCH(double, now);
        QFETCH(QString, route);
        QFETCH(qint64, lastSpeed);
        Cls_DownLoad engine;
        bool first = true;
        engine.setClock([&] { return std::exchange(first, false) ? start : now; });
        Recording seen(engine);
        QVERIFY(engine.DLFile(m_server.url(route), freshPath(), 10000).complete());
        QCOMPARE(seen.progress.last().speed, lastSpeed);
    }

    // Last: once the application has been told to quit, no event loop of
    // this process runs again. The transfer must end instead of spinning on
    // a wait that returns at once.
    void applicationLeavingEndsTheTransfer()
    {
        Cls_DownLoad engine;
        Recording seen(engine);
        seen.onProgress = [&](const Progress &) { QCoreApplication::exit(0); };
        const QString path = freshPath();
        const DownloadResult result = engine.DLFile(m_server.url("/slow"), path, 10000);
        QCOMPARE(seen.joined(), QStringLiteral("1,2,3,4,P,9,6"));
        QVERIFY(result.shortTransfer);
        QCOMPARE(readFile(path), m_big.left(int(result.bytes)));
        QVERIFY(result.bytes < m_big.size());
    }
};

KELVARO_TEST_MAIN(DownloadEngineTest)
#include "tst_download.moc"
