#pragma once
#include "core/lookup/StatusLine.h"
#include "core/playback/PlaybackEnd.h"

#include <QObject>
#include <QString>

#include <functional>

class QPushButton;
class QSlider;
class MediaControl;
struct SongState;

// The song panel's play/stop button, its "can't play?" fallback and the volume
// slider. Whether something plays is kept here, and the play button's
// caption shows it: it goes back to "在线播放" as soon as the sound has
// stopped by itself (the end of the audio, an address that cannot be
// played), and the status line says why.
class PlayCommands : public QObject {
    Q_OBJECT
public:

    static inline const QString PlayCaption = QStringLiteral("在线播放");
    static inline const QString StopCaption = QStringLiteral("停止播放");
    static inline const QString PlayingStatus = QStringLiteral("正在进行在线试播放..");
    static inline const QString RebuiltStatus = QStringLiteral("为您重新解析后,正在进行在线试播放..");
    static inline const QString FinishedStatus = QStringLiteral("播放结束..");
    static inline const QString CannotPlayStatus = QStringLiteral("抱歉!无法播放该音乐,请检查网络或声音设备..");
    static inline const QString BrokenOffStatus = QStringLiteral("抱歉!播放中断,请检查网络后重试..");
    static inline const QString PausedStatus = QStringLiteral("在线播放已暂停..");

    struct Controls {
        QPushButton *Command7;  // play/stop button
        QPushButton *Command16; // rebuild the audio address and play
        QSlider *Slider1;       // volume, 0..1000
        StatusLine setStatus;   // writes the status line
    };

    PlayCommands(const Controls &controls, SongState &state, MediaControl &media, QObject *parent = nullptr);
    ~PlayCommands() override;

    // Closes the previous device, opens `musicpath` as it is, plays it and sets
    // the slider's volume, in that order. No checks: an empty address is sent too.
    // False when the open command failed, so that nothing can be heard.
    bool play(const QString &musicpath);

    // Whether the play button stands for something playing.
    bool playing() const { return m_playing; }
    // Whether a song is held by pause() (the button then offers "在线播放",
    // which starts it from the beginning as always).
    bool paused() const { return m_paused; }
    // Stops whatever plays ("close all"), as the works table's double-click does.
    void stop();
    // Holds the playing song where it is; nothing when nothing plays.
    bool pause();
    // Goes on with a held song where it stopped; nothing when none is held.
    bool resume();
    // Moves the volume slider to `volume` (0..1000) and sends it, as the
    // user's move of the slider does.
    void setVolume(int volume);

signals:
    // Playing, paused or stopped changed.
    void stateChanged();
    // The song stopped by itself (after the button went back).
    void ended(PlaybackEnd end);
    // stop() ran: the user, the works table or the desktop stopped the song.
    void stopped();

public slots:
    void Command7_Click();
    void Command16_Click();
    // One volume command per move of the slider by the user (mouse, wheel or keys).
    void Slider1_Scroll();

private:
    // Plays MusicUrl for a button that has set "停止播放": the status then
    // reads `playingStatus`, or the caption goes back and the status says that
    // it cannot be played.
    void startPlaying(const QString &playingStatus);
    void playbackEnded(PlaybackEnd end);
    // Keeps the state and shows it on the play button.
    void showPlaying(bool playing);

    QPushButton *const m_Command7;
    QPushButton *const m_Command16;
    QSlider *const m_Slider1;
    const StatusLine m_setStatus;
    SongState &m_state;
    MediaControl &m_media;
    bool m_playing = false; // the design caption is "在线播放"
    bool m_paused = false;
};
