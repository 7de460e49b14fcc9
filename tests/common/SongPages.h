#pragma once
// Recording pages as the community writes them, for tests and benchmarks.
#include <QString>
#include <QStringList>

struct SongPageFields {
    QString title = QStringLiteral("Song - Alice Kelvaro - 全民K歌");
    QString fans = QStringLiteral("有1234");
    QString other = QStringLiteral("上传于 2015-06-01");
    QString play = QStringLiteral("5678");
    QString gift = QStringLiteral("90");
    QString forward = QStringLiteral("12");
    QString comment = QStringLiteral("34");
    // The photo element, written out in full so tests can vary its form.
    QString photoElement = QStringLiteral("<img src=\"http://img.kelvaro.test/photo_100.jpg\" width=\"90\" />");
    QString audio = QStringLiteral("http://a7.stream.kelvaro.test/userdata/userwork/345/12345.mp3");
    QString headBg = QStringLiteral("http://img.kelvaro.test/head_100.jpg");
};

// An unrelated block of markup, as found between the song panel and the
// player script: lists of other songs and comments, without any marker.
inline QString songPagePaddingBlock(int index)
{
    return QStringLiteral("<li class=\"song_item\"><a href=\"/s/w%1\" title=\"Other song %1\">Other song %1</a>"
                          "<span class=\"count\">%2</span><p class=\"comment\">好听! great voice, %1</p></li>\n")
        .arg(index)
        .arg(index * 7);
}

// The page; `paddingChars` of unrelated markup go before the player script,
// so the audio address sits at the page's end as on the real site.
inline QString songPage(const SongPageFields &f, qsizetype paddingChars = 0)
{
    QString padding;
    for (int i = 0; padding.size() < paddingChars; ++i)
        padding += songPagePaddingBlock(i);
    return QStringLiteral("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n")
        + QStringLiteral("<title>") + f.title + QStringLiteral("</title>\n")
        + QStringLiteral("<style type=\"text/css\">\n.pcsong_head {background: url( \"") + f.headBg
        + QStringLiteral("\") no-repeat center top;}\n</style>\n</head>\n<body>\n<div class=\"pcsong_head\">\n")
        + QStringLiteral("<div class=\"pcsong_photos\">") + f.photoElement + QStringLiteral("</div>\n")
        + QStringLiteral("<div class=\"pcsong_title\">") + f.fans + QStringLiteral("</div>\n")
        + QStringLiteral("<div class=\"pcsong_title\" >") + f.other + QStringLiteral("</div>\n")
        + QStringLiteral("<div class=\"pcsong_listen_icon fl\">") + f.play + QStringLiteral("</div>\n")
        + QStringLiteral("<div class=\"pcsong_gift_icon fl\">") + f.gift + QStringLiteral("</div>\n")
        + QStringLiteral("<div class=\"pcsong_forward_icon fl\">") + f.forward + QStringLiteral("</div>\n")
        + QStringLiteral("<div class=\"pcsong_comment_icon fl\">") + f.comment + QStringLiteral("</div>\n")
        + QStringLiteral("</div>\n<ul class=\"song_list\">\n") + padding + QStringLiteral("</ul>\n")
        + QStringLiteral("<script type=\"text/javascript\">\nvar song = {wid:\"12345\", mp3:\"") + f.audio
        + QStringLiteral("\", playable: true};\n</script>\n</body>\n</html>\n");
}

inline QString photoElement(const QString &address)
{
    return QStringLiteral("<img src=\"") + address + QStringLiteral("\" width=\"90\" />");
}
