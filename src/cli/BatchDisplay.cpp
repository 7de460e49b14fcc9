#include "cli/BatchDisplay.h"

#include "cli/Terminal.h"
#include "core/download/DownloadStatus.h"
#include "core/works/WorkBatch.h"

#include <QObject>

#include <algorithm>
#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int RedrawMs = 200;
constexpr qint64 SpeedAfterMs = 500;

int terminalWidth()
{
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 10)
        return size.ws_col;
    return 80;
}

// Whether a terminal gives `c` two columns (Chinese, Japanese, Korean and
// full-width forms).
bool wide(char32_t c)
{
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3)
        || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60)
        || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

// The start of `line` that fits in `columns` columns.
QString fitted(const QString &line, int columns)
{
    int used = 0;
    QString out;
    for (const char32_t c : line.toUcs4()) {
        used += wide(c) ? 2 : 1;
        if (used > columns)
            break;
        out += QString::fromUcs4(&c, 1);
    }
    return out;
}

QString duration(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds / 60 % 60);
}

} // namespace

BatchDisplay::BatchDisplay(bool terminal) : m_terminal(terminal) {}

QString BatchDisplay::overallLine(int ended, int total, qint64 bytes, qint64 elapsedMs, std::optional<qint64> leftBytes)
{
    QString line = QStringLiteral("works %1/%2 · %3").arg(ended).arg(total).arg(humanBytes(bytes));
    if (elapsedMs < SpeedAfterMs || bytes <= 0)
        return line;
    const double perSecond = double(bytes) * 1000.0 / double(elapsedMs);
    line += QStringLiteral(" · %1/s").arg(humanBytes(qint64(perSecond)));
    if (leftBytes && perSecond > 0)
        line += QStringLiteral(" · %1 left").arg(duration(qint64(double(*leftBytes) / perSecond + 0.5)));
    return line;
}

QString BatchDisplay::tag(int position) const
{
    return QStringLiteral("[%1/%2] ").arg(position).arg(m_batch ? m_batch->total() : 0);
}

void BatchDisplay::follow(WorkBatch &batch, std::function<QString(const BatchOutcome &)> outcomeText)
{
    m_batch = &batch;
    QObject::connect(&batch, &WorkBatch::workStarted, [this](int position, int, const BatchWork &work) {
        m_running[position].label = work.label();
        event(position, work.label());
    });
    QObject::connect(&batch, &WorkBatch::workTarget, [this](int position, const QString &file) {
        event(position, QStringLiteral("-> ") + file);
    });
    QObject::connect(&batch, &WorkBatch::workStatus, [this](int position, int status) {
        Transfer &transfer = m_running[position];
        if (status == DownloadStatus::Connecting) {
            m_endedBytes += transfer.received - transfer.from; // an attempt before this one
            transfer.hidden = transfer.receiving = false;
            transfer.from = transfer.received = transfer.size = 0;
        } else if (status == DownloadStatus::Answered && m_batch->answerStatus(position) >= 400) {
            transfer.hidden = true;
        }
    });
    QObject::connect(&batch, &WorkBatch::workResuming, [this](int position, qint64 from, qint64 size) {
        Transfer &transfer = m_running[position];
        transfer.from = transfer.received = from;
        transfer.size = size;
        event(position, QStringLiteral("resuming at %1 bytes").arg(from));
    });
    QObject::connect(&batch, &WorkBatch::workRetrying,
                     [this](int position, int attempt, int retries, int delayMs, const QString &reason) {
                         event(position, retryText(attempt, retries, delayMs, reason));
                     });
    QObject::connect(&batch, &WorkBatch::workProgress, [this](int position, qint64 received, qint64 size) {
        Transfer &transfer = m_running[position];
        if (transfer.hidden)
            return;
        if (!m_clock.isValid())
            m_clock.start();
        transfer.received = received;
        transfer.size = size;
        if (!transfer.receiving) {
            transfer.receiving = true;
            if (size > 0) {
                m_sizesSeen += size;
                ++m_sized;
            }
            if (!m_terminal)
                event(position, QStringLiteral("receiving (%1)")
                                    .arg(size > 0 ? humanBytes(size) : QStringLiteral("size not announced")));
        }
        redraw(false);
    });
    QObject::connect(&batch, &WorkBatch::workEnded,
                     [this, outcomeText = std::move(outcomeText)](int position, int, const BatchOutcome &outcome) {
                         const Transfer transfer = m_running.take(position);
                         if (!transfer.hidden)
                             m_endedBytes += transfer.received - transfer.from;
                         event(position, outcomeText(outcome));
                     });
}

std::optional<qint64> BatchDisplay::leftBytes() const
{
    if (!m_batch)
        return std::nullopt;
    qint64 left = 0;
    int unsized = 0;
    for (const Transfer &transfer : m_running) {
        if (transfer.size > 0)
            left += std::max<qint64>(0, transfer.size - transfer.received);
        else
            ++unsized;
    }
    const int waiting = m_batch->total() - m_batch->endedCount() - int(m_running.size()) + unsized;
    if (waiting > 0) {
        if (m_sized == 0)
            return std::nullopt; // no size seen yet to go by
        left += m_sizesSeen / m_sized * waiting;
    }
    return left;
}

void BatchDisplay::erase()
{
    if (m_lines > 0)
        std::fprintf(stderr, "\x1b[%dA\x1b[J", m_lines);
    m_lines = 0;
}

void BatchDisplay::event(int position, const QString &text)
{
    if (m_terminal)
        erase();
    std::fprintf(stderr, "%s%s\n", qPrintable(tag(position)), qPrintable(text));
    if (m_terminal)
        redraw(true);
    std::fflush(stderr);
}

void BatchDisplay::redraw(bool force)
{
    if (!m_terminal || !m_batch)
        return;
    if (!force && m_lastDraw.isValid() && m_lastDraw.elapsed() < RedrawMs)
        return;
    m_lastDraw.start();
    qint64 bytes = m_endedBytes;
    for (const Transfer &transfer : m_running) {
        if (!transfer.hidden)
            bytes += transfer.received - transfer.from;
    }
    QStringList lines{overallLine(m_batch->endedCount(), m_batch->total(), bytes,
                                  m_clock.isValid() ? m_clock.elapsed() : 0, leftBytes())};
    for (auto it = m_running.cbegin(); it != m_running.cend(); ++it) {
        const Transfer &transfer = it.value();
        QString state;
        if (transfer.hidden || !transfer.receiving)
            state = QStringLiteral("…");
        else if (transfer.size > 0)
            state = QStringLiteral("%1%  %2 of %3")
                        .arg(std::min<qint64>(100, transfer.received * 100 / transfer.size), 3)
                        .arg(humanBytes(transfer.received), humanBytes(transfer.size));
        else
            state = humanBytes(transfer.received);
        lines.append(QStringLiteral("  ") + tag(it.key()) + transfer.label + QStringLiteral("  ") + state);
    }
    // A line wider than the terminal would wrap, and the block would no
    // longer be redrawn where it is.
    const int width = terminalWidth() - 1;
    erase();
    for (const QString &line : lines)
        std::fprintf(stderr, "\x1b[2K%s\n", qPrintable(fitted(line, width)));
    m_lines = int(lines.size());
    std::fflush(stderr);
}

void BatchDisplay::close()
{
    if (m_terminal)
        erase();
    std::fflush(stderr);
}
