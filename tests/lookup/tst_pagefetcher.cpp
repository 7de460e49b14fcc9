// GetBody and LoadPicture against the local test server: what is sent, what
// comes back for every kind of answer, the time limits, and that the window
// keeps running (and may fetch again) while a fetch waits.
#include "TestPictures.h"
#include "common/TestEnvironment.h"
#include "common/TestServer.h"
#include "lookup/PageFetcher.h"
#include "lookup/PictureLoader.h"

#include <httplib.h>

#include <QElapsedTimer>
#include <QImage>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

const FetchLimits ShortLimits{400, 400};


// A listening socket whose accept queue is full: a further connection attempt
// is never answered, so connecting hangs as with an unreachable host.
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
        for (int i = 0; i < 3; ++i) {
            const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(filler, reinterpret_cast<sockaddr *>(&address), sizeof address);
            m_fillers.push_back(filler);
        }
    }
    ~FullListener()
    {
        for (const int filler : m_fillers)
            ::close(filler);
        ::close(m_listener);
    }
    int port() const { return m_port; }

private:
    int m_listener = -1;
    int m_port = 0;
    std::vector<int> m_fillers;
};

} // namespace

class PageFetcherTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestServer> m_server;
    std::atomic<bool> m_release{false};

private slots:
    void init()
    {
        m_release = false;
        m_server = std::make_unique<TestServer>();
    }
    void cleanup()
    {
        m_release = true;
        m_server.reset();
    }

    void sendsOneGetWithOnlyIfModifiedSinceAdded()
    {
        QByteArray method;
        m_server->http().Get("/page", [&method](const httplib::Request &request, httplib::Response &response) {
            method = QByteArray::fromStdString(request.method);
            response.set_content("ok", "text/plain");
        });
        m_server->start();
        QCOMPARE(GetBody(m_server->url("/page")), std::optional<QString>(QStringLiteral("ok")));
        QCOMPARE(m_server->requestCount("/page"), 1);
        QCOMPARE(method, QByteArray("GET"));
        const QList<QByteArray> headers = m_server->lastRequestHeaders("/page").split('\n');
        QVERIFY(headers.contains("If-Modified-Since: 0"));
        // Everything else is the network stack's own default set.
        const QList<QByteArray> defaults = {"Host", "Connection", "Accept-Encoding", "Accept-Language", "User-Agent",
                                            "If-Modified-Since"};
        for (const QByteArray &header : headers) {
            if (header.isEmpty())
                continue;
            const QByteArray name = header.left(header.indexOf(':'));
            QVERIFY2(defaults.contains(name), header.constData());
        }
    }

    // Blanks and control characters around an address are not part of it.
    void addressReadAsARequestObjectReadsIt_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::newRow("as is") << "" << "";
        QTest::newRow("leading blank") << " " << "";
        QTest::newRow("blanks and line break around") << "  \t" << " \r\n";
    }
    void addressReadAsARequestObjectReadsIt()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        m_server->serve("/page", "the page");
        m_server->start();
        QCOMPARE(GetBody(before + m_server->url("/page") + after), std::optional<QString>(QStringLiteral("the page")));
    }

    void cookiesAreNotKept()
    {
        m_server->http().Get("/cookie", [](const httplib::Request &, httplib::Response &response) {
            response.set_header("Set-Cookie", "session=1; Path=/");
            response.set_content("first", "text/plain");
        });
        m_server->start();
        QVERIFY(GetBody(m_server->url("/cookie")));
        QVERIFY(GetBody(m_server->url("/cookie")));
        QCOMPARE(m_server->requestCount("/cookie"), 2);
        QVERIFY(!m_server->lastRequestHeaders("/cookie").contains("Cookie"));
    }

    void bodyWhateverTheStatus_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("200") << 200 << QByteArray("<html>page</html>");
        QTest::newRow("404 error page") << 404 << QByteArray("<html>not found</html>");
        QTest::newRow("500 error page") << 500 << QByteArray("<html>broken</html>");
        QTest::newRow("200 empty") << 200 << QByteArray();
        QTest::newRow("404 empty") << 404 << QByteArray();
    }
    void bodyWhateverTheStatus()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        m_server->serve("/p", body, "text/html", status);
        m_server->start();
        const std::optional<QString> result = GetBody(m_server->url("/p"));
        QVERIFY(result);
        QCOMPARE(*result, QString::fromUtf8(body));
    }

    void bodyWithoutLengthOrChunked_data()
    {
        QTest::addColumn<bool>("chunked");
        QTest::newRow("ended by close") << false;
        QTest::newRow("chunked") << true;
    }
    void bodyWithoutLengthOrChunked()
    {
        QFETCH(bool, chunked);
        const QByteArray body = QByteArray("<title>").repeated(3000);
        if (chunked)
            m_server->serveChunked("/p", body, 700);
        else
            m_server->serveWithoutLength("/p", body);
        m_server->start();
        QCOMPARE(GetBody(m_server->url("/p")), std::optional<QString>(QString::fromLatin1(body)));
    }

    void followsRedirects()
    {
        m_server->serveRedirect("/old", "/new");
        m_server->serve("/new", "moved here");
        m_server->start();
        QCOMPARE(GetBody(m_server->url("/old")), std::optional<QString>(QStringLiteral("moved here")));
    }

    void decodesByCharset_data()
    {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("encoding");
        QTest::newRow("gbk") << QByteArray("text/html; charset=gbk") << QByteArray("GBK");
        QTest::newRow("GB2312 quoted") << QByteArray("text/html; charset=\"GB2312\"") << QByteArray("GBK");
        QTest::newRow("charset first, odd spacing") << QByteArray("text/html;Charset = GBK ; x=1")
                                                  << QByteArray("GBK");
        QTest::newRow("utf-8 named") << QByteArray("text/html; charset=utf-8") << QByteArray("UTF-8");
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
        QVERIFY(encoder.isValid());
        const QByteArray body = encoder.encode(text);
        QVERIFY(encoding == "UTF-8" || body != text.toUtf8()); // the test means something
        m_server->serve("/p", body, contentType);
        m_server->start();
        QCOMPARE(GetBody(m_server->url("/p")), std::optional<QString>(text));
    }

    void noCompleteAnswerIsAnError_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("connection refused") << "refused";
        QTest::newRow("dropped mid-body") << "cut";
        QTest::newRow("stalled mid-body") << "stalled";
        QTest::newRow("never answers") << "silence";
        QTest::newRow("larger than the size limit") << "huge";
    }
    void noCompleteAnswerIsAnError()
    {
        QFETCH(QString, kind);
        const QByteArray body(20000, 'x');
        m_server->serveCutShort("/cut", body, 5000);
        m_server->serveStalled("/stalled", body, 5000);
        m_server->serveSilence("/silence");
        m_server->serve("/huge", body);
        m_server->start();
        FetchLimits limits = ShortLimits;
        if (kind == "huge")
            limits.maxBytes = 10000;
        const QString url = kind == "refused"
            ? QStringLiteral("http://127.0.0.1:%1/").arg(TestServer::refusingPort())
            : m_server->url("/" + kind);

        // The window keeps running while the fetch waits.
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start(20);
        QElapsedTimer clock;
        clock.start();
        const std::optional<QString> result = GetBody(url, limits);
        const qint64 elapsed = clock.elapsed();
        QVERIFY2(!result, qPrintable(result.value_or(QString()).left(40)));
        QVERIFY2(elapsed < 5000, qPrintable(QString::number(elapsed)));
        if (kind == "stalled" || kind == "silence") {
            QVERIFY(elapsed >= limits.idleMs * 9 / 10); // coarse timers may fire up to 5% early
            QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
        }
    }

    // Connecting has its own limit, shorter than the idle one.
    void connectLimitEndsAHangingConnect()
    {
        FullListener listener;
        QElapsedTimer clock;
        clock.start();
        const std::optional<QString> result =
            GetBody(QStringLiteral("http://127.0.0.1:%1/").arg(listener.port()), FetchLimits{300, 60000});
        QVERIFY(!result);
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    }

    // Once the request is out, only the idle limit applies.
    void connectLimitStopsOnceTheRequestIsSent()
    {
        m_server->serveSilence("/silence");
        m_server->start();
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!GetBody(m_server->url("/silence"), FetchLimits{100, 1200}));
        // Coarse timers may fire up to 5% early.
        QVERIFY2(clock.elapsed() >= 1000, qPrintable(QString::number(clock.elapsed())));
    }

    // A fetch started while another waits runs to its end first; each returns
    // its own page.
    void nestedFetchFinishesFirst()
    {
        m_server->http().Get("/slow", [this](const httplib::Request &, httplib::Response &response) {
            for (int i = 0; i < 2000 && !m_release; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            response.set_content("outer page", "text/html");
        });
        m_server->serve("/quick", "inner page");
        m_server->start();

        QStringList order;
        std::optional<QString> inner;
        QTimer::singleShot(0, this, [&] {
            order << "inner starts";
            inner = GetBody(m_server->url("/quick"));
            order << "inner ends";
            m_release = true;
        });
        const std::optional<QString> outer = GetBody(m_server->url("/slow"));
        order << "outer ends";
        QCOMPARE(order, QStringList({"inner starts", "inner ends", "outer ends"}));
        QCOMPARE(inner, std::optional<QString>(QStringLiteral("inner page")));
        QCOMPARE(outer, std::optional<QString>(QStringLiteral("outer page")));
    }

    void loadPicture_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected"); // "picture", "empty" or "nothing"
        QTest::newRow("http picture") << "http:/pic.png" << "picture";
        QTest::newRow("http, capital scheme") << "HTTP:/pic.png" << "picture";
        QTest::newRow("http, blanks around") << " http:/pic.png " << "picture";
        QTest::newRow("http 404 page") << "http:/missing" << "empty";
        QTest::newRow("http text, not a picture") << "http:/text" << "empty";
        QTest::newRow("http refused") << "refused" << "empty";
        QTest::newRow("http never answers") << "http:/silence" << "empty";
        QTest::newRow("local picture file") << "file:pic.png" << "picture";
        QTest::newRow("local file, not a picture") << "file:text.txt" << "nothing";
        QTest::newRow("local file missing") << "file:none.png" << "nothing";
        QTest::newRow("a folder") << "file:" << "nothing";
        QTest::newRow("device file") << "/dev/zero" << "nothing";
        QTest::newRow("empty path") << "" << "nothing";
        QTest::newRow("relative address") << "/img/a.jpg" << "nothing";
        QTest::newRow("other scheme") << "ftp://127.0.0.1/a.jpg" << "nothing";
    }
    void loadPicture()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        const QByteArray png = pngBytes(Qt::red);
        m_server->serve("/pic.png", png, "image/png");
        m_server->serve("/text", "hello", "text/plain");
        m_server->serveSilence("/silence");
        m_server->start();
        QTemporaryDir folder;
        QFile picture(folder.filePath("pic.png"));
        QVERIFY(picture.open(QIODevice::WriteOnly));
        picture.write(png);
        picture.close();
        QFile text(folder.filePath("text.txt"));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not a picture");
        text.close();

        if (path.trimmed().startsWith("http:/", Qt::CaseInsensitive))
            path.replace(QRegularExpression("(http):(/\\S*)", QRegularExpression::CaseInsensitiveOption),
                         "\\1://127.0.0.1:" + QString::number(m_server->port()) + "\\2");
        else if (path == "refused")
            path = QStringLiteral("http://127.0.0.1:%1/a.png").arg(TestServer::refusingPort());
        else if (path.startsWith("file:"))
            path = folder.filePath(path.mid(5));

        const std::optional<QImage> result = LoadPicture(path, ShortLimits);
        const QString outcome = !result ? "nothing" : result->isNull() ? "empty" : "picture";
        QCOMPARE(outcome, expected);
        if (outcome == "picture") {
            QCOMPARE(result->size(), QSize(8, 6));
            QCOMPARE(result->pixelColor(0, 0), QColor(Qt::red));
        }
    }

    void loadPictureSendsNoIfModifiedSince()
    {
        m_server->serve("/pic.png", pngBytes(Qt::blue), "image/png");
        m_server->start();
        QVERIFY(LoadPicture(m_server->url("/pic.png")));
        QCOMPARE(m_server->requestCount("/pic.png"), 1);
        QVERIFY(!m_server->lastRequestHeaders("/pic.png").contains("If-Modified-Since"));
    }
};

KELVARO_TEST_MAIN(PageFetcherTest)
#include "tst_pagefetcher.moc"
