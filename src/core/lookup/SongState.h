#pragma once
#include <QByteArray>
#include <QString>

// The current song: what the last lookup found, read by playback, download and
// the music video page. Owned by the main window and handed by reference to the
// parts that may read or change it; every value but the song name starts empty.
// Later members have initializers, so that a brace list of the first ones
// leaves them empty.
struct SongState {
    QString PageHtml;   // full text of the last fetched recording page
    QString MusicUrl;   // address of the recording's audio file
    QString UserName;   // the singer's user name
    QString WorkId;     // the recording's id; the works table sets it too
    QString MvUrl;      // the video player script, for a music video; else empty
    QString HeadBgUrl;  // the page's header background picture
    QString HeadPicUrl; // the same with every "100" turned into "640"
    // The song's name as the song panel shows it, after "演唱歌曲：": the
    // download panel's title comes from here. "未查询" until a lookup shows one.
    QString SongName = QStringLiteral("未查询");
    // The bytes of the singer picture the song panel shows for this song, as
    // they were served (the photo, or the header picture for a music video);
    // empty while it loads, and when it shows the default picture or none.
    QByteArray PictureBytes{};
    // The address the recording page was fetched from, as the lookup was given it.
    QString PageUrl{};
};
