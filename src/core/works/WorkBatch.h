#pragma once
#include "core/download/SongTags.h"
#include "core/lookup/PageFetcher.h"
#include "core/lookup/SongExtraction.h"
#include "core/works/WorksCrawl.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class Cls_DownLoad;
struct DownloadResult;

// One work to save: a row of the works table, resolved through the
// play-address service as a double-click resolves it, or a recording page
// address given as it stands.
struct BatchWork {
    QString id;             // the row's work id; empty for a recording page
    QString title;          // the row's title; empty for a recording page
    QString serviceAddress; // the play-address service; empty for a recording page
    QString pageAddress;    // the recording page, for a work given by its page

    static BatchWork fromRow(const WorkRow &row);
    static BatchWork fromPage(const QString &address);
    // How progress and summaries name it: id and title, or the page address.
    QString label() const;
};

// How one work of a batch ended.
struct BatchOutcome {
    enum class Kind { Downloaded, Skipped, Failed, Stopped };
    enum class Failure {
        None,
        ServiceUnanswered, // the play-address service gave no answer
        NotRecordingPage,  // the lookup refused the address (detail: its status text)
        PageUnanswered,    // the recording page could not be fetched, or was empty
        NoAudioAddress,    // the recording page names no audio file
        Transfer,          // the audio transfer failed (detail: why)
        FileError,         // the target file could not be written (detail: why)
        PageError,         // the recording page was answered with an HTTP error (httpStatus; detail: the page)
    };

    Kind kind = Kind::Failed;
    Failure failure = Failure::None;
    QString detail;
    BatchWork work;
    QString file;      // the target file, once it is known
    qint64 bytes = 0;  // bytes downloaded, or the size of the complete file skipped
    int systemError = 0; // FileError: the system's error number (ENOSPC: disk full)
    int httpStatus = 0;  // PageError: the recording page's status (404: not found)
};

// The per-work sequence shared by `kelvaro get` and the works table's
// download menu: play-address service, the recording page lookup, the audio
// address, the download panel's file name, the size of a file already
// there, then the download engine. Works are queued and saved up to jobs()
// at a time, each running work on a download engine of its own (the one
// given for the first, more made as needed; engines of one thread share
// their connections). run() starts the batch and returns; each step of a
// work continues in the slot or callback that receives its result, and
// finished() reports the whole batch. enqueue() and stop() may be called at
// any time.
//
// A running work is named by its position in the run (from 1): every
// per-work signal carries it.
class WorkBatch : public QObject {
    Q_OBJECT
public:
    // Starts fetching a recording page; `done` gets it with its HTTP status,
    // nothing when no answer came (later, as PageFetch hands over a page).
    using PageAnswerFetch = std::function<FetchHandle(const QString &address, AnswerDone done)>;
    // What a size probe hands over: the announced size, nothing when unknown.
    using SizeAnswer = std::function<void(std::optional<qint64> size)>;
    // Asks for the announced size of an address (a HEAD request) and hands
    // it to `done` from the event loop. Returns what ends the request at
    // once; `done` then gets nothing (at once or from the event loop).
    using SizeProbe = std::function<std::function<void()>(const QString &address, SizeAnswer done)>;
    // Writes the tags into a complete temporary file; an empty string, or
    // what went wrong (writeSongTags by default).
    using TagWriter = std::function<QString(const QString &path, const SongTags &tags)>;

    static constexpr int MaxJobs = 8;

    // `fetch` reads the service's answer and the recording pages (GetBody
    // and fetchPage when none is given; a given one's pages count as answered
    // with 200); the engine does the transfers.
    explicit WorkBatch(Cls_DownLoad &engine, PageFetch fetch = {}, QObject *parent = nullptr);
    ~WorkBatch() override;

    void setSizeProbe(SizeProbe probe) { m_sizeProbe = std::move(probe); }
    void setPageFetch(PageAnswerFetch fetch) { m_pageFetch = std::move(fetch); }
    void setTagWriter(TagWriter writer) { m_tagWriter = std::move(writer); }

    // How many works run at once, 1 to MaxJobs (clamped); 1 by default.
    // Taken by the next work that starts. No host ever gets more transfers
    // at once than this.
    void setJobs(int jobs);
    int jobs() const { return m_jobs; }
    // Whether a transfer continues the temporary file an earlier one kept
    // (and keeps its own when cut): on by default.
    void setResume(bool on) { m_resume = on; }
    // How often a transient transfer failure is tried again; 3 by default, 0: never.
    void setRetries(int retries) { m_retries = std::max(0, retries); }
    // Whether saved files get their song's tags (title, singer, cover, page,
    // work id); on by default. A file whose tags cannot be written is not
    // kept: the work fails with a file error.
    void setTags(bool on) { m_tags = on; }

    // Adds works at the end of the queue; a running batch takes them on too.
    void enqueue(const QList<BatchWork> &works);
    // Starts saving the queued works into `folder` (created when missing),
    // up to jobs() at once, until the queue is empty or a stop was asked, and
    // returns at once: false when a batch runs already. finished() reports
    // the outcome of every work it started, in the order they were queued.
    bool run(const QString &folder);
    // Ends the batch: every running transfer stops after its next chunk (the
    // file it was writing is not kept as complete), size probes end at
    // once, and so do page fetches and lookups in progress; the rest of the
    // queue is dropped.
    void stop();

    bool isRunning() const { return m_running; }
    // The last work started, from 1, and the number of works queued in this run.
    int position() const { return m_position; }
    int total() const { return m_total; }
    // The positions of the works under way, lowest first.
    QList<int> runningPositions() const;
    // Works of this run that have ended.
    int endedCount() const { return m_ended; }
    // The HTTP status the running transfer of the work at `position` was
    // answered with; 0 before the answer, or when it runs no transfer.
    int answerStatus(int position) const;

signals:
    void workStarted(int position, int total, const BatchWork &work);
    // The work's file is known: its song name and singer as the download
    // panel shows them.
    void workTarget(int position, const QString &file, const QString &songTitle, const QString &userName);
    // The engine's events for the work's transfer.
    void workStatus(int position, int status);
    void workProgress(int position, qint64 received, qint64 size);
    void workResuming(int position, qint64 from, qint64 size);
    void workRetrying(int position, int attempt, int retries, int delayMs, const QString &reason);
    void workEnded(int position, int total, const BatchOutcome &outcome);
    // The batch has ended: every work it started, in order.
    void finished(const QList<BatchOutcome> &outcomes);

private:
    struct WorkLookup;
    struct Running;
    // What the lookup of a recording page gave.
    struct PageLookup {
        LookupOutcome outcome = LookupOutcome::NoPage;
        SongState song;
        QString refusal;    // the lookup's status text when it refused the address
        int pageStatus = 0; // the recording page's HTTP status, 0 when none came
        QString picture;    // the picture the song panel would show, empty for none
    };

    void connectEngine(Cls_DownLoad &engine);
    void postFill();
    void fill();
    void startWork(BatchWork work);
    Running *find(int position) const;
    Running *holding(const Cls_DownLoad *engine) const;
    void serviceAnswered(Running &work, const std::optional<QString> &answer);
    void lookUpPage(Running &work, const QString &pageAddress);
    void pageLookedUp(Running &work, const QString &pageAddress, const PageLookup &looked);
    void fetchCover(Running &work);
    void sizeKnown(Running &work, std::optional<qint64> announced);
    void startTransfer(Running &work);
    void transferEnded(Running &work, const DownloadResult &result);
    void workDone(Running &work, BatchOutcome::Kind kind);
    void workFailed(Running &work, BatchOutcome::Failure why, QString detail = {});
    void endLater(int position, BatchOutcome::Kind kind);
    Cls_DownLoad *freeEngine();
    QString targetFor(const QString &folder, const QString &songTitle, const SongState &song, int position);

    Cls_DownLoad &m_engine;
    const PageFetch m_fetch;
    PageAnswerFetch m_pageFetch;
    SizeProbe m_sizeProbe;
    TagWriter m_tagWriter;
    QList<BatchWork> m_queue;
    QString m_folder;
    // Every work started in this run, by position - 1: filled as each ends.
    QList<std::optional<BatchOutcome>> m_outcomes;
    std::vector<std::unique_ptr<Running>> m_runningWorks;
    std::vector<std::unique_ptr<Running>> m_finishedWorks; // let go of in the next round
    // The engines beyond the given one, made as more works ran at once.
    std::vector<std::unique_ptr<Cls_DownLoad>> m_moreEngines;
    // File names given out in this batch, with the audio each one holds: a
    // second work with the same song name and singer must not overwrite the
    // first one's file.
    QHash<QString, QString> m_names;
    QHash<QString, QByteArray> m_covers; // pictures fetched in this batch, by address
    // False from the start of the destructor: answers that come later are dropped.
    const std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    bool m_running = false;
    bool m_stopRequested = false;
    bool m_fillPosted = false;
    bool m_resume = true;
    bool m_tags = true;
    int m_retries = 3;
    int m_jobs = 1;
    int m_position = 0;
    int m_total = 0;
    int m_ended = 0;
};

// Asks the program's network manager for the announced size of `address`
// (a HEAD request) and hands it to `done` when the answer has come: nothing
// when the server gives no size or no answer. Returns what aborts it.
std::function<void()> announcedSizeOf(const QString &address, WorkBatch::SizeAnswer done);
