#pragma once
#include "gui/app/Form1.h"
#include "gui/app/SkinLayer.h"
#include "gui/app/SkinnedFrame.h"
#include "gui/app/VersionCheck.h"
#include "gui/desktopbus/DesktopNotifier.h"
#include "gui/desktopbus/MprisService.h"
#include "core/download/Cls_DownLoad.h"
#include "gui/download/DownloadPanel.h"
#include "gui/lookup/SongLookup.h"
#include "core/lookup/SongState.h"
#include "gui/mv/MusicVideo.h"
#include "core/platform/FileLocations.h"
#include "core/platform/UserSettings.h"
#include "gui/playback/PlayCommands.h"
#include "gui/works/WorksRun.h"
#include "gui/works/WorksTable.h"

#include <QObject>
#include <functional>
#include <memory>

class Desktop;
class DialogService;
class MediaControl;
class QApplication;

// What the program needs from the world outside it. The desktop program
// passes the real ones; tests pass fakes.
struct ProgramServices {
    DialogService &dialogs;
    Desktop &desktop;
    MediaControl &media;
    // Ends the program at once, without the window's close path.
    std::function<void()> endProgram;
    // The page fetch: lookups and the version check read their pages through it.
    PageFetch fetch;
    // The folder of the program file: where the program keeps its files
    // when it may write there (see FileLocations).
    QString programFolder;
    // The song lookup's recording page fetch, which takes no error page for a
    // page; the page fetch above when none is given.
    PageFetch recordingPageFetch = {};
};

// The main window with everything it owns, wired together: the make-up,
// the current song, the handlers of every part, and the start-up and
// shutdown of the program.
class Program : public QObject {
    Q_OBJECT
public:
    Program(QApplication &app, ProgramServices services);
    ~Program() override;

    Form1 &form() { return *m_form; }
    SongState &song() { return m_song; }
    // The download engine; created by Form_Load.
    Cls_DownLoad *downloadEngine() { return Cdf_ent.get(); }
    DownloadPanel *downloadPanel() { return m_downloadPanel.get(); }
    SongLookup &songLookup() { return *m_songLookup; }
    WorksTable &worksTable() { return *m_worksTable; }
    WorksRun &worksRun() { return *m_worksRun; }
    PlayCommands &playCommands() { return *m_playCommands; }
    // The media player on the session bus (registered only when there is one).
    MprisService &mpris() { return *m_mpris; }

    // Start-up: layout, window, volume, column lock, engine, version check.
    // The skin is already on: the constructor attaches it before it makes
    // the window's controls.
    void Form_Load();
    // Exit button: closes the window, which goes through Form_QueryUnload.
    void Command5_Click();
    // The publisher's forum and web site, in the user's browser.
    void Command3_Click();
    void Command4_Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // What need not hold up the window's first appearance: the whole icon,
    // looked up in the icon theme. Runs once, after the first paint.
    void afterFirstPaint();
    // Any request to close the window stops whatever is playing.
    void Form_QueryUnload();
    // Every way out asks this first: a running download may keep the program.
    bool mayQuit();
    // `fetch` with the busy cursor while it is pending; when `waitingText`
    // gives a text for the address, the status line shows it meanwhile.
    PageFetch waitingFetch(PageFetch fetch, std::function<QString(const QString &)> waitingText);

    QApplication &m_app;
    ProgramServices m_services;
    const FileLocations m_locations;
    UserSettings m_settings;
    SkinLayer m_skin;
    SongState m_song;
    std::unique_ptr<Form1> m_form;
    std::unique_ptr<VersionCheck> m_versionCheck;
    std::unique_ptr<SongLookup> m_songLookup;
    std::unique_ptr<WorksTable> m_worksTable;
    std::unique_ptr<SkinnedFrame> m_frame;
    std::unique_ptr<Cls_DownLoad> Cdf_ent;
    std::unique_ptr<DownloadPanel> m_downloadPanel;
    std::unique_ptr<MusicVideo> m_musicVideo;
    std::unique_ptr<PlayCommands> m_playCommands;
    std::unique_ptr<WorksRun> m_worksRun;
    std::unique_ptr<MprisService> m_mpris;
    std::unique_ptr<DesktopNotifier> m_notifier;
    bool m_painted = false;
};
