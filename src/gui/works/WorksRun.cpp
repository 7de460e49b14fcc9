#include "gui/works/WorksRun.h"

#include "core/lookup/SongState.h"
#include "gui/playback/PlayCommands.h"
#include "gui/works/WorksTable.h"

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
    if (row < 0 || row >= m_ListView1->topLevelItemCount()) {
        m_stepping = false;
        end(skipped.isEmpty() ? RunEndedStatus : skippedStatus(skipped, RunEndedStatus));
        return;
    }
    QTreeWidgetItem *item = m_ListView1->topLevelItem(row);
    const QString title = item->text(2);
    m_ListView1->setCurrentItem(item); // selects it, as the click before a double-click does
    m_ListView1->scrollToItem(item);
    // A lookup that finds no audio address must not leave the previous
    // work's address to be played again under this one's name.
    m_song.MusicUrl.clear();
    m_table.lookUpSelectedRow([this, row, step, title, skipped = std::move(skipped)](bool completed) mutable {
        rowLookedUp(row, step, title, std::move(skipped), completed);
    });
    // Until the row plays or the run ends, the stop of the song that each
    // double-click brings (and a stop clicked meanwhile) belongs to the run.
    m_stepping = true;
}

void WorksRun::rowLookedUp(int row, int step, const QString &title, QStringList skipped, bool completed)
{
    if (!completed) {
        // A double-click or a lookup of the user's took over: the run ends.
        m_stepping = false;
        end(QString());
        return;
    }
    if (!m_song.MusicUrl.isEmpty()) {
        m_play.Command7_Click();
        if (m_play.playing()) {
            m_stepping = false;
            m_current = row;
            if (!skipped.isEmpty())
                m_setStatus(skippedStatus(skipped, PlayCommands::PlayingStatus));
            emit changed();
            return;
        }
    }
    skipped.append(title);
    // The next row from the event loop, not from inside this lookup's report.
    QMetaObject::invokeMethod(
        this, [this, row, step, skipped] { playFrom(row + step, step, skipped); }, Qt::QueuedConnection);
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
