#pragma once
#include <QString>
#include <QtGlobal>

// What the download panel works out without touching a widget: the target
// file's name and folder, the progress percentage and the status texts.

// The download's title for the song name the panel shows: the name with
// every "演唱歌曲：" taken out, as when it was read back from Label2's caption.
QString downloadTitle(const QString &songName);

// A name that can only ever be one file name inside its folder. Song titles
// and user names come from a web page: '/', NUL and the other control
// characters (and broken UTF-16) become '_', so no name can reach another
// folder; "", "." and ".." become underscores; a name longer than a file
// name may be on disk (255 bytes in UTF-8, less the 5 of the download's
// ".part") is shortened at a character boundary before its extension.
QString safeFileName(const QString &name);

// The save dialog's suggested name: title, " - ", user name, ".mp3".
QString suggestedFileName(const QString &title, const QString &userName);

// The default target file: the music folder, then the suggested name.
QString defaultDownloadPath(const QString &musicFolder, const QString &title, const QString &userName);

// The progress bar's value: downloaded / size × 100 rounded to the nearest
// whole number, halves to even; 0 when the size is unknown; never above 100
// (more bytes than announced) nor below 0.
int progressPercentage(qint64 downloaded, qint64 filesize);

// The status line's text for an engine status code; empty for a code the
// panel does not know, which leaves the status line alone.
QString downloadStatusText(int state);

// The speed of one transfer, from the bytes it received itself: bytes that
// were already on disk when it continued a kept file do not count. Times are
// milliseconds on any steady clock the caller keeps. The speed is measured
// over windows of at least WindowMs and smoothed across them, so one slow or
// fast read does not make it jump; until the first window is over there is
// no speed to show.
class TransferRate {
public:
    static constexpr qint64 WindowMs = 500;
    // The share the newest window has in the smoothed speed.
    static constexpr double NewWeight = 0.3;

    // A transfer begins at `nowMs` with `bytes` already in its file.
    void start(qint64 bytes, qint64 nowMs);
    // The file holds `bytes` at `nowMs`.
    void sample(qint64 bytes, qint64 nowMs);
    // Bytes per second; negative while it cannot be measured yet.
    double bytesPerSecond() const { return m_speed; }
    bool measured() const { return m_speed >= 0; }

private:
    qint64 m_windowBytes = 0;
    qint64 m_windowStart = 0;
    double m_speed = -1;
};

// Whole seconds from `bytes` to `total` at `bytesPerSecond`, rounded up; 0
// once there; negative when the size (0) or a speed above 0 is unknown.
qint64 secondsLeft(qint64 bytes, qint64 total, double bytesPerSecond);

// "2.3/4.8 MB", "512/900 KB", or "2.3 MB" when the size is unknown: the unit
// of the size (or of the count, without one) for both numbers.
QString progressSizeText(qint64 bytes, qint64 total);
// "1.2 MB/s", "85 KB/s", "300 B/s".
QString speedText(double bytesPerSecond);
// "2 秒", "1 分 5 秒", "2 小时 3 分".
QString timeLeftText(qint64 seconds);
// The download panel's progress text: size, then speed and time left once
// they are known: "2.3/4.8 MB · 1.2 MB/s · 剩余 2 秒". A negative speed
// leaves speed and time left out; an unknown size (0) the time left.
QString progressText(qint64 bytes, qint64 total, double bytesPerSecond);
