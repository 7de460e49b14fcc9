#pragma once
#include "core/download/DownloadPanelLogic.h"
#include "core/lookup/StatusLine.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPoint>
#include <QString>

#include <algorithm>
#include <functional>
#include <memory>

class AlphaImageButton;
class Cls_DownLoad;
class Desktop;
class DialogService;
class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;
class WorkBatch;
struct BatchOutcome;
struct BatchWork;
struct DownloadResult;
struct SongState;
struct WorkRow;

// The download panel: opens and fills Picture3, picks the target file,
// starts and stops the transfer on the download engine and turns the
// engine's events into the progress bar and the status line.
//
// Command6_Click starts the transfer and returns; the engine reports from
// the event loop, and the start flow goes on in Cdf_entDLFileFinished.
// Command2 is the only control disabled meanwhile. A batch (the works
// table's menu) runs the same way, through WorkBatch.
//
// The constructor connects the controls' clicks, the engine's events and
// the panel's mouse presses to the handlers below; nothing else needs wiring.
class DownloadPanel : public QObject {
    Q_OBJECT
public:
    struct Controls {
        QWidget *window;                   // the main window: centring, and the dialogs' parent
        QFrame *Picture3;                  // the panel
        QPushButton *Command2;             // "下载音乐" on the song panel
        QPushButton *Command1;             // browse for the target file
        QPushButton *Command6;             // start/stop
        QProgressBar *ProgressBar1;
        QLabel *Label16;                   // music name
        QLabel *Label17;                   // singer
        AlphaImageButton *aicAlphaImage4;  // close image
        StatusLine setStatus;
    };

    // `musicFolder` is the folder of the default target file.
    DownloadPanel(Controls controls, SongState &song, Cls_DownLoad &Cdf_ent, DialogService &dialogs, Desktop &desktop,
                  QString musicFolder, QObject *parent = nullptr);
    ~DownloadPanel() override;

    // The browse dialog opens in `lastFolder` (when not empty), and the
    // folder of every file chosen there is handed to `keep`.
    void rememberFolders(QString lastFolder, std::function<void(const QString &)> keep);

    // Whether a saved song gets its tags: title, singer, the picture the
    // song panel shows as its cover, the recording page and the work id.
    // On unless the user turned it off; taken when a transfer starts.
    void setWriteSongTags(bool write) { m_writeTags = write; }
    bool writesSongTags() const { return m_writeTags; }
    // How often a transient failure of a single download is tried again
    // (0: never); 3 unless changed. Taken when a transfer starts.
    void setRetries(int retries) { m_retries = std::max(retries, 0); }
    int retries() const { return m_retries; }

    // What Command6 does when clicked; its caption says the same.
    enum class Command6Offers { Start, Stop };
    Command6Offers command6Offers() const { return m_command6; }

    // The target file; empty until Command2 or Command1 sets it.
    const QString &DownPath() const { return m_downPath; }
    // A transfer started here is running (its DLFileFinished has not come).
    bool transferRunning() const { return m_transferRunning; }
    // The works the table's menu asked for, saved into the default folder
    // up to setBatchJobs() at once: the whole batch in the progress bar, the
    // works under way in the status line ("第 3-5/40 首"), all of them
    // stopped by the start/stop button, and the failed ones listed in a
    // report at the end. Works asked for while a batch runs
    // join its queue; a single download running refuses them. Returns at
    // once; the batch's end shows in the status line and workEnded.
    void downloadWorks(const QList<WorkRow> &rows);
    const WorkBatch &workBatch() const { return *m_batch; }
    // How many works a batch saves at once (1 to 8; 3 unless told), taken
    // by the works that start afterwards. A batch tags its files as
    // setWriteSongTags says.
    void setBatchJobs(int jobs);
    static constexpr int DefaultBatchJobs = 3;

    // Quitting while a transfer or a batch runs: asks whether to stop it and
    // quit. True when nothing runs, or on Yes (it is then asked to stop).
    // False, without asking, while a modal dialog is open.
    bool mayQuit();

    void Command2_Click();
    void Command1_Click();
    void Command6_Click();
    void Cdf_entDLFileDowning(const QString &sRemoteURL, qint64 lDownLoaded, qint64 lFilesize);
    void Cdf_entDLFileStatus(int TmpState);
    void Cdf_entDLFileFinished(const DownloadResult &result);
    void Cdf_entDLFileResuming(qint64 lFrom, qint64 lFilesize);
    void Cdf_entDLFileRetrying(int attempt, int retries, int delayMs, const QString &reason);
    void aicAlphaImage4_Click();
    // Mouse buttons as a bit set (1 left, 2 right, 4 middle); X, Y inside Picture3.
    void Picture3_MouseDown(int button, double X, double Y);

signals:
    // A download saved its file completely ("音乐下载完成", the file's name),
    // or a batch ended (its heading, and the counts with the failures).
    void workEnded(const QString &summary, const QString &body);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QString songTitle() const;
    void showButton(Command6Offers offers);
    void startTransfer();
    void askToStop();
    void transferEnded(const DownloadResult &result, const QString &target);
    // The progress bar's own text: the single download's size, speed and
    // time left; none outside a single download.
    void showProgressText(const QString &text);
    void followMouse(QPointF inPanel);
    void showPanel();
    void batchWorkStarted(int position, int total);
    void batchWorkEnded(int position, const BatchOutcome &outcome);
    void batchEnded(const QList<BatchOutcome> &outcomes);
    // "第 3-5/40 首：" for the works under way, "第 N/M 首：" for one.
    QString batchPrefix(const QList<int> &positions) const;
    void batchWorkStatus(const QString &text);
    void batchWorkProgress(int position, qint64 received, qint64 size);
    void showBatchProgress();

    Controls m_c;
    SongState &m_song;
    Cls_DownLoad &m_engine;
    DialogService &m_dialogs;
    Desktop &m_desktop;
    const QString m_musicFolder;
    QString m_lastFolder;
    std::function<void(const QString &)> m_keepFolder;

    QString m_downPath;
    bool m_transferRunning = false;
    QString m_transferTarget; // the running transfer's file, whatever DownPath says by now
    bool m_writeTags = true;
    int m_retries = 3;
    // The speed of the single download's current attempt, from what it
    // received itself: a continued file's earlier bytes do not count.
    QElapsedTimer m_clock;
    TransferRate m_rate;
    qint64 m_resumedFrom = 0;
    Command6Offers m_command6 = Command6Offers::Start; // the design caption is "开始下载"
    std::unique_ptr<WorkBatch> m_batch;
    QHash<int, double> m_batchShares; // the running works' transfers, each 0 to 1

    // Dragging Picture3: where it was pressed inside the panel, the point
    // that stays under the mouse until the button is released.
    bool m_dragging = false;
    QPoint m_grabbedAt;
};
