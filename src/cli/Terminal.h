#pragma once
// What the companion's commands share on a terminal: messages, a progress
// line, and Ctrl-C turned into an ordinary event.
#include <QElapsedTimer>
#include <QString>

#include <functional>
#include <memory>

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

// One line on stderr, redrawn in place a few times a second.
class ProgressLine {
public:
    void start() { m_clock.start(); }

    void update(qint64 done, qint64 total, bool force);
    void end();

    // Draws every transfer of `engine`: restarts when the engine opens its
    // target, redraws on its progress events.
    void follow(Cls_DownLoad &engine);
    // Ends the line of the transfer that just ended, with its last count drawn.
    void finish();

private:
    static constexpr int Width = 30;
    QElapsedTimer m_clock;
    QElapsedTimer m_lastDraw;
    bool m_drawn = false;
    qsizetype m_width = 0;
    qint64 m_lastDone = 0;
    qint64 m_lastTotal = 0;
};

// Turns Ctrl-C into a call of `onInterrupted` from the event loop, as long as
// the watch exists. A second Ctrl-C ends the program the ordinary way, for
// when the server has gone quiet and the stop waits for its next chunk.
class InterruptWatch {
public:
    explicit InterruptWatch(std::function<void()> onInterrupted);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch &) = delete;
    InterruptWatch &operator=(const InterruptWatch &) = delete;

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
    struct sigaction m_previous{};
};
