#include "core/playback/MediaCommandLayer.h"

#include "core/playback/MediaCommands.h"

#include <optional>

namespace {

// A whole decimal number: an optional minus sign and at least one digit, nothing
// else (no blanks, no plus sign, no fraction). Out of 0..1000 counts as bad too.
std::optional<int> parseVolume(QStringView text)
{
    QStringView digits = text;
    if (digits.startsWith(u'-'))
        digits = digits.mid(1);
    if (digits.isEmpty())
        return std::nullopt;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    bool ok = false;
    const long long value = text.toLongLong(&ok); // fails on absurdly long numbers
    if (!ok || value < MediaCommands::MinVolume || value > MediaCommands::MaxVolume)
        return std::nullopt;
    return int(value);
}

} // namespace

MediaCommandLayer::MediaCommandLayer(std::unique_ptr<MediaBackend> backend) : m_backend(std::move(backend))
{
    // Only news of a device still open under the alias goes on.
    m_backend->onPlaybackEnd([this](PlaybackEnd end) {
        if (m_open)
            reportPlaybackEnd(end);
    });
}

MediaCommandLayer::~MediaCommandLayer()
{
    // The device must not outlive its alias: no sound after the program let go of it.
    if (m_open)
        m_backend->close();
}

int MediaCommandLayer::send(const QString &command)
{
    return int(execute(command));
}

MediaError MediaCommandLayer::execute(const QString &command)
{
    if (command == MediaCommands::closeAll()) {
        // Closing everything when nothing is open is not an error.
        if (m_open) {
            m_backend->close();
            m_open = false;
        }
        return MediaError::None;
    }
    if (command == MediaCommands::closeDevice()) {
        if (!m_open)
            return MediaError::NotOpen;
        m_backend->close();
        m_open = false;
        return MediaError::None;
    }
    if (command == MediaCommands::play()) {
        if (!m_open)
            return MediaError::NotOpen;
        m_backend->play();
        return MediaError::None;
    }
    if (command == MediaCommands::pause()) {
        if (!m_open)
            return MediaError::NotOpen;
        m_backend->pause();
        return MediaError::None;
    }

    const QStringView text(command);
    const QStringView volumePrefix(MediaCommands::VolumePrefix);
    if (text.startsWith(volumePrefix)) {
        const std::optional<int> volume = parseVolume(text.mid(volumePrefix.size()));
        if (!volume)
            return MediaError::BadVolume;
        if (!m_open)
            return MediaError::NotOpen;
        m_backend->setVolume(*volume);
        return MediaError::None;
    }

    // The address is everything between "open " and the suffix at the very end,
    // so an address may hold blanks and even the suffix itself.
    const QStringView openPrefix(MediaCommands::OpenPrefix);
    const QStringView openSuffix(MediaCommands::OpenSuffix);
    if (text.startsWith(openPrefix) && text.endsWith(openSuffix)
        && text.size() >= openPrefix.size() + openSuffix.size()) {
        const QString address = text.mid(openPrefix.size(), text.size() - openPrefix.size() - openSuffix.size())
                                    .toString();
        if (m_open)
            return MediaError::AliasInUse;
        if (address.isEmpty() || !m_backend->open(address))
            return MediaError::CannotOpen;
        m_open = true;
        return MediaError::None;
    }
    return MediaError::UnknownCommand;
}
