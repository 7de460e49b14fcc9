// The download engine against the local server: the status sequences, the
// bytes in the file, the speed rule, the stop latch and the faults of servers
// and target files.
#include "download/Cls_DownLoad.h"

#include "common/TestEnvironment.h"
#include "common/TestServer.h"
#include "platform/Network.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

namespace {

// Bytes that do not repeat within a chunk, so a chunk written twice, out of
// order or at the wrong offset shows.
QByteArray patterned(int size, int seed = 0)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + (i >> 9) * 13 + seed) & 0xff);
    return bytes;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Progress {
    QString url;
    qint64 downloaded;
    qint64 size;
    qint64 speed;
};

// Records what an engine raises, in order: statuses as their numbers and a
// run of progress events as one "P".
class Recording {
public:
    explicit Recording(Cls_DownLoad &engine)
    {
        QObject::connect(&engine, &Cls_DownLoad::DLFileStatus, &engine, [this](int state) {
            m_trail.append(QString::number(state));
            if (onStatus)
                onStatus(state);
        });
        QObject::connect(&engine, &Cls_DownLoad::DLFileDowning, &engine,
                         [this](const QString &url, qint64 downloaded, qint64 size, qint64 speed) {
                             if (m_trail.isEmpty() || m_trail.last() != QLatin1String("P"))
                                 m_trail.append(QStringLiteral("P"));
                             progress.append({url, downloaded, size, speed});
                             if (onProgress)
                                 onProgress(progress.last());
                         });
    }

    QString trail() const { return m_trail.join(QLatin1Char(',')); }

    QList<Progress> progress;
    std::function<void(const Progress &)> onProgress;
    std::function<void(int)> onStatus;

private:
    QStringList m_trail;
};

int openReplies()
{
    return int(networkManager().findChildren<QNetworkReply *>().size());
}

} // namespace

Q_DECLARE_METATYPE(DownloadResult::Ending)

class DownloadEngineTest : public QObject {
    Q_OBJECT

private:
    TestServer m_server;
    QTemporaryDir m_dir;
    int m_fileNumber = 0;

    const QByteArray m_plain = patterned(5000);
    const QByteArray m_big = patterned(200 * 1024, 3);
    const QByteArray m_notFound = "<html><body><h1>404 Not Found</h1><p>no such recording</p></body></html>";
    const QByteArray m_text = QByteArray("la la la, sing along with me\n").repeated(200);

    QString freshPath() { return m_dir.filePath(QStringLiteral("target-%1.mp3").arg(++m_fileNumber)); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_server.serve("/plain", m_plain, "application/octet-stream");
        m_server.serve("/big", m_big, "audio/mpeg");
        m_server.serve("/bytes1026", patterned(1026, 7), "audio/mpeg");
        m_server.serve("/bytes1030", patterned(1030, 8), "audio/mpeg");
        m_server.serve("/empty", QByteArray(), "audio/mpeg");
        m_server.serve("/missing", m_notFound, "text/html", 404);
        m_server.serve("/text", m_text, "text/plain");
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

    void cleanupTestCase() { m_server.stop(); }

    void sequences_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("trail");
        QTest::addColumn<DownloadResult::Ending>("ending");
        QTest::addColumn<QByteArray>("body");     // what the file must hold
        QTest::addColumn<bool>("fileExpected");
        QTest::addColumn<qint64>("announced");    // lFilesize of every progress event
        QTest::addColumn<bool>("shortTransfer");
        QTest::addColumn<int>("httpStatus");

        using E = DownloadResult::Ending;
        const QString refused = QStringLiteral("http://127.0.0.1:%1/song.mp3").arg(TestServer::refusingPort());
        QTest::newRow("whole file") << m_server.url("/plain") << "1,2,3,4,P,9,6" << E::Finished << m_plain << true
                                    << qint64(5000) << false << 200;
        QTest::newRow("empty body") << m_server.url("/empty") << "1,2,3,4,9,6" << E::Finished << QByteArray() << true
                                    << qint64(0) << false << 200;
        QTest::newRow("404 with a body") << m_server.url("/missing") << "1,2,3,4,P,9,6" << E::Finished << m_notFound
                                         << true << qint64(m_notFound.size()) << false << 404;
        QTest::newRow("no Content-Length") << m_server.url("/nolength") << "1,2,3,4,P,9,6" << E::Finished
                                           << patterned(3000, 1) << true << qint64(0) << false << 200;
        QTest::newRow("chunked") << m_server.url("/chunked") << "1,2,3,4,P,9,6" << E::Finished << patterned(4000, 2)
                                 << true << qint64(0) << false << 200;
        QTest::newRow("redirect") << m_server.url("/moved") << "1,2,3,4,P,9,6" << E::Finished << m_plain << true
                                  << qint64(5000) << false << 200;
        // The server would compress text for a client that lets it.
        QTest::newRow("text served as is") << m_server.url("/text") << "1,2,3,4,P,9,6" << E::Finished << m_text
                                           << true << qint64(m_text.size()) << false << 200;
        QTest::newRow("reset mid-body") << m_server.url("/reset") << "1,2,3,4,P,9,6" << E::Finished
                                        << patterned(8000, 4).left(3000) << true << qint64(8000) << true << 200;
        QTest::newRow("stalled mid-body") << m_server.url("/stall") << "1,2,3,4,P,9,6" << E::Finished
                                          << patterned(8000, 5).left(2000) << true << qint64(8000) << true << 200;
        QTest::newRow("size beyond 32 bits") << m_server.url("/huge") << "1,2,3,4,P,9,6" << E::Finished
                                             << patterned(1000, 6) << true << (Q_INT64_C(3) << 30) << true << 200;
        QTest::newRow("connection refused") << refused << "1,2,8,6" << E::AddressRefused << QByteArray() << false
                                            << qint64(0) << false << 0;
        QTest::newRow("unknown host") << "http://no-such-host.invalid/song.mp3" << "1,2,8,6" << E::AddressRefused
                                      << QByteArray() << false << qint64(0) << false << 0;
        QTest::newRow("server never answers") << m_server.url("/silent") << "1,2,8,6" << E::AddressRefused
                                              << QByteArray() << false << qint64(0) << false << 0;
        QTest::newRow("not an http address") << "song.mp3" << "1,2,8,6" << E::AddressRefused << QByteArray() << false
                                             << qint64(0) << false << 0;
    }

    void sequences()
    {
        QFETCH(QString, url);
        QFETCH(QString, trail);
        QFETCH(DownloadResult::Ending, ending);
        QFETCH(QByteArray, body);
        QFETCH(bool, fileExpected);
        QFETCH(qint64, announced);
        QFETCH(bool, shortTransfer);
        QFETCH(int, httpStatus);

        Cls_DownLoad engine;
        engine.setStallLimit(400);
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

        const DownloadResult result = engine.DLFile(url, path, 10000);

        QCOMPARE(seen.trail(), trail);
        QCOMPARE(result.ending, ending);
        QCOMPARE(result.bytes, qint64(body.size()));
        QCOMPARE(result.shortTransfer, shortTransfer);
        QCOMPARE(result.complete(), ending == DownloadResult::Ending::Finished && !shortTransfer);
        QCOMPARE(result.error.isEmpty(), ending == DownloadResult::Ending::Finished && !shortTransfer);
        QCOMPARE(result.httpStatus, httpStatus);
        QCOMPARE(result.announced, announced);
        QCOMPARE(QFileInfo::exists(path), fileExpected);
        if (fileExpected) {
            QVERIFY2(!fileBeforeOpening, "the target is opened only after status 4");
            QCOMPARE(onDiskAtTheEnd, qint64(body.size())); // all of it is written before the end is reported
            QCOMPARE(readFile(path), body);
        }

        qint64 previous = 0;
        for (int i = 0; i < seen.progress.size(); ++i) {
            const Progress &event = seen.progress.at(i);
            QCOMPARE(event.url, url);
            QCOMPARE(event.size, announced);
            QVERIFY2(event.downloaded > previous && event.downloaded - previous <= 512,
                     qPrintable(QStringLiteral("chunk %1 of %2 bytes").arg(i).arg(event.downloaded - previous)));
            previous = event.downloaded;
        }
        QCOMPARE(previous, result.bytes);
        QCOMPARE(openReplies(), 0);
        QVERIFY(!engine.isRunning());
    }

    void requestHeaders()
    {
        Cls_DownLoad engine;
        QVERIFY(engine.DLFile(m_server.url("/plain"), freshPath(), 10000).complete());
        const QList<QByteArray> headers = m_server.lastRequestHeaders("/plain").split('\n');
        QVERIFY2(headers.contains("User-Agent: VB Http"), m_server.lastRequestHeaders("/plain"));
        QVERIFY2(headers.contains("Cache-Control: no-cache"), m_server.lastRequestHeaders("/plain"));
        QVERIFY2(headers.contains("Accept-Encoding: identity"), m_server.lastRequestHeaders("/plain"));
    }

    void existingLongerFileIsTruncated()
    {
        const QString path = freshPath();
        {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(QByteArray(20000, 'X'));
        }
        Cls_DownLoad engine;
        const DownloadResult result = engine.DLFile(m_server.url("/plain"), path, 10000);
        QCOMPARE(result.bytes, qint64(m_plain.size()));
        QCOMPARE(readFile(path), m_plain);
    }

    // Once the file fails, no status follows.
    void unwritableTarget_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("trail");
        QTest::newRow("missing folder") << m_dir.filePath(QStringLiteral("no-such-folder/song.mp3")) << "1,2,3,4";
        QTest::newRow("a folder") << m_dir.path() << "1,2,3,4";
        QTest::newRow("device that is always full") << QStringLiteral("/dev/full") << "1,2,3,4,P";
    }

    void unwritableTarget()
    {
        QFETCH(QString, path);
        QFETCH(QString, trail);
        Cls_DownLoad engine;
        Recording seen(engine);
        const DownloadResult result = engine.DLFile(m_server.url("/plain"), path, 10000);
        QCOMPARE(seen.trail(), trail);
        QCOMPARE(result.ending, DownloadResult::Ending::FileError);
        QCOMPARE(result.bytes, qint64(0));
        QVERIFY2(result.error.contains(path), qPrintable(result.error));
        QCOMPARE(openReplies(), 0);
        QVERIFY(!engine.isRunning());

        // Nothing is left half-open: the same engine transfers again.
        const QString good = freshPath();
        QVERIFY(engine.DLFile(m_server.url("/plain"), good, 10000).complete());
        QCOMPARE(readFile(good), m_plain);
    }

    void noSession_data()
    {
        QTest::addColumn<bool>("foreignThread");
        QTest::newRow("no session at all") << false;
        QTest::newRow("session of another thread") << true;
    }

    void noSession()
    {
        QFETCH(bool, foreignThread);
        QThread other;
        other.start();
        auto *foreign = new QNetworkAccessManager;
        foreign->moveToThread(&other);
        const auto dropForeign = qScopeGuard([&] {
            foreign->deleteLater();
            other.quit();
            other.wait();
        });
        Cls_DownLoad engine;
        engine.setSessionSource([&]() -> QNetworkAccessManager * { return foreignThread ? foreign : nullptr; });
        Recording seen(engine);
        const QString path = freshPath();
        const int requestsBefore = m_server.requestCount("/plain");

        const DownloadResult result = engine.DLFile(m_server.url("/plain"), path, 10000);
        QCOMPARE(seen.trail(), QStringLiteral("1,7"));
        QCOMPARE(result.ending, DownloadResult::Ending::NoSession);
        QCOMPARE(result.bytes, qint64(0));
        QVERIFY(!QFileInfo::exists(path));
        QCOMPARE(m_server.requestCount("/plain"), requestsBefore);
    }

    void stallEndsWithinItsLimit_data()
    {
        QTest::addColumn<QString>("route");
        QTest::addColumn<QString>("trail");
        QTest::newRow("before the answer") << "/silent" << "1,2,8,6";
        QTest::newRow("in the body") << "/stall" << "1,2,3,4,P,9,6";
    }

    void stallEndsWithinItsLimit()
    {
        QFETCH(QString, route);
        QFETCH(QString, trail);
        Cls_DownLoad engine;
        engine.setStallLimit(300);
        Recording seen(engine);
        QElapsedTimer clock;
        clock.start();
        const DownloadResult result = engine.DLFile(m_server.url(route), freshPath(), 10000);
        const qint64 took = clock.elapsed();
        QCOMPARE(seen.trail(), trail);
        QVERIFY2(took >= 270, qPrintable(QString::number(took))); // coarse timers may fire 5 % early
        QVERIFY2(took < 10000, qPrintable(QString::number(took)));
        QVERIFY(!result.complete());
        QVERIFY(result.error.contains(QLatin1String("0.3 s")));
    }

    // When the stop request arrives decides how many chunks follow it.
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
            if (seen.progress.size() != 3)
                return;
            if (when == QLatin1String("delivered")) // as a click on the stop button would
                QMetaObject::invokeMethod(&engine, [&] { engine.DLFileStop(); }, Qt::QueuedConnection);
            else if (when == QLatin1String("progress"))
                engine.DLFileStop();
        };
        if (when == QLatin1String("idle"))
            engine.DLFileStop();
        const QString path = freshPath();

        const DownloadResult result = engine.DLFile(m_server.url("/big"), path, 10000);
        QCOMPARE(seen.trail(), QStringLiteral("1,2,3,4,P,5,6"));
        QCOMPARE(seen.progress.size(), events);
        QCOMPARE(result.ending, DownloadResult::Ending::Stopped);
        QCOMPARE(result.bytes, seen.progress.last().downloaded);
        QVERIFY(result.bytes <= 512 * events);
        QCOMPARE(readFile(path), m_big.left(int(result.bytes)));
        QVERIFY(!result.complete());
        QVERIFY(!result.shortTransfer);

        // The request was used up: the next transfer runs to the end.
        QVERIFY(!engine.stopPending());
        QVERIFY(engine.DLFile(m_server.url("/plain"), freshPath(), 10000).complete());
    }

    void stopAtTheLastChunkStaysPending()
    {
        Cls_DownLoad engine;
        Recording seen(engine);
        seen.onProgress = [&](const Progress &event) {
            if (event.downloaded == m_plain.size())
                QMetaObject::invokeMethod(&engine, [&] { engine.DLFileStop(); }, Qt::QueuedConnection);
        };
        const DownloadResult first = engine.DLFile(m_server.url("/plain"), freshPath(), 10000);
        QCOMPARE(seen.trail(), QStringLiteral("1,2,3,4,P,9,6"));
        QVERIFY(first.complete());
        QVERIFY(engine.stopPending());

        seen.onProgress = nullptr;
        seen.progress.clear();
        const QString path = freshPath();
        const DownloadResult second = engine.DLFile(m_server.url("/plain"), path, 10000);
        QCOMPARE(seen.trail(), QStringLiteral("1,2,3,4,P,9,6,1,2,3,4,P,5,6"));
        QCOMPARE(seen.progress.size(), 1);
        QVERIFY(second.bytes > 0 && second.bytes <= 512);
        QCOMPARE(readFile(path), m_plain.left(int(second.bytes)));
        QVERIFY(!engine.stopPending());
    }

    void nestedTransferIsRefused()
    {
        Cls_DownLoad engine;
        Recording seen(engine);
        const QString innerPath = freshPath();
        std::optional<DownloadResult> inner;
        seen.onProgress = [&](const Progress &) {
            if (!inner)
                inner = engine.DLFile(m_server.url("/plain"), innerPath, 10000);
        };
        const QString path = freshPath();
        const DownloadResult outer = engine.DLFile(m_server.url("/big"), path, 10000);

        QVERIFY(inner.has_value());
        QCOMPARE(inner->ending, DownloadResult::Ending::Busy);
        QCOMPARE(inner->bytes, qint64(0));
        QVERIFY(!inner->error.isEmpty());
        QVERIFY(!QFileInfo::exists(innerPath));
        QCOMPARE(seen.trail(), QStringLiteral("1,2,3,4,P,9,6"));
        QVERIFY(outer.complete());
        QCOMPARE(readFile(path), m_big);
    }

    void windowEventsRunBetweenChunks()
    {
        Cls_DownLoad engine;
        Recording seen(engine);
        int eventsWhenPostedRan = -1;
        seen.onProgress = [&](const Progress &) {
            if (seen.progress.size() == 1)
                QMetaObject::invokeMethod(
                    &engine, [&] { eventsWhenPostedRan = int(seen.progress.size()); }, Qt::QueuedConnection);
        };
        QVERIFY(engine.DLFile(m_server.url("/big"), freshPath(), 10000).complete());
        QCOMPARE(eventsWhenPostedRan, 1);
    }

    // The clock answers the start time first, then `now` for every chunk.
    void speedRule_data()
    {
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("now");
        QTest::addColumn<QString>("route");
        QTest::addColumn<qint64>("lastSpeed");
        QTest::newRow("same second") << 100.0 << 100.4 << "/plain" << qint64(1025);
        QTest::newRow("half a second rounds to 0") << 100.0 << 100.5 << "/plain" << qint64(1025);
        QTest::newRow("start rounds half to even") << 10.5 << 11.5 << "/plain" << qint64(2500);
        QTest::newRow("elapsed 2.5 rounds to 2") << 0.0 << 2.5 << "/plain" << qint64(2500);
        QTest::newRow("elapsed 3.5 rounds to 4") << 0.0 << 3.5 << "/plain" << qint64(1250);
        QTest::newRow("past midnight") << 86399.6 << 0.2 << "/plain" << qint64(1025);
        // 1026 / 4 = 256.5, 1030 / 4 = 257.5, 1030 / 3 = 343.33
        QTest::newRow("speed half rounds down to even") << 0.0 << 4.0 << "/bytes1026" << qint64(256);
        QTest::newRow("speed half rounds up to even") << 0.0 << 4.0 << "/bytes1030" << qint64(258);
        QTest::newRow("speed rounds to nearest") << 0.0 << 3.0 << "/bytes1030" << qint64(343);
    }

    void speedRule()
    {
        QFETCH(double, start);
        QFETCH(double, now);
        QFETCH(QString, route);
        QFETCH(qint64, lastSpeed);
        Cls_DownLoad engine;
        bool first = true;
        engine.setClock([&] {
            const double answer = first ? start : now;
            first = false;
            return answer;
        });
        Recording seen(engine);
        QVERIFY(engine.DLFile(m_server.url(route), freshPath(), 10000).complete());
        QVERIFY(!seen.progress.isEmpty());
        QCOMPARE(seen.progress.last().speed, lastSpeed);
    }

    void announcedSize_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<qint64>("size");
        QTest::newRow("digits") << QByteArray("5000") << qint64(5000);
        QTest::newRow("blanks around") << QByteArray(" 42 ") << qint64(42);
        QTest::newRow("absent") << QByteArray() << qint64(0);
        QTest::newRow("beyond 4 GiB") << QByteArray("5000000000") << Q_INT64_C(5000000000);
        QTest::newRow("repeated header") << QByteArray("7, 7") << qint64(7);
        QTest::newRow("words") << QByteArray("lots") << qint64(0);
        QTest::newRow("trailing junk") << QByteArray("12abc") << qint64(0);
        QTest::newRow("negative") << QByteArray("-5") << qint64(0);
        QTest::newRow("too big") << QByteArray("99999999999999999999") << qint64(0);
    }

    void announcedSize()
    {
        QFETCH(QByteArray, text);
        QFETCH(qint64, size);
        QCOMPARE(Cls_DownLoad::announcedSize(text), size);
    }

    // Last: once the application has been told to quit, no event loop of
    // this process runs again. The transfer must end instead of spinning on
    // a wait that returns at once.
    void applicationLeavingEndsTheTransfer()
    {
        Cls_DownLoad engine;
        Recording seen(engine);
        seen.onProgress = [&](const Progress &) {
            if (seen.progress.size() == 1)
                QCoreApplication::exit(0);
        };
        const QString path = freshPath();
        const DownloadResult result = engine.DLFile(m_server.url("/slow"), path, 10000);
        QCOMPARE(seen.trail(), QStringLiteral("1,2,3,4,P,9,6"));
        QVERIFY(result.shortTransfer);
        QVERIFY(result.bytes < m_big.size());
        QCOMPARE(readFile(path), m_big.left(int(result.bytes)));
    }
};

KELVARO_TEST_MAIN(DownloadEngineTest)
#include "tst_download.moc"
