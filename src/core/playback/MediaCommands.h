#pragma once
#include <QString>

// The media command texts, built in one place so that every sender (the
// play button, the works table, the shutdown paths) writes them the same way
// and the command layer parses exactly what they write.
namespace MediaCommands {

inline constexpr char16_t Alias[] = u"OpenFile";
inline constexpr char16_t OpenPrefix[] = u"open ";
inline constexpr char16_t OpenSuffix[] = u" alias OpenFile type MPEGVideo";
inline constexpr char16_t VolumePrefix[] = u"setaudio OpenFile volume to ";

// The volume command takes 0 (silent) .. 1000 (full).
inline constexpr int MinVolume = 0;
inline constexpr int MaxVolume = 1000;

inline QString closeDevice() { return QStringLiteral("close OpenFile"); }
// The address goes in unquoted and unescaped, spaces and all.
inline QString open(const QString &address)
{
    return QString::fromUtf16(OpenPrefix) + address + QString::fromUtf16(OpenSuffix);
}
inline QString play() { return QStringLiteral("play OpenFile"); }
// Holds the open device; "play OpenFile" resumes it where it stopped.
inline QString pause() { return QStringLiteral("pause OpenFile"); }
inline QString setVolume(int volume) { return QString::fromUtf16(VolumePrefix) + QString::number(volume); }
inline QString closeAll() { return QStringLiteral("close all"); }

} // namespace MediaCommands
