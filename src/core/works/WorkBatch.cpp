#include "core/works/WorkBatch.h"

#include "core/download/Cls_DownLoad.h"
#include "core/download/DownloadPanelLogic.h"
#include "core/lookup/PageFetcher.h"
#include "core/platform/Network.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QScopeGuard>
#include <QTimer>

#include <memory>

namespace {

// Handed to the engine, which accepts it and has no use for it.
constexpr qint32 TimeOutMs = 10000;
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

// The batch still runs each work on its caller's stack: it waits here for
// a fetch or a lookup that reports through a callback.
template <typename Result, typename Start>
Result waitFor(Start start)
{
    std::optional<Result> result;
    QEventLoop loop;
    const auto handle = start([&result, &loop](Result value) {
        result = std::move(value);
        loop.quit();
    });
    if (!result)
        loop.exec();
    return result ? std::move(*result) : Result{};
}

BatchOutcome failed(BatchOutcome outcome, BatchOutcome::Failure why, QString detail = {})
{
    outcome.kind = BatchOutcome::Kind::Failed;
    outcome.failure = why;
    outcome.detail = std::move(detail);
    return outcome;
}

} // namespace

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

std::optional<qint64> announcedSizeOf(const QString &address)
{
    QNetworkRequest request(requestUrl(address));
    // As the engine asks: the server's own bytes, never a cached or packed copy.
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("VB Http"));
    request.setRawHeader("Accept-Encoding", "identity");
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setTransferTimeout(SizeProbeLimitMs);
    const std::unique_ptr<QNetworkReply> reply(networkManager().head(request));
    if (!reply->isFinished()) {
        QEventLoop loop;
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (!reply->isFinished()) {
        reply->abort();
        return std::nullopt;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (judgeReply(*reply) != NetworkOutcome::Answered || status / 100 != 2 || !reply->hasRawHeader("Content-Length"))
        return std::nullopt;
    const qint64 size = Cls_DownLoad::announcedSize(reply->rawHeader("Content-Length"));
    return size > 0 ? std::optional<qint64>(size) : std::nullopt;
}

WorkBatch::WorkBatch(Cls_DownLoad &engine, TextFetch fetch, QObject *parent)
    : QObject(parent),
      m_engine(engine),
      m_fetch(fetch ? std::move(fetch) : TextFetch([](const QString &url) {
          return waitFor<std::optional<QString>>([&url](PageDone done) { return GetBody(url, std::move(done)); });
      })),
      m_sizeProbe(announcedSizeOf)
{
    if (fetch) {
        m_pageFetch = [fetch](const QString &url) -> std::optional<HttpAnswer> {
            const std::optional<QString> page = fetch(url);
            if (!page)
                return std::nullopt;
            return HttpAnswer{200, QByteArrayLiteral("text/html; charset=utf-8"), page->toUtf8()};
        };
    } else {
        m_pageFetch = [](const QString &url) {
            return waitFor<std::optional<HttpAnswer>>([&url](AnswerDone done) { return fetchPage(url, std::move(done)); });
        };
    }
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
    if (m_transferring && m_engine.isRunning())
        m_engine.DLFileStop();
}

QList<BatchOutcome> WorkBatch::run(const QString &folder)
{
    QList<BatchOutcome> outcomes;
    if (m_running)
        return outcomes;
    m_running = true;
    m_stopRequested = false;
    m_position = 0;
    m_total = int(m_queue.size());
    m_names.clear();
    const auto ended = qScopeGuard([this] {
        m_running = false;
        m_queue.clear();
    });

    QDir().mkpath(folder);
    while (!m_queue.isEmpty() && !m_stopRequested) {
        const BatchWork work = m_queue.takeFirst();
        ++m_position;
        emit workStarted(m_position, m_total, work);
        BatchOutcome outcome = save(work, folder);
        outcomes.append(outcome);
        emit workEnded(m_position, m_total, outcome);
    }
    return outcomes;
}

BatchOutcome WorkBatch::save(const BatchWork &work, const QString &folder)
{
    BatchOutcome outcome;
    outcome.work = work;
    const auto stopped = [&outcome] {
        outcome.kind = BatchOutcome::Kind::Stopped;
        return outcome;
    };

    // The recording page: the service's whole answer, as a double-click takes it.
    QString pageAddress = work.pageAddress;
    if (!work.serviceAddress.isEmpty()) {
        const std::optional<QString> answer = m_fetch(work.serviceAddress);
        if (m_stopRequested)
            return stopped();
        if (!answer)
            return failed(outcome, BatchOutcome::Failure::ServiceUnanswered, work.serviceAddress);
        pageAddress = *answer;
    }

    // Every work is looked up on its own state, apart from the window's song.
    SongState song;
    SilentPanel panel;
    // An error page (a 404 for a withdrawn work) is no recording page: it is
    // not read for an audio address, and its status is the reason given.
    int pageStatus = 0;
    const PageFetch pageFetch = [this, &pageStatus](const QString &url, PageDone done) {
        const std::optional<HttpAnswer> answer = m_pageFetch(url);
        pageStatus = answer ? answer->status : 0;
        std::optional<QString> page;
        if (answer && answer->status < 400)
            page = decodeBody(answer->body, answer->contentType);
        return answerLater([done = std::move(done), page = std::move(page)] { done(page); });
    };
    SongLookups lookups(song, panel, pageFetch);
    LookupOutcome looked = LookupOutcome::Refused;
    if (lookups.start(pageAddress, [&looked](LookupOutcome outcome) { looked = outcome; })) {
        QEventLoop loop;
        connect(&lookups, &SongLookups::finished, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (m_stopRequested)
        return stopped();
    if (looked == LookupOutcome::Refused)
        return failed(outcome, BatchOutcome::Failure::NotRecordingPage, panel.status);
    if (pageStatus >= 400) {
        outcome.httpStatus = pageStatus;
        return failed(outcome, BatchOutcome::Failure::PageError, pageAddress);
    }
    if (looked != LookupOutcome::PageTaken || song.PageHtml.isEmpty())
        return failed(outcome, BatchOutcome::Failure::PageUnanswered, pageAddress);
    if (song.MusicUrl.isEmpty())
        return failed(outcome, BatchOutcome::Failure::NoAudioAddress, pageAddress);

    // The name the download panel would suggest for this song.
    const QString songTitle = downloadTitle(song.SongName);
    outcome.file = targetFor(folder, songTitle, song);
    emit targetChosen(outcome.file, songTitle, song.UserName);

    // A complete file from an earlier run (or an earlier row of the same work) stays.
    if (const QFileInfo existing(outcome.file); existing.isFile()) {
        const std::optional<qint64> announced = m_sizeProbe(song.MusicUrl);
        if (m_stopRequested)
            return stopped();
        if (announced && *announced == existing.size()) {
            outcome.kind = BatchOutcome::Kind::Skipped;
            outcome.bytes = existing.size();
            return outcome;
        }
    }

    DownloadResult result;
    {
        m_transferring = true;
        const auto done = qScopeGuard([this] { m_transferring = false; });
        result = m_engine.DLFile(song.MusicUrl, outcome.file, TimeOutMs);
    }
    outcome.bytes = result.bytes;

    using Ending = DownloadResult::Ending;
    switch (result.ending) {
    case Ending::Stopped:
        return stopped();
    case Ending::FileError:
        outcome.systemError = result.systemError;
        return failed(outcome, BatchOutcome::Failure::FileError, result.error);
    case Ending::NoSession:
    case Ending::AddressRefused:
    case Ending::Busy:
        return failed(outcome, BatchOutcome::Failure::Transfer, result.error);
    case Ending::Finished:
        break;
    }
    // Only a complete answer replaces the target; anything else left the
    // folder as it was.
    if (!result.complete()) {
        QString why = result.error;
        if (result.httpStatus / 100 != 2)
            why = QStringLiteral("HTTP %1").arg(result.httpStatus);
        else if (!result.shortTransfer && result.bytes == 0)
            why = QStringLiteral("no data");
        return failed(outcome, BatchOutcome::Failure::Transfer, why);
    }
    outcome.kind = BatchOutcome::Kind::Downloaded;
    return outcome;
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
