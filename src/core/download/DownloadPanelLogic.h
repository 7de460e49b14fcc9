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
