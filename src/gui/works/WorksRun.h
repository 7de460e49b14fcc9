#pragma once
#include "core/lookup/StatusLine.h"
#include "core/playback/PlaybackEnd.h"

#include <QObject>
#include <QStringList>

class PlayCommands;
class QTreeWidget;
class WorksTable;
struct SongState;

// The works table's works played one after another ("播放全部作品",
// "从此处播放"). Each work is looked up as a double-click on its row would
// do and played with the play button's own handler; at the end of a track
// the next row follows. A work that cannot be played (no audio address, or
// an address that does not play) is skipped, and the status line names it.
// Any stop of the song (the button, a double-click, the desktop) ends the run.
class WorksRun : public QObject {
    Q_OBJECT
public:
    static inline const QString RunEndedStatus = QStringLiteral("全部作品播放结束..");

    WorksRun(WorksTable &table, QTreeWidget *ListView1, PlayCommands &play, SongState &song, StatusLine setStatus,
             QObject *parent = nullptr);

    // Plays the works from row `firstRow` on.
    void start(int firstRow);
    // The next or the previous playable work of the run; false outside a run
    // or at its end.
    bool next();
    bool previous();

    bool active() const { return m_current >= 0; }
    // The row that plays in the run, -1 outside one.
    int currentRow() const { return m_current; }
    bool canGoNext() const;
    bool canGoPrevious() const { return m_current > 0; }

signals:
    // The run started, moved to another row or ended.
    void changed();

private:
    // Plays the first playable row from `row` on in steps of `step` (+1 or
    // -1); ends the run when there is none. `skipped` names the works
    // already passed over on the way.
    void playFrom(int row, int step, QStringList skipped = {});
    // The row's lookup is over; plays it, or goes on to the next row.
    void rowLookedUp(int row, int step, const QString &title, QStringList skipped, bool completed);
    void trackEnded(PlaybackEnd end);
    void end(const QString &status);

    WorksTable &m_table;
    QTreeWidget *const m_ListView1;
    PlayCommands &m_play;
    SongState &m_song;
    const StatusLine m_setStatus;
    int m_current = -1;
    bool m_stepping = false; // the run itself looks up and starts a row
};
