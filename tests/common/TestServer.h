#pragma once
#include <QByteArray>
#include <QString>

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
