#include "gui/playback/PlayCommands.h"

#include "core/endpoints/Endpoints.h"
#include "core/lookup/SongState.h"
#include "core/playback/AudioAddress.h"
#include "core/playback/MediaCommands.h"
#include "core/playback/MediaControl.h"

#include <QPushButton>
#include <QSlider>

PlayCommands::PlayCommands(const Controls &controls, SongState &state, MediaControl &media, QObject *parent)
    : QObject(parent),
      m_Command7(controls.Command7),
      m_Command16(controls.Command16),
      m_Slider1(controls.Slider1),
      m_setStatus(controls.setStatus),
      m_state(state),
      m_media(media)
{
    connect(m_Command7, &QPushButton::clicked, this, &PlayCommands::Command7_Click);
    connect(m_Command16, &QPushButton::clicked, this, &PlayCommands::Command16_Click);
    // actionTriggered comes only from the user's mouse, wheel and keys, once per
    // step, never from setValue(): the start-up value sends nothing, and every
    // intermediate position of a drag is sent.
    connect(m_Slider1, &QSlider::actionTriggered, this, &PlayCommands::Slider1_Scroll);
    m_media.onPlaybackEnd([this](PlaybackEnd end) { playbackEnded(end); });
}

PlayCommands::~PlayCommands()
{
    m_media.onPlaybackEnd({});
}

bool PlayCommands::play(const QString &musicpath)
{
    // Only the open command's code tells anything: closing with nothing open
    // fails harmlessly, and after a failed open nothing else can work either.
    m_media.send(MediaCommands::closeDevice());
    const int opened = m_media.send(MediaCommands::open(musicpath));
    m_media.send(MediaCommands::play());
    m_media.send(MediaCommands::setVolume(m_Slider1->sliderPosition())); // after play, never before
    return opened == 0;
}

void PlayCommands::startPlaying(const QString &playingStatus)
{
    if (play(m_state.MusicUrl)) {
        m_setStatus(playingStatus);
        return;
    }
    showPlaying(false);
    m_setStatus(CannotPlayStatus);
}

void PlayCommands::showPlaying(bool playing)
{
    // Any change of the button ends a pause: a new song, a stop, the end.
    const bool changed = m_playing != playing || m_paused;
    m_playing = playing;
    m_paused = false;
    m_Command7->setText(playing ? StopCaption : PlayCaption);
    if (changed)
        emit stateChanged();
}

void PlayCommands::stop()
{
    showPlaying(false);
    m_media.send(MediaCommands::closeAll());
    emit stopped();
}

bool PlayCommands::pause()
{
    if (!m_playing || m_media.send(MediaCommands::pause()) != 0)
        return false;
    showPlaying(false);
    m_paused = true;
    m_setStatus(PausedStatus);
    emit stateChanged();
    return true;
}

bool PlayCommands::resume()
{
    if (!m_paused || m_media.send(MediaCommands::play()) != 0)
        return false;
    showPlaying(true);
    m_setStatus(PlayingStatus);
    return true;
}

void PlayCommands::setVolume(int volume)
{
    m_Slider1->setValue(volume);
    Slider1_Scroll();
}

void PlayCommands::playbackEnded(PlaybackEnd end)
{
    // Stopped by the user or the works table meanwhile: nothing to correct.
    // A held song does not end by itself.
    if (!m_playing)
        return;
    showPlaying(false);
    switch (end) {
    case PlaybackEnd::Finished:
        m_setStatus(FinishedStatus);
        break;
    case PlaybackEnd::CannotOpen:
        m_setStatus(CannotPlayStatus);
        break;
    case PlaybackEnd::Failed:
        m_setStatus(BrokenOffStatus);
        break;
    }
    emit ended(end);
}

void PlayCommands::Command7_Click()
{
    if (m_state.MusicUrl.isEmpty()) {
        m_setStatus(StatusTexts::LookUpFirst);
        return;
    }
    if (!m_playing) {
        showPlaying(true);
        startPlaying(PlayingStatus);
    } else {
        stop();
    }
}

void PlayCommands::Command16_Click()
{
    // An address too short to hold the host piece cannot be rebuilt: say that a
    // lookup is needed and leave the button and whatever plays as they are.
    const std::optional<QString> rebuilt = AudioAddress::rebuild(m_state.MusicUrl, m_state.WorkId,
                                                                      QString::fromUtf8(Endpoints::MediaHostTail));
    if (!rebuilt) {
        m_setStatus(StatusTexts::LookUpFirst);
        return;
    }
    showPlaying(true);
    // Stored first, so that download and copy use the rebuilt address as well.
    m_state.MusicUrl = *rebuilt;
    startPlaying(RebuiltStatus);
}

void PlayCommands::Slider1_Scroll()
{
    // actionTriggered fires before the new position becomes the value;
    // sliderPosition() already holds it.
    m_media.send(MediaCommands::setVolume(m_Slider1->sliderPosition()));
}
