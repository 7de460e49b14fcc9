#include "core/platform/UserSettings.h"

#include <algorithm>

namespace {

constexpr int FullVolume = 1000;
const QString VolumeKey = QStringLiteral("playback/volume");
const QString DownloadFolderKey = QStringLiteral("download/lastFolder");
const QString SongTagsKey = QStringLiteral("download/writeSongTags");

} // namespace

UserSettings::UserSettings()
    : m_settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("kelvaro-helper"),
                 QStringLiteral("kelvaro-helper"))
{
}

int UserSettings::volume() const
{
    bool ok = false;
    const int stored = m_settings.value(VolumeKey, FullVolume).toInt(&ok);
    // A hand-edited file may hold anything: the slider only knows 0..1000.
    return ok ? std::clamp(stored, 0, FullVolume) : FullVolume;
}

void UserSettings::setVolume(int volume)
{
    m_settings.setValue(VolumeKey, std::clamp(volume, 0, FullVolume));
}

QString UserSettings::lastDownloadFolder() const
{
    return m_settings.value(DownloadFolderKey).toString();
}

void UserSettings::setLastDownloadFolder(const QString &folder)
{
    m_settings.setValue(DownloadFolderKey, folder);
}

bool UserSettings::writeSongTags() const
{
    // A hand-edited value that is no truth value leaves the tags on.
    const QVariant stored = m_settings.value(SongTagsKey, true);
    const QString text = stored.toString().trimmed().toLower();
    if (text == QLatin1String("false") || text == QLatin1String("0") || text == QLatin1String("no")
        || text == QLatin1String("off"))
        return false;
    return true;
}

void UserSettings::setWriteSongTags(bool write)
{
    m_settings.setValue(SongTagsKey, write);
}
