#pragma once
// The parse action written as literally as its rules read: every step splits
// the whole text into a list and indexes it, every "up to" counts positions
// from 1. Slow on purpose; the production extraction is checked against it
// and measured against it.
#include "app/Endpoints.h"
#include "lookup/SongExtraction.h"

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

// Position from 1 of the first occurrence, 0 when absent.
inline qsizetype position(const QString &text, const QString &marker)
{
    if (text.isEmpty())
        return 0;
    if (marker.isEmpty())
        return 1;
    return text.indexOf(marker) + 1;
}

inline QString upto(const QString &text, const QString &marker)
{
    return text.left(position(text, marker));
}

inline QString removeAll(const QString &text, const QString &part)
{
    return split(text, part).join(QString());
}

inline QString replaceAll(const QString &text, const QString &from, const QString &to)
{
    return split(text, from).join(to);
}

inline QString trim(const QString &text)
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
    if (text1.isEmpty()) {
        w.status = QStringLiteral("请输入Kelvaro网页地址 ");
        w.calls << "status " + w.status;
        return;
    }
    if (!text1.contains(QStringLiteral("http://") + QString::fromUtf8(Endpoints::WebHost) + QStringLiteral("/s/"))) {
        w.status = QStringLiteral("地址错误,请您检查 ..");
        w.calls << "status " + w.status;
        return;
    }
    SongState &s = w.song;
    QMap<QString, QString> &p = w.pieces;
    if (fetched)
        s.PageHtml = *fetched;
    if (s.PageHtml.isEmpty())
        return;
    s.MvUrl = QString();
    SongDetails d;
    takePiece(p["title"], s.PageHtml, "<title>", 1);
    {
        const QStringList dash = split(p["title"], "-");
        if (dash.size() > 1)
            p["dash"] = trim(dash[1]);
    }
    s.UserName = trim(removeAll(upto(p["dash"], "Kelvaro"), "K"));
    takePiece(p["fans"], s.PageHtml, "pcsong_title" + Q + ">", 1);
    p["fansCut"] = upto(p["fans"], "</div>");
    d.fans = trim(removeAll(removeAll(p["fansCut"], "<"), "有"));
    takePiece(p["other"], s.PageHtml, "pcsong_title" + Q + " >", 1);
    p["otherCut"] = upto(p["other"], "</div>");
    d.otherInfo = trim(removeAll(p["otherCut"], "<"));
    takePiece(p["secondTitle"], s.PageHtml, "<title>", 1);
    d.songName = trim(removeAll(upto(p["secondTitle"], "-"), "-"));
    takePiece(p["listen"], s.PageHtml, "pcsong_listen_icon fl" + Q + ">", 1);
    p["listenCut"] = upto(p["listen"], "</div>");
    d.playCount = trim(removeAll(p["listenCut"], "<"));
    takePiece(p["gift"], s.PageHtml, "pcsong_gift_icon fl" + Q + ">", 1);
    p["giftCut"] = upto(p["gift"], "</div>");
    d.giftCount = trim(removeAll(p["giftCut"], "<"));
    takePiece(p["forward"], s.PageHtml, "pcsong_forward_icon fl" + Q + ">", 1);
    p["forwardCut"] = upto(p["forward"], "</div>");
    d.forwardCount = trim(removeAll(p["forwardCut"], "<"));
    takePiece(p["comment"], s.PageHtml, "pcsong_comment_icon fl" + Q + ">", 1);
    p["commentCut"] = upto(p["comment"], "</div>");
    d.commentCount = trim(removeAll(p["commentCut"], "<"));
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
    s.MusicUrl = trim(removeAll(p["audioCut"], Q));
    takePiece(p["head"], s.PageHtml, ".pcsong_head {background: url( " + Q, 1);
    s.HeadBgUrl = removeAll(upto(p["head"], Q), Q);
    s.HeadPicUrl = replaceAll(s.HeadBgUrl, "100", "640");

    w.userNameShown = s.UserName;
    w.shown = d;
    w.calls << "details " + d.songName;

    takePiece(s.WorkId, s.MusicUrl, "/", 6);
    s.WorkId = removeAll(upto(s.WorkId, "."), ".");

    if (d.photoUrl.isEmpty()) {
        w.calls << "default picture";
        return;
    }
    if (d.photoUrl.contains("player")) {
        w.calls << "head picture " + s.HeadPicUrl << "place badge" << "show badge";
        s.MvUrl = replaceAll(d.photoUrl, "&amp;", "&");
        return;
    }
    w.calls << "hide badge" << "photo " + d.photoUrl;
}

} // namespace literal
