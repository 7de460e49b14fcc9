#pragma once
#include "core/lookup/PageFetcher.h"
#include "core/lookup/SongExtraction.h"
#include "core/works/WorksCrawl.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

class Cls_DownLoad;

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
// address, the download panel's file name, then the download engine. Works are
// queued and saved one at a time; everything runs on the calling thread, and
// the fetches and the transfer deliver the window's events while they wait,
// so enqueue() and stop() may be called from inside run().
class WorkBatch : public QObject {
    Q_OBJECT
public:
    // A page as text, nothing when no answer came.
    using TextFetch = std::function<std::optional<QString>(const QString &address)>;
    // A recording page with its HTTP status, nothing when no answer came.
    using PageAnswerFetch = std::function<std::optional<HttpAnswer>(const QString &address)>;
    // The announced size of an address (a HEAD request), nothing when unknown.
    using SizeProbe = std::function<std::optional<qint64>(const QString &address)>;

    // `fetch` reads the service's answer and the recording pages (GetBody
    // and fetchPage when none is given; a given one's pages count as answered
    // with 200); the engine does the transfers.
    explicit WorkBatch(Cls_DownLoad &engine, TextFetch fetch = {}, QObject *parent = nullptr);

    void setSizeProbe(SizeProbe probe) { m_sizeProbe = std::move(probe); }
    void setPageFetch(PageAnswerFetch fetch) { m_pageFetch = std::move(fetch); }

    // Adds works at the end of the queue; a running batch takes them on too.
    void enqueue(const QList<BatchWork> &works);
    // Saves the queued works into `folder` (created when missing), one after
    // another, until the queue is empty or a stop was asked. Returns the
    // outcome of every work it started, in order.
    QList<BatchOutcome> run(const QString &folder);
    // Ends the batch: the running transfer stops after its next chunk (the
    // file it was writing is not kept as complete), a lookup in progress ends
    // when its fetch returns, and the rest of the queue is dropped.
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

private:
    BatchOutcome save(const BatchWork &work, const QString &folder);
    QString targetFor(const QString &folder, const QString &songTitle, const SongState &song);

    Cls_DownLoad &m_engine;
    const TextFetch m_fetch;
    PageAnswerFetch m_pageFetch;
    SizeProbe m_sizeProbe;
    QList<BatchWork> m_queue;
    // File names given out in this batch, with the audio each one holds: a
    // second work with the same song name and singer must not overwrite the
    // first one's file.
    QHash<QString, QString> m_names;
    bool m_running = false;
    bool m_stopRequested = false;
    bool m_transferring = false;
    int m_position = 0;
    int m_total = 0;
};

// The announced size of `address` from a HEAD request through the program's
// network manager; nothing when the server gives no size or no answer.
std::optional<qint64> announcedSizeOf(const QString &address);
