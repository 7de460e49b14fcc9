#include "gui/works/WorksRun.h"

#include "core/lookup/SongState.h"
#include "gui/playback/PlayCommands.h"
#include "gui/works/WorksTable.h"

#include <QScopedValueRollback>
#include <QTreeWidget>

namespace {

QString skippedStatus(const QStringList &titles, const QString &then)
{
    return QStringLiteral("已跳过无法播放的作品《%1》,").arg(titles.join(QStringLiteral("》《"))) + then;
}

} // namespace

WorksRun::WorksRun(WorksTable &table, QTreeWidget *ListView1, PlayCommands &play, SongState &song,
                   StatusLine setStatus, QObject *parent)
    : QObject(parent), m_table(table), m_ListView1(ListView1), m_play(play), m_song(song),
      m_setStatus(std::move(setStatus))
{
    connect(&m_play, &PlayCommands::ended, this, &WorksRun::trackEnded);
    connect(&m_play, &PlayCommands::stopped, this, [this] {
        if (active() && !m_stepping)
            end(QString());
    });
}

bool WorksRun::canGoNext() const
{
    return active() && m_current + 1 < m_ListView1->topLevelItemCount();
}

void WorksRun::start(int firstRow)
{
    playFrom(firstRow, 1);
}

bool WorksRun::next()
{
    if (!canGoNext())
        return false;
    playFrom(m_current + 1, 1);
    return true;
}

bool WorksRun::previous()
{
    if (!canGoPrevious())
        return false;
    playFrom(m_current - 1, -1);
    return true;
}

void WorksRun::playFrom(int row, int step, QStringList skipped)
{
    const QScopedValueRollback stepping(m_stepping, true);
    // A loop, not a chain of calls: a long list of unplayable works must
    // not pile up the stack.
    for (; row >= 0 && row < m_ListView1->topLevelItemCount(); row += step) {
        QTreeWidgetItem *item = m_ListView1->topLevelItem(row);
        const QString title = item->text(2);
        m_ListView1->setCurrentItem(item); // selects it, as the click before a double-click does
        m_ListView1->scrollToItem(item);
        // A lookup that finds no audio address must not leave the previous
        // work's address to be played again under this one's name.
        m_song.MusicUrl.clear();
        m_table.ListView1_DblClick();
        if (!m_song.MusicUrl.isEmpty()) {
            m_play.Command7_Click();
            if (m_play.playing()) {
                m_current = row;
                if (!skipped.isEmpty())
                    m_setStatus(skippedStatus(skipped, PlayCommands::PlayingStatus));
                emit changed();
                return;
            }
        }
        skipped.append(title);
    }
    end(skipped.isEmpty() ? RunEndedStatus : skippedStatus(skipped, RunEndedStatus));
}

void WorksRun::trackEnded(PlaybackEnd how)
{
    if (!active() || m_stepping)
        return;
    if (how == PlaybackEnd::Finished) {
        playFrom(m_current + 1, 1);
        return;
    }
    // The address did not play or broke off: that work is skipped.
    QStringList skipped;
    if (const QTreeWidgetItem *item = m_ListView1->topLevelItem(m_current))
        skipped.append(item->text(2));
    playFrom(m_current + 1, 1, skipped);
}

void WorksRun::end(const QString &status)
{
    const bool wasActive = active();
    m_current = -1;
    if (!status.isEmpty())
        m_setStatus(status);
    if (wasActive)
        emit changed();
}
