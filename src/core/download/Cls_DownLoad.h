#pragma once
#include "core/download/DownloadStatus.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// How one transfer ended, beyond the byte count the status events imply.
struct DownloadResult {
    enum class Ending {
        Finished,       // status 9: the data ended, or a read failed (see shortTransfer)
        Stopped,        // status 5: a stop request was acted on
        NoSession,      // status 7: no network session could be had
        AddressRefused, // status 8: the server gave no answer
        FileError,      // the target file could not be written or put in place; no status after that
    };

    Ending ending = Ending::Finished;
    // Bytes received and written (to the target's ".part" file): the count
    // the caller acts on. 0 when no session, the address was refused or the
    // file failed (its ".part" is gone).
    qint64 bytes = 0;
    // The announced size (Content-Length), 0 when absent or unreadable.
    qint64 announced = 0;
    // The HTTP status the server answered with, 0 when it did not answer.
    int httpStatus = 0;
    // The answer's Content-Type header as sent, empty when it had none.
    QByteArray contentType;
    // The transfer ended before the server's data did: a read failed (the
    // connection broke or went silent) or fewer bytes arrived than a non-zero
    // Content-Length announced. The status events look the same either way.
    bool shortTransfer = false;
    // What went wrong, in words, for FileError, AddressRefused, NoSession
    // and short transfers; empty otherwise.
    QString error;
    // For FileError: the system's error number (ENOSPC for a full disk), 0
    // when the cause was not a system call.
    int systemError = 0;

    // A successful answer (2xx) with a body, every byte of it received: the
    // only ending that replaces the target file. Any other one leaves
    // whatever file was there as it was.
    // Bytes that were already in a kept temporary file when this transfer
    // continued it (or, after a retry, when its last attempt continued the
    // bytes an earlier attempt received); 0 when it started from the
    // beginning. `bytes` counts them.
    qint64 resumedFrom = 0;
    // Attempts made after the first (TransferOptions::retries).
    int retried = 0;
    // The temporary file kept for the next transfer into the same target to
    // continue (TransferOptions::resume), `bytes` long; empty when none was.
    QString keptFile;

    bool complete() const;
};

// What one DLFile call does beyond copying the bytes once. The defaults are
// a single attempt that keeps nothing and adds nothing.
struct TransferOptions {
    // Continue from the temporary file an earlier transfer into the same
    // target kept, when it is one this engine created and recorded and the
    // server agrees to continue it (Range with If-Range: 206 continues, 200
    // or 416 start over); and keep this transfer's temporary file, with what
    // is needed to continue it, when it is cut short, stopped or abandoned.
    bool resume = false;
    // A transient failure (refused or reset connection, cut short, stalled,
    // 5xx, 429) is tried again up to this many times, after 1, 2 and 4 s or
    // the server's Retry-After, continuing from the bytes already received
    // where the server allows. Other 4xx answers are never tried again.
    int retries = 0;
    // Runs on the complete temporary file just before it takes the target's
    // name (tags are written here). Returns an empty string, or what went
    // wrong: the transfer then ends as a FileError with that text, the
    // temporary file goes and the target stays as it was.
    std::function<QString(const QString &tempPath)> beforeCommit;
};

// What a finished transfer means to whoever started it. Every user of the
// engine (the download panel, the batch, `kelvaro download` and `get`) reads
// a result through classifyDownload only and turns the class into its own
// words.
enum class DownloadClass {
    Complete,  // a 2xx answer with a body, every byte of it: the target was replaced
    Stopped,   // a stop request was acted on
    Refused,   // nothing was asked of a server: no session (Ending::NoSession), or
               // no answer, a bad or unknown address, a refused redirect (AddressRefused)
    HttpError, // the server answered with a status that is not 2xx
    CutShort,  // 2xx, but the data ended early: a read failed, or fewer bytes
               // arrived than announced (also none of a non-zero announced size)
    Empty,     // 2xx, nothing announced and nothing sent: the server had no data
    FileError, // the target file could not be written or put in place
};

// The one reading of a result. The order decides what a user is told when
// several things went wrong at once: the server's own status comes first
// (an error page that was also cut short is an error answer, not a broken
// download: retrying would bring the same error), then a cut (the data that
// was announced did not all come), then an empty body (the server sent
// everything it had, and that was nothing).
DownloadClass classifyDownload(const DownloadResult &result);

// Copies the resource at an http address into a local file, on the thread
// that owns the engine (the GUI thread), over libcurl driven by that
// thread's event loop. DLFile only starts a transfer: every event comes
// from the event loop afterwards. Each stage is reported through
// DLFileStatus, each chunk of at most 512 bytes through DLFileDowning, and
// the end once through DLFileFinished. Chunks are handed out in rounds of at
// most RoundBytes; between rounds the event loop runs, so the window stays
// live (a stop button, a modal dialog) while the transfer goes on. A
// handler of these events that opens a modal dialog holds the transfer (not
// the connection's stall limit) until it returns.
//
// All engines of the thread share one libcurl multi handle: transfers from
// one host reuse a connection the server kept open, and several engines may
// run at once.
//
// The bytes go to TARGET + ".part" beside the target; only a complete
// transfer (classifyDownload: Complete) moves it over the target, in one
// rename. Every other ending removes the ".part" and leaves an earlier
// target file untouched; so does destroying the engine while it runs. With
// TransferOptions::resume, a transfer that was cut short, stopped, ran out
// of retries on a transient failure, or was abandoned (engine destroyed)
// after a 2xx answer with a validator (ETag or Last-Modified) keeps its
// temporary file instead and records it in resumeFolder(); the next
// transfer into the same target continues it when the record still
// describes that very file and the server agrees.
//
// Within one DLFile call, retries (TransferOptions::retries) continue from
// the bytes already received whenever the answer had a validator, with or
// without `resume`.
//
// Status codes (DownloadStatus): 1 start; 2 session open; 3 the server answered (any HTTP
// status); 4 about to open the target file; then progress events; 9 the data
// ended or a read failed, or 5 a stop was acted on; 6 all closed. 7 (no
// session) ends a transfer at once; 8 (no answer) is followed by 6. A file
// that fails ends it without a further status. DLFileFinished follows the
// last status. With retries, 1 and 2 come once, 3 and 4 for every attempt
// the server answered, DLFileRetrying between attempts, and the ending
// statuses for the last attempt only; a stop while waiting to try again
// ends the transfer at once with 5 and 6.
//
// The stop request is a latch: set by DLFileStop at any time, cleared when
// a transfer acts on it after writing and reporting a chunk, or at once
// when the transfer is waiting for the server (a stall, no answer yet). A stop
// requested while no transfer runs therefore ends the next one after its
// first chunk; one that comes too late for the transfer it was meant for
// (its data had ended) is dropped when that transfer ends.
class Cls_DownLoad : public QObject {
    Q_OBJECT

public:
    // Whether a network session can be had now; false ends a transfer with
    // status 7. By default: when an application object runs the event loop.
    using SessionSource = std::function<bool()>;

    static constexpr int ChunkSize = 512;
    static constexpr int DefaultStallLimitMs = 60000;
    // Received bytes not yet handed on as chunks are held up to about this
    // much; the connection is paused meanwhile, so memory stays flat.
    static constexpr qint64 HeldBytes = 256 * 1024;
    // At most this many bytes of chunks are handed out before the event
    // loop gets its turn again.
    static constexpr qint64 RoundBytes = 64 * 1024;

    explicit Cls_DownLoad(QObject *parent = nullptr);
    ~Cls_DownLoad() override;

    // Starts transferring `sRemoteURL` into `sLocalFilePath` and returns at
    // once: true when it started, false (and nothing is emitted) when this
    // engine is running a transfer already.
    bool DLFile(const QString &sRemoteURL, const QString &sLocalFilePath, const TransferOptions &options = {});

    // Asks the running (or the next) transfer to stop after its next chunk;
    // a running transfer that waits for the server stops at once (in the
    // event loop's next round, never inside this call).
    void DLFileStop();

    bool isRunning() const { return m_running; }
    // The running transfer's answer so far: its HTTP status and Content-Type,
    // set before status 3 (Answered) is raised, so that a handler of that
    // event can look at them and stop a transfer it does not want.
    // Empty before that and from the start of every transfer.
    const DownloadResult &answer() const { return m_answer; }
    bool stopPending() const { return m_bStop; }

    void setSessionSource(SessionSource source) { m_session = std::move(source); }
    // How long the transfer waits without receiving anything, both for the
    // server's answer and between pieces of the body, before giving up.
    // Taken when a transfer starts.
    void setStallLimit(int ms) { m_stallLimitMs = ms; }
    int stallLimit() const { return m_stallLimitMs; }
    // The length of the "seconds" that retry delays are counted in: 1000 ms
    // but in tests. Taken when a transfer starts.
    void setRetryDelayUnit(int ms) { m_retryUnitMs = ms; }
    // Where the records of kept temporary files are (one file per target);
    // by default "kelvaro/partial" in the user's cache folder. Taken when a
    // transfer starts.
    void setResumeFolder(const QString &folder) { m_resumeFolder = folder; }
    QString resumeFolder() const;
    // The longest Retry-After, in seconds, that is waited for.
    static constexpr int LongestRetryAfter = 60;

    // Content-Length text as a byte count; 0 when absent or unreadable.
    static qint64 announcedSize(const QByteArray &contentLength);
    // Where a transfer into `target` writes until it is complete, when that
    // name is free: partName(name, 0) beside the target.
    static QString partPath(const QString &target);
    // The temporary file's name for target file name `name`: "NAME.part"
    // for attempt 0, "NAME.XXXXXXXX.part" (random) for the others, the name
    // shortened at a character boundary so that the whole fits in 255 bytes.
    static QString partName(const QString &name, int attempt);

signals:
    void DLFileDowning(const QString &sRemoteURL, qint64 lDownLoaded, qint64 lFilesize);
    void DLFileStatus(int TmpState);
    // Once per started transfer, after its last status.
    void DLFileFinished(const DownloadResult &result);
    // The server agreed to continue a kept temporary file: `lFrom` bytes are
    // in it already, of `lFilesize` in all (0: not announced). Comes after
    // the attempt's status 3, before its status 4; progress then counts from
    // lFrom.
    void DLFileResuming(qint64 lFrom, qint64 lFilesize);
    // A transient failure is tried again: `attempt` of `retries` starts after
    // `delayMs`. `reason` says what failed, in words. Only the last attempt's
    // ending statuses (5 to 9, then 6) are raised.
    void DLFileRetrying(int attempt, int retries, int delayMs, const QString &reason);

private:
    struct Run;

    void post();
    void advance();
    void step();
    void begin();
    void awaitAnswer();
    void receive();
    void startAttempt();
    void pickUpKeptFile();
    bool retryLater(const QString &reason, int retryAfterMs);
    void refuse(const QString &why, bool transient = false);
    void fileFailed();
    void fileFailed(const QString &why, int systemError);
    void endTransfer(int finalStatus, bool readFailed, const QString &readError);
    void finish(const DownloadResult &result, std::initializer_list<int> statuses, bool resumable = false);
    QString keepOrDrop(bool resumable);

    std::unique_ptr<Run> m_run;
    DownloadResult m_answer;
    bool m_bStop = false;
    bool m_running = false;
    // DLFileStop was called while the current transfer ran.
    bool m_stopWhileRunning = false;
    // A round of advance() is queued, runs, or was asked for while one ran.
    bool m_advancePosted = false;
    bool m_advancing = false;
    bool m_advanceWanted = false;
    int m_stallLimitMs = DefaultStallLimitMs;
    int m_retryUnitMs = 1000;
    QString m_resumeFolder;
    SessionSource m_session;
    // The result of a transfer that ended in the current round.
    std::optional<DownloadResult> m_finished;
};

Q_DECLARE_METATYPE(DownloadResult)
