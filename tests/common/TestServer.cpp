#include "common/TestServer.h"

#include <httplib.h>

#include <QMap>
#include <QMutex>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

QByteArray brokenGzip(const QByteArray &text)
{
    // The text in stored (unpacked) deflate blocks, none of them the last,
    // then a block header of the reserved type 3, which no inflater takes.
    QByteArray body("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);
    for (qsizetype offset = 0; offset < text.size(); offset += 0xffff) {
        const QByteArray piece = text.mid(offset, 0xffff);
        const quint16 length = quint16(piece.size());
        body += '\0';
        body += char(length & 0xff);
        body += char(length >> 8);
        body += char(~length & 0xff);
        body += char((~length >> 8) & 0xff);
        body += piece;
    }
    body += '\x07';
    return body + QByteArray(8, '\0');
}

struct TestServer::Log {
    mutable QMutex mutex;
    QMap<QString, QByteArray> lastHeaders;
    QMap<QString, int> counts;
};

TestServer::TestServer() : m_server(std::make_unique<httplib::Server>()), m_log(std::make_unique<Log>())
{
    // One request per connection: otherwise answers without a length stall and
    // stop() waits on a kept-alive client connection.
    m_server->set_keep_alive_max_count(1);
    m_server->set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    });
    m_server->set_pre_routing_handler([this](const httplib::Request &request, httplib::Response &) {
        record(request);
        return httplib::Server::HandlerResponse::Unhandled;
    });
}

TestServer::~TestServer()
{
    stop();
}

void TestServer::start()
{
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        qFatal("TestServer: cannot bind to 127.0.0.1");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    while (!m_server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void TestServer::startOn(int port)
{
    if (!m_server->bind_to_port("127.0.0.1", port))
        qFatal("TestServer: cannot bind to 127.0.0.1:%d", port);
    m_port = port;
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    while (!m_server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void TestServer::stop()
{
    m_stopping = true;
    if (m_thread.joinable()) {
        m_server->stop();
        m_thread.join();
    }
}

QString TestServer::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
}

void TestServer::record(const httplib::Request &request)
{
    QByteArray headers;
    for (const auto &[name, value] : request.headers) {
        if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT")
            continue; // added by the server itself
        headers += QByteArray::fromStdString(name) + ": " + QByteArray::fromStdString(value) + '\n';
    }
    const QString path = QString::fromStdString(request.path);
    QMutexLocker lock(&m_log->mutex);
    m_log->lastHeaders[path] = headers;
    ++m_log->counts[path];
}

QByteArray TestServer::lastRequestHeaders(const QString &path) const
{
    QMutexLocker lock(&m_log->mutex);
    return m_log->lastHeaders.value(path);
}

int TestServer::requestCount(const QString &path) const
{
    QMutexLocker lock(&m_log->mutex);
    return m_log->counts.value(path);
}

bool TestServer::waitWhileRunning(int maxMs) const
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
    while (!m_stopping && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return !m_stopping;
}

void TestServer::serve(const QString &path, const QByteArray &body, const QByteArray &contentType, int status)
{
    m_server->Get(path.toStdString(), [body, contentType, status](const httplib::Request &, httplib::Response &res) {
        res.status = status;
        res.set_content(body.toStdString(), contentType.toStdString());
    });
}

void TestServer::serveWithoutLength(const QString &path, const QByteArray &body)
{
    m_server->Get(path.toStdString(), [body](const httplib::Request &, httplib::Response &res) {
        res.set_content_provider("application/octet-stream", [body](size_t offset, httplib::DataSink &sink) {
            if (offset < size_t(body.size()))
                sink.write(body.constData() + offset, size_t(body.size()) - offset);
            sink.done();
            return true;
        });
    });
}

void TestServer::serveChunked(const QString &path, const QByteArray &body, int chunkSize)
{
    m_server->Get(path.toStdString(), [body, chunkSize](const httplib::Request &, httplib::Response &res) {
        res.set_chunked_content_provider("application/octet-stream",
                                         [body, chunkSize](size_t offset, httplib::DataSink &sink) {
                                             if (offset >= size_t(body.size())) {
                                                 sink.done();
                                                 return true;
                                             }
                                             const size_t n = std::min(size_t(chunkSize), size_t(body.size()) - offset);
                                             sink.write(body.constData() + offset, n);
                                             return true;
                                         });
    });
}

// Announces `announced` bytes, sends `sent`, then stalls until the server
// stops (when asked to) and drops the connection.
void TestServer::serveBroken(const QString &path, qint64 announced, const QByteArray &sent, bool stall)
{
    m_server->Get(path.toStdString(), [this, announced, sent, stall](const httplib::Request &, httplib::Response &res) {
        res.set_content_provider(size_t(announced), "application/octet-stream",
                                 [this, sent, stall](size_t offset, size_t, httplib::DataSink &sink) {
                                     if (offset < size_t(sent.size())) {
                                         sink.write(sent.constData() + offset, size_t(sent.size()) - offset);
                                         return true;
                                     }
                                     if (stall)
                                         waitWhileRunning(180000);
                                     return false;
                                 });
    });
}

void TestServer::serveCutShort(const QString &path, const QByteArray &body, int sendBytes)
{
    serveBroken(path, body.size(), body.left(sendBytes), false);
}

void TestServer::serveStalled(const QString &path, const QByteArray &body, int sendBytes)
{
    serveBroken(path, body.size(), body.left(sendBytes), true);
}

void TestServer::serveAnnouncing(const QString &path, qint64 announced, const QByteArray &body)
{
    serveBroken(path, announced, body, false);
}

void TestServer::serveSlowly(const QString &path, const QByteArray &body, int pieceSize, int pauseMs)
{
    m_server->Get(path.toStdString(), [this, body, pieceSize, pauseMs](const httplib::Request &, httplib::Response &res) {
        // From the request to the answer's end (or the connection's).
        const int now = ++m_slowNow;
        for (int most = m_mostSlow.load(); now > most && !m_mostSlow.compare_exchange_weak(most, now);) {
        }
        res.set_content_provider(size_t(body.size()), "application/octet-stream",
                                 [this, body, pieceSize, pauseMs](size_t offset, size_t, httplib::DataSink &sink) {
                                     if (offset > 0 && !waitWhileRunning(pauseMs))
                                         return false;
                                     const size_t n = std::min(size_t(pieceSize), size_t(body.size()) - offset);
                                     sink.write(body.constData() + offset, n);
                                     return true;
                                 },
                                 [this](bool) { --m_slowNow; });
    });
}

void TestServer::serveSilence(const QString &path)
{
    m_server->Get(path.toStdString(), [this](const httplib::Request &, httplib::Response &) {
        waitWhileRunning(180000);
    });
}

void TestServer::serveRedirect(const QString &path, const QString &target, int status)
{
    m_server->Get(path.toStdString(), [this, target, status](const httplib::Request &, httplib::Response &res) {
        res.status = status;
        res.set_header("Location", url(target).toStdString());
    });
}

void RangeRoute::change(const std::function<void(RangeAnswers &)> &edit)
{
    QMutexLocker lock(&m_mutex);
    edit(m_answers);
}

QList<QByteArray> RangeRoute::requests() const
{
    QMutexLocker lock(&m_mutex);
    return m_requests;
}

std::shared_ptr<RangeRoute> TestServer::serveRanges(const QString &path, const RangeAnswers &answers)
{
    auto route = std::make_shared<RangeRoute>();
    route->m_answers = answers;
    m_server->Get(path.toStdString(), [route](const httplib::Request &request, httplib::Response &res) {
        const QByteArray range = QByteArray::fromStdString(request.get_header_value("Range"));
        const QByteArray ifRange = QByteArray::fromStdString(request.get_header_value("If-Range"));
        // The range is answered here, with If-Range, not by the server library.
        const_cast<httplib::Request &>(request).ranges.clear();
        RangeAnswers now;
        QPair<int, QByteArray> failure{0, {}};
        bool cut = false;
        {
            QMutexLocker lock(&route->m_mutex);
            route->m_requests << "Range=" + range + ";If-Range=" + ifRange;
            now = route->m_answers;
            if (!route->m_answers.failures.isEmpty())
                failure = route->m_answers.failures.takeFirst();
            else if ((cut = route->m_answers.cuts > 0))
                --route->m_answers.cuts;
        }
        if (failure.first != 0) {
            res.status = failure.first;
            if (!failure.second.isEmpty())
                res.set_header("Retry-After", failure.second.toStdString());
            res.set_content("busy", "text/plain");
            return;
        }
        if (!now.etag.isEmpty())
            res.set_header("ETag", now.etag.toStdString());
        if (!now.lastModified.isEmpty())
            res.set_header("Last-Modified", now.lastModified.toStdString());
        const qint64 size = now.body.size();
        qint64 from = 0;
        const bool validated = ifRange.isEmpty() || ifRange == now.etag || ifRange == now.lastModified;
        if (now.honourRanges && validated && range.startsWith("bytes=") && range.endsWith('-')) {
            from = range.mid(6, range.size() - 7).toLongLong();
            if (from >= size) {
                res.status = 416;
                res.set_header("Content-Range", "bytes */" + std::to_string(size));
                res.set_content("", "text/plain");
                return;
            }
            res.status = 206;
            res.set_header("Content-Range",
                           "bytes " + std::to_string(from) + '-' + std::to_string(size - 1) + '/' + std::to_string(size));
        } else {
            res.status = 200;
        }
        const QByteArray part = now.body.mid(from);
        const qint64 sending = cut ? std::min<qint64>(now.cutAfter, part.size()) : part.size();
        res.set_content_provider(size_t(part.size()), "audio/mpeg",
                                 [part, sending](size_t offset, size_t, httplib::DataSink &sink) {
                                     if (qint64(offset) >= sending)
                                         return false; // drops the connection
                                     sink.write(part.constData() + offset, size_t(sending - qint64(offset)));
                                     return true;
                                 });
    });
    return route;
}

int TestServer::refusingPort()
{
    // Bind an ephemeral port and close it again without listening.
    const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    ::bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(sock, reinterpret_cast<sockaddr *>(&address), &length);
    const int port = ntohs(address.sin_port);
    ::close(sock);
    return port;
}
