#pragma once
#include "core/lookup/PageFetcher.h"
#include "core/lookup/SongExtraction.h"
#include "core/works/WorksCrawl.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

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
// there, then the download engine. Works are queued and saved one at a time.
// run() starts the batch and returns; each step of a work continues in the
// slot or callback that receives its result, and finished() reports the
// whole batch. enqueue() and stop() may be called at any time.
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

    // `fetch` reads the service's answer and the recording pages (GetBody
    // and fetchPage when none is given; a given one's pages count as answered
    // with 200); the engine does the transfers.
    explicit WorkBatch(Cls_DownLoad &engine, PageFetch fetch = {}, QObject *parent = nullptr);
    ~WorkBatch() override;

    void setSizeProbe(SizeProbe probe) { m_sizeProbe = std::move(probe); }
    void setPageFetch(PageAnswerFetch fetch) { m_pageFetch = std::move(fetch); }

    // Adds works at the end of the queue; a running batch takes them on too.
    void enqueue(const QList<BatchWork> &works);
    // Starts saving the queued works into `folder` (created when missing),
    // one after another, until the queue is empty or a stop was asked, and
    // returns at once: false when a batch runs already. finished() reports
    // the outcome of every work it started, in order.
    bool run(const QString &folder);
    // Ends the batch: the running transfer stops after its next chunk (the
    // file it was writing is not kept as complete), a size probe ends at
    // once, and so do a page fetch and a lookup in progress; the rest of the
    // queue is dropped.
    void stop();

    bool isRunning() const { return m_running; }
    // The work under way, from 1, and the number of works queued in this run.
    int position() const { return m_position; }
    int total() const { return m_total; }

signals:
    void workStarted(int position, int total, const BatchWork &work);
    // The work's file is known: its song name and singer as the download
    // panel shows them.
    void targetChosen(const QString &file, const QString &songTitle, const QString &userName);
    void workEnded(int position, int total, const BatchOutcome &outcome);
    // The batch has ended: every work it started, in order.
    void finished(const QList<BatchOutcome> &outcomes);

private:
    struct WorkLookup;
    // What the lookup of a recording page gave.
    struct PageLookup {
        LookupOutcome outcome = LookupOutcome::NoPage;
        SongState song;
        QString refusal;    // the lookup's status text when it refused the address
        int pageStatus = 0; // the recording page's HTTP status, 0 when none came
    };

    void nextWork();
    void fetchService(const QString &serviceAddress, std::function<void(std::optional<QString>)> then);
    void serviceAnswered(const std::optional<QString> &answer);
    void lookUpPage(const QString &pageAddress, std::function<void(const PageLookup &)> then);
    void pageLookedUp(const QString &pageAddress, const PageLookup &looked);
    void probeSize(const QString &audioAddress, std::function<void(std::optional<qint64>)> then);
    void sizeKnown(const QString &audioAddress, std::optional<qint64> announced);
    void startTransfer(const QString &audioAddress);
    void transferEnded(const DownloadResult &result);
    void workDone(BatchOutcome::Kind kind);
    void workFailed(BatchOutcome::Failure why, QString detail = {});
    QString targetFor(const QString &folder, const QString &songTitle, const SongState &song);

    Cls_DownLoad &m_engine;
    const PageFetch m_fetch;
    PageAnswerFetch m_pageFetch;
    SizeProbe m_sizeProbe;
    QList<BatchWork> m_queue;
    QString m_folder;
    QList<BatchOutcome> m_outcomes;
    BatchOutcome m_current; // the work under way
    // File names given out in this batch, with the audio each one holds: a
    // second work with the same song name and singer must not overwrite the
    // first one's file.
    QHash<QString, QString> m_names;
    std::function<void()> m_endProbe; // while a size probe runs
    FetchHandle m_serviceFetch;        // while the play-address service is asked
    std::unique_ptr<WorkLookup> m_lookup; // while the recording page is looked up
    // False from the start of the destructor: answers that come later are dropped.
    const std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    bool m_running = false;
    bool m_stopRequested = false;
    bool m_transferring = false;
    int m_position = 0;
    int m_total = 0;
};

// Asks the program's network manager for the announced size of `address`
// (a HEAD request) and hands it to `done` when the answer has come: nothing
// when the server gives no size or no answer. Returns what aborts it.
std::function<void()> announcedSizeOf(const QString &address, WorkBatch::SizeAnswer done);
