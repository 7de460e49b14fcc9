#include "gui/download/DownloadPanel.h"

#include "core/download/Cls_DownLoad.h"
#include "core/download/DownloadPanelLogic.h"
#include "core/download/SongTags.h"
#include "core/lookup/SongState.h"
#include "core/lookup/StatusLine.h"
#include "gui/widgets/AlphaImageButton.h"
#include "gui/widgets/Desktop.h"
#include "gui/widgets/Dialogs.h"
#include "core/works/WorkBatch.h"

#include <cerrno>

#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QApplication>

#include <algorithm>
#include <cmath>

namespace {

const QString StartCaption = QStringLiteral("开始下载");
const QString StopCaption = QStringLiteral("停止下载");
const QString DiskFullText = QStringLiteral("磁盘空间不足,音乐下载失败..");

QString batchFailureText(const BatchOutcome &outcome)
{
    using Failure = BatchOutcome::Failure;
    switch (outcome.failure) {
    case Failure::ServiceUnanswered:
        return QStringLiteral("无法获取播放地址");
    case Failure::NotRecordingPage:
        return QStringLiteral("播放地址无效");
    case Failure::PageUnanswered:
        return QStringLiteral("无法获取作品页面");
    case Failure::NoAudioAddress:
        return QStringLiteral("作品页面没有音乐地址");
    case Failure::PageError:
        return QStringLiteral("无法获取作品页面(HTTP %1)").arg(outcome.httpStatus);
    case Failure::Transfer:
        return QStringLiteral("音乐下载失败(%1)").arg(outcome.detail);
    case Failure::FileError:
        return outcome.systemError == ENOSPC ? DiskFullText : QStringLiteral("下载文件无法写入");
    case Failure::None:
        break;
    }
    return {};
}

} // namespace

DownloadPanel::DownloadPanel(Controls controls, SongState &song, Cls_DownLoad &Cdf_ent, DialogService &dialogs,
                             Desktop &desktop, QString musicFolder, QObject *parent)
    : QObject(parent), m_c(std::move(controls)), m_song(song), m_engine(Cdf_ent), m_dialogs(dialogs),
      m_desktop(desktop), m_musicFolder(std::move(musicFolder))
{
    connect(m_c.Command2, &QPushButton::clicked, this, &DownloadPanel::Command2_Click);
    connect(m_c.Command1, &QPushButton::clicked, this, &DownloadPanel::Command1_Click);
    connect(m_c.Command6, &QPushButton::clicked, this, &DownloadPanel::Command6_Click);
    connect(m_c.aicAlphaImage4, &AlphaImageButton::clicked, this, &DownloadPanel::aicAlphaImage4_Click);
    connect(&m_engine, &Cls_DownLoad::DLFileDowning, this, &DownloadPanel::Cdf_entDLFileDowning);
    connect(&m_engine, &Cls_DownLoad::DLFileStatus, this, &DownloadPanel::Cdf_entDLFileStatus);
    connect(&m_engine, &Cls_DownLoad::DLFileFinished, this, &DownloadPanel::Cdf_entDLFileFinished);
    connect(&m_engine, &Cls_DownLoad::DLFileResuming, this, &DownloadPanel::Cdf_entDLFileResuming);
    connect(&m_engine, &Cls_DownLoad::DLFileRetrying, this, &DownloadPanel::Cdf_entDLFileRetrying);
    m_clock.start();
    m_c.Picture3->installEventFilter(this);

    m_batch = std::make_unique<WorkBatch>(m_engine);
    m_batch->setJobs(DefaultBatchJobs);
    connect(m_batch.get(), &WorkBatch::workStarted, this,
            [this](int position, int total, const BatchWork &) { batchWorkStarted(position, total); });
    // The batch's transfers run on engines of their own besides this one:
    // their events come through the batch, each naming its work.
    connect(m_batch.get(), &WorkBatch::workStatus, this,
            [this](int, int status) { batchWorkStatus(downloadStatusText(status)); });
    connect(m_batch.get(), &WorkBatch::workProgress, this, &DownloadPanel::batchWorkProgress);
    connect(m_batch.get(), &WorkBatch::workResuming, this,
            [this](int, qint64, qint64) { batchWorkStatus(QStringLiteral("正在继续下载..")); });
    connect(m_batch.get(), &WorkBatch::workRetrying, this, [this](int, int attempt, int, int, const QString &) {
        batchWorkStatus(QStringLiteral("第 %1 次重试..").arg(attempt));
    });
    connect(m_batch.get(), &WorkBatch::workTarget, this,
            [this](int, const QString &, const QString &title, const QString &userName) {
                m_c.Label16->setText(QStringLiteral("音乐名称：") + title);
                m_c.Label17->setText(QStringLiteral("演唱歌手：") + userName);
            });
    connect(m_batch.get(), &WorkBatch::workEnded, this,
            [this](int position, int, const BatchOutcome &outcome) { batchWorkEnded(position, outcome); });
    connect(m_batch.get(), &WorkBatch::finished, this, [this](const QList<BatchOutcome> &outcomes) {
        m_batchShares.clear();
        showButton(Command6Offers::Start);
        m_c.Command2->setEnabled(true);
        batchEnded(outcomes);
    });
}

DownloadPanel::~DownloadPanel() = default;

QString DownloadPanel::songTitle() const
{
    return downloadTitle(m_song.SongName);
}

void DownloadPanel::Command2_Click()
{
    const QString title = songTitle();
    if (!m_song.MusicUrl.isEmpty()) {
        m_c.setStatus(QStringLiteral("正在下载音乐.."));
        m_c.Label16->setText(QStringLiteral("音乐名称：") + title);
        m_c.Label17->setText(QStringLiteral("演唱歌手：") + m_song.UserName);
        showPanel();
    } else {
        m_c.setStatus(StatusTexts::LookUpFirst);
    }
    m_downPath = defaultDownloadPath(m_musicFolder, title, m_song.UserName);
    m_c.ProgressBar1->setValue(0);
}

void DownloadPanel::rememberFolders(QString lastFolder, std::function<void(const QString &)> keep)
{
    m_lastFolder = std::move(lastFolder);
    m_keepFolder = std::move(keep);
}

void DownloadPanel::showPanel()
{
    QFrame &panel = *m_c.Picture3;
    const double left = m_c.window->width() / 2.0 - panel.width() / 2.0;
    const double top = m_c.window->height() / 2.0 - panel.height() / 2.0;
    panel.move(int(std::nearbyint(left)), int(std::nearbyint(top)));
    panel.show();
}

void DownloadPanel::Command1_Click()
{
    // The folder last chosen, else the current target's.
    QString startFolder;
    if (!m_lastFolder.isEmpty() && QFileInfo(m_lastFolder).isDir())
        startFolder = m_lastFolder;
    else if (!m_downPath.isEmpty())
        startFolder = QFileInfo(m_downPath).absolutePath();
    const std::optional<QString> chosen =
        m_dialogs.saveFileName(m_c.window, QStringLiteral("选择要下载的路径"), QStringLiteral("MP3音乐文件"),
                               QStringLiteral("*.mp3"), startFolder, suggestedFileName(songTitle(), m_song.UserName));
    if (!chosen || chosen->isEmpty())
        return; // cancelled: the target stays what it was
    m_downPath = *chosen;
    m_lastFolder = QFileInfo(m_downPath).absolutePath();
    if (m_keepFolder)
        m_keepFolder(m_lastFolder);
    m_c.setStatus(QStringLiteral("已更换下载路径：") + m_downPath);
}

void DownloadPanel::showButton(Command6Offers offers)
{
    m_command6 = offers;
    m_c.Command6->setText(offers == Command6Offers::Start ? StartCaption : StopCaption);
}

void DownloadPanel::Command6_Click()
{
    // While a batch runs the button only ever stops it; the batch has its
    // own targets, whatever DownPath holds.
    if (m_batch->isRunning()) {
        askToStop();
        return;
    }
    if (m_downPath.isEmpty()) {
        m_dialogs.messageBox(m_c.window, QStringLiteral("请先选择要下载的文件路径!"), MessageBoxTitle,
                             MessageIcon::Exclamation, MessageButtons::Ok);
        return;
    }
    if (m_command6 == Command6Offers::Start)
        startTransfer();
    else
        askToStop();
}

void DownloadPanel::startTransfer()
{
    // Right after a confirmed stop the button reads "开始下载" while the
    // engine still writes its last chunk: starting now would be a second
    // transfer into the same file. The click does nothing.
    if (m_transferRunning || m_engine.isRunning())
        return;

    // The default target's folder is ours to make; the first download into
    // it would fail without it. A folder the user picked already exists.
    const QString target = m_downPath;
    const QString music = QDir::cleanPath(QDir(m_musicFolder).absolutePath());
    if (QDir::cleanPath(QFileInfo(target).absolutePath()) == music)
        QDir().mkpath(music);

    // The transfer takes the audio address and the target as they are now.
    // A lookup while it runs changes the current song and the song panel,
    // never this transfer: it goes on saving the song it started with, under
    // the name it was given. Once it has ended, "下载音乐" opens the panel for
    // the new song.
    // A cut or stopped transfer keeps what it received, and the next one
    // into the same file continues it; short failures are tried again. The
    // tags go into the temporary file before it takes the target's name, so
    // a file under that name is always a whole tagged song.
    TransferOptions options;
    options.resume = true;
    options.retries = m_retries;
    if (m_writeTags) {
        const SongTags tags{songTitle(), m_song.UserName, m_song.PictureBytes, m_song.PageUrl, m_song.WorkId};
        options.beforeCommit = [tags](const QString &tempPath) { return writeSongTags(tempPath, tags); };
    }
    if (!m_engine.DLFile(m_song.MusicUrl, target, options))
        return; // someone else's transfer holds the engine; this click started nothing
    // The transfer runs from the event loop; it goes on in
    // Cdf_entDLFileFinished. Meanwhile every control stays usable except
    // Command2: the target cannot change under a running transfer.
    m_transferRunning = true;
    m_transferTarget = target;
    showButton(Command6Offers::Stop);
    m_c.Command2->setEnabled(false);
}

void DownloadPanel::Cdf_entDLFileFinished(const DownloadResult &result)
{
    if (!std::exchange(m_transferRunning, false))
        return; // a transfer of the batch: it has its own ending
    transferEnded(result, m_transferTarget);
}

void DownloadPanel::transferEnded(const DownloadResult &result, const QString &target)
{
    // However it ended, nothing runs any more: the button starts again and
    // the panel can be opened for the next song.
    showButton(Command6Offers::Start);
    m_c.Command2->setEnabled(true);
    showProgressText({});

    // Only a complete answer replaced the target; whatever was there before
    // is still there otherwise, and the status line says why.
    switch (classifyDownload(result)) {
    case DownloadClass::FileError:
        // The engine stopped after "正在下载音乐数据...", which would stay.
        if (result.systemError == ENOSPC) {
            m_c.setStatus(DiskFullText);
            m_dialogs.messageBox(m_c.window, DiskFullText + QStringLiteral("\n") + target, MessageBoxTitle,
                                 MessageIcon::Exclamation, MessageButtons::Ok);
            return;
        }
        // The system's own words for the cause go in the message.
        m_c.setStatus(QStringLiteral("抱歉!下载文件无法写入.."));
        m_dialogs.messageBox(m_c.window,
                             QStringLiteral("无法写入下载文件：\n") + target + QStringLiteral("\n") + result.error +
                                 QStringLiteral("\n请检查该位置是否可以写入,或点击“浏览..”重新选择下载路径!"),
                             MessageBoxTitle, MessageIcon::Exclamation, MessageButtons::Ok);
        return;
    case DownloadClass::Refused:
        // Without a session the engine's status has said it all; otherwise
        // status 6 has just said "音乐下载完成", and nothing came.
        if (result.ending != DownloadResult::Ending::NoSession)
            m_c.setStatus(QStringLiteral("抱歉!无法连接服务器,音乐下载失败.."));
        return;
    case DownloadClass::Stopped:
        m_c.setStatus(QStringLiteral("下载已停止.."));
        return;
    case DownloadClass::HttpError:
        m_c.setStatus(QStringLiteral("抱歉!服务器返回错误(%1),音乐下载失败..").arg(result.httpStatus));
        return;
    case DownloadClass::CutShort:
        m_c.setStatus(QStringLiteral("音乐下载未完成,文件不完整,请重试.."));
        return;
    case DownloadClass::Empty:
        m_c.setStatus(QStringLiteral("抱歉!服务器没有返回数据,音乐下载失败.."));
        return;
    case DownloadClass::Complete:
        break;
    }
    emit workEnded(QStringLiteral("音乐下载完成"), QFileInfo(target).fileName());
    // Browsing during the transfer may have changed the target: what is
    // looked for is the current one.
    if (QFileInfo(m_downPath).isFile())
        m_desktop.showInFileManager(m_downPath);
}

bool DownloadPanel::mayQuit()
{
    if (!m_transferRunning && !m_batch->isRunning())
        return true;
    // The question is modal and the transfer goes on while it is open. A
    // quit request that comes while a modal dialog of the program is open
    // (this question, the stop question, a message, the browse dialog) is
    // refused without a second question: that dialog is answered first.
    if (QApplication::activeModalWidget())
        return false;
    const MessageAnswer answer =
        m_dialogs.messageBox(m_c.window, QStringLiteral("当前正在下载中..是否停止下载并退出程序?"), MessageBoxTitle,
                             MessageIcon::Information, MessageButtons::YesNo);
    if (answer != MessageAnswer::Yes)
        return false;
    // Yes stops what still runs and lets the program go: the transfer ends
    // through its stop request (or with the engine, when the program ends
    // first); what it received stays in its temporary file for the next
    // download of the same file to continue, and an earlier file at the
    // target stays. A batch starts no further work: the current work
    // ends as stopped, the rest of the queue is dropped.
    if (m_batch->isRunning())
        m_batch->stop();
    else if (m_transferRunning)
        m_engine.DLFileStop();
    return true;
}

void DownloadPanel::askToStop()
{
    showButton(Command6Offers::Start);
    const MessageAnswer answer =
        m_dialogs.messageBox(m_c.window, QStringLiteral("当前正在下载中..停止将损坏下载文件!"), MessageBoxTitle,
                             MessageIcon::Information, MessageButtons::YesNo);
    if (answer == MessageAnswer::Yes) {
        // A stop asked for while nothing runs would cut the next download
        // short after its first chunk.
        if (m_batch->isRunning())
            m_batch->stop();
        else if (m_transferRunning)
            m_engine.DLFileStop();
        m_c.Command2->setEnabled(true);
    } else if (m_transferRunning || m_batch->isRunning()) {
        // The transfer goes on, so the button must go on offering to stop
        // it: reading "开始下载", a click would start a second one.
        showButton(Command6Offers::Stop);
    }
}

void DownloadPanel::Cdf_entDLFileDowning(const QString &, qint64 lDownLoaded, qint64 lFilesize)
{
    if (m_batch->isRunning())
        return; // the batch shows its own progress, of all its works
    m_c.ProgressBar1->setValue(progressPercentage(lDownLoaded, lFilesize));
    if (!m_transferRunning)
        return; // the bar alone: no transfer of this panel's to measure
    m_rate.sample(lDownLoaded, m_clock.elapsed());
    showProgressText(progressText(lDownLoaded, lFilesize, m_rate.bytesPerSecond()));
}

void DownloadPanel::showProgressText(const QString &text)
{
    // The bar's own text, drawn inside it: the panel keeps its layout.
    if (m_c.ProgressBar1->format() != text)
        m_c.ProgressBar1->setFormat(text);
    m_c.ProgressBar1->setTextVisible(!text.isEmpty());
}

void DownloadPanel::Cdf_entDLFileResuming(qint64 lFrom, qint64)
{
    if (m_batch->isRunning())
        return; // the batch says it, naming its works
    m_resumedFrom = lFrom;
    m_c.setStatus(QStringLiteral("正在继续下载.."));
}

void DownloadPanel::Cdf_entDLFileRetrying(int attempt, int, int, const QString &)
{
    if (m_batch->isRunning())
        return; // the batch says it, naming its works
    m_c.setStatus(QStringLiteral("第 %1 次重试..").arg(attempt));
}

void DownloadPanel::Cdf_entDLFileStatus(int TmpState)
{
    if (m_batch->isRunning())
        return; // the batch says it, naming its works
    // Each attempt of a transfer measures its own speed, from the bytes it
    // found in a continued file on. An attempt that continues one says so
    // between its answer and its data.
    if (TmpState == DownloadStatus::Connecting || TmpState == DownloadStatus::Answered)
        m_resumedFrom = 0;
    else if (TmpState == DownloadStatus::Receiving)
        m_rate.start(m_resumedFrom, m_clock.elapsed());
    const QString text = downloadStatusText(TmpState);
    // "正在继续下载.." stands until the data comes: the attempt's
    // "正在下载音乐数据..." would hide it at once.
    if (!text.isEmpty() && !(TmpState == DownloadStatus::Receiving && m_resumedFrom > 0))
        m_c.setStatus(text);
    if (TmpState == DownloadStatus::HandlesClosed)
        showButton(Command6Offers::Start);
}

void DownloadPanel::aicAlphaImage4_Click()
{
    // A running transfer goes on; its messages keep coming.
    m_c.Picture3->hide();
}

void DownloadPanel::Picture3_MouseDown(int, double X, double Y)
{
    // Any button drags, until it is released.
    m_dragging = true;
    m_grabbedAt = QPoint(int(X), int(Y));
}

void DownloadPanel::followMouse(QPointF inPanel)
{
    QWidget *area = m_c.Picture3->parentWidget();
    QPoint mouse = m_c.Picture3->mapToParent(inPanel.toPoint());
    // The panel moves within the main window: the point it was grabbed by
    // never leaves the window, however far the mouse goes.
    mouse.setX(std::clamp(mouse.x(), 0, std::max(area->width() - 1, 0)));
    mouse.setY(std::clamp(mouse.y(), 0, std::max(area->height() - 1, 0)));
    m_c.Picture3->move(mouse - m_grabbedAt);
}

bool DownloadPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_c.Picture3)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        // A section or control the panel holds owns its presses; the panel
        // only sees those its children pass on.
        if (m_c.Picture3->childAt(mouse->position().toPoint()))
            return false;
        Picture3_MouseDown(int(mouse->button()), mouse->position().x(), mouse->position().y());
        return true;
    }
    case QEvent::MouseMove:
        if (!m_dragging)
            return false;
        followMouse(static_cast<QMouseEvent *>(event)->position());
        return true;
    case QEvent::MouseButtonRelease:
        if (!m_dragging)
            return false;
        m_dragging = false;
        return true;
    default:
        return QObject::eventFilter(watched, event);
    }
}

void DownloadPanel::downloadWorks(const QList<WorkRow> &rows)
{
    QList<BatchWork> works;
    for (const WorkRow &row : rows)
        works.append(BatchWork::fromRow(row));
    if (works.isEmpty())
        return;
    m_batch->setTags(m_writeTags);
    if (m_batch->isRunning()) {
        m_batch->enqueue(works); // the running batch takes them on
        return;
    }
    if (m_transferRunning || m_engine.isRunning()) {
        m_c.setStatus(QStringLiteral("当前正在下载中,请稍后再试.."));
        return;
    }

    m_batch->enqueue(works);
    showPanel();
    showButton(Command6Offers::Stop);
    m_c.Command2->setEnabled(false);
    m_c.ProgressBar1->setValue(0);
    showProgressText({}); // a single song's size and speed say nothing of a batch
    // The batch runs from the event loop; its end comes back through
    // WorkBatch::finished.
    m_batch->run(m_musicFolder);
}

void DownloadPanel::setBatchJobs(int jobs)
{
    m_batch->setJobs(jobs);
}

QString DownloadPanel::batchPrefix(const QList<int> &positions) const
{
    if (positions.isEmpty())
        return {};
    QString works = QString::number(positions.first());
    if (positions.size() > 1) {
        const bool together = positions.last() - positions.first() == positions.size() - 1;
        if (together) {
            works += QLatin1Char('-') + QString::number(positions.last());
        } else {
            for (qsizetype i = 1; i < positions.size(); ++i)
                works += QLatin1Char(',') + QString::number(positions.at(i));
        }
    }
    return QStringLiteral("第 %1/%2 首：").arg(works).arg(m_batch->total());
}

void DownloadPanel::batchWorkStatus(const QString &text)
{
    if (!text.isEmpty())
        m_c.setStatus(batchPrefix(m_batch->runningPositions()) + text);
}

void DownloadPanel::batchWorkProgress(int position, qint64 received, qint64 size)
{
    m_batchShares[position] = size > 0 ? double(std::min(received, size)) / double(size) : 0.0;
    showBatchProgress();
}

void DownloadPanel::showBatchProgress()
{
    // The whole batch: the works that have ended, and the parts of the
    // running transfers received so far.
    const int total = m_batch->total();
    if (total <= 0)
        return;
    double done = m_batch->endedCount();
    for (const double share : std::as_const(m_batchShares))
        done += share;
    m_c.ProgressBar1->setValue(int(std::min(100.0, done * 100.0 / total)));
    showProgressText(QStringLiteral("已完成 %1/%2 首").arg(m_batch->endedCount()).arg(total));
}

void DownloadPanel::batchWorkStarted(int, int)
{
    showBatchProgress();
    batchWorkStatus(QStringLiteral("正在获取作品信息.."));
}

void DownloadPanel::batchWorkEnded(int position, const BatchOutcome &outcome)
{
    m_batchShares.remove(position);
    showBatchProgress();
    // What ended is said of that work alone.
    const QString prefix = batchPrefix({position});
    switch (outcome.kind) {
    case BatchOutcome::Kind::Downloaded:
        return; // the engine has said "音乐下载完成"
    case BatchOutcome::Kind::Skipped:
        m_c.setStatus(prefix + QStringLiteral("文件已存在且完整,跳过"));
        return;
    case BatchOutcome::Kind::Failed:
        m_c.setStatus(prefix + QStringLiteral("下载失败：") + batchFailureText(outcome));
        return;
    case BatchOutcome::Kind::Stopped:
        return;
    }
}

void DownloadPanel::batchEnded(const QList<BatchOutcome> &outcomes)
{
    int downloaded = 0;
    int skipped = 0;
    int failed = 0;
    bool stopped = false;
    for (const BatchOutcome &outcome : outcomes) {
        switch (outcome.kind) {
        case BatchOutcome::Kind::Downloaded:
            ++downloaded;
            break;
        case BatchOutcome::Kind::Skipped:
            ++skipped;
            break;
        case BatchOutcome::Kind::Failed:
            ++failed;
            break;
        case BatchOutcome::Kind::Stopped:
            stopped = true;
            break;
        }
    }
    const QString summary = QStringLiteral("下载 %1 首,跳过 %2 首,失败 %3 首").arg(downloaded).arg(skipped).arg(failed);
    showProgressText({});
    m_c.setStatus((stopped ? QStringLiteral("批量下载已停止：") : QStringLiteral("批量下载结束：")) + summary);
    emit workEnded(stopped ? QStringLiteral("批量下载已停止") : QStringLiteral("批量下载结束"), summary);
    if (failed == 0)
        return;
    // Which works failed and why, where the user can read and copy them.
    QStringList lines;
    for (const BatchOutcome &outcome : outcomes) {
        if (outcome.kind == BatchOutcome::Kind::Failed)
            lines.append(outcome.work.label() + QStringLiteral("：") + batchFailureText(outcome));
    }
    m_dialogs.textReport(m_c.window, MessageBoxTitle, QStringLiteral("以下 %1 首作品下载失败：").arg(failed),
                         lines.join(QLatin1Char('\n')));
}
