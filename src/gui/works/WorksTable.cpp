#include "gui/works/WorksTable.h"

#include "core/lookup/PageFetcher.h"
#include "core/lookup/SongState.h"
#include "gui/widgets/Clipboard.h"
#include "gui/widgets/Dialogs.h"
#include "gui/playback/PlayCommands.h"

#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

namespace {

// Switching on a running timer leaves it running: its next tick stays where it was.
void enable(QTimer *timer)
{
    if (!timer->isActive())
        timer->start();
}

} // namespace

WorksTable::WorksTable(const Controls &controls, SongState &song, ParseAction parseAction, PlayCommands &play,
                       DialogService &dialogs, PageFetch fetch, QObject *parent)
    : QObject(parent),
      m_window(controls.window),
      m_Text2(controls.Text2),
      m_Command10(controls.Command10),
      m_ListView1(controls.ListView1),
      m_Timer3(controls.Timer3),
      m_Timer4(controls.Timer4),
      m_Text1(controls.Text1),
      m_setStatus(controls.setStatus),
      m_song(song),
      m_parseAction(std::move(parseAction)),
      m_play(play),
      m_dialogs(dialogs),
      m_fetch(fetch ? std::move(fetch)
                    : PageFetch([](const QString &url, PageDone done) { return GetBody(url, std::move(done)); }))
{
    connect(m_Command10, &QPushButton::clicked, this, &WorksTable::Command10_Click);
    connect(controls.Command11, &QPushButton::clicked, this, &WorksTable::Command11_Click);
    connect(controls.Command12, &QPushButton::clicked, this, &WorksTable::Command12_Click);
    connect(m_Timer3, &QTimer::timeout, this, &WorksTable::Timer3_Timer);
    connect(m_Timer4, &QTimer::timeout, this, &WorksTable::Timer4_Timer);
    // itemDoubleClicked comes only for a double-click on a row; the table's
    // double-click also counts below the last row (then no row is selected).
    m_ListView1->viewport()->installEventFilter(this);

    m_menu = new QMenu(m_ListView1); // the table owns it
    m_downloadThis = m_menu->addAction(DownloadThisText);
    m_downloadAll = m_menu->addAction(DownloadAllText);
    // Queued: the batch runs for minutes with the window's events flowing,
    // and should not do so inside the menu's own mouse handling.
    connect(m_downloadThis, &QAction::triggered, this, &WorksTable::downloadThis, Qt::QueuedConnection);
    connect(m_downloadAll, &QAction::triggered, this, &WorksTable::downloadAll, Qt::QueuedConnection);
    // How every download saves its song, the single one too; whoever keeps
    // the choice follows its toggled signal.
    m_songTags = m_menu->addAction(SongTagsText);
    m_songTags->setCheckable(true);
    m_songTags->setChecked(true);
    m_menu->addSeparator();
    m_playAll = m_menu->addAction(PlayAllText);
    m_playFromHere = m_menu->addAction(PlayFromHereText);
    // Queued too: the run starts outside the menu's own mouse handling.
    connect(m_playAll, &QAction::triggered, this, [this] {
        if (m_playWorks && m_ListView1->topLevelItemCount() > 0)
            m_playWorks(0);
    }, Qt::QueuedConnection);
    connect(m_playFromHere, &QAction::triggered, this, [this] {
        if (m_playWorks && m_menuRowIndex >= 0 && m_menuRowIndex < m_ListView1->topLevelItemCount())
            m_playWorks(m_menuRowIndex);
    }, Qt::QueuedConnection);
    m_ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_ListView1, &QWidget::customContextMenuRequested, this, &WorksTable::ListView1_ContextMenu);
}

bool WorksTable::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_ListView1->viewport() && event->type() == QEvent::MouseButtonDblClick
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
        ListView1_DblClick(); // the table still handles the event as usual
    return QObject::eventFilter(watched, event);
}

void WorksTable::Command10_Click()
{
    // A crawl asked for while the singer page of another is still coming is
    // not started: the running crawl goes on. (Its button and the address
    // field are disabled until it ends, so only a direct call can ask.)
    if (m_singerPage.pending())
        return;
    const QString address = m_Text2->text();
    if (const QString refusal = singerAddressRefusal(address); !refusal.isEmpty()) {
        m_setStatus(refusal);
        return;
    }
    // Both stay disabled until the crawl ends: no second crawl meanwhile.
    m_Command10->setEnabled(false);
    m_Text2->setEnabled(false);
    m_setStatus(WorksCrawlTexts::Fetching);
    // The table keeps the previous rows while the page comes.
    m_singerPage = m_fetch(address, [this](std::optional<QString> page) { singerPageArrived(std::move(page)); });
}

void WorksTable::singerPageArrived(std::optional<QString> page)
{
    if (!page) {
        fetchFailed(); // the previous page, count and rows stay
        return;
    }
    m_crawl.Seg[0] = *page;
    m_crawl.Hits[0] = 0;
    m_ListView1->clear();
    if (m_crawl.Seg[0].isEmpty()) {
        fetchFailed();
        return;
    }
    hx();
}

void WorksTable::fetchFailed()
{
    // Without a page no timer would ever end the crawl.
    m_Command10->setEnabled(true);
    m_Text2->setEnabled(true);
    m_setStatus(WorksCrawlTexts::FetchFailed);
}

void WorksTable::hx()
{
    // Timer3 only when there is something to build; Timer4 always, and the
    // rows' tick switches it off before it comes.
    if (countWorkRows(m_crawl))
        enable(m_Timer3);
    enable(m_Timer4);
}

void WorksTable::Timer3_Timer()
{
    // All rows in this one tick, without handing control back to the window.
    const QList<WorkRow> rows = buildWorkRows(m_crawl);
    QList<QTreeWidgetItem *> items;
    items.reserve(rows.size());
    for (const WorkRow &row : rows)
        items.append(new QTreeWidgetItem(QStringList{QString::number(row.number), row.id, row.title,
                                                     row.serviceAddress}));
    m_ListView1->addTopLevelItems(items); // the table takes ownership

    m_Command10->setEnabled(true);
    m_Text2->setEnabled(true);
    m_setStatus(WorksCrawlTexts::Done);
    m_Timer4->stop();
    m_Timer3->stop();
}

void WorksTable::Timer4_Timer()
{
    if (m_ListView1->topLevelItemCount() != 0) {
        m_Timer4->stop();
        return;
    }
    // Off before the box: the box's event loop would deliver the next tick
    // two seconds later, and with it a second box.
    m_Timer4->stop();
    m_setStatus(WorksCrawlTexts::NoWorks);
    m_dialogs.messageBox(m_window, NoWorksMessage, MessageBoxTitle, MessageIcon::Information, MessageButtons::Ok);
    m_Text2->setEnabled(true);
    m_Command10->setEnabled(true);
}

void WorksTable::ListView1_DblClick()
{
    lookUpSelectedRow({});
}

void WorksTable::lookUpSelectedRow(RowLookedUp ended)
{
    // A double-click while an earlier one is still under way replaces it:
    // the earlier one's service fetch is cancelled, its lookup (if it has
    // started) gives way as soon as the newer one's page is taken, and
    // nothing more of it is done here: no row id, no stop of the song.
    if (std::shared_ptr<RowLookup> earlier = std::exchange(m_rowLookup, nullptr)) {
        earlier->service.cancel();
        if (earlier->ended)
            earlier->ended(false);
    }

    // The row's values are read now: a clear or a crawl while the service
    // answers may delete or reselect rows, and this double-click still
    // finishes with its own row.
    auto row = std::make_shared<RowLookup>();
    row->ended = std::move(ended);
    std::optional<QString> serviceAddress;
    if (const QList<QTreeWidgetItem *> selected = m_ListView1->selectedItems(); !selected.isEmpty()) {
        serviceAddress = selected.first()->text(3);
        row->workId = selected.first()->text(1);
    }
    m_rowLookup = row;
    if (!serviceAddress) {
        startRowLookup(row);
        return;
    }
    // The row owns its service fetch; replacing the row cancels it.
    row->service = m_fetch(*serviceAddress, [this, mine = std::weak_ptr<RowLookup>(row)](std::optional<QString> answer) {
        // A failed fetch leaves Seg(5) with whatever it held before.
        if (answer)
            m_crawl.Seg[5] = std::move(*answer);
        if (const std::shared_ptr<RowLookup> row = mine.lock())
            startRowLookup(row);
    });
}

void WorksTable::startRowLookup(const std::shared_ptr<RowLookup> &row)
{
    m_Text1->setText(m_crawl.Seg[5]);
    const std::weak_ptr<RowLookup> mine = row;
    const bool started = m_parseAction([this, mine](LookupOutcome outcome) {
        // A newer double-click replaced this one meanwhile: nothing more.
        if (!mine.expired())
            rowLookedUp(outcome);
    });
    if (!started)
        rowLookedUp(LookupOutcome::Refused);
}

void WorksTable::rowLookedUp(LookupOutcome outcome)
{
    const std::shared_ptr<RowLookup> row = std::exchange(m_rowLookup, nullptr);
    if (outcome == LookupOutcome::Superseded) {
        // A lookup clicked meanwhile took its page first: its song stands.
        if (row->ended)
            row->ended(false);
        return;
    }
    // The row's id wins over the one the lookup took from the audio address.
    if (row->workId)
        m_song.WorkId = *row->workId;
    m_play.stop();
    if (row->ended)
        row->ended(true);
}

void WorksTable::Command12_Click()
{
    m_ListView1->clear();
}

void WorksTable::Command11_Click()
{
    // Works during a crawl too, while the field is disabled.
    pasteInto(m_Text2);
}

WorkRow WorksTable::rowOf(const QTreeWidgetItem &item)
{
    return {item.text(0).toInt(), item.text(1), item.text(2), item.text(3)};
}

void WorksTable::ListView1_ContextMenu(const QPoint &at)
{
    QTreeWidgetItem *item = m_ListView1->itemAt(at);
    m_menuRow = item ? std::optional<WorkRow>(rowOf(*item)) : std::nullopt;
    m_menuRowIndex = item ? m_ListView1->indexOfTopLevelItem(item) : -1;
    m_downloadThis->setEnabled(m_downloadWorks && m_menuRow);
    m_downloadAll->setEnabled(m_downloadWorks && m_ListView1->topLevelItemCount() > 0);
    m_playAll->setEnabled(m_playWorks && m_ListView1->topLevelItemCount() > 0);
    m_playFromHere->setEnabled(m_playWorks && m_menuRow);
    m_menu->popup(m_ListView1->viewport()->mapToGlobal(at));
}

void WorksTable::downloadThis()
{
    if (m_downloadWorks && m_menuRow)
        m_downloadWorks({*m_menuRow});
}

void WorksTable::downloadAll()
{
    QList<WorkRow> rows;
    for (int i = 0; i < m_ListView1->topLevelItemCount(); ++i)
        rows.append(rowOf(*m_ListView1->topLevelItem(i)));
    if (m_downloadWorks && !rows.isEmpty())
        m_downloadWorks(rows);
}
