#pragma once
#include <QByteArray>
#include <QString>

#include <QList>
#include <QMutex>
#include <QPair>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace httplib {
class Server;
struct Request;
struct Response;
}

// A gzip body (as "Content-Encoding: gzip" announces it) of `text` whose
// compressed data is spoiled in the middle: the first part unpacks, then
// unpacking fails.
QByteArray brokenGzip(const QByteArray &text);

// How serveRanges answers; may be changed while the server runs.
struct RangeAnswers {
    QByteArray body;
    QByteArray etag;          // sent as ETag when not empty
    QByteArray lastModified;  // sent as Last-Modified when not empty
    bool honourRanges = true; // false: every answer is the whole body with 200
    // The next `cuts` answers send `cutAfter` bytes of what they announce,
    // then drop the connection.
    int cutAfter = 0;
    int cuts = 0;
    // Answered first, one per request, with a short text body: the status
    // and a Retry-After value (none when empty).
    QList<QPair<int, QByteArray>> failures;
};

// A route of serveRanges: what it answers, and what it was asked.
class RangeRoute {
public:
    void change(const std::function<void(RangeAnswers &)> &edit);
    // One line per request: "Range=...;If-Range=..." (empty values when absent).
    QList<QByteArray> requests() const;

private:
    friend class TestServer;
    mutable QMutex m_mutex;
    RangeAnswers m_answers;
    QList<QByteArray> m_requests;
};

// A local HTTP server for tests: 127.0.0.1, an ephemeral port, its own thread.
// Register routes first (the helpers below or http() directly), then start().
// Besides ordinary answers it can misbehave the ways real servers do.
class TestServer {
public:
    TestServer();
    ~TestServer();
    TestServer(const TestServer &) = delete;
    TestServer &operator=(const TestServer &) = delete;

    httplib::Server &http() { return *m_server; }
    void start();
    // Starts on `port` of 127.0.0.1 (for instance one refusingPort() gave out).
    void startOn(int port);
    void stop();

    int port() const { return m_port; }
    QString url(const QString &path) const; // "http://127.0.0.1:PORT" + path

    // A body with its Content-Length.
    void serve(const QString &path, const QByteArray &body, const QByteArray &contentType = "text/html; charset=utf-8",
               int status = 200);
    // A body without Content-Length, ended by closing the connection.
    void serveWithoutLength(const QString &path, const QByteArray &body);
    // A chunked body, in pieces of `chunkSize` bytes.
    void serveChunked(const QString &path, const QByteArray &body, int chunkSize = 1000);
    // Announces the whole body's length, sends the first `sendBytes` of it, then drops the connection.
    void serveCutShort(const QString &path, const QByteArray &body, int sendBytes);
    // Answers the headers (and the first `sendBytes` of the body) and then sends nothing more
    // until the server stops.
    void serveStalled(const QString &path, const QByteArray &body, int sendBytes);
    // Announces `announced` bytes (any size, also beyond 4 GiB), sends `body`, then drops the connection.
    void serveAnnouncing(const QString &path, qint64 announced, const QByteArray &body);
    // A body with its Content-Length, sent `pieceSize` bytes at a time with a pause of `pauseMs`
    // between pieces; gives up when the server stops.
    void serveSlowly(const QString &path, const QByteArray &body, int pieceSize, int pauseMs);
    // The most answers of serveSlowly routes that were being sent at one
    // time, since the start or the last reset.
    int mostSlowAtOnce() const { return m_mostSlow.load(); }
    int slowAtOnce() const { return m_slowNow.load(); }
    void resetMostSlowAtOnce() { m_mostSlow = m_slowNow.load(); }
    // Accepts the request and never answers at all.
    void serveSilence(const QString &path);
    // A body that can be continued: "Range: bytes=N-" is answered with 206
    // and Content-Range when If-Range (if sent) names the current ETag or
    // Last-Modified, with the whole body (200) when it does not, and with
    // 416 when N is not within the body.
    std::shared_ptr<RangeRoute> serveRanges(const QString &path, const RangeAnswers &answers);
    // A redirect to another path of this server.
    void serveRedirect(const QString &path, const QString &target, int status = 302);

    // Every request's headers, as "Name: value" lines, for the last request to `path`.
    QByteArray lastRequestHeaders(const QString &path) const;
    int requestCount(const QString &path) const;

    // A port on 127.0.0.1 on which nothing listens: connections are refused.
    static int refusingPort();

private:
    void record(const httplib::Request &request);
    void serveBroken(const QString &path, qint64 announced, const QByteArray &sent, bool stall);
    bool waitWhileRunning(int maxMs) const;

    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_slowNow{0};
    std::atomic<int> m_mostSlow{0};
    struct Log;
    std::unique_ptr<Log> m_log;
};
