#include "core/works/WorkBatch.h"

#include "core/download/Cls_DownLoad.h"
#include "core/download/DownloadPanelLogic.h"
#include "core/lookup/PageFetcher.h"
#include "core/platform/Network.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>

#include <memory>

namespace {

constexpr int SizeProbeLimitMs = 15000;

// The lookup's output when nobody looks: what a batch needs is the refusal
// text; the song name is in the state. Pictures are not loaded.
class SilentPanel final : public SongPanelOutput {
public:
    QString status;
    void setStatus(const QString &text) override { status = text; }
    void showDetails(const QString &, const SongDetails &) override {}
    void showDefaultPicture() override {}
    FetchHandle showPicture(PictureSource, QString, std::function<void()> shown) override
    {
        return answerLater(std::move(shown));
    }
    void placeBadgeAfterSongName() override {}
    void setBadgeVisible(bool) override {}
};

} // namespace

// The lookup of one work's recording page, on its own state apart from the
// window's song.
struct WorkBatch::WorkLookup {
    PageLookup looked;
    SilentPanel panel;
    std::unique_ptr<SongLookups> lookups;
};

BatchWork BatchWork::fromRow(const WorkRow &row)
{
    return {row.id, row.title, row.serviceAddress, {}};
}

BatchWork BatchWork::fromPage(const QString &address)
{
    return {{}, {}, {}, address};
}

QString BatchWork::label() const
{
    return serviceAddress.isEmpty() ? pageAddress : id + QLatin1Char(' ') + title;
}

std::function<void()> announcedSizeOf(const QString &address, WorkBatch::SizeAnswer done)
{
    QNetworkRequest request(requestUrl(address));
    // As the engine asks: the server's own bytes, never a cached or packed copy.
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("VB Http"));
    request.setRawHeader("Accept-Encoding", "identity");
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setTransferTimeout(SizeProbeLimitMs);
    QNetworkReply *const reply = networkManager().head(request);
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, done = std::move(done)] {
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (judgeReply(*reply) != NetworkOutcome::Answered || status / 100 != 2
            || !reply->hasRawHeader("Content-Length"))
            return done(std::nullopt);
        const qint64 size = Cls_DownLoad::announcedSize(reply->rawHeader("Content-Length"));
        done(size > 0 ? std::optional<qint64>(size) : std::nullopt);
    });
    return [watched = QPointer<QNetworkReply>(reply)] {
        if (watched && !watched->isFinished())
            watched->abort();
    };
}

WorkBatch::WorkBatch(Cls_DownLoad &engine, PageFetch fetch, QObject *parent)
    : QObject(parent),
      m_engine(engine),
      // Copied, not moved: the page fetch below is made from it too.
      m_fetch(fetch ? fetch
                    : PageFetch([](const QString &url, PageDone done) { return GetBody(url, std::move(done)); })),
      m_sizeProbe(announcedSizeOf)
{
    if (fetch) {
        m_pageFetch = [fetch](const QString &url, AnswerDone done) {
            return fetch(url, [done = std::move(done)](std::optional<QString> page) {
                if (!page)
                    return done(std::nullopt);
                done(HttpAnswer{200, QByteArrayLiteral("text/html; charset=utf-8"), page->toUtf8()});
            });
        };
    } else {
        m_pageFetch = [](const QString &url, AnswerDone done) { return fetchPage(url, std::move(done)); };
    }
    // The engine may run other transfers too (the download panel's): only
    // the one this batch started is its business.
    connect(&m_engine, &Cls_DownLoad::DLFileFinished, this, [this](const DownloadResult &result) {
        if (std::exchange(m_transferring, false))
            transferEnded(result);
    });
}

WorkBatch::~WorkBatch()
{
    // A probe under way is ended; its answer finds no batch to go on with.
    *m_alive = false;
    if (m_endProbe)
        std::exchange(m_endProbe, nullptr)();
}

void WorkBatch::enqueue(const QList<BatchWork> &works)
{
    m_queue.append(works);
    if (m_running)
        m_total += int(works.size());
}

void WorkBatch::stop()
{
    if (!m_running)
        return; // nothing to stop, and the engine's stop latch must not be left set for a later download
    m_stopRequested = true;
    m_queue.clear();
    // Each step ends as it can: the transfer after its next chunk (its end
    // comes back through transferEnded), a size probe, a page fetch or a
    // lookup at once: the work then ends as stopped from the event loop.
    if (m_transferring && m_engine.isRunning())
        m_engine.DLFileStop();
    if (m_endProbe)
        std::exchange(m_endProbe, nullptr)();
    if (m_serviceFetch.pending() || m_lookup) {
        m_serviceFetch.cancel();
        m_lookup.reset();
        QMetaObject::invokeMethod(
            this, [this] { workDone(BatchOutcome::Kind::Stopped); }, Qt::QueuedConnection);
    }
}

bool WorkBatch::run(const QString &folder)
{
    if (m_running)
        return false;
    m_running = true;
    m_stopRequested = false;
    m_position = 0;
    m_total = int(m_queue.size());
    m_names.clear();
    m_outcomes.clear();
    m_folder = folder;
    QDir().mkpath(folder);
    QMetaObject::invokeMethod(this, &WorkBatch::nextWork, Qt::QueuedConnection);
    return true;
}

void WorkBatch::nextWork()
{
    if (m_queue.isEmpty() || m_stopRequested) {
        m_running = false;
        m_queue.clear();
        emit finished(std::exchange(m_outcomes, {}));
        return;
    }
    m_current = BatchOutcome();
    m_current.work = m_queue.takeFirst();
    ++m_position;
    emit workStarted(m_position, m_total, m_current.work);
    if (m_stopRequested) // asked for by a handler of workStarted
        return workDone(BatchOutcome::Kind::Stopped);
    // The recording page: the service's whole answer, as a double-click takes it.
    if (m_current.work.serviceAddress.isEmpty())
        return lookUpPage(m_current.work.pageAddress, [this, page = m_current.work.pageAddress](
                                                          const PageLookup &looked) { pageLookedUp(page, looked); });
    fetchService(m_current.work.serviceAddress,
                 [this](const std::optional<QString> &answer) { serviceAnswered(answer); });
}

void WorkBatch::fetchService(const QString &serviceAddress, std::function<void(std::optional<QString>)> then)
{
    m_serviceFetch = m_fetch(serviceAddress, std::move(then));
}

void WorkBatch::serviceAnswered(const std::optional<QString> &answer)
{
    if (m_stopRequested)
        return workDone(BatchOutcome::Kind::Stopped);
    if (!answer)
        return workFailed(BatchOutcome::Failure::ServiceUnanswered, m_current.work.serviceAddress);
    const QString pageAddress = *answer;
    lookUpPage(pageAddress, [this, pageAddress](const PageLookup &looked) { pageLookedUp(pageAddress, looked); });
}

void WorkBatch::lookUpPage(const QString &pageAddress, std::function<void(const PageLookup &)> then)
{
    // An error page (a 404 for a withdrawn work) is no recording page: it is
    // not read for an audio address, and its status is the reason given.
    m_lookup = std::make_unique<WorkLookup>();
    WorkLookup &lookup = *m_lookup;
    const PageFetch pageFetch = [this, &lookup](const QString &url, PageDone done) {
        return m_pageFetch(url, [&lookup, done = std::move(done)](std::optional<HttpAnswer> answer) {
            lookup.looked.pageStatus = answer ? answer->status : 0;
            if (!answer || answer->status >= 400)
                return done(std::nullopt);
            done(decodeBody(answer->body, answer->contentType));
        });
    };
    lookup.lookups = std::make_unique<SongLookups>(lookup.looked.song, lookup.panel, pageFetch);
    const auto ended = [this, then](LookupOutcome outcome) {
        m_lookup->looked.outcome = outcome;
        m_lookup->looked.refusal = m_lookup->panel.status;
        // Goes on from the event loop: the lookup is still reporting now.
        QMetaObject::invokeMethod(
            this,
            [this, then] {
                if (!m_lookup)
                    return; // stopped meanwhile
                const PageLookup looked = std::exchange(m_lookup, nullptr)->looked;
                then(looked);
            },
            Qt::QueuedConnection);
    };
    if (!lookup.lookups->start(pageAddress, ended))
        ended(LookupOutcome::Refused);
}

void WorkBatch::pageLookedUp(const QString &pageAddress, const PageLookup &looked)
{
    if (m_stopRequested)
        return workDone(BatchOutcome::Kind::Stopped);
    if (looked.outcome == LookupOutcome::Refused)
        return workFailed(BatchOutcome::Failure::NotRecordingPage, looked.refusal);
    if (looked.pageStatus >= 400) {
        m_current.httpStatus = looked.pageStatus;
        return workFailed(BatchOutcome::Failure::PageError, pageAddress);
    }
    const SongState &song = looked.song;
    if (looked.outcome != LookupOutcome::PageTaken || song.PageHtml.isEmpty())
        return workFailed(BatchOutcome::Failure::PageUnanswered, pageAddress);
    if (song.MusicUrl.isEmpty())
        return workFailed(BatchOutcome::Failure::NoAudioAddress, pageAddress);

    // The name the download panel would suggest for this song.
    const QString songTitle = downloadTitle(song.SongName);
    m_current.file = targetFor(m_folder, songTitle, song);
    emit targetChosen(m_current.file, songTitle, song.UserName);
    if (m_stopRequested) // asked for by a handler of targetChosen
        return workDone(BatchOutcome::Kind::Stopped);

    // A complete file from an earlier run (or an earlier row of the same work) stays.
    if (QFileInfo(m_current.file).isFile()) {
        const QString audio = song.MusicUrl;
        return probeSize(audio, [this, audio](std::optional<qint64> announced) { sizeKnown(audio, announced); });
    }
    startTransfer(song.MusicUrl);
}

void WorkBatch::probeSize(const QString &audioAddress, std::function<void(std::optional<qint64>)> then)
{
    // The answer may come while this batch is being destroyed (its
    // destructor ends the probe) or after: then nothing goes on.
    m_endProbe = m_sizeProbe(audioAddress, [this, alive = m_alive, then = std::move(then)](
                                               std::optional<qint64> announced) {
        if (!*alive)
            return;
        m_endProbe = nullptr;
        then(announced);
    });
}

void WorkBatch::sizeKnown(const QString &audioAddress, std::optional<qint64> announced)
{
    if (m_stopRequested)
        return workDone(BatchOutcome::Kind::Stopped);
    if (const QFileInfo existing(m_current.file); announced && existing.isFile() && *announced == existing.size()) {
        m_current.bytes = existing.size();
        return workDone(BatchOutcome::Kind::Skipped);
    }
    startTransfer(audioAddress);
}

void WorkBatch::startTransfer(const QString &audioAddress)
{
    m_transferring = m_engine.DLFile(audioAddress, m_current.file);
    if (!m_transferring) // the download panel's own transfer holds the engine
        workFailed(BatchOutcome::Failure::Transfer, QStringLiteral("a download is already running"));
}

void WorkBatch::transferEnded(const DownloadResult &result)
{
    m_current.bytes = result.bytes;
    // Only a complete answer replaced the target; anything else left the
    // folder as it was.
    switch (classifyDownload(result)) {
    case DownloadClass::Complete:
        return workDone(BatchOutcome::Kind::Downloaded);
    case DownloadClass::Stopped:
        return workDone(BatchOutcome::Kind::Stopped);
    case DownloadClass::FileError:
        m_current.systemError = result.systemError;
        return workFailed(BatchOutcome::Failure::FileError, result.error);
    case DownloadClass::Refused:
    case DownloadClass::CutShort:
        return workFailed(BatchOutcome::Failure::Transfer, result.error);
    case DownloadClass::HttpError:
        return workFailed(BatchOutcome::Failure::Transfer, QStringLiteral("HTTP %1").arg(result.httpStatus));
    case DownloadClass::Empty:
        return workFailed(BatchOutcome::Failure::Transfer, QStringLiteral("no data"));
    }
}

void WorkBatch::workFailed(BatchOutcome::Failure why, QString detail)
{
    m_current.failure = why;
    m_current.detail = std::move(detail);
    workDone(BatchOutcome::Kind::Failed);
}

void WorkBatch::workDone(BatchOutcome::Kind kind)
{
    m_current.kind = kind;
    m_outcomes.append(m_current);
    emit workEnded(m_position, m_total, m_current);
    // The next work starts from the event loop, never inside the handlers
    // of the step that just ended (the engine's finished signal among them).
    QMetaObject::invokeMethod(this, &WorkBatch::nextWork, Qt::QueuedConnection);
}
QString WorkBatch::targetFor(const QString &folder, const QString &songTitle, const SongState &song)
{
    QString name = suggestedFileName(songTitle, song.UserName);
    const auto taken = m_names.constFind(name);
    if (taken != m_names.cend() && *taken != song.MusicUrl) {
        // Another recording of the same song by the same singer: its id keeps
        // the two apart.
        const QString mark = song.WorkId.isEmpty() ? QString::number(m_position) : song.WorkId;
        name = safeFileName(songTitle + QStringLiteral(" - ") + song.UserName + QStringLiteral(" (") + mark
                            + QStringLiteral(").mp3"));
    }
    m_names.insert(name, song.MusicUrl);
    return QDir(folder).filePath(name);
}
