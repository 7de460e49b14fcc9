#pragma once
#include <QByteArray>
#include <QString>

// What a saved song says about itself in its ID3v2.4 tag, the way music
// libraries and players read it.
struct SongTags {
    QString title;      // TIT2: the song's name
    QString artist;     // TPE1: the singer
    QByteArray cover;   // APIC, front cover: the picture's bytes as served; empty for none
    QString sourcePage; // WOAS: the recording page's address
    QString workId;     // TXXX with description WorkIdDescription

    static inline const QString WorkIdDescription = QStringLiteral("KELVARO_WORK_ID");
};

// Writes `tags` into the MP3 file at `path` as an ID3v2.4 tag at its head.
// A tag the file has already is updated in place of being duplicated: the
// frames above are replaced, every other frame stays. The audio bytes are
// not touched. Empty values leave their frames out. A file with no MPEG
// audio frame in it is left as it is. Returns an empty string,
// or what went wrong in words (the file may then be partly written: callers
// tag a temporary file, never the one a user has).
QString writeSongTags(const QString &path, const SongTags &tags);

// The work id a saved song's tag names (TXXX WorkIdDescription), empty when
// the file has none or is no MP3. Tags are written only into complete
// transfers, before they take their final name: a file that names a work
// holds that work's whole recording.
QString savedWorkId(const QString &path);

// The picture's media type for the APIC frame, read from its first bytes:
// "image/jpeg", "image/png", "image/gif", "image/webp"; empty for anything
// else (such bytes are not embedded).
QByteArray pictureMimeType(const QByteArray &picture);
