#include "gui/app/Program.h"

#include "gui/app/Appearance.h"
#include "gui/app/ColumnLock.h"
#include "gui/app/FormControls.h"
#include "core/endpoints/Endpoints.h"
#include "gui/app/WindowKeys.h"
#include "gui/widgets/BusyCursor.h"
#include "gui/widgets/Desktop.h"
#include "core/playback/MediaCommands.h"
#include "core/playback/MediaControl.h"

#include <QApplication>
#include <QCloseEvent>
#include <QAction>
#include <QDir>
#include <QIcon>

namespace {

// What the status line says while the window waits for a recording page, and
// for the address of a works row's recording page. The crawl and the version
// check say it themselves before they fetch.
const QString LookupWaitStatus = QStringLiteral("正在获取歌曲信息..");
const QString WorkAddressWaitStatus = QStringLiteral("正在获取作品地址..");

// A fetch with the busy cursor and, when it has one, the waiting text on the
// status line, for as long as it is pending: until its answer is in, or it is
// cancelled (a newer lookup superseded the one waiting). The text then gives
// way to the one that stood before, unless a handler wrote its own meanwhile
// (a refusal, say, of a lookup clicked during the wait).
class WaitingFetch final : public PendingFetch {
public:
    WaitingFetch(Form1 &form, QString text) : m_form(form), m_text(std::move(text))
    {
        if (m_text.isEmpty())
            return;
        m_before = m_form.status();
        m_form.setStatus(m_text);
    }
    ~WaitingFetch() override { over(); }

    void begin(const PageFetch &fetch, const QString &address, PageDone done)
    {
        m_inner = fetch(address, [this, done = std::move(done)](std::optional<QString> page) {
            over();
            m_cancelled = true; // answered: nothing more to cancel
            deleteLater();
            done(std::move(page));
        });
    }
    void cancel() override
    {
        m_inner.cancel();
        over();
        PendingFetch::cancel();
    }

private:
    void over()
    {
        if (!m_busy)
            return;
        m_busy.reset();
        if (!m_text.isEmpty() && m_form.status() == m_text)
            m_form.setStatus(m_before);
    }

    Form1 &m_form; // the window outlives every fetch of its parts
    const QString m_text;
    QString m_before;
    std::optional<BusyCursor> m_busy{std::in_place};
    FetchHandle m_inner;
};

} // namespace

Program::Program(QApplication &app, ProgramServices services)
    : m_app(app), m_services(std::move(services)),
      m_locations(FileLocations::forProgramFolder(m_services.programFolder)), m_skin(app)
{
    // The skin goes on before the window's controls are made, so that each
    // is polished once, in the skin's look, rather than plain first and then
    // again when the skin arrives. Its results are not looked at: a missing
    // skin leaves the plain look.
    m_skin.attachEx(m_locations.skinFile);
    m_skin.adjustHsv(140, 0, 0);
    m_form = std::make_unique<Form1>();
    Form1 &f = *m_form;
    f.installEventFilter(this);
    f.setDownloadExplanation(m_locations.downloadExplanation());

    connect(f.Command5, &QPushButton::clicked, this, &Program::Command5_Click);
    connect(f.Command3, &QPushButton::clicked, this, &Program::Command3_Click);
    connect(f.Command4, &QPushButton::clicked, this, &Program::Command4_Click);

    const FormControls controls = controlsOf(f);
    m_versionCheck = std::make_unique<VersionCheck>(
        controls.versionCheck,
        m_services.dialogs, m_services.desktop, m_services.endProgram, waitingFetch(m_services.fetch, {}));
    m_frame = std::make_unique<SkinnedFrame>(f, m_services.media, m_services.endProgram, [this] { return mayQuit(); });

    // The lookup connects its own buttons (the lookup image, copy and paste).
    m_songLookup = std::make_unique<SongLookup>(
        controls.songLookup, m_song,
        waitingFetch(m_services.recordingPageFetch ? m_services.recordingPageFetch : m_services.fetch,
                     [](const QString &) { return LookupWaitStatus; }));
    m_playCommands = std::make_unique<PlayCommands>(controls.playCommands, m_song, m_services.media);
    // The works table connects its own buttons, timers and double-click; a
    // double-click runs the lookup above and stops what plays.
    m_worksTable = std::make_unique<WorksTable>(
        controls.worksTable, m_song,
        [lookup = m_songLookup.get()](SongLookups::Done done) { return lookup->lookUp(std::move(done)); },
        *m_playCommands, m_services.dialogs, waitingFetch(m_services.fetch, [](const QString &address) {
            // The table fetches the singer page (the crawl says so itself) and
            // the service address of a row.
            return address.startsWith(playServiceAddress(QString())) ? WorkAddressWaitStatus : QString();
        }));

    // The works played one after another, from the table's menu; the desktop's
    // player controls drive the same play button and run.
    m_worksRun = std::make_unique<WorksRun>(*m_worksTable, f.ListView1, *m_playCommands, m_song,
                                            [&f](const QString &text) { f.setStatus(text); });
    m_worksTable->setPlayWorks([run = m_worksRun.get()](int firstRow) { run->start(firstRow); });
    m_mpris = std::make_unique<MprisService>(
        MprisService::Parts{&f, *m_playCommands, *m_worksRun, m_song, f.Slider1, [this] { m_form->close(); }});
    // Once a lookup has ended: the new song is then in place.
    connect(m_songLookup.get(), &SongLookup::lookupEnded, m_mpris.get(), &MprisService::refresh);
    m_notifier = std::make_unique<DesktopNotifier>(&f);

    // The page's folder is made on first use, before the click writes into
    // it (connections run in the order they were made).
    connect(f.Command8, &QPushButton::clicked, this, [folder = m_locations.videoPageFolder] { QDir().mkpath(folder); });
    m_musicVideo = std::make_unique<MusicVideo>(controls.musicVideo, m_song, m_services.dialogs, m_services.desktop,
                                                m_locations.videoPageFolder, m_locations.videoPageNote());
    connect(f.Command8, &QPushButton::clicked, m_musicVideo.get(), &MusicVideo::Command8_Click);


    // The keyboard goes through the same controls and handlers as the mouse.
    new WindowKeys(f, {[table = m_worksTable.get()] { table->ListView1_DblClick(); },
                       [this] { return m_downloadPanel && m_downloadPanel->transferRunning(); }});
}

PageFetch Program::waitingFetch(PageFetch fetch, std::function<QString(const QString &)> waitingText)
{
    return [this, fetch = std::move(fetch), waitingText = std::move(waitingText)](const QString &address,
                                                                                   PageDone done) {
        auto *waiting = new WaitingFetch(*m_form, waitingText ? waitingText(address) : QString());
        FetchHandle handle(waiting);
        waiting->begin(fetch, address, std::move(done));
        return handle;
    };
}

Program::~Program()
{
    // The window goes without its close path: nothing more is sent on the way out.
    m_form->removeEventFilter(this);
}

void Program::Form_Load()
{
    Form1 &f = *m_form;
    // The icon of the window and of every dialog; the whole icon (the
    // theme's, if it has one) replaces it once the window is painted.
    m_app.setWindowIcon(startIcon());
    f.setWindowIcon(startIcon());
    f.Image3->setGeometry(2, f.Image3->y(), f.width() - 3, f.Image3->height());
    f.show();
    // The volume the user left it at; full the first time.
    f.Slider1->setValue(m_settings.volume());
    connect(f.Slider1, &QSlider::valueChanged, this, [this](int volume) { m_settings.setVolume(volume); });
    HookListView(f.ListView1);
    f.ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Cdf_ent = std::make_unique<Cls_DownLoad>();
    m_downloadPanel = std::make_unique<DownloadPanel>(
        controlsOf(f).downloadPanel,
        m_song, *Cdf_ent, m_services.dialogs, m_services.desktop, m_locations.musicFolder);
    m_downloadPanel->rememberFolders(m_settings.lastDownloadFolder(),
                                     [this](const QString &folder) { m_settings.setLastDownloadFolder(folder); });
    // Whether saved songs get their tags: the works table's menu offers the
    // choice, the settings keep it, the panel follows it.
    m_downloadPanel->setWriteSongTags(m_settings.writeSongTags());
    m_worksTable->songTagsAction()->setChecked(m_settings.writeSongTags());
    connect(m_worksTable->songTagsAction(), &QAction::toggled, this, [this](bool write) {
        m_settings.setWriteSongTags(write);
        m_downloadPanel->setWriteSongTags(write);
    });
    // The works table's menu saves works through the download panel.
    m_worksTable->setDownloadWorks(
        [panel = m_downloadPanel.get()](const QList<WorkRow> &rows) { panel->downloadWorks(rows); });
    connect(m_downloadPanel.get(), &DownloadPanel::workEnded, m_notifier.get(), &DesktopNotifier::notify);
    f.show();
    m_versionCheck->gx();
}

void Program::Command5_Click()
{
    m_form->close();
}

void Program::Command3_Click()
{
    m_services.desktop.openAddress(QString::fromLatin1(Endpoints::ForumUrl));
}

void Program::Command4_Click()
{
    m_services.desktop.openAddress(QString::fromLatin1(Endpoints::SiteUrl));
}

void Program::Form_QueryUnload()
{
    m_services.media.send(MediaCommands::closeAll());
}

bool Program::mayQuit()
{
    return !m_downloadPanel || m_downloadPanel->mayQuit();
}

void Program::afterFirstPaint()
{
    const QIcon icon = applicationIcon();
    m_app.setWindowIcon(icon);
    m_form->setWindowIcon(icon);
}

bool Program::eventFilter(QObject *watched, QEvent *event)
{
    // Queued, so that it runs once the painted window has gone to the screen.
    if (watched == m_form.get() && event->type() == QEvent::Paint && !m_painted) {
        m_painted = true;
        QMetaObject::invokeMethod(this, &Program::afterFirstPaint, Qt::QueuedConnection);
    }
    if (watched == m_form.get() && event->type() == QEvent::Close) {
        // Only a running download, on No, keeps the window open.
        if (!mayQuit()) {
            event->ignore();
            return true;
        }
        Form_QueryUnload();
    }
    return QObject::eventFilter(watched, event);
}
