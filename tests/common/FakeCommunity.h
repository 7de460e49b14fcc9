#pragma once
// The community's servers for tests: a local HTTP proxy that answers for any
// host from a table of absolute addresses, so the program reaches
// "http://www.kelvaro.com/s/..." exactly as it would through a real proxy.
#include "common/TestServer.h"

#include <httplib.h>

#include <QMutex>
#include <QString>

#include <atomic>
#include <chrono>
#include <map>
#include <set>
#include <thread>

class FakeCommunity {
public:
    FakeCommunity()
    {
        // Through a proxy the request line carries the absolute address, which
        // the server hands over as the path.
        m_server.http().Get(".*", [this](const httplib::Request &request, httplib::Response &response) {
            answer(request.path, response);
        });
    }
    ~FakeCommunity()
    {
        m_stopping = true;
        m_server.stop();
    }

    // A `contentEncoding` is announced as given, `body` sent as it stands.
    void page(const QString &url, const QByteArray &body, const QByteArray &contentType = "text/html; charset=utf-8",
              int status = 200, const QByteArray &contentEncoding = {})
    {
        QMutexLocker lock(&m_mutex);
        m_answers[url.toStdString()] =
            Answer{body.toStdString(), contentType.toStdString(), status, contentEncoding.toStdString()};
    }
    void page(const QString &url, const QString &html) { page(url, html.toUtf8()); }

    // The answer for `url` waits until release() (or the end of the test).
    void gate(const QString &url)
    {
        QMutexLocker lock(&m_mutex);
        m_gated.insert(url.toStdString());
    }
    void release() { m_released = true; }

    void start() { m_server.start(); }
    int port() const { return m_server.port(); }
    int requestCount(const QString &url) const { return m_server.requestCount(url); }

private:
    struct Answer {
        std::string body;
        std::string contentType;
        int status = 200;
        std::string contentEncoding;
    };

    void answer(const std::string &url, httplib::Response &response)
    {
        bool gated = false;
        Answer found{"<html>not found</html>", "text/html", 404, {}};
        {
            QMutexLocker lock(&m_mutex);
            gated = m_gated.count(url) > 0;
            if (const auto it = m_answers.find(url); it != m_answers.end())
                found = it->second;
        }
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (gated && !m_released && !m_stopping && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        response.status = found.status;
        if (!found.contentEncoding.empty())
            response.set_header("Content-Encoding", found.contentEncoding);
        response.set_content(found.body, found.contentType.c_str());
    }

    TestServer m_server;
    QMutex m_mutex;
    std::map<std::string, Answer> m_answers;
    std::set<std::string> m_gated;
    std::atomic<bool> m_released{false};
    std::atomic<bool> m_stopping{false};
};
