#include "core/works/WorkBatch.h"

#include "core/download/Cls_DownLoad.h"
#include "core/download/DownloadPanelLogic.h"
#include "core/download/SongTags.h"
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
    QString picture; // the one the song panel would show: the cover of the saved file
    void setStatus(const QString &text) override { status = text; }
    void showDetails(const QString &, const SongDetails &) override {}
    void showDefaultPicture() override { picture.clear(); }
    FetchHandle showPicture(PictureSource, QString path, std::function<void()> shown) override
    {
        picture = std::move(path);
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

// One work under way: whatever step it is in holds its handle here, so
// that a stop (or the batch's end) can end it.
struct WorkBatch::Running {
    int position = 0;
    BatchOutcome outcome;
    FetchHandle serviceFetch;
    std::unique_ptr<WorkLookup> lookup;
    FetchHandle coverFetch;
    std::function<void()> endProbe;
    Cls_DownLoad *engine = nullptr; // while its transfer runs
    QString audio;
    SongTags tags;
    QString picture;
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
      m_sizeProbe(announcedSizeOf),
      m_tagWriter(writeSongTags)
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
    connectEngine(m_engine);
}

void WorkBatch::connectEngine(Cls_DownLoad &engine)
{
    // The engine may run other transfers too (the download panel's): only
    // the ones this batch started are its business.
    Cls_DownLoad *const e = &engine;
    connect(e, &Cls_DownLoad::DLFileFinished, this, [this, e](const DownloadResult &result) {
        if (Running *work = holding(e)) {
            work->engine = nullptr;
            transferEnded(*work, result);
        }
    });
    connect(e, &Cls_DownLoad::DLFileStatus, this, [this, e](int status) {
        if (Running *work = holding(e))
            emit workStatus(work->position, status);
    });
    connect(e, &Cls_DownLoad::DLFileDowning, this, [this, e](const QString &, qint64 received, qint64 size) {
        if (Running *work = holding(e))
            emit workProgress(work->position, received, size);
    });
    connect(e, &Cls_DownLoad::DLFileResuming, this, [this, e](qint64 from, qint64 size) {
        if (Running *work = holding(e))
            emit workResuming(work->position, from, size);
    });
    connect(e, &Cls_DownLoad::DLFileRetrying, this,
            [this, e](int attempt, int retries, int delayMs, const QString &reason) {
                if (Running *work = holding(e))
                    emit workRetrying(work->position, attempt, retries, delayMs, reason);
            });
}

WorkBatch::~WorkBatch()
{
    // Probes under way are ended; their answers find no batch to go on with.
    *m_alive = false;
    // The engines say nothing more to a batch that is going: the ones it
    // made end their transfers as a destroyed engine does; the given one
    // goes on with its own.
    m_engine.disconnect(this);
    for (const auto &engine : m_moreEngines)
        engine->disconnect(this);
    for (const auto &work : m_runningWorks) {
        if (work->endProbe)
            std::exchange(work->endProbe, nullptr)();
    }
    m_runningWorks.clear();
    m_finishedWorks.clear();
    m_moreEngines.clear();
}

void WorkBatch::setJobs(int jobs)
{
    m_jobs = std::clamp(jobs, 1, MaxJobs);
}

void WorkBatch::enqueue(const QList<BatchWork> &works)
{
    m_queue.append(works);
    if (m_running) {
        m_total += int(works.size());
        postFill(); // a free place takes the new works on
    }
}

QList<int> WorkBatch::runningPositions() const
{
    QList<int> positions;
    for (const auto &work : m_runningWorks)
        positions.append(work->position);
    std::sort(positions.begin(), positions.end());
    return positions;
}

int WorkBatch::answerStatus(int position) const
{
    const Running *work = find(position);
    return work && work->engine ? work->engine->answer().httpStatus : 0;
}

WorkBatch::Running *WorkBatch::find(int position) const
{
    for (const auto &work : m_runningWorks) {
        if (work->position == position)
            return work.get();
    }
    return nullptr;
}

WorkBatch::Running *WorkBatch::holding(const Cls_DownLoad *engine) const
{
    for (const auto &work : m_runningWorks) {
        if (work->engine == engine)
            return work.get();
    }
    return nullptr;
}

void WorkBatch::stop()
{
    if (!m_running)
        return; // nothing to stop, and the engine's stop latch must not be left set for a later download
    m_stopRequested = true;
    m_queue.clear();
    // Each running work ends as it can: a transfer after its next chunk (its
    // end comes back through transferEnded), a size probe at once (its
    // answer ends the work), a page fetch, a lookup or a cover fetch at once:
    // the work then ends as stopped from the event loop.
    for (const int position : runningPositions()) {
        Running *work = find(position);
        if (!work)
            continue; // ended by the probe of an earlier one
        if (work->engine) {
            if (work->engine->isRunning())
                work->engine->DLFileStop();
        } else if (work->endProbe) {
            std::exchange(work->endProbe, nullptr)();
        } else {
            work->serviceFetch.cancel();
            work->coverFetch.cancel();
            work->lookup.reset();
            endLater(position, BatchOutcome::Kind::Stopped);
        }
    }
    postFill();
}

bool WorkBatch::run(const QString &folder)
{
    if (m_running)
        return false;
    m_running = true;
    m_stopRequested = false;
    m_position = 0;
    m_ended = 0;
    m_total = int(m_queue.size());
    m_names.clear();
    m_covers.clear();
    m_outcomes.clear();
    m_folder = folder;
    QDir().mkpath(folder);
    postFill();
    return true;
}

void WorkBatch::postFill()
{
    if (std::exchange(m_fillPosted, true))
        return;
    QMetaObject::invokeMethod(this, &WorkBatch::fill, Qt::QueuedConnection);
}

void WorkBatch::fill()
{
    m_fillPosted = false;
    m_finishedWorks.clear();
    if (!m_running)
        return;
    if (m_stopRequested)
        m_queue.clear();
    // Every running work holds at most one connection at a time (its page,
    // its cover, its size probe or its transfer), so no host, and no
    // server, ever gets more than jobs() of them from this batch.
    while (!m_queue.isEmpty() && int(m_runningWorks.size()) < m_jobs && !m_stopRequested)
        startWork(m_queue.takeFirst());
    if (m_runningWorks.empty() && (m_queue.isEmpty() || m_stopRequested)) {
        m_running = false;
        m_queue.clear();
        QList<BatchOutcome> outcomes;
        for (const std::optional<BatchOutcome> &outcome : std::exchange(m_outcomes, {}))
            outcomes.append(outcome.value_or(BatchOutcome()));
        emit finished(outcomes);
    }
}

void WorkBatch::startWork(BatchWork batchWork)
{
    auto running = std::make_unique<Running>();
    Running &work = *running;
    work.position = ++m_position;
    work.outcome.work = std::move(batchWork);
    m_outcomes.append(std::nullopt);
    m_runningWorks.push_back(std::move(running));
    const int position = work.position;
    emit workStarted(position, m_total, work.outcome.work);
    if (m_stopRequested || !find(position)) // stopped by a handler of workStarted
        return;
    // The recording page: the service's whole answer, as a double-click takes it.
    if (work.outcome.work.serviceAddress.isEmpty())
        return lookUpPage(work, work.outcome.work.pageAddress);
    work.serviceFetch = m_fetch(work.outcome.work.serviceAddress, [this, position](std::optional<QString> answer) {
        if (Running *found = find(position))
            serviceAnswered(*found, answer);
    });
}

void WorkBatch::serviceAnswered(Running &work, const std::optional<QString> &answer)
{
    if (m_stopRequested)
        return workDone(work, BatchOutcome::Kind::Stopped);
    if (!answer)
        return workFailed(work, BatchOutcome::Failure::ServiceUnanswered, work.outcome.work.serviceAddress);
    lookUpPage(work, *answer);
}

void WorkBatch::lookUpPage(Running &work, const QString &pageAddress)
{
    // An error page (a 404 for a withdrawn work) is no recording page: it is
    // not read for an audio address, and its status is the reason given.
    work.lookup = std::make_unique<WorkLookup>();
    WorkLookup &lookup = *work.lookup;
    const PageFetch pageFetch = [this, &lookup](const QString &url, PageDone done) {
        return m_pageFetch(url, [&lookup, done = std::move(done)](std::optional<HttpAnswer> answer) {
            lookup.looked.pageStatus = answer ? answer->status : 0;
            if (!answer || answer->status >= 400)
                return done(std::nullopt);
            done(decodeBody(answer->body, answer->contentType));
        });
    };
    lookup.lookups = std::make_unique<SongLookups>(lookup.looked.song, lookup.panel, pageFetch);
    const int position = work.position;
    const auto ended = [this, position, &lookup, pageAddress](LookupOutcome outcome) {
        lookup.looked.outcome = outcome;
        lookup.looked.refusal = lookup.panel.status;
        lookup.looked.picture = lookup.panel.picture;
        // Goes on from the event loop: the lookup is still reporting now.
        QMetaObject::invokeMethod(
            this,
            [this, position, pageAddress] {
                Running *found = find(position);
                if (!found || !found->lookup)
                    return; // stopped meanwhile
                const PageLookup looked = std::exchange(found->lookup, nullptr)->looked;
                pageLookedUp(*found, pageAddress, looked);
            },
            Qt::QueuedConnection);
    };
    if (!lookup.lookups->start(pageAddress, ended))
        ended(LookupOutcome::Refused);
}

void WorkBatch::pageLookedUp(Running &work, const QString &pageAddress, const PageLookup &looked)
{
    if (m_stopRequested)
        return workDone(work, BatchOutcome::Kind::Stopped);
    if (looked.outcome == LookupOutcome::Refused)
        return workFailed(work, BatchOutcome::Failure::NotRecordingPage, looked.refusal);
    if (looked.pageStatus >= 400) {
        work.outcome.httpStatus = looked.pageStatus;
        return workFailed(work, BatchOutcome::Failure::PageError, pageAddress);
    }
    const SongState &song = looked.song;
    if (looked.outcome != LookupOutcome::PageTaken || song.PageHtml.isEmpty())
        return workFailed(work, BatchOutcome::Failure::PageUnanswered, pageAddress);
    if (song.MusicUrl.isEmpty())
        return workFailed(work, BatchOutcome::Failure::NoAudioAddress, pageAddress);

    // The name the download panel would suggest for this song.
    const QString songTitle = downloadTitle(song.SongName);
    work.outcome.file = targetFor(m_folder, songTitle, song, work.position);
    work.audio = song.MusicUrl;
    work.picture = looked.picture;
    work.tags.title = songTitle;
    work.tags.artist = song.UserName;
    work.tags.sourcePage = pageAddress;
    // The work asked for by its row, or the one the page names.
    work.tags.workId = work.outcome.work.id.isEmpty() ? song.WorkId : work.outcome.work.id;
    const int position = work.position;
    emit workTarget(position, work.outcome.file, songTitle, song.UserName);
    Running *const found = find(position);
    if (!found)
        return; // ended by a handler
    if (m_stopRequested) // asked for by a handler of workTarget
        return workDone(*found, BatchOutcome::Kind::Stopped);

    // A complete file from an earlier run (or an earlier row of the same work)
    // stays: one this batch tagged as this work's, or one of the size the
    // server announces.
    if (const QFileInfo existing(found->outcome.file); existing.isFile() && !found->tags.workId.isEmpty()
                                                       && savedWorkId(existing.filePath()) == found->tags.workId) {
        found->outcome.bytes = existing.size();
        return workDone(*found, BatchOutcome::Kind::Skipped);
    }
    if (QFileInfo(found->outcome.file).isFile()) {
        // The answer may come while this batch is being destroyed (its
        // destructor ends the probe) or after: then nothing goes on.
        found->endProbe = m_sizeProbe(found->audio, [this, alive = m_alive, position](std::optional<qint64> announced) {
            if (!*alive)
                return;
            if (Running *probed = find(position)) {
                probed->endProbe = nullptr;
                sizeKnown(*probed, announced);
            }
        });
        return;
    }
    fetchCover(*found);
}

void WorkBatch::sizeKnown(Running &work, std::optional<qint64> announced)
{
    if (m_stopRequested)
        return workDone(work, BatchOutcome::Kind::Stopped);
    if (const QFileInfo existing(work.outcome.file); announced && existing.isFile() && *announced == existing.size()) {
        work.outcome.bytes = existing.size();
        return workDone(work, BatchOutcome::Kind::Skipped);
    }
    fetchCover(work);
}

void WorkBatch::fetchCover(Running &work)
{
    // The singer picture as the song panel shows it. Without it the file is
    // saved all the same, with no cover.
    if (!m_tags || work.picture.isEmpty())
        return startTransfer(work);
    // A singer's works mostly show the same picture: it is fetched once a batch.
    if (const auto known = m_covers.constFind(work.picture); known != m_covers.cend()) {
        work.tags.cover = *known;
        return startTransfer(work);
    }
    const int position = work.position;
    work.coverFetch = m_pageFetch(work.picture, [this, position](std::optional<HttpAnswer> answer) {
        QMetaObject::invokeMethod(
            this,
            [this, position, answer] {
                Running *found = find(position);
                if (!found)
                    return;
                found->coverFetch = FetchHandle();
                if (m_stopRequested)
                    return workDone(*found, BatchOutcome::Kind::Stopped);
                if (answer && answer->status / 100 == 2 && !answer->body.isEmpty()) {
                    found->tags.cover = answer->body;
                    m_covers.insert(found->picture, answer->body);
                }
                startTransfer(*found);
            },
            Qt::QueuedConnection);
    });
}

Cls_DownLoad *WorkBatch::freeEngine()
{
    const auto free = [this](Cls_DownLoad *engine) { return !engine->isRunning() && !holding(engine); };
    if (free(&m_engine))
        return &m_engine;
    for (const auto &engine : m_moreEngines) {
        if (free(engine.get()))
            return engine.get();
    }
    auto made = std::make_unique<Cls_DownLoad>();
    made->setStallLimit(m_engine.stallLimit());
    connectEngine(*made);
    m_moreEngines.push_back(std::move(made));
    return m_moreEngines.back().get();
}

void WorkBatch::startTransfer(Running &work)
{
    TransferOptions options;
    options.resume = m_resume;
    options.retries = m_retries;
    if (m_tags) {
        // On the complete temporary file, before it takes the final name: a
        // file whose tags fail is never left under that name.
        options.beforeCommit = [writer = m_tagWriter, tags = work.tags](const QString &tempPath) {
            return writer(tempPath, tags);
        };
    }
    Cls_DownLoad *const engine = freeEngine();
    work.engine = engine;
    if (!engine->DLFile(work.audio, work.outcome.file, options)) {
        work.engine = nullptr;
        workFailed(work, BatchOutcome::Failure::Transfer, QStringLiteral("a download is already running"));
    }
}

void WorkBatch::transferEnded(Running &work, const DownloadResult &result)
{
    work.outcome.bytes = result.bytes;
    // Only a complete answer replaced the target; anything else left the
    // folder as it was.
    switch (classifyDownload(result)) {
    case DownloadClass::Complete:
        return workDone(work, BatchOutcome::Kind::Downloaded);
    case DownloadClass::Stopped:
        return workDone(work, BatchOutcome::Kind::Stopped);
    case DownloadClass::FileError:
        work.outcome.systemError = result.systemError;
        return workFailed(work, BatchOutcome::Failure::FileError, result.error);
    case DownloadClass::Refused:
    case DownloadClass::CutShort:
        return workFailed(work, BatchOutcome::Failure::Transfer, result.error);
    case DownloadClass::HttpError:
        return workFailed(work, BatchOutcome::Failure::Transfer, QStringLiteral("HTTP %1").arg(result.httpStatus));
    case DownloadClass::Empty:
        return workFailed(work, BatchOutcome::Failure::Transfer, QStringLiteral("no data"));
    }
}

void WorkBatch::workFailed(Running &work, BatchOutcome::Failure why, QString detail)
{
    work.outcome.failure = why;
    work.outcome.detail = std::move(detail);
    workDone(work, BatchOutcome::Kind::Failed);
}

void WorkBatch::endLater(int position, BatchOutcome::Kind kind)
{
    QMetaObject::invokeMethod(
        this,
        [this, position, kind] {
            if (Running *work = find(position))
                workDone(*work, kind);
        },
        Qt::QueuedConnection);
}

void WorkBatch::workDone(Running &work, BatchOutcome::Kind kind)
{
    work.outcome.kind = kind;
    const int position = work.position;
    const BatchOutcome outcome = work.outcome;
    m_outcomes[position - 1] = outcome;
    ++m_ended;
    // Out of the running works now; let go of from the event loop, never
    // inside the handlers of the step that just ended (the engine's
    // finished signal among them, or a lookup still reporting).
    const auto it = std::find_if(m_runningWorks.begin(), m_runningWorks.end(),
                                 [&work](const auto &held) { return held.get() == &work; });
    m_finishedWorks.push_back(std::move(*it));
    m_runningWorks.erase(it);
    emit workEnded(position, m_total, outcome);
    // The next work starts from the event loop.
    postFill();
}

QString WorkBatch::targetFor(const QString &folder, const QString &songTitle, const SongState &song, int position)
{
    QString name = suggestedFileName(songTitle, song.UserName);
    const auto taken = m_names.constFind(name);
    if (taken != m_names.cend() && *taken != song.MusicUrl) {
        // Another recording of the same song by the same singer: its id keeps
        // the two apart.
        const QString mark = song.WorkId.isEmpty() ? QString::number(position) : song.WorkId;
        name = safeFileName(songTitle + QStringLiteral(" - ") + song.UserName + QStringLiteral(" (") + mark
                            + QStringLiteral(").mp3"));
    }
    m_names.insert(name, song.MusicUrl);
    return QDir(folder).filePath(name);
}
