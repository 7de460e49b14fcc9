#pragma once
// What the companion's commands share on a terminal: messages, a progress
// line, and Ctrl-C turned into an ordinary event.
#include "core/download/DownloadPanelLogic.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

#include <csignal>

class Cls_DownLoad;
class QSocketNotifier;

constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;
constexpr int ExitStopped = 130; // as a shell reports a Ctrl-C

// "kelvaro: TEXT" on stderr.
void say(const QString &text);

// 1023 B, 1.5 KiB, 3.2 MiB, ...
QString humanBytes(qint64 bytes);

// 0:05, 12:30, 1:02:03: a time left as a clock shows it.
QString clockText(qint64 seconds);

// "retry 2 of 3 after 2 s: REASON", for a transfer tried again.
QString retryText(int attempt, int retries, int delayMs, const QString &reason);

// How often `download` and `get` try a failed transfer again (--retries N).
constexpr int DefaultRetries = 3;
constexpr int MostRetries = 10;

// A whole number from `low` to `high` written in plain digits, nothing for
// anything else: an option's value.
std::optional<int> boundedNumber(const QString &text, int low, int high);

// The progress of a transfer on stderr. On a terminal: one line, redrawn in
// place a few times a second, with the speed and the time left once the
// speed can be measured (TransferRate). Elsewhere (a log, a pipe) nobody sees
// a redrawn line, only the carriage returns: one line when the data starts
// coming and one with the final count and the average speed when it ends.
// Bytes a continued transfer found in its file count in the sizes, never in
// the speed.
class ProgressLine {
public:
    ProgressLine();

    // The transfer's data starts, with `resumedFrom` bytes already there.
    void start(qint64 resumedFrom = 0);

    void update(qint64 done, qint64 total, bool force);
    void end();

    // Draws every transfer of `engine`: restarts when the engine opens its
    // target, redraws on its progress events. An error answer (HTTP 400 and
    // up) is no download of the file: its transfer shows nothing.
    void follow(Cls_DownLoad &engine);
    // Shows nothing more of the current transfer (its bytes are not kept).
    void hide() { m_hidden = true; }
    // Ends the line of the transfer that just ended, with its last count drawn.
    void finish();
    // "kelvaro: TEXT" on a line of its own: a line being redrawn is ended
    // first, and drawn again below with the next progress.
    void note(const QString &text);

private:
    // `final`: the transfer has ended; the speed is then its average.
    QString frame(qint64 done, qint64 total, bool final) const;

    static constexpr int Width = 30;
    const bool m_terminal;
    QElapsedTimer m_clock;
    QElapsedTimer m_lastDraw;
    TransferRate m_rate;
    qint64 m_resumedFrom = 0;
    qint64 m_resumingAt = 0; // announced by the engine for the attempt about to start
    bool m_drawn = false;
    bool m_hidden = false;
    bool m_ending = false; // finish() draws the last frame
    qsizetype m_width = 0;
    qint64 m_lastDone = 0;
    qint64 m_lastTotal = 0;
    qint64 m_shownDone = 0;
    qint64 m_shownTotal = 0;
};

// Turns Ctrl-C, SIGTERM and SIGHUP into one call of `onInterrupted` from the
// event loop, as long as the watch exists; the command then stops, cleans up
// and exits with exitStatus().
class InterruptWatch {
public:
    explicit InterruptWatch(std::function<void()> onInterrupted);
    // The first stop signal received, 0 while none was.
    int signalNumber() const { return m_signal; }
    // 128 + the signal, as a shell reports a program a signal ended.
    int exitStatus() const { return 128 + m_signal; }
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch &) = delete;
    InterruptWatch &operator=(const InterruptWatch &) = delete;

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
    struct sigaction m_previous[3]{};
    int m_signal = 0;
};

// Ends a command whose state is `run`: lets go of it in the event loop's
// next round, once the signal of its own that ended it has returned, then
// reports the exit status.
template <typename Run>
void endCommandLater(Run *run, std::function<void(int status)> done, int status)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [run, done = std::move(done), status] {
            delete run;
            done(status);
        },
        Qt::QueuedConnection);
}
