#pragma once
#include "core/playback/MediaBackend.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

#include <atomic>
#include <cstdint>

struct mpv_handle;
struct mpv_event;
struct MpvLibrary;

// The real sound: one libmpv player, created once, driven without ever waiting
// for it on the GUI thread. Every request goes in asynchronously; libmpv wakes
// us from its own threads and we drain its events on the GUI thread through a
// queued call.
//
// A device is a playlist entry: open() loads the address paused, play() lets it
// run, close() stops it. Events about an entry that was already replaced or
// closed are ignored, so a late failure of an old address is never taken for
// the current one's. The current device's end is reported (PlaybackEnd) as well
// as signalled.
class MpvBackend final : public QObject, public MediaBackend {
    Q_OBJECT
public:
    // libmpv options set on top of ours, in order (e.g. {"ao", "null"} to play
    // without a sound server).
    using Options = QList<QPair<QByteArray, QByteArray>>;

    // Needs the QCoreApplication to exist. libmpv itself is loaded and set
    // up on the first open(): then LC_NUMERIC is set to "C", which libmpv
    // insists on and the application object resets.
    explicit MpvBackend(const Options &extraOptions = {}, QObject *parent = nullptr);
    ~MpvBackend() override;

    // Sets libmpv up if that has not happened yet; false when it cannot be,
    // and every open() then fails.
    bool isAvailable();
    // Whether open() would take this address: http, https and file addresses
    // and plain paths; never libmpv's own pseudo-protocols or standard input.
    static bool acceptsAddress(const QString &address);

    bool open(const QString &address) override;
    void play() override;
    void pause() override;
    void setVolume(int volume) override;
    void close() override;

    // The open address and how far it has played, in seconds (negative until
    // the player reports a position). Kept from the player's notifications.
    QString address() const { return m_address; }
    double position() const { return m_position; }

signals:
    // The open address was read and its audio is ready to play.
    void loaded(const QString &address);
    // The open address could not be played; nothing is heard.
    void failed(const QString &address, const QString &reason);
    // The open address played to its end and stays there.
    void reachedEnd(const QString &address);

private:
    static void wakeup(void *context);
    void drainEvents();
    void handle(const mpv_event &event);
    void command(std::initializer_list<const char *> arguments, std::uint64_t replyTo = 0);
    void setFlag(const char *name, bool value);
    void setDouble(const char *name, double value);
    void fail(int error);

    bool ensureHandle();

    Options m_extraOptions;
    const MpvLibrary *m_mpv = nullptr;
    mpv_handle *m_handle = nullptr;
    bool m_setUpFailed = false;
    std::atomic<bool> m_drainQueued{false};

    QString m_address;            // empty while no device is open
    std::uint64_t m_openToken = 0; // reply id of the current load request
    std::int64_t m_entryId = -1;  // the player's id for the current device, once known
    std::int64_t m_startedEntryId = -1;
    bool m_eofReached = false;
    bool m_loaded = false;        // the current device's audio was read and could start
    double m_position = -1;
};
