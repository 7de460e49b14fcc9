#pragma once
// What `kelvaro get` shows on stderr while its batch runs.
#include <QElapsedTimer>
#include <QMap>
#include <QString>

#include <functional>
#include <optional>

class WorkBatch;
struct BatchOutcome;

// The progress of a batch of works. On a terminal: the batch's events as
// lines, under them one overall line (works done of all, bytes, speed, time
// left) and one line per running transfer, redrawn in place. Elsewhere (a
// log, a pipe): one plain line per event, each naming its work "[N/M]".
class BatchDisplay {
public:
    explicit BatchDisplay(bool terminal);

    // Shows every event of `batch`; `outcomeText` words how a work ended.
    void follow(WorkBatch &batch, std::function<QString(const BatchOutcome &)> outcomeText);
    // Takes the lines under the events away, before the summary is printed.
    void close();

    // "works 3/40 · 12.3 MiB · 1.2 MiB/s · 10 s left": the speed is left out
    // for the first half second (one chunk over no time is no speed), the
    // time left while it cannot be told.
    static QString overallLine(int ended, int total, qint64 bytes, qint64 elapsedMs, std::optional<qint64> leftBytes);

private:
    struct Transfer {
        QString label;
        qint64 from = 0;     // bytes already there when it started (a resumed file)
        qint64 received = 0; // bytes in the file so far, `from` included
        qint64 size = 0;     // 0: not announced
        bool receiving = false;
        bool hidden = false; // an error answer: no download of the file
    };

    void event(int position, const QString &text);
    void redraw(bool force);
    void erase();
    std::optional<qint64> leftBytes() const;
    QString tag(int position) const;

    const bool m_terminal;
    WorkBatch *m_batch = nullptr;
    QMap<int, Transfer> m_running;
    QElapsedTimer m_clock;    // from the first byte of the batch
    QElapsedTimer m_lastDraw;
    qint64 m_endedBytes = 0;  // received by transfers that have ended
    qint64 m_sizesSeen = 0;   // announced sizes of transfers seen, for the works still to come
    int m_sized = 0;
    int m_lines = 0;          // lines of the block now on the screen
};
