#pragma once
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <functional>

class PlayCommands;
class QSlider;
class QWidget;
class WorksRun;
struct SongState;

// The program as a media player on the session bus, for the desktop's media
// keys, its player widget and command-line remotes: the bus name
// org.mpris.MediaPlayer2.kelvaro_helper with the object /org/mpris/MediaPlayer2
// and its two interfaces. Every method goes through the handlers the window's
// controls use, so the play button's caption and the status line say the
// same as after a click; every change of a property is announced with
// PropertiesChanged. Without a session bus, or with the name taken, nothing
// is registered and the program goes on as before.
class MprisService : public QObject {
    Q_OBJECT
public:
    static inline const QString BusName = QStringLiteral("org.mpris.MediaPlayer2.kelvaro_helper");
    static inline const QString ObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
    static inline const QString Identity = QStringLiteral("Kelvaro辅助工具");
    static inline const QString DesktopEntry = QStringLiteral("com.ulvaren.KelvaroHelper");

    struct Parts {
        QWidget *window;             // raised by Raise
        PlayCommands &play;          // the play button's handlers
        WorksRun &run;               // Next and Previous
        SongState &song;             // what Metadata tells
        QSlider *Slider1;            // the volume
        std::function<void()> quit;  // the window's close path (asks about a running download)
    };

    explicit MprisService(Parts parts, QDBusConnection bus = QDBusConnection::sessionBus(),
                          QObject *parent = nullptr);
    ~MprisService() override;

    // Whether the bus name and the object are registered.
    bool registered() const { return m_registered; }

    // What the properties say now.
    QString playbackStatus() const;
    QVariantMap metadata() const;
    double volume() const;
    bool canPlay() const;
    bool canPause() const;
    bool canGoNext() const;
    bool canGoPrevious() const;

    // The methods of both interfaces.
    void play();
    void pause();
    void playPause();
    void stop();
    void next();
    void previous();
    void setVolume(double volume);
    void raise();
    void quit();

public slots:
    // Announces every property that changed since the last announcement.
    void refresh();

private:
    QVariantMap playerProperties() const;

    Parts m_parts;
    QDBusConnection m_bus;
    bool m_registered = false;
    QVariantMap m_announced; // the player's properties as last announced
};

// org.mpris.MediaPlayer2
class MprisRootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ canQuit)
    Q_PROPERTY(bool CanRaise READ canRaise)
    Q_PROPERTY(bool Fullscreen READ fullscreen)
    Q_PROPERTY(bool CanSetFullscreen READ canSetFullscreen)
    Q_PROPERTY(bool HasTrackList READ hasTrackList)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ supportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ supportedMimeTypes)
public:
    explicit MprisRootAdaptor(MprisService *service);
    bool canQuit() const { return true; }
    bool canRaise() const { return true; }
    bool fullscreen() const { return false; }
    bool canSetFullscreen() const { return false; }
    bool hasTrackList() const { return false; }
    QString identity() const { return MprisService::Identity; }
    QString desktopEntry() const { return MprisService::DesktopEntry; }
    QStringList supportedUriSchemes() const { return {}; }
    QStringList supportedMimeTypes() const { return {}; }

public slots:
    void Raise() { m_service->raise(); }
    void Quit() { m_service->quit(); }

private:
    MprisService *const m_service;
};

// org.mpris.MediaPlayer2.Player
class MprisPlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ rate WRITE setRate)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(double MinimumRate READ rate)
    Q_PROPERTY(double MaximumRate READ rate)
    Q_PROPERTY(bool CanGoNext READ canGoNext)
    Q_PROPERTY(bool CanGoPrevious READ canGoPrevious)
    Q_PROPERTY(bool CanPlay READ canPlay)
    Q_PROPERTY(bool CanPause READ canPause)
    Q_PROPERTY(bool CanSeek READ canSeek)
    Q_PROPERTY(bool CanControl READ canControl)
public:
    explicit MprisPlayerAdaptor(MprisService *service);
    QString playbackStatus() const { return m_service->playbackStatus(); }
    double rate() const { return 1.0; }
    void setRate(double) {}
    QVariantMap metadata() const { return m_service->metadata(); }
    double volume() const { return m_service->volume(); }
    void setVolume(double volume) { m_service->setVolume(volume); }
    qlonglong position() const { return 0; } // the position is not followed
    bool canGoNext() const { return m_service->canGoNext(); }
    bool canGoPrevious() const { return m_service->canGoPrevious(); }
    bool canPlay() const { return m_service->canPlay(); }
    bool canPause() const { return m_service->canPause(); }
    bool canSeek() const { return false; }
    bool canControl() const { return true; }

public slots:
    void Play() { m_service->play(); }
    void Pause() { m_service->pause(); }
    void PlayPause() { m_service->playPause(); }
    void Stop() { m_service->stop(); }
    void Next() { m_service->next(); }
    void Previous() { m_service->previous(); }
    void Seek(qlonglong) {}
    void SetPosition(const QDBusObjectPath &, qlonglong) {}
    void OpenUri(const QString &) {}

signals:
    void Seeked(qlonglong position);

private:
    MprisService *const m_service;
};
