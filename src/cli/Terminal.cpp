#include "cli/Terminal.h"

#include "core/download/Cls_DownLoad.h"
#include "core/download/DownloadStatus.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

void say(const QString &text)
{
    std::fprintf(stderr, "kelvaro: %s\n", qPrintable(text));
}

QString humanBytes(qint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 B").arg(bytes);
    static const char *const units[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = double(bytes) / 1024.0;
    int unit = 0;
    while (value >= 1024.0 && unit < 3) {
        value /= 1024.0;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(value, 0, 'f', 1).arg(QLatin1String(units[unit]));
}

QString clockText(qint64 seconds)
{
    seconds = std::max<qint64>(seconds, 0);
    const auto two = [](qint64 value) { return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0')); };
    if (seconds < 3600)
        return QStringLiteral("%1:%2").arg(seconds / 60).arg(two(seconds % 60));
    return QStringLiteral("%1:%2:%3").arg(seconds / 3600).arg(two(seconds % 3600 / 60), two(seconds % 60));
}

std::optional<int> boundedNumber(const QString &text, int low, int high)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || text.isEmpty() || !text.front().isDigit() || value < low || value > high)
        return std::nullopt;
    return value;
}

QString retryText(int attempt, int retries, int delayMs, const QString &reason)
{
    // Whole seconds, rounded up: "after 0 s" only when there is no wait.
    const int seconds = (std::max(delayMs, 0) + 999) / 1000;
    QString text = QStringLiteral("retry %1 of %2 after %3 s").arg(attempt).arg(retries).arg(seconds);
    if (!reason.isEmpty())
        text += QStringLiteral(": ") + reason;
    return text;
}

ProgressLine::ProgressLine() : m_terminal(::isatty(STDERR_FILENO) == 1) {}

void ProgressLine::start(qint64 resumedFrom)
{
    m_resumedFrom = resumedFrom;
    m_clock.start();
    m_rate.start(resumedFrom, 0);
}

QString ProgressLine::frame(qint64 done, qint64 total, bool final) const
{
    // While it runs, the smoothed speed once a window has been measured;
    // at the end, the average over the whole transfer.
    double speed = m_rate.bytesPerSecond();
    if (final && m_clock.isValid()) {
        const double seconds = std::max(0.001, double(m_clock.elapsed()) / 1000.0);
        speed = double(std::max<qint64>(done - m_resumedFrom, 0)) / seconds;
    }
    QString rate;
    if (speed >= 0)
        rate = QStringLiteral("  ") + humanBytes(qint64(speed)) + QStringLiteral("/s");
    const qint64 left = final ? -1 : secondsLeft(done, total, speed);
    if (left >= 0)
        rate += QStringLiteral("  ") + clockText(left) + QStringLiteral(" left");
    if (total <= 0)
        return humanBytes(done) + rate;
    const qint64 percent = std::min<qint64>(100, done * 100 / total);
    const int filled = int(percent * Width / 100);
    return QStringLiteral("[%1%2] %3%  %4 of %5%6")
        .arg(QString(filled, QLatin1Char('#')), QString(Width - filled, QLatin1Char('-')))
        .arg(percent, 3)
        .arg(humanBytes(done), humanBytes(total), rate);
}

void ProgressLine::update(qint64 done, qint64 total, bool force)
{
    if (m_hidden)
        return;
    m_shownDone = done;
    m_shownTotal = total;
    if (m_clock.isValid())
        m_rate.sample(done, m_clock.elapsed());
    if (!m_terminal) {
        if (!m_drawn) {
            const QString size = total > 0 ? humanBytes(total) : QStringLiteral("size not announced");
            std::fprintf(stderr, "receiving (%s)\n", qPrintable(size));
            std::fflush(stderr);
        }
        m_drawn = true;
        return;
    }
    if (!force && m_drawn && m_lastDraw.elapsed() < 200)
        return;
    m_lastDraw.start();
    m_drawn = true;
    QString line = frame(done, total, m_ending);
    const qsizetype width = line.size();
    line = line.leftJustified(std::max(width, m_width));
    m_width = width;
    std::fprintf(stderr, "\r%s", qPrintable(line));
    std::fflush(stderr);
}

void ProgressLine::end()
{
    if (m_drawn && m_terminal)
        std::fputc('\n', stderr);
    else if (m_drawn)
        std::fprintf(stderr, "%s\n", qPrintable(frame(m_shownDone, m_shownTotal, true)));
    m_drawn = false;
    m_width = 0;
}

void ProgressLine::follow(Cls_DownLoad &engine)
{
    QObject::connect(&engine, &Cls_DownLoad::DLFileStatus, [this, &engine](int state) {
        if (state == DownloadStatus::Connecting) {
            m_hidden = false;
            m_resumingAt = 0;
        } else if (state == DownloadStatus::Answered) {
            // Every attempt is answered anew; DLFileResuming follows for one
            // that continues a kept file. An error answer shows nothing.
            m_resumingAt = 0;
            m_hidden = engine.answer().httpStatus >= 400;
        } else if (state == DownloadStatus::Receiving) {
            m_lastDone = m_lastTotal = 0;
            start(m_resumingAt);
        }
    });
    QObject::connect(&engine, &Cls_DownLoad::DLFileResuming, [this](qint64 from, qint64) { m_resumingAt = from; });
    QObject::connect(&engine, &Cls_DownLoad::DLFileDowning, [this](const QString &, qint64 done, qint64 total) {
        m_lastDone = done;
        m_lastTotal = total;
        update(done, total, false);
    });
}

void ProgressLine::note(const QString &text)
{
    if (m_drawn && m_terminal) {
        std::fputc('\n', stderr);
        m_drawn = false;
        m_width = 0;
    }
    say(text);
}

void ProgressLine::finish()
{
    if (m_lastDone > 0 && m_terminal) {
        m_ending = true;
        update(m_lastDone, m_lastTotal, true);
        m_ending = false;
    }
    end();
    m_lastDone = m_lastTotal = 0;
}

namespace {

// The stop signals reach the event loop through a pipe: the handler only
// writes the signal's number, the loop does the rest.
int interruptPipe[2] = {-1, -1};
constexpr int StopSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void onInterrupt(int number)
{
    const int saved = errno;
    const char byte = char(number);
    [[maybe_unused]] const ssize_t ignored = ::write(interruptPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

InterruptWatch::InterruptWatch(std::function<void()> onInterrupted)
{
    if (::pipe2(interruptPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(interruptPipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated,
                     [this, onInterrupted = std::move(onInterrupted)] {
                         char drained[16];
                         ssize_t got = 0;
                         int first = 0;
                         while ((got = ::read(interruptPipe[0], drained, sizeof drained)) > 0) {
                             if (first == 0)
                                 first = drained[0];
                         }
                         // The first signal decides the exit status; the
                         // stop is already under way for any later one.
                         if (m_signal != 0 || first == 0)
                             return;
                         m_signal = first;
                         onInterrupted();
                     });
    struct sigaction action{};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(StopSignals); ++i)
        sigaction(StopSignals[i], &action, &m_previous[i]);
}

InterruptWatch::~InterruptWatch()
{
    if (!m_notifier)
        return;
    for (std::size_t i = 0; i < std::size(StopSignals); ++i)
        sigaction(StopSignals[i], &m_previous[i], nullptr);
    m_notifier.reset();
    ::close(interruptPipe[0]);
    ::close(interruptPipe[1]);
    interruptPipe[0] = interruptPipe[1] = -1;
}
