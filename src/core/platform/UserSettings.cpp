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
    return m_settings.value(SongTagsKey, true).toBool();
}

void UserSettings::setWriteSongTags(bool write)
{
    m_settings.setValue(SongTagsKey, write);
}
