#pragma once
#include "core/lookup/SongExtraction.h"
#include "core/lookup/StatusLine.h"
#include "core/works/WorksCrawl.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class DialogService;
class PlayCommands;
class QAction;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;
struct SongState;

// The singer works listing of the main window: the crawl that fills the works
// table from a singer's home page (Command10, then the scan, then the two
// timers), and what the user does with the table: double-click a row to look
// the work up, clear the table, paste an address. It connects its own
// buttons, timers and the table's double-click.
class WorksTable : public QObject {
    Q_OBJECT
public:
    // The song lookup's parse action: reads Text1 and starts looking that
    // page up; false when it refused the address at once, else `done` follows.
    using ParseAction = std::function<bool(SongLookups::Done done)>;
    // How a row's lookup ended: true when it ran to its end, false when a
    // newer double-click or lookup took over first.
    using RowLookedUp = std::function<void(bool completed)>;
    // Saves the given rows' works (the download panel's batch).
    using DownloadWorks = std::function<void(const QList<WorkRow> &rows)>;
    // Plays the works one after another from the given row on.
    using PlayWorks = std::function<void(int firstRow)>;

    static inline const QString DownloadThisText = QStringLiteral("下载此作品");
    static inline const QString DownloadAllText = QStringLiteral("下载全部作品");
    static inline const QString PlayAllText = QStringLiteral("播放全部作品");
    static inline const QString PlayFromHereText = QStringLiteral("从此处播放");
    // A choice, checked while saved songs get their tags; the window keeps it.
    static inline const QString SongTagsText = QStringLiteral("下载时写入歌曲信息和封面");

    static inline const QString NoWorksMessage = QStringLiteral("当前歌手没有音乐作品或未开通Kelvaro会员无法获取!");

    struct Controls {
        QWidget *window;        // parent of the message box
        QLineEdit *Text2;       // singer home page address
        QPushButton *Command10; // fetch the singer's works
        QPushButton *Command11; // paste into Text2
        QPushButton *Command12; // clear the works table
        QTreeWidget *ListView1; // works table: number, id, title, service address (hidden)
        QTimer *Timer3;         // builds the rows, one tick
        QTimer *Timer4;         // reports a singer without works
        QLineEdit *Text1;       // recording page address, filled by the double-click
        StatusLine setStatus; // writes the status line
    };

    // `fetch` reads a page (GetBody when none is given).
    // `play` is stopped by the double-click.
    WorksTable(const Controls &controls, SongState &song, ParseAction parseAction, PlayCommands &play,
               DialogService &dialogs, PageFetch fetch = {}, QObject *parent = nullptr);

    // The crawl's working values, Seg and Hits.
    const WorksCrawlState &crawlState() const { return m_crawl; }

    // Where the table's menu sends the works to save; without it the menu's
    // entries stay disabled.
    void setDownloadWorks(DownloadWorks downloadWorks) { m_downloadWorks = std::move(downloadWorks); }
    // Where the menu's play entries go; without it they stay disabled.
    void setPlayWorks(PlayWorks playWorks) { m_playWorks = std::move(playWorks); }
    // The table's context menu and its entries.
    QMenu *contextMenu() const { return m_menu; }
    QAction *downloadThisAction() const { return m_downloadThis; }
    QAction *downloadAllAction() const { return m_downloadAll; }
    QAction *playAllAction() const { return m_playAll; }
    QAction *playFromHereAction() const { return m_playFromHere; }
    QAction *songTagsAction() const { return m_songTags; }

public slots:
    // Checks the address and starts fetching the page; once it is in,
    // empties the table and scans the page.
    void Command10_Click();
    // Counts the work rows of the fetched page and arms the timers.
    void hx();
    // Builds every row in one go and ends the crawl.
    void Timer3_Timer();
    // Two seconds after a scan that found no work row: tells the user.
    void Timer4_Timer();
    // Resolves the selected row's work to its recording page and looks it up.
    void ListView1_DblClick();
    // The same, telling `ended` how it went.
    void lookUpSelectedRow(RowLookedUp ended);
    // Empties the table.
    void Command12_Click();
    // Replaces Text2 with the clipboard's text.
    void Command11_Click();
    // A right-click in the table: the menu to save the row under the mouse
    // or every row. `at` is in the rows area's coordinates.
    void ListView1_ContextMenu(const QPoint &at);

protected:
    // A double-click anywhere in the table's rows area, on a row or not.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // A double-click's work, from the click to the end of its lookup.
    struct RowLookup {
        std::optional<QString> workId;
        RowLookedUp ended;
        FetchHandle service; // the play-address service's answer
    };

    void singerPageArrived(std::optional<QString> page);
    // After a fetch that brought no page: the window goes back to idle.
    void fetchFailed();
    void startRowLookup(const std::shared_ptr<RowLookup> &row);
    void rowLookedUp(LookupOutcome outcome);
    static WorkRow rowOf(const QTreeWidgetItem &item);
    void downloadThis();
    void downloadAll();

    QWidget *const m_window;
    QLineEdit *const m_Text2;
    QPushButton *const m_Command10;
    QTreeWidget *const m_ListView1;
    QTimer *const m_Timer3;
    QTimer *const m_Timer4;
    QLineEdit *const m_Text1;
    const StatusLine m_setStatus;
    SongState &m_song;
    const ParseAction m_parseAction;
    PlayCommands &m_play;
    DialogService &m_dialogs;
    const PageFetch m_fetch;
    WorksCrawlState m_crawl;
    FetchHandle m_singerPage;                // the crawl's page, while it comes
    std::shared_ptr<RowLookup> m_rowLookup; // the double-click in progress
    DownloadWorks m_downloadWorks;
    QMenu *m_menu = nullptr;
    QAction *m_downloadThis = nullptr;
    QAction *m_downloadAll = nullptr;
    PlayWorks m_playWorks;
    QAction *m_playAll = nullptr;
    QAction *m_playFromHere = nullptr;
    QAction *m_songTags = nullptr;
    int m_menuRowIndex = -1;
    // The row the menu was opened on, read when it opened: the table may
    // change before an entry is chosen.
    std::optional<WorkRow> m_menuRow;
};
