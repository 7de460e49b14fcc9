#include "gui/desktopbus/MprisService.h"

#include "core/lookup/SongState.h"
#include "gui/playback/PlayCommands.h"
#include "gui/works/WorksRun.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QSlider>
#include <QWidget>

#include <cmath>

namespace {

const QString PlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

// A track id is an object path: only letters, digits and '_' in its last element.
QDBusObjectPath trackId(const QString &workId)
{
    QString element;
    for (const QChar c : workId)
        element += (c.isLetterOrNumber() && c.unicode() < 128) ? c : QChar(u'_');
    if (element.isEmpty())
        return QDBusObjectPath(QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack"));
    return QDBusObjectPath(QStringLiteral("/com/ulvaren/KelvaroHelper/work/w") + element);
}

} // namespace

MprisRootAdaptor::MprisRootAdaptor(MprisService *service) : QDBusAbstractAdaptor(service), m_service(service) {}

MprisPlayerAdaptor::MprisPlayerAdaptor(MprisService *service) : QDBusAbstractAdaptor(service), m_service(service) {}

MprisService::MprisService(Parts parts, QDBusConnection bus, QObject *parent)
    : QObject(parent), m_parts(std::move(parts)), m_bus(std::move(bus))
{
    new MprisRootAdaptor(this);
    new MprisPlayerAdaptor(this);
    m_announced = playerProperties();

    connect(&m_parts.play, &PlayCommands::stateChanged, this, &MprisService::refresh);
    connect(&m_parts.play, &PlayCommands::stopped, this, &MprisService::refresh);
    connect(&m_parts.run, &WorksRun::changed, this, &MprisService::refresh);
    connect(m_parts.Slider1, &QSlider::valueChanged, this, &MprisService::refresh);

    if (!m_bus.isConnected())
        return;
    if (!m_bus.registerObject(ObjectPath, this, QDBusConnection::ExportAdaptors))
        return;
    if (!m_bus.registerService(BusName)) {
        m_bus.unregisterObject(ObjectPath);
        return;
    }
    m_registered = true;
}

MprisService::~MprisService()
{
    if (!m_registered)
        return;
    m_bus.unregisterService(BusName);
    m_bus.unregisterObject(ObjectPath);
}

QString MprisService::playbackStatus() const
{
    if (m_parts.play.playing())
        return QStringLiteral("Playing");
    if (m_parts.play.paused())
        return QStringLiteral("Paused");
    return QStringLiteral("Stopped");
}

QVariantMap MprisService::metadata() const
{
    const SongState &song = m_parts.song;
    QVariantMap map;
    map.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(trackId(song.WorkId)));
    if (song.MusicUrl.isEmpty())
        return map; // nothing looked up yet
    map.insert(QStringLiteral("xesam:title"), song.SongName);
    if (!song.UserName.isEmpty())
        map.insert(QStringLiteral("xesam:artist"), QStringList{song.UserName});
    map.insert(QStringLiteral("xesam:url"), song.MusicUrl);
    if (!song.HeadPicUrl.isEmpty())
        map.insert(QStringLiteral("mpris:artUrl"), song.HeadPicUrl);
    return map;
}

double MprisService::volume() const
{
    return m_parts.Slider1->value() / 1000.0;
}

bool MprisService::canPlay() const
{
    // Remotes take a false CanPlay for a player with nothing to control (no
    // play-pause, no stop, not even the metadata), so it stays true while a
    // song plays too: the play button then acts on it.
    return m_parts.play.paused() || m_parts.play.playing() || !m_parts.song.MusicUrl.isEmpty();
}

bool MprisService::canPause() const
{
    return m_parts.play.playing();
}

bool MprisService::canGoNext() const
{
    return m_parts.run.canGoNext();
}

bool MprisService::canGoPrevious() const
{
    return m_parts.run.canGoPrevious();
}

void MprisService::play()
{
    if (m_parts.play.paused())
        m_parts.play.resume();
    else if (!m_parts.play.playing())
        m_parts.play.Command7_Click(); // starts it, or asks for a lookup, as the button does
    refresh();
}

void MprisService::pause()
{
    m_parts.play.pause();
    refresh();
}

void MprisService::playPause()
{
    if (m_parts.play.playing())
        pause();
    else
        play();
}

void MprisService::stop()
{
    if (m_parts.play.playing())
        m_parts.play.Command7_Click(); // the button's stop
    else if (m_parts.play.paused())
        m_parts.play.stop();
    refresh();
}

void MprisService::next()
{
    m_parts.run.next();
    refresh();
}

void MprisService::previous()
{
    m_parts.run.previous();
    refresh();
}

void MprisService::setVolume(double volume)
{
    if (!std::isfinite(volume))
        return;
    const int value = int(std::lround(std::clamp(volume, 0.0, 1.0) * 1000));
    if (value != m_parts.Slider1->value())
        m_parts.play.setVolume(value);
}

void MprisService::raise()
{
    QWidget *window = m_parts.window;
    if (window->isMinimized())
        window->showNormal();
    window->show();
    window->raise();
    window->activateWindow();
}

void MprisService::quit()
{
    if (m_parts.quit)
        m_parts.quit();
}

QVariantMap MprisService::playerProperties() const
{
    return {
        {QStringLiteral("PlaybackStatus"), playbackStatus()},
        {QStringLiteral("Metadata"), metadata()},
        {QStringLiteral("Volume"), volume()},
        {QStringLiteral("CanPlay"), canPlay()},
        {QStringLiteral("CanPause"), canPause()},
        {QStringLiteral("CanGoNext"), canGoNext()},
        {QStringLiteral("CanGoPrevious"), canGoPrevious()},
    };
}

void MprisService::refresh()
{
    const QVariantMap now = playerProperties();
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        if (m_announced.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    }
    m_announced = now;
    if (changed.isEmpty() || !m_registered)
        return;
    QDBusMessage signal = QDBusMessage::createSignal(ObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << PlayerInterface << changed << QStringList();
    m_bus.send(signal);
}
