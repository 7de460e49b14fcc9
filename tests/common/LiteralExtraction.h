#pragma once
// The parse action written as literally as its rules read: every step splits
// the whole text into a list and indexes it, every "up to" counts positions
// from 1. Slow on purpose. The production extraction is checked against it on
// generated pages, the demo site's pages are read with it, and the lookup
// benchmark measures against it.
#include "core/endpoints/Endpoints.h"
#include "core/lookup/SongExtraction.h"

#include <QMap>
#include <QStringList>
#include <optional>

namespace literal {

// A split as the rules mean it: an empty text has no pieces, an empty marker
// leaves the text whole.
inline QStringList split(const QString &text, const QString &marker)
{
    if (text.isEmpty())
        return {};
    if (marker.isEmpty())
        return {text};
    return text.split(marker, Qt::KeepEmptyParts, Qt::CaseSensitive);
}

// The first p characters, p the position (from 1, 0 when absent) of the marker.
inline QString upto(const QString &text, const QString &marker)
{
    if (text.isEmpty())
        return {};
    return text.left(marker.isEmpty() ? 1 : text.indexOf(marker) + 1);
}

inline QString removeAll(const QString &text, const QString &part)
{
    return split(text, part).join(QString());
}

inline QString trim(const QString &text) // blanks only
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

// Assigns piece n of the split to `target` when it exists.
inline void takePiece(QString &target, const QString &text, const QString &marker, int n)
{
    const QStringList pieces = split(text, marker);
    if (pieces.size() > n)
        target = pieces[n];
}

struct Window {
    SongState song;
    QMap<QString, QString> pieces; // by name
    SongDetails shown;
    QString userNameShown;
    QString status;
    QStringList calls;
};

inline void lookUp(Window &w, const QString &text1, const std::optional<QString> &fetched)
{
    const QString Q = QStringLiteral("\"");
    const QString prefix = QStringLiteral("http://") + QString::fromUtf8(Endpoints::WebHost) + QStringLiteral("/s/");
    if (text1.isEmpty() || !text1.contains(prefix)) {
        w.status = text1.isEmpty() ? QStringLiteral("请输入Kelvaro网页地址 ") : QStringLiteral("地址错误,请您检查 ..");
        w.calls << "status " + w.status;
        return;
    }
    SongState &s = w.song;
    QMap<QString, QString> &p = w.pieces;
    if (!fetched || fetched->isEmpty()) {
        w.status = QStringLiteral("抱歉!页面获取失败,请检查地址或稍后再试..");
        w.calls << "status " + w.status;
        return;
    }
    s.PageHtml = *fetched;
    s.MvUrl = QString();
    p.clear(); // every page is read from a clean slate
    SongDetails d;
    // A text in its own element: after the marker, up to "</div>", without "<".
    const auto element = [&](const QString &name, const QString &marker) {
        takePiece(p[name], s.PageHtml, marker, 1);
        p[name + "Cut"] = upto(p[name], "</div>");
        return removeAll(p[name + "Cut"], "<");
    };
    takePiece(p["title"], s.PageHtml, "<title>", 1);
    takePiece(p["dash"], p["title"], "-", 1);
    p["dash"] = trim(p["dash"]);
    s.UserName = trim(removeAll(upto(p["dash"], "Kelvaro"), "K"));
    d.fans = trim(removeAll(element("fans", "pcsong_title" + Q + ">"), "有"));
    d.otherInfo = trim(element("other", "pcsong_title" + Q + " >"));
    takePiece(p["secondTitle"], s.PageHtml, "<title>", 1);
    d.songName = trim(removeAll(upto(p["secondTitle"], "-"), "-"));
    d.playCount = trim(element("listen", "pcsong_listen_icon fl" + Q + ">"));
    d.giftCount = trim(element("gift", "pcsong_gift_icon fl" + Q + ">"));
    d.forwardCount = trim(element("forward", "pcsong_forward_icon fl" + Q + ">"));
    d.commentCount = trim(element("comment", "pcsong_comment_icon fl" + Q + ">"));
    takePiece(p["photos"], s.PageHtml, "pcsong_photos" + Q + ">", 1);
    p["photosCut"] = upto(p["photos"], "/>");
    {
        const QStringList source = split(p["photosCut"], "src=" + Q);
        if (source.size() > 1)
            p["source"] = removeAll(source[1], Q);
    }
    d.photoUrl = trim(upto(p["source"], " "));
    takePiece(p["audio"], s.PageHtml, "mp3:" + Q, 1);
    p["audioCut"] = upto(p["audio"], Q);
    s.MusicUrl = s.PageHtml.contains("mp3:" + Q) ? trim(removeAll(p["audioCut"], Q)) : QString();
    takePiece(p["head"], s.PageHtml, ".pcsong_head {background: url( " + Q, 1);
    s.HeadBgUrl = removeAll(upto(p["head"], Q), Q);
    s.HeadPicUrl = split(s.HeadBgUrl, "100").join("640");

    w.userNameShown = s.UserName;
    w.shown = d;
    w.calls << "details " + d.songName;

    s.WorkId = QString();
    takePiece(s.WorkId, s.MusicUrl, "/", 6);
    s.WorkId = removeAll(upto(s.WorkId, "."), ".");
    w.status = s.MusicUrl.isEmpty() ? QStringLiteral("未找到音乐地址,作品可能已删除..")
                                    : QStringLiteral("歌曲信息获取完毕..");
    w.calls << "status " + w.status;

    if (d.photoUrl.isEmpty()) {
        w.calls << "default picture";
        return;
    }
    if (d.photoUrl.contains("player")) {
        w.calls << "head picture " + s.HeadPicUrl << "place badge" << "show badge";
        s.MvUrl = split(d.photoUrl, "&amp;").join("&");
        return;
    }
    w.calls << "hide badge" << "photo " + d.photoUrl;
}

} // namespace literal
