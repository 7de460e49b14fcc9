#pragma once
// A singer with many works behind a local HTTP proxy (127.0.0.1), for the
// batch tests and benchmark: the singer page, the play-address service, the
// recording pages with the singer's photo, and the recordings (with an
// ETag, in pieces with pauses between them). Every answer can wait first, as
// a far server's would. It counts the answers it sends at one time.
#include "SongPages.h"
#include "TransferBytes.h"
#include "WorksPages.h"
#include "core/lookup/SongExtraction.h"
#include "core/works/WorksCrawl.h"

#include <httplib.h>

#include <QString>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>

class BatchCommunity {
public:
    struct Options {
        int works = 40;
        int audioBytes = 64 * 1024;
        int delayMs = 0;          // before every answer
        int pieceBytes = 16 * 1024;
        int pauseMs = 0;          // between the pieces of a recording
        std::set<int> missingAudio; // works (from 1) whose recording is answered with 404
        QByteArray recording;       // when given, every work's recording, in place of patterned bytes
        std::set<int> cutOnce;      // works whose recording breaks off halfway the first time
    };

    explicit BatchCommunity(Options options) : m_options(std::move(options))
    {
        // The works table lists one row fewer than the page has markers.
        m_singerPage = singerPage(rowsOf(m_options.works + 1)).toStdString();
        m_server.new_task_queue = [] { return new httplib::ThreadPool(64); };
        // An idle kept-alive connection holds a thread, and stop() waits for it.
        m_server.set_keep_alive_timeout(1);
        m_server.set_pre_routing_handler([this](const httplib::Request &request, httplib::Response &response) {
            answer(request, response);
            return httplib::Server::HandlerResponse::Handled;
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~BatchCommunity()
    {
        m_stopping = true;
        m_server.stop();
        m_thread.join();
    }
    BatchCommunity(const BatchCommunity &) = delete;
    BatchCommunity &operator=(const BatchCommunity &) = delete;

    int port() const { return m_port; }
    QString proxy() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }

    static QList<PageRow> rowsOf(int works)
    {
        QList<PageRow> rows;
        for (int i = 1; i <= works; ++i)
            rows.append({QString::number(5000000 + i), QStringLiteral("Work %1").arg(i), PageRow::InSpan});
        return rows;
    }
    static QString singerAddress() { return QStringLiteral("http://www.kelvaro.com/u/7700"); }
    static QString audioAddress(int work) { return QStringLiteral("http://media.kelvaro.test/w/%1.mp3").arg(5000000 + work); }
    static QString photoAddress() { return QStringLiteral("http://img.kelvaro.test/p/7700.jpg"); }
    static QString fileName(int work) { return QStringLiteral("Work %1 - Singer.mp3").arg(work); } // as saved
    QByteArray audio(int work) const
    {
        return m_options.recording.isEmpty() ? patterned(m_options.audioBytes + work * 101, work) : m_options.recording;
    }
    static QByteArray photo() { return QByteArray("\xFF\xD8\xFF\xE0", 4) + patterned(2000, 100); }

    int mostAtOnce() const { return m_most.load(); }
    int mostAudioAtOnce() const { return m_mostAudio.load(); }
    int requests() const { return m_requests.load(); }
    int photoRequests() const { return m_photoRequests.load(); }

private:
    static void raise(std::atomic<int> &most, int now)
    {
        for (int seen = most.load(); now > seen && !most.compare_exchange_weak(seen, now);) {
        }
    }

    // The work a path of the community names, 0 for none.
    static int workOf(const QString &text)
    {
        const qsizetype at = text.indexOf(QLatin1String("500"));
        const int id = at < 0 ? 0 : text.mid(at, 7).toInt();
        return id > 5000000 ? id - 5000000 : 0;
    }

    void answer(const httplib::Request &request, httplib::Response &response)
    {
        ++m_requests;
        const QString path = QString::fromStdString(request.path);
        std::string body;
        std::string type = "application/octet-stream"; // never packed: every client gets the same bytes
        bool isAudio = false;
        const int work = workOf(path + QString::fromStdString(request.get_param_value("wid")));
        if (path == singerAddress()) {
            body = m_singerPage;
        } else if (path.contains(QLatin1String("loadplayurl.php")) && work > 0) {
            body = (recordingPagePrefix() + QString::number(5000000 + work)).toStdString();
        } else if (path.startsWith(recordingPagePrefix()) && work > 0) {
            SongPageFields fields;
            fields.title = QStringLiteral("Work %1 - Singer Kelvaro - x").arg(work);
            fields.audio = audioAddress(work);
            fields.photoElement = photoElement(photoAddress());
            body = songPage(fields).toStdString();
        } else if (path == photoAddress()) {
            ++m_photoRequests;
            body = photo().toStdString();
            type = "image/jpeg";
        } else if (path == audioAddress(work) && work > 0 && !m_options.missingAudio.count(work)) {
            body = audio(work).toStdString();
            type = "audio/mpeg";
            isAudio = true;
        } else {
            response.status = 404;
            body = "<html>not here</html>";
        }
        raise(m_most, ++m_now);
        size_t cutAt = body.size(); // bytes sent before the connection is dropped
        if (isAudio) {
            raise(m_mostAudio, ++m_audioNow);
            response.set_header("ETag", "\"" + std::to_string(work) + "\""); // Range answered with 206
            const std::lock_guard<std::mutex> lock(m_cutMutex);
            if (m_options.cutOnce.count(work) && m_cut.insert(work).second)
                cutAt = body.size() / 2;
        }
        const size_t piece = isAudio ? size_t(std::max(1, m_options.pieceBytes)) : body.size();
        response.set_content_provider(
            body.size(), type,
            [this, body, piece, isAudio, cutAt](size_t offset, size_t length, httplib::DataSink &sink) {
                const int wait = offset == 0 ? m_options.delayMs : (isAudio ? m_options.pauseMs : 0);
                if (wait > 0 && !sleep(wait))
                    return false;
                if (offset >= cutAt)
                    return false;
                sink.write(body.data() + offset, std::min({piece, length, cutAt - offset}));
                return true;
            },
            [this, isAudio](bool) {
                --m_now;
                if (isAudio)
                    --m_audioNow;
            });
    }

    bool sleep(int ms) const
    {
        for (int slept = 0; slept < ms && !m_stopping; slept += 5)
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(5, ms - slept)));
        return !m_stopping;
    }

    const Options m_options;
    std::string m_singerPage;
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_now{0};
    std::atomic<int> m_most{0};
    std::atomic<int> m_audioNow{0};
    std::atomic<int> m_mostAudio{0};
    std::atomic<int> m_requests{0};
    std::atomic<int> m_photoRequests{0};
    std::mutex m_cutMutex;
    std::set<int> m_cut; // works whose recording was cut already
};
