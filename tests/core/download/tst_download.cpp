// The download engine against the local server: the status sequences, the
// bytes in the file, the reading of results, the stop latch, the shared
// connections and the faults of servers and target files.
#include "common/EngineWait.h"
#include "common/TransferBytes.h"
#include "common/TestEnvironment.h"
#include "core/download/Cls_DownLoad.h"
#include "common/TestServer.h"

#include <httplib.h>

#include <QElapsedTimer>
#include <QMutex>
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
                         [this](const QString &url, qint64 downloaded, qint64 size) {
                             if (trail.isEmpty() || trail.last() != "P")
                                 trail << "P";
                             progress.append({url, downloaded, size});
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
    const QByteArray m_large = patterned(2 << 20, 8);
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
        m_server.serve("/large", m_large, "audio/mpeg");
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
        const std::optional<DownloadResult> ended = transferred(engine, url, path);
        const qint64 took = clock.elapsed();
        QVERIFY(ended);
        const DownloadResult &result = *ended;

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
        const std::optional<DownloadResult> ended =
            transferred(engine, m_server.url(QStringLiteral("/cut%1").arg(sent)), path);
        QVERIFY(ended);
        const DownloadResult &result = *ended;
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
        const std::optional<DownloadResult> result = transferred(engine, m_server.url("/plain"), path);
        QVERIFY(result && result->complete());
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
        const std::optional<DownloadResult> ended = transferred(engine, m_server.url("/plain"), path);
        setrlimit(RLIMIT_FSIZE, &before);
        QVERIFY(ended);
        const DownloadResult &result = *ended;
        QVERIFY(!QFileInfo::exists(Cls_DownLoad::partPath(path)));
        QCOMPARE(seen.joined(), trail);
        QCOMPARE(result.ending, DownloadResult::Ending::FileError);
        QCOMPARE(result.bytes, qint64(0));
        QVERIFY2(result.error.contains(path), qPrintable(result.error));
        QVERIFY(!engine.isRunning());
        const QString good = freshPath();
        const std::optional<DownloadResult> next = transferred(engine, m_server.url("/plain"), good);
        QVERIFY(next && next->complete());
        QCOMPARE(readFile(good), m_plain);
    }

    void noSession()
    {
        Cls_DownLoad engine;
        engine.setSessionSource([] { return false; });
        Recording seen(engine);
        const QString path = freshPath();
        const int requests = m_server.requestCount("/big");
        const std::optional<DownloadResult> result = transferred(engine, m_server.url("/big"), path);
        QVERIFY(result);
        QCOMPARE(seen.joined(), QStringLiteral("1,7"));
        QCOMPARE(result->ending, DownloadResult::Ending::NoSession);
        QCOMPARE(classifyDownload(*result), DownloadClass::Refused);
        QVERIFY(!QFileInfo::exists(path));
        QCOMPARE(m_server.requestCount("/big"), requests);
    }

    // When the stop request arrives decides how many chunks follow it; the
    // request is used up by the transfer it was meant for, also when it came
    // after the last chunk. A stopped transfer leaves no file behind. A stop
    // from the event loop (a click) is seen when the round of chunks it came
    // in is over: one more chunk after at most a round's worth.
    void stopRequests_data()
    {
        QTest::addColumn<QString>("when");
        QTest::addColumn<int>("fewest"); // progress events in all
        QTest::addColumn<int>("most");
        const int round = int(Cls_DownLoad::RoundBytes / Cls_DownLoad::ChunkSize);
        QTest::newRow("between chunks: one more chunk after the round") << "delivered" << 4 << 3 + round + 1;
        QTest::newRow("inside the progress event: none more") << "progress" << 3 << 3;
        QTest::newRow("while idle: the first chunk") << "idle" << 1 << 1;
        QTest::newRow("after the last chunk: dropped") << "late" << 400 << 400;
    }
    void stopRequests()
    {
        QFETCH(QString, when);
        QFETCH(int, fewest);
        QFETCH(int, most);
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

        const std::optional<DownloadResult> ended = transferred(engine, m_server.url("/big"), path);
        QVERIFY(ended);
        const DownloadResult &result = *ended;
        const bool stopped = when != "late";
        QCOMPARE(seen.joined(), stopped ? QStringLiteral("1,2,3,4,P,5,6") : QStringLiteral("1,2,3,4,P,9,6"));
        QVERIFY2(seen.progress.size() >= fewest && seen.progress.size() <= most,
                 qPrintable(QString::number(seen.progress.size())));
        QCOMPARE(result.ending, stopped ? DownloadResult::Ending::Stopped : DownloadResult::Ending::Finished);
        QCOMPARE(result.bytes, seen.progress.last().downloaded);
        QCOMPARE(result.complete(), !stopped);
        QCOMPARE(QFileInfo::exists(path), !stopped);
        QVERIFY(!QFileInfo::exists(Cls_DownLoad::partPath(path)));
        QVERIFY(!engine.stopPending());
        const QString next = freshPath();
        const std::optional<DownloadResult> again = transferred(engine, m_server.url("/plain"), next);
        QVERIFY(again && again->complete());
        QCOMPARE(readFile(next), m_plain);
    }


    // DLFile only starts: nothing is reported from inside the call, a second
    // call while the first runs is refused without a trace, and the end is
    // reported once.
    void startsAndReportsFromTheEventLoop()
    {
        Cls_DownLoad engine;
        Recording seen(engine);
        QSignalSpy finished(&engine, &Cls_DownLoad::DLFileFinished);
        const QString path = freshPath();
        const int bigRequests = m_server.requestCount("/big");
        QVERIFY(engine.DLFile(m_server.url("/plain"), path));
        QVERIFY(engine.isRunning());
        QVERIFY(!engine.DLFile(m_server.url("/big"), freshPath()));
        QCOMPARE(seen.joined(), QString());
        QVERIFY(finished.wait(10000));
        QTest::qWait(50);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(seen.joined(), QStringLiteral("1,2,3,4,P,9,6"));
        QVERIFY(finished.first().first().value<DownloadResult>().complete());
        QVERIFY(!engine.isRunning());
        QCOMPARE(readFile(path), m_plain);
        QCOMPARE(m_server.requestCount("/big"), bigRequests);
    }

    // However fast the data comes, the event loop gets its turn after at
    // most a round of chunks: a zero timer keeps firing during the transfer.
    void roundsLeaveTheEventLoopItsTurn()
    {
        Cls_DownLoad engine;
        int events = 0;
        int sinceTick = 0;
        int mostBetweenTicks = 0;
        int ticks = 0;
        connect(&engine, &Cls_DownLoad::DLFileDowning, this, [&] {
            ++events;
            mostBetweenTicks = std::max(mostBetweenTicks, ++sinceTick);
        });
        QTimer tick;
        tick.setInterval(0);
        connect(&tick, &QTimer::timeout, this, [&] {
            ++ticks;
            sinceTick = 0;
        });
        tick.start();
        const std::optional<DownloadResult> result = transferred(engine, m_server.url("/large"), freshPath());
        tick.stop();
        QVERIFY(result && result->complete());
        QCOMPARE(events, m_large.size() / Cls_DownLoad::ChunkSize);
        QVERIFY2(mostBetweenTicks <= Cls_DownLoad::RoundBytes / Cls_DownLoad::ChunkSize,
                 qPrintable(QString::number(mostBetweenTicks)));
        QVERIFY(ticks >= m_large.size() / Cls_DownLoad::RoundBytes);
    }

    // One reading of every ending; where several things went wrong, the
    // server's status comes before a cut, and a cut before an empty body.
    void classification_data()
    {
        using Ending = DownloadResult::Ending;
        QTest::addColumn<int>("ending");
        QTest::addColumn<int>("httpStatus");
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<bool>("shortTransfer");
        QTest::addColumn<int>("expected");
        const auto row = [](const char *name, Ending ending, int status, qint64 bytes, bool cut, DownloadClass is) {
            QTest::newRow(name) << int(ending) << status << bytes << cut << int(is);
        };
        row("whole body", Ending::Finished, 200, 5000, false, DownloadClass::Complete);
        row("206 is a success too", Ending::Finished, 206, 10, false, DownloadClass::Complete);
        row("stopped", Ending::Stopped, 200, 512, false, DownloadClass::Stopped);
        row("no session", Ending::NoSession, 0, 0, false, DownloadClass::Refused);
        row("no answer", Ending::AddressRefused, 0, 0, false, DownloadClass::Refused);
        row("error page", Ending::Finished, 404, 300, false, DownloadClass::HttpError);
        row("error page cut short: the status first", Ending::Finished, 500, 100, true, DownloadClass::HttpError);
        row("a redirect not followed", Ending::Finished, 301, 0, false, DownloadClass::HttpError);
        row("cut short", Ending::Finished, 200, 3000, true, DownloadClass::CutShort);
        row("nothing of an announced body", Ending::Finished, 200, 0, true, DownloadClass::CutShort);
        row("empty body", Ending::Finished, 200, 0, false, DownloadClass::Empty);
        row("file failed", Ending::FileError, 200, 0, false, DownloadClass::FileError);
    }
    void classification()
    {
        QFETCH(int, ending);
        QFETCH(int, httpStatus);
        QFETCH(qint64, bytes);
        QFETCH(bool, shortTransfer);
        QFETCH(int, expected);
        DownloadResult result;
        result.ending = DownloadResult::Ending(ending);
        result.httpStatus = httpStatus;
        result.bytes = bytes;
        result.shortTransfer = shortTransfer;
        QCOMPARE(int(classifyDownload(result)), expected);
        QCOMPARE(result.complete(), DownloadClass(expected) == DownloadClass::Complete);
    }

    // Every engine runs on one multi handle: a server that keeps the
    // connection open serves the next transfer from the same host on it,
    // also for another engine, and engines may run at once.
    void connectionsAreShared()
    {
        TestServer keeping;
        keeping.http().set_keep_alive_max_count(100);
        keeping.http().set_keep_alive_timeout(2);
        QMutex lock;
        QList<int> clientPorts;
        const QByteArray body = patterned(40000, 4);
        keeping.http().Get(R"(/song\d\.mp3)", [&](const httplib::Request &request, httplib::Response &response) {
            {
                QMutexLocker locked(&lock);
                clientPorts << request.remote_port;
            }
            response.set_content(body.toStdString(), "audio/mpeg");
        });
        keeping.start();

        Cls_DownLoad first;
        Cls_DownLoad second;
        const QString one = freshPath();
        const QString two = freshPath();
        std::optional<DownloadResult> result = transferred(first, keeping.url("/song1.mp3"), one);
        QVERIFY(result && result->complete());
        result = transferred(first, keeping.url("/song2.mp3"), two);
        QVERIFY(result && result->complete());
        result = transferred(second, keeping.url("/song3.mp3"), freshPath());
        QVERIFY(result && result->complete());
        {
            QMutexLocker locked(&lock);
            QCOMPARE(clientPorts.size(), 3);
            QCOMPARE(QSet<int>(clientPorts.begin(), clientPorts.end()).size(), 1); // one connection
        }
        QCOMPARE(readFile(one), body);
        QCOMPARE(readFile(two), body);

        // Two at once, each with its own bytes and its own end.
        QSignalSpy firstEnded(&first, &Cls_DownLoad::DLFileFinished);
        QSignalSpy secondEnded(&second, &Cls_DownLoad::DLFileFinished);
        const QString slow = freshPath();
        const QString quick = freshPath();
        QVERIFY(first.DLFile(m_server.url("/slow"), slow));
        QVERIFY(second.DLFile(keeping.url("/song4.mp3"), quick));
        QTRY_COMPARE_WITH_TIMEOUT(secondEnded.size(), 1, 10000);
        QVERIFY(first.isRunning());
        QTRY_COMPARE_WITH_TIMEOUT(firstEnded.size(), 1, 20000);
        QCOMPARE(readFile(slow), m_big);
        QCOMPARE(readFile(quick), body);
    }

    // An engine that goes while its transfer runs (the program ends) leaves
    // the earlier file at the target and no ".part".
    void engineGoneMidTransfer()
    {
        auto engine = std::make_unique<Cls_DownLoad>();
        Recording seen(*engine);
        const QString path = pathWithEarlierFile();
        QVERIFY(engine->DLFile(m_server.url("/slow"), path));
        QTRY_VERIFY_WITH_TIMEOUT(!seen.progress.isEmpty(), 10000);
        QVERIFY(QFileInfo::exists(Cls_DownLoad::partPath(path)));
        engine.reset();
        QTest::qWait(100);
        QCOMPARE(seen.joined(), QStringLiteral("1,2,3,4,P"));
        QCOMPARE(readFile(path), m_earlier);
        QVERIFY(!QFileInfo::exists(Cls_DownLoad::partPath(path)));
    }
};

KELVARO_TEST_MAIN(DownloadEngineTest)
#include "tst_download.moc"
