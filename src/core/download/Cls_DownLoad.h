#pragma once
#include "core/download/DownloadStatus.h"

#include <QObject>
#include <QString>

#include <functional>

// How one DLFile call ended, beyond the byte count the status events imply.
struct DownloadResult {
    enum class Ending {
        Finished,       // status 9: the data ended, or a read failed (see shortTransfer)
        Stopped,        // status 5: a stop request was acted on
        NoSession,      // status 7: no network session could be had
        AddressRefused, // status 8: the server gave no answer
        FileError,      // the target file could not be written or put in place; no status after that
        Busy,           // refused at once: this engine is already running a transfer
    };

    Ending ending = Ending::Finished;
    // Bytes received and written (to the target's ".part" file): the count
    // the caller acts on. 0 when no session, the address was refused, the
    // file failed (its ".part" is gone) or the call was refused as busy.
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
    // What went wrong, in words, for FileError, Busy, AddressRefused,
    // NoSession and short transfers; empty otherwise.
    QString error;
    // For FileError: the system's error number (ENOSPC for a full disk), 0
    // when the cause was not a system call.
    int systemError = 0;

    // A successful answer (2xx) with a body, every byte of it received: the
    // only ending that replaces the target file. Any other one leaves
    // whatever file was there as it was.
    bool complete() const
    {
        return ending == Ending::Finished && !shortTransfer && httpStatus / 100 == 2 && bytes > 0;
    }
};

// Copies the resource at an http address into a local file in chunks of at
// most 512 bytes, on the calling (GUI) thread, over libcurl driven by that
// thread's event loop, reporting each stage through DLFileStatus and each
// chunk through DLFileDowning. Between chunks it
// delivers the window's pending events once, so the window stays usable and a
// stop button can call DLFileStop from inside the transfer. While the server
// has sent nothing new it waits in an event loop, for at most the stall limit.
//
// The bytes go to TARGET + ".part" beside the target; only a complete
// transfer (DownloadResult::complete) moves it over the target, in one
// rename. Every other ending removes the ".part" (there is no resume) and
// leaves an earlier target file untouched.
//
// Status codes (DownloadStatus): 1 start; 2 session open; 3 the server answered (any HTTP
// status); 4 about to open the target file; then progress events; 9 the data
// ended or a read failed, or 5 a stop was acted on; 6 all closed. 7 (no
// session) ends a call at once; 8 (no answer) is followed by 6.
//
// The stop request is a latch: set by DLFileStop at any time, cleared when
// a transfer acts on it after writing and reporting a chunk, or at once
// when the transfer is waiting for the server (a stall, no answer yet). A stop
// requested while no transfer runs therefore ends the next one after its
// first chunk; one that comes too late for the transfer it was meant for
// (its data had ended) is dropped when that transfer returns.
class Cls_DownLoad : public QObject {
    Q_OBJECT

public:
    // Seconds since local midnight, with fraction.
    using Clock = std::function<double()>;
    // Whether a network session can be had now; false ends a call with
    // status 7. By default: when an application object runs the event loop.
    using SessionSource = std::function<bool()>;

    static constexpr int ChunkSize = 512;
    static constexpr qint64 SpeedWhileUnmeasured = 1025;
    static constexpr int DefaultStallLimitMs = 60000;
    // Received bytes not yet handed on as chunks are held up to about this
    // much; the connection is paused meanwhile, so memory stays flat.
    static constexpr qint64 HeldBytes = 256 * 1024;

    explicit Cls_DownLoad(QObject *parent = nullptr);

    // Transfers `sRemoteURL` into `sLocalFilePath` and returns when the
    // transfer has ended; window events are delivered from inside the call.
    // `lTimeOut` is accepted for the callers' sake and has no effect.
    DownloadResult DLFile(const QString &sRemoteURL, const QString &sLocalFilePath, qint32 lTimeOut);

    // Asks the running (or the next) transfer to stop after its next chunk;
    // a running transfer that waits for the server stops at once.
    // Always returns false.
    bool DLFileStop();

    bool isRunning() const { return m_running; }
    // The running transfer's answer so far: its HTTP status and Content-Type,
    // set before status 3 (Answered) is raised, so that a handler of that
    // event can look at them and stop a transfer it does not want.
    // Empty before that and at the start of every call.
    const DownloadResult &answer() const { return m_answer; }
    bool stopPending() const { return m_bStop; }

    void setClock(Clock clock) { m_clock = std::move(clock); }
    void setSessionSource(SessionSource source) { m_session = std::move(source); }
    // How long the transfer waits without receiving anything, both for the
    // server's answer and between pieces of the body, before giving up.
    void setStallLimit(int ms) { m_stallLimitMs = ms; }
    int stallLimit() const { return m_stallLimitMs; }

    // The speed rule, apart so that it can be checked on its own: whole
    // seconds since `startSecond` at time of day `now`, 1025 when that is not
    // positive (the first moments, or the clock passed midnight).
    static qint64 speedFor(qint64 downloaded, qint64 startSecond, double now);
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
    void DLFileDowning(const QString &sRemoteURL, qint64 lDownLoaded, qint64 lFilesize, qint64 lSpeed);
    void DLFileStatus(int TmpState);

private:
    DownloadResult transfer(const QString &url, const QString &path);

    DownloadResult m_answer;
    bool m_bStop = false;
    bool m_running = false;
    // DLFileStop was called while the current transfer ran.
    bool m_stopWhileRunning = false;
    // Wakes the running transfer's wait for the network at once.
    std::function<void()> m_wake;
    int m_stallLimitMs = DefaultStallLimitMs;
    Clock m_clock;
    SessionSource m_session;
};
