#include "core/playback/MpvBackend.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QRegularExpression>

#include "core/playback/MpvLibrary.h"

#include <algorithm>
#include <clocale>
#include <cmath>
#include <vector>

// Playback failures are silence for the user; this category lets a developer
// see them (QT_LOGGING_RULES="kelvaro.playback.debug=true").
Q_LOGGING_CATEGORY(lcPlayback, "kelvaro.playback", QtWarningMsg)

namespace {

enum ObservedProperty : std::uint64_t { EofReached = 1, TimePos = 2 };

// How long libmpv waits on a silent server before it gives up on an address.
constexpr char NetworkTimeoutSeconds[] = "15";

} // namespace

MpvBackend::MpvBackend(const Options &extraOptions, QObject *parent)
    : QObject(parent), m_extraOptions(extraOptions)
{
    Q_ASSERT_X(QCoreApplication::instance(), "MpvBackend", "create the application object first");
}

bool MpvBackend::isAvailable()
{
    return ensureHandle();
}

bool MpvBackend::ensureHandle()
{
    if (m_handle)
        return true;
    if (m_setUpFailed)
        return false;
    m_setUpFailed = true; // until it succeeds: one try per program run
    m_mpv = MpvLibrary::get();
    if (!m_mpv) {
        qCWarning(lcPlayback) << "libmpv is not available; playback stays silent";
        return false;
    }
    // libmpv refuses to start under a locale whose decimal point is not '.'.
    std::setlocale(LC_NUMERIC, "C");

    m_handle = m_mpv->mpv_create();
    if (!m_handle) {
        qCWarning(lcPlayback) << "libmpv could not be created; playback stays silent";
        return false;
    }
    // Audio only, nothing from the user's player configuration, no helper
    // programs or scripts; open addresses paused and keep them open at their end,
    // so that play is a mere unpause and the device stays until it is closed.
    Options options = {
        {"config", "no"},          {"vid", "no"},          {"vo", "null"},
        {"audio-display", "no"},   {"idle", "yes"},        {"pause", "yes"},
        {"keep-open", "yes"},      {"ytdl", "no"},         {"load-scripts", "no"},
        {"input-default-bindings", "no"}, {"input-vo-keyboard", "no"},
        {"network-timeout", NetworkTimeoutSeconds},
        {"audio-client-name", "Kelvaro Helper"},
    };
    options += m_extraOptions;
    for (const auto &[name, value] : std::as_const(options)) {
        if (m_mpv->mpv_set_option_string(m_handle, name.constData(), value.constData()) < 0)
            qCWarning(lcPlayback) << "libmpv rejected option" << name << "=" << value;
    }
    if (m_mpv->mpv_initialize(m_handle) < 0) {
        qCWarning(lcPlayback) << "libmpv could not be initialised; playback stays silent";
        m_mpv->mpv_terminate_destroy(m_handle);
        m_handle = nullptr;
        return false;
    }
    m_mpv->mpv_request_log_messages(m_handle, "warn");
    m_mpv->mpv_observe_property(m_handle, EofReached, "eof-reached", MPV_FORMAT_FLAG);
    m_mpv->mpv_observe_property(m_handle, TimePos, "time-pos", MPV_FORMAT_DOUBLE);
    m_mpv->mpv_set_wakeup_callback(m_handle, &MpvBackend::wakeup, this);
    m_setUpFailed = false;
    return true;
}

MpvBackend::~MpvBackend()
{
    if (!m_handle)
        return;
    // After this returns libmpv no longer calls us; calls already queued die
    // with this object.
    m_mpv->mpv_set_wakeup_callback(m_handle, nullptr, nullptr);
    m_mpv->mpv_terminate_destroy(m_handle);
}

bool MpvBackend::acceptsAddress(const QString &address)
{
    if (address.isEmpty() || address == QLatin1String("-"))
        return false;
    // Anything that looks like "scheme://" must be one of ours: libmpv also
    // understands pseudo-protocols (edl, lavfi, fd, memory, ...) that an address
    // taken from a web page has no business reaching.
    static const QRegularExpression schemed(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*)://"));
    const QRegularExpressionMatch match = schemed.match(address);
    if (!match.hasMatch())
        return true; // a path
    const QString scheme = match.captured(1).toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https") || scheme == QLatin1String("file");
}

bool MpvBackend::open(const QString &address)
{
    if (!acceptsAddress(address) || !ensureHandle())
        return false;
    m_address = address;
    m_entryId = -1;
    m_eofReached = false;
    m_loaded = false;
    m_position = -1;
    // A new device starts paused at full volume; the requests run in order, so
    // both hold before the address starts loading.
    setFlag("pause", true);
    setDouble("volume", 100.0);
    const QByteArray utf8 = address.toUtf8();
    command({"loadfile", utf8.constData(), "replace"}, ++m_openToken);
    return true;
}

void MpvBackend::play()
{
    if (!m_handle || m_address.isEmpty())
        return;
    if (m_eofReached)
        command({"seek", "0", "absolute"});
    setFlag("pause", false);
}

void MpvBackend::pause()
{
    if (!m_handle || m_address.isEmpty())
        return;
    // libmpv keeps its place while paused; play() only unpauses again.
    setFlag("pause", true);
}

void MpvBackend::setVolume(int volume)
{
    if (!m_handle || m_address.isEmpty())
        return;
    // libmpv's volume is cubic (amplitude = (v/100)^3); the cube root makes our
    // 0..1000 proportional to the amplitude.
    const double fraction = std::clamp(volume, 0, 1000) / 1000.0;
    setDouble("volume", 100.0 * std::cbrt(fraction));
}

void MpvBackend::close()
{
    if (!m_handle || m_address.isEmpty())
        return;
    setFlag("pause", true);
    command({"stop"});
    m_address.clear();
    m_entryId = -1;
    m_eofReached = false;
    m_loaded = false;
    m_position = -1;
}

void MpvBackend::wakeup(void *context)
{
    // Runs on one of libmpv's threads: only post, and only once until drained.
    auto *self = static_cast<MpvBackend *>(context);
    if (!self->m_drainQueued.exchange(true))
        QMetaObject::invokeMethod(self, &MpvBackend::drainEvents, Qt::QueuedConnection);
}

void MpvBackend::drainEvents()
{
    m_drainQueued = false;
    while (m_handle) {
        const mpv_event *event = m_mpv->mpv_wait_event(m_handle, 0); // never waits
        if (event->event_id == MPV_EVENT_NONE)
            break;
        handle(*event);
    }
}

void MpvBackend::handle(const mpv_event &event)
{
    switch (event.event_id) {
    case MPV_EVENT_COMMAND_REPLY:
        // Only the current load request's answer matters: it names the entry
        // that stands for the device, or says that loading failed at once.
        if (event.reply_userdata != m_openToken || m_address.isEmpty() || m_entryId >= 0)
            break;
        if (event.error < 0) {
            fail(event.error);
            break;
        }
        if (const auto *reply = static_cast<const mpv_event_command *>(event.data);
            reply && reply->result.format == MPV_FORMAT_NODE_MAP) {
            const mpv_node_list *map = reply->result.u.list;
            for (int i = 0; i < map->num; ++i) {
                if (qstrcmp(map->keys[i], "playlist_entry_id") == 0 && map->values[i].format == MPV_FORMAT_INT64)
                    m_entryId = map->values[i].u.int64;
            }
        }
        break;
    case MPV_EVENT_START_FILE:
        m_startedEntryId = static_cast<const mpv_event_start_file *>(event.data)->playlist_entry_id;
        break;
    case MPV_EVENT_FILE_LOADED:
        if (m_entryId >= 0 && m_startedEntryId == m_entryId) {
            m_loaded = true;
            emit loaded(m_address);
        }
        break;
    case MPV_EVENT_END_FILE: {
        const auto *end = static_cast<const mpv_event_end_file *>(event.data);
        if (m_entryId < 0 || end->playlist_entry_id != m_entryId)
            break; // an entry we already let go of
        if (end->reason == MPV_END_FILE_REASON_REDIRECT && end->playlist_insert_num_entries > 0)
            m_entryId = end->playlist_insert_id; // a playlist: its first entry plays on
        else if (end->reason == MPV_END_FILE_REASON_ERROR)
            fail(end->error);
        break;
    }
    case MPV_EVENT_PROPERTY_CHANGE: {
        // Until the current device's entry has started, changes still belong
        // to the one before it.
        if (m_entryId < 0 || m_startedEntryId != m_entryId)
            break;
        const auto *change = static_cast<const mpv_event_property *>(event.data);
        if (event.reply_userdata == EofReached) {
            const bool reached = change->format == MPV_FORMAT_FLAG && *static_cast<const int *>(change->data) != 0;
            const bool newlyReached = reached && !m_eofReached;
            m_eofReached = reached;
            if (newlyReached) {
                emit reachedEnd(m_address);
                reportPlaybackEnd(PlaybackEnd::Finished);
            }
        } else if (event.reply_userdata == TimePos) {
            // The decoder may start a hair before zero (dropped encoder delay);
            // negative stays reserved for "not known".
            m_position = change->format == MPV_FORMAT_DOUBLE ? std::max(0.0, *static_cast<const double *>(change->data))
                                                             : -1;
        }
        break;
    }
    case MPV_EVENT_LOG_MESSAGE: {
        const auto *message = static_cast<const mpv_event_log_message *>(event.data);
        qCDebug(lcPlayback).noquote() << "libmpv" << message->prefix << QString::fromUtf8(message->text).trimmed();
        break;
    }
    default:
        break;
    }
}

void MpvBackend::fail(int error)
{
    const QString reason = QString::fromUtf8(m_mpv->mpv_error_string(error));
    qCDebug(lcPlayback) << "cannot play" << m_address << ":" << reason;
    emit failed(m_address, reason);
    // No sound output shows only once the audio is about to start; it is as
    // much a failure to open as an address that does not answer.
    reportPlaybackEnd(m_loaded && error != MPV_ERROR_AO_INIT_FAILED ? PlaybackEnd::Failed : PlaybackEnd::CannotOpen);
}

void MpvBackend::command(std::initializer_list<const char *> arguments, std::uint64_t replyTo)
{
    std::vector<const char *> argv(arguments);
    argv.push_back(nullptr);
    m_mpv->mpv_command_async(m_handle, replyTo, argv.data());
}

void MpvBackend::setFlag(const char *name, bool value)
{
    int flag = value ? 1 : 0;
    m_mpv->mpv_set_property_async(m_handle, 0, name, MPV_FORMAT_FLAG, &flag);
}

void MpvBackend::setDouble(const char *name, double value)
{
    m_mpv->mpv_set_property_async(m_handle, 0, name, MPV_FORMAT_DOUBLE, &value);
}
