// The download engine against the local server: the status sequences, the
// bytes in the file, the speed rule, the stop latch and the faults of servers
// and target files.
#include "common/TransferBytes.h"
#include "common/TestEnvironment.h"
#include "core/download/Cls_DownLoad.h"
#include "common/TestServer.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

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

    // Bytes a server sends before it closes a connection that announced 64 MiB:
    // less than a chunk, not a multiple of one, beyond what the engine holds.
    static constexpr int CutAfter[] = {1, 511, 513, 70001, 300000, 3 << 20};
    // A whole file that an earlier download left at the target.
    const QByteArray m_earlier = patterned(7000, 9);

    QString freshPath() { return m_dir.filePath(QStringLiteral("target-%1.mp3").arg(++m_fileNumber)); }
    QString pathWithEarlierFile()
    {
        const QString path = freshPath();
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(m_earlier) != m_earlier.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

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
        m_server.serve("/proxy-auth", m_notFound, "text/html", 407);
        m_server.serveWithoutLength("/nolength", patterned(3000, 1));
        m_server.serveChunked("/chunked", patterned(4000, 2), 700);
        m_server.serveRedirect("/moved", "/plain");
        m_server.serveCutShort("/reset", patterned(8000, 4), 3000);
        m_server.serveStalled("/stall", patterned(8000, 5), 2000);
        m_server.serveSilence("/silent");
        m_server.serveSlowly("/slow", m_big, 4096, 30);
        m_server.serveAnnouncing("/huge", Q_INT64_C(3) << 30, patterned(1000, 6));
        for (const int sent : CutAfter)
            m_server.serveAnnouncing(QStringLiteral("/cut%1").arg(sent), Q_INT64_C(64) << 20, patterned(sent, 10));
        m_server.start();
    }

    // Status 8 ends a call the server did not answer. Everything that arrives
    // goes to the ".part"; only a whole successful answer with a body replaces
    // the complete file an earlier download left, any other ending leaves it.
    void sequences_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("trail");
        QTest::addColumn<QByteArray>("body");     // what the file must hold
        QTest::addColumn<qint64>("announced");    // lFilesize of every progress event
        QTest::addColumn<bool>("shortTransfer");
        QTest::addColumn<int>("httpStatus");
        QTest::addColumn<bool>("stalls");         // ends by the stall limit
        QTest::addColumn<bool>("replaces");       // the target holds `body` afterwards, else the earlier file
        const QString done = QStringLiteral("1,2,3,4,P,9,6");
        const QString refused = QStringLiteral("1,2,8,6");
        QTest::newRow("whole file") << m_server.url("/plain") << done << m_plain << qint64(5000) << false << 200 << false << true;
        QTest::newRow("empty body: no progress") << m_server.url("/empty") << "1,2,3,4,9,6" << QByteArray() << qint64(0)
                                                 << false << 200 << false << false;
        QTest::newRow("404 with a body") << m_server.url("/missing") << done << m_notFound
                                         << qint64(m_notFound.size()) << false << 404 << false << false;
        QTest::newRow("no Content-Length") << m_server.url("/nolength") << done << patterned(3000, 1) << qint64(0)
                                           << false << 200 << false << true;
        QTest::newRow("chunked") << m_server.url("/chunked") << done << patterned(4000, 2) << qint64(0) << false
                                 << 200 << false << true;
        QTest::newRow("redirect") << m_server.url("/moved") << done << m_plain << qint64(5000) << false << 200 << false << true;
        QTest::newRow("reset mid-body") << m_server.url("/reset") << done << patterned(8000, 4).left(3000)
                                        << qint64(8000) << true << 200 << false << false;
        QTest::newRow("stalled mid-body") << m_server.url("/stall") << done << patterned(8000, 5).left(2000)
                                          << qint64(8000) << true << 200 << true << false;
        QTest::newRow("size beyond 32 bits") << m_server.url("/huge") << done << patterned(1000, 6)
                                             << (Q_INT64_C(3) << 30) << true << 200 << false << false;
        QTest::newRow("connection refused")
            << QStringLiteral("http://127.0.0.1:%1/song.mp3").arg(TestServer::refusingPort()) << refused
            << QByteArray() << qint64(0) << false << 0 << false << false;
        QTest::newRow("unknown host") << "http://no-such-host.invalid/song.mp3" << refused << QByteArray() << qint64(0)
                                      << false << 0 << false << false;
        // The proxy's refusal is no answer from the server: nothing is saved.
        QTest::newRow("proxy turns it away (407)") << m_server.url("/proxy-auth") << refused << QByteArray()
                                                   << qint64(0) << false << 0 << false << false;
        QTest::newRow("server never answers") << m_server.url("/silent") << refused << QByteArray() << qint64(0)
                                              << false << 0 << true << false;
        QTest::newRow("not an http address") << "song.mp3" << refused << QByteArray() << qint64(0) << false << 0
                                             << false << false;
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
        QFETCH(bool, replaces);
        Cls_DownLoad engine;
        engine.setStallLimit(300);
        Recording seen(engine);
        const QString path = pathWithEarlierFile();
        const QString part = Cls_DownLoad::partPath(path);
        bool partBeforeOpening = true;
        bool partWhileReceiving = false;
        QByteArray targetWhileReceiving;
        QByteArray onDiskAtTheEnd;
        seen.onStatus = [&](int state) {
            if (state == DownloadStatus::Receiving)
                partBeforeOpening = QFileInfo::exists(part);
            if (state == DownloadStatus::DataEnded)
                onDiskAtTheEnd = readFile(path);
        };
        seen.onProgress = [&](const Progress &event) {
            if (event.downloaded <= 512) {
                partWhileReceiving = QFileInfo::exists(part);
                targetWhileReceiving = readFile(path);
            }
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
        QCOMPARE(result.complete(), replaces);
        QCOMPARE(readFile(path), replaces ? body : m_earlier);
        QVERIFY(!QFileInfo::exists(part));
        if (answered) {
            QVERIFY2(!partBeforeOpening, "the file is opened only after status 4");
            QCOMPARE(onDiskAtTheEnd, replaces ? body : m_earlier); // in place before the end is reported
        }
        if (!seen.progress.isEmpty()) { // written beside the target, which stays as it was meanwhile
            QVERIFY(partWhileReceiving);
            QCOMPARE(targetWhileReceiving, m_earlier);
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
        QVERIFY(!engine.isRunning());
        QVERIFY2(took < 10000 && (!stalls || took >= 270), qPrintable(QString::number(took))); // timers may fire 5 % early
        if (stalls)
            QVERIFY2(result.error.contains(QLatin1String("0.3 s")), qPrintable(result.error));
    }

    // A server that closes early: every byte it sent is received and
    // counted, chunk by chunk, however many it was; the earlier file stays.
    void cutTransferKeepsEveryByte_data()
    {
        QTest::addColumn<int>("sent");
        for (const int sent : CutAfter)
            QTest::addRow("%d bytes", sent) << sent;
    }
    void cutTransferKeepsEveryByte()
    {
        QFETCH(int, sent);
        Cls_DownLoad engine;
        Recording seen(engine);
        qint64 previous = 0;
        bool chunked = true;
        seen.onProgress = [&](const Progress &event) {
            chunked = chunked && event.downloaded - previous > 0 && event.downloaded - previous <= 512;
            previous = event.downloaded;
        };
        const QString path = pathWithEarlierFile();
        const DownloadResult result = engine.DLFile(m_server.url(QStringLiteral("/cut%1").arg(sent)), path, 10000);
        QCOMPARE(seen.joined(), QStringLiteral("1,2,3,4,P,9,6"));
        QCOMPARE(result.bytes, qint64(sent));
        QVERIFY(chunked);
        QCOMPARE(seen.progress.size(), (sent + 511) / 512);
        QVERIFY(result.shortTransfer && !result.complete());
        QCOMPARE(readFile(path), m_earlier);
        QVERIFY(!QFileInfo::exists(Cls_DownLoad::partPath(path)));
    }

    // The request asks for the bytes as they are, uncached; a longer file
    // already at the target is replaced by what arrived.
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
        QTest::newRow("a folder in its place") << m_dir.path() << "1,2,3,4";
        QTest::newRow("not a regular file") << QStringLiteral("/dev/full") << "1,2,3,4";
        QTest::newRow("write fails") << QStringLiteral("size-limit") << "1,2,3,4,P";
    }
    void unwritableTarget()
    {
        QFETCH(QString, path);
        QFETCH(QString, trail);
        Cls_DownLoad engine;
        Recording seen(engine);
        rlimit sizeLimit{};
        getrlimit(RLIMIT_FSIZE, &sizeLimit);
        const rlimit before = sizeLimit;
        if (path == "size-limit") { // writes beyond 1000 bytes fail, as on a full disk
            path = freshPath();
            signal(SIGXFSZ, SIG_IGN);
            sizeLimit.rlim_cur = 1000;
            QVERIFY(setrlimit(RLIMIT_FSIZE, &sizeLimit) == 0);
        }
        const DownloadResult result = engine.DLFile(m_server.url("/plain"), path, 10000);
        setrlimit(RLIMIT_FSIZE, &before);
        QVERIFY(!QFileInfo::exists(Cls_DownLoad::partPath(path)));
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
        engine.setSessionSource([] { return false; });
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
    // request is used up by the transfer it was meant for, also when it came
    // after the last chunk. A stopped transfer leaves no file behind.
    void stopRequests_data()
    {
        QTest::addColumn<QString>("when");
        QTest::addColumn<int>("events"); // progress events in all
        QTest::newRow("between chunks: one more chunk") << "delivered" << 4;
        QTest::newRow("inside the progress event: none more") << "progress" << 3;
        QTest::newRow("while idle: the first chunk") << "idle" << 1;
        QTest::newRow("after the last chunk: dropped") << "late" << 400;
    }
    void stopRequests()
    {
        QFETCH(QString, when);
        QFETCH(int, events);
        Cls_DownLoad engine;
        Recording seen(engine);
        seen.onProgress = [&](const Progress &event) {
            const bool late = when == "late" && event.downloaded == m_big.size();
            if ((seen.progress.size() == 3 && when == "delivered") || late) // as a click on the stop button would
                QMetaObject::invokeMethod(&engine, [&] { engine.DLFileStop(); }, Qt::QueuedConnection);
            else if (seen.progress.size() == 3 && when == "progress")
                engine.DLFileStop();
        };
        if (when == "idle")
            engine.DLFileStop();
        const QString path = freshPath();

        const DownloadResult result = engine.DLFile(m_server.url("/big"), path, 10000);
        const bool stopped = when != "late";
        QCOMPARE(seen.joined(), stopped ? QStringLiteral("1,2,3,4,P,5,6") : QStringLiteral("1,2,3,4,P,9,6"));
        QCOMPARE(seen.progress.size(), events);
        QCOMPARE(result.ending, stopped ? DownloadResult::Ending::Stopped : DownloadResult::Ending::Finished);
        QCOMPARE(result.bytes, seen.progress.last().downloaded);
        QCOMPARE(result.complete(), !stopped);
        QCOMPARE(QFileInfo::exists(path), !stopped);
        QVERIFY(!QFileInfo::exists(Cls_DownLoad::partPath(path)));
        QVERIFY(!engine.stopPending());
        const QString next = freshPath();
        QVERIFY(engine.DLFile(m_server.url("/plain"), next, 10000).complete());
        QCOMPARE(readFile(next), m_plain);
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
        QVERIFY(result.bytes < m_big.size());
        QVERIFY(!QFileInfo::exists(path) && !QFileInfo::exists(Cls_DownLoad::partPath(path)));
    }
};

KELVARO_TEST_MAIN(DownloadEngineTest)
#include "tst_download.moc"
