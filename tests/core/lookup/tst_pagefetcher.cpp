// GetBody and LoadPicture against the local test server: what is sent, what
// comes back for every kind of answer, the time limits, that the window
// keeps running while a fetch is under way, and that a dropped fetch never
// answers.
#include "common/TestPictures.h"
#include "common/TestEnvironment.h"
#include "common/TestServer.h"
#include "common/Waiting.h"
#include "core/lookup/PageFetcher.h"
#include "core/lookup/PictureLoader.h"

#include <httplib.h>

#include <QElapsedTimer>
#include <QImage>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>


namespace {
// The connect limit is shorter than the idle one, so a fetch that takes the
// idle limit shows that the connect limit stopped once the request was out.
const FetchLimits ShortLimits{300, 600};

// A listening socket whose accept queue is full: a further connection attempt
// is never answered, so connecting hangs as it does with an unreachable host.
class FullListener {
public:
    FullListener()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address);
        socklen_t length = sizeof address;
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length);
        m_port = ntohs(address.sin_port);
        ::listen(m_listener, 0);
        for (int &filler : m_fillers) {
            filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(filler, reinterpret_cast<sockaddr *>(&address), sizeof address);
        }
    }
    ~FullListener()
    {
        for (const int filler : m_fillers)
            ::close(filler);
        ::close(m_listener);
    }
    FullListener(const FullListener &) = delete;
    FullListener &operator=(const FullListener &) = delete;
    int port() const { return m_port; }

private:
    int m_listener = -1;
    int m_fillers[3] = {-1, -1, -1};
    int m_port = 0;
};
} // namespace

class PageFetcherTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TestServer> m_server;
    const QByteArray m_long = QByteArray("<title>").repeated(3000);
    const QByteArray m_png = pngBytes(Qt::red);
    // A long page (1.5 MB) to be sent in broken packing.
    const QByteArray m_big = [] {
        QByteArray text;
        for (int line = 0; text.size() < 1536 * 1024; ++line)
            text += "<p>line " + QByteArray::number(line * 7919 % 100003) + " mp3:http://a1.example/x.mp3</p>\n";
        return text;
    }();

    std::optional<QString> get(const QString &route, const FetchLimits &limits = ShortLimits)
    {
        return bodyOf(route.startsWith('/') ? m_server->url(route) : route, limits);
    }

private slots:
    void init()
    {
        m_server = std::make_unique<TestServer>();
        m_server->http().Get("/page", [](const httplib::Request &request, httplib::Response &response) {
            response.set_header("Set-Cookie", "session=1; Path=/");
            response.set_content(request.method, "text/plain");
        });
        m_server->serve("/missing", "<html>not found</html>", "text/html", 404);
        m_server->serve("/empty", QByteArray());
        m_server->serveWithoutLength("/nolength", m_long);
        m_server->serveChunked("/chunked", m_long, 700);
        m_server->serveRedirect("/old", "/page");
        const QByteArray body(20000, 'x');
        m_server->serveCutShort("/cut", body, 5000);
        m_server->serveStalled("/stalled", body, 5000);
        m_server->serveSilence("/silence");
        m_server->serve("/huge", body);
        m_server->serve("/proxy-auth", "<html>proxy authentication required</html>", "text/html", 407);
        m_server->serve("/pic.png", m_png, "image/png");
        // One byte every 200 ms: never idle long enough for the idle limit.
        m_server->serveSlowly("/dribble", QByteArray(100, 'x'), 1, 200);
        m_server->serveSlowly("/dribble.png", m_png, 1, 200);
        m_server->http().Get("/broken-gzip", [this](const httplib::Request &, httplib::Response &response) {
            response.set_header("Content-Encoding", "gzip");
            const QByteArray body = brokenGzip(m_big);
            // Not a text type: the server would pack it once more.
            response.set_content(body.constData(), size_t(body.size()), "application/octet-stream");
        });
    }
    void cleanup()
    {
        m_server.reset();
    }

    // One GET, "If-Modified-Since: 0" the only header added to the network
    // stack's own, and no cookie kept from one fetch to the next.
    void requestHeaders()
    {
        m_server->start();
        QCOMPARE(get("/page"), std::optional<QString>(QStringLiteral("GET")));
        QCOMPARE(get("/page"), std::optional<QString>(QStringLiteral("GET")));
        QCOMPARE(m_server->requestCount("/page"), 2);
        const QList<QByteArray> headers = m_server->lastRequestHeaders("/page").split('\n');
        QVERIFY(headers.contains("If-Modified-Since: 0"));
        const QList<QByteArray> allowed = {"Host", "Connection", "Accept-Encoding", "Accept-Language", "User-Agent",
                                           "If-Modified-Since", ""};
        for (const QByteArray &header : headers)
            QVERIFY2(allowed.contains(header.left(header.indexOf(':'))), header.constData());
    }

    void answers_data()
    {
        QTest::addColumn<QString>("address"); // "/route" on the server, blanks kept around it
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("recordingPage"); // what GetPage makes of it: the body, or no page
        QTest::newRow("404 page is a page, but no recording page") << "/missing" << QByteArray("<html>not found</html>")
                                                                  << false;
        QTest::newRow("empty") << "/empty" << QByteArray() << true;
        QTest::newRow("ended by close") << "/nolength" << m_long << true;
        QTest::newRow("chunked") << "/chunked" << m_long << true;
        QTest::newRow("redirect followed") << "/old" << QByteArray("GET") << true;
        QTest::newRow("blanks and line break around the address") << "  \t/page \r\n" << QByteArray("GET") << true;
    }
    void answers()
    {
        QFETCH(QString, address);
        QFETCH(QByteArray, body);
        QFETCH(bool, recordingPage);
        m_server->start();
        const QString route = address.trimmed();
        address.replace(route, m_server->url(route));
        const std::optional<QString> expected(QString::fromUtf8(body));
        QCOMPARE(get(address), expected);
        QCOMPARE(pageOf(address, ShortLimits), recordingPage ? expected : std::nullopt);
    }

    void decodesByCharset_data()
    {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("encoding");
        QTest::newRow("gbk") << QByteArray("text/html; charset=gbk") << QByteArray("GBK");
        QTest::newRow("quoted, odd spacing and case") << QByteArray("text/html;Charset = \"GB2312\" ; x=1")
                                                      << QByteArray("GBK");
        QTest::newRow("none given: utf-8") << QByteArray("text/html") << QByteArray("UTF-8");
        QTest::newRow("unknown charset: utf-8") << QByteArray("text/html; charset=x-nonsense") << QByteArray("UTF-8");
        QTest::newRow("latin-1") << QByteArray("text/html; charset=iso-8859-1") << QByteArray("ISO-8859-1");
    }
    void decodesByCharset()
    {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, encoding);
        const QString text = encoding == "ISO-8859-1" ? QStringLiteral("<title>Café - Zoë</title>")
                                                      : QStringLiteral("<title>演唱歌曲 - 粉丝有12</title>");
        QStringEncoder encoder(encoding.constData());
        const QByteArray body = encoder.encode(text);
        QVERIFY(encoding == "UTF-8" || body != text.toUtf8()); // the row means something
        m_server->serve("/p", body, contentType);
        m_server->start();
        QCOMPARE(get("/p"), std::optional<QString>(text));
    }

    // No complete answer is an error, reached within the limits while the
    // window keeps running.
    void noCompleteAnswer_data()
    {
        QTest::addColumn<QString>("route");
        QTest::newRow("connection refused") << "refused";
        QTest::newRow("connecting hangs") << "hanging";
        QTest::newRow("dropped mid-body") << "/cut";
        QTest::newRow("stalled mid-body") << "/stalled";
        QTest::newRow("never answers") << "/silence";
        QTest::newRow("larger than the size limit") << "/huge";
        QTest::newRow("proxy turns it away (407)") << "/proxy-auth";
        QTest::newRow("dribbles a byte at a time") << "/dribble";
        QTest::newRow("gzip body breaks off mid-way") << "/broken-gzip";
    }
    void noCompleteAnswer()
    {
        QFETCH(QString, route);
        m_server->start();
        FetchLimits limits = ShortLimits;
        if (route == "/huge")
            limits.maxBytes = 10000;
        FullListener full;
        if (route == "hanging")
            limits.idleMs = 60000; // only the connect limit can end it in time
        if (route == "/dribble")
            limits.totalMs = 1500; // only the overall limit can end it in time
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start(20);
        QElapsedTimer clock;
        clock.start();
        const std::optional<QString> result =
            get(route == "refused"   ? QStringLiteral("http://127.0.0.1:%1/").arg(TestServer::refusingPort())
                : route == "hanging" ? QStringLiteral("http://127.0.0.1:%1/").arg(full.port())
                                     : route,
                limits);
        const qint64 elapsed = clock.elapsed();
        QVERIFY2(!result, qPrintable(result.value_or(QString()).left(40)));
        QVERIFY2(elapsed < 5000, qPrintable(QString::number(elapsed)));
        if (route == "/stalled" || route == "/silence") {
            QVERIFY2(elapsed >= limits.idleMs * 9 / 10, qPrintable(QString::number(elapsed))); // timers may fire early
            QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
        }
        if (route == "/dribble")
            QVERIFY2(elapsed >= limits.totalMs * 9 / 10, qPrintable(QString::number(elapsed)));
    }

    void loadPicture_data()
    {
        QTest::addColumn<QString>("path"); // "http:/x" on the server, "file:x" in a folder of the test
        QTest::addColumn<QString>("expected"); // "picture", "empty" or "nothing"
        QTest::newRow("http picture") << "http:/pic.png" << "picture";
        QTest::newRow("capital scheme, blanks around") << " HTTP:/pic.png " << "picture";
        QTest::newRow("http 404 page") << "http:/missing" << "empty";
        QTest::newRow("http refused") << "refused" << "empty";
        QTest::newRow("http picture dribbling past the overall limit") << "http:/dribble.png" << "empty";
        QTest::newRow("local picture file") << "file:pic.png" << "picture";
        QTest::newRow("local file, not a picture") << "file:text.txt" << "nothing";
        QTest::newRow("device file") << "/dev/zero" << "nothing";
        QTest::newRow("relative address") << "/img/a.jpg" << "nothing";
        QTest::newRow("other scheme") << "ftp://127.0.0.1/a.jpg" << "nothing";
    }
    void loadPicture()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        m_server->start();
        QTemporaryDir folder;
        for (const auto &[name, bytes] : {std::pair{"pic.png", m_png}, std::pair{"text.txt", QByteArray("text")}}) {
            QFile file(folder.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        }
        if (path.trimmed().startsWith("http:/", Qt::CaseInsensitive))
            path.replace(":/", "://127.0.0.1:" + QString::number(m_server->port()) + "/");
        else if (path == "refused")
            path = QStringLiteral("http://127.0.0.1:%1/a.png").arg(TestServer::refusingPort());
        else if (path.startsWith("file:"))
            path = folder.filePath(path.mid(5));

        FetchLimits limits = ShortLimits;
        limits.totalMs = 1500;
        QElapsedTimer clock;
        clock.start();
        const std::optional<QImage> result = pictureOf(path, limits);
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        const QString outcome = !result ? "nothing" : result->isNull() ? "empty" : "picture";
        QCOMPARE(outcome, expected);
        if (result && !result->isNull())
            QCOMPARE(result->pixelColor(0, 0), QColor(Qt::red));
    }

    // Every fetch answers later, never from inside the call that starts it;
    // one whose handle is dropped while its answer is on the way never
    // answers, though the same fetch kept alive beside it does (here when it
    // runs into its overall limit).
    void droppedFetchNeverAnswers_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("route");
        QTest::newRow("page") << "page" << "/dribble";
        QTest::newRow("http picture") << "picture" << "/dribble.png";
        QTest::newRow("local picture file") << "picture" << "file";
        QTest::newRow("address that cannot be fetched") << "picture" << "http://";
    }
    void droppedFetchNeverAnswers()
    {
        QFETCH(QString, kind);
        QFETCH(QString, route);
        m_server->start();
        QTemporaryDir folder;
        QString address = route.startsWith('/') ? m_server->url(route) : route;
        if (route == "file") {
            address = folder.filePath("pic.png");
            QFile file(address);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(m_png) == m_png.size());
        }
        int keptAnswers = 0;
        int droppedAnswers = 0;
        const FetchLimits limits{3000, 3000, 1024 * 1024, 1500};
        const auto start = [&](int &answers) {
            if (kind == "page")
                return GetBody(address, [&answers](std::optional<QString>) { ++answers; }, limits);
            return LoadPicture(address, [&answers](std::optional<QImage>) { ++answers; }, limits);
        };
        const FetchHandle kept = start(keptAnswers);
        FetchHandle dropped = start(droppedAnswers);
        QVERIFY(kept.pending() && dropped.pending());
        QCOMPARE(keptAnswers + droppedAnswers, 0);
        if (route.startsWith('/'))
            QTRY_COMPARE(m_server->requestCount(route), 2); // both under way
        dropped = FetchHandle();
        QVERIFY(!dropped.pending());
        QTRY_COMPARE_WITH_TIMEOUT(keptAnswers, 1, 5000);
        QVERIFY(!kept.pending());
        QTest::qWait(50);
        QCOMPARE(droppedAnswers, 0);
        QCOMPARE(keptAnswers, 1);
    }
};

KELVARO_TEST_MAIN(PageFetcherTest)
#include "tst_pagefetcher.moc"
