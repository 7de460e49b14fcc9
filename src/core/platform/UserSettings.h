#pragma once
#include <QSettings>
#include <QString>

// What the program remembers of its user between runs, in the user's
// configuration folder (kelvaro-helper/kelvaro-helper.conf under
// XDG_CONFIG_HOME).
class UserSettings {
public:
    UserSettings();

    // The volume slider's position, 0..1000; full volume the first time.
    int volume() const;
    void setVolume(int volume);

    // The folder last chosen with the download panel's browse button;
    // empty until one was chosen.
    QString lastDownloadFolder() const;
    void setLastDownloadFolder(const QString &folder);

    // Whether saved songs get their tags (title, singer, cover...); on
    // until the user turns it off.
    bool writeSongTags() const;
    void setWriteSongTags(bool write);

private:
    QSettings m_settings;
};
