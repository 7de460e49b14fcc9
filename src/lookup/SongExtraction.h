#pragma once
#include "lookup/PageFetcher.h"
#include "lookup/SongState.h"
#include "lookup/StatusLine.h"
#include "lookup/TextSlice.h"

#include <QString>
#include <functional>
#include <optional>

// The lookup of a recording page, without widgets: check the address, fetch
// the page, cut the recording's details out of it into the current-song state
// and tell the song panel what to show.

// Intermediate pieces of the extraction. They belong to the window like the
// current-song state: they keep their values from one lookup to the next, so
// a page that lacks a marker shows what hung on that marker in an earlier page.
struct ExtractionPieces {
    TextSlice titlePiece;       // after "<title>"
    TextSlice dashPiece;        // between the title's first and second "-", trimmed
    TextSlice fansPiece;
    TextSlice fansCut;
    TextSlice otherPiece;
    TextSlice otherCut;
    TextSlice secondTitlePiece; // after "<title>" again, for the song name
    TextSlice listenPiece;
    TextSlice listenCut;
    TextSlice giftPiece;
    TextSlice giftCut;
    TextSlice forwardPiece;
    TextSlice forwardCut;
    TextSlice commentPiece;
    TextSlice commentCut;
    TextSlice photosPiece;
    TextSlice photosCut;
    TextSlice sourcePiece;      // the photo element's source, quotes removed
    TextSlice audioPiece;
    TextSlice audioCut;
    TextSlice headPiece;
    // How many lookups have taken a page to show. A lookup that sees this
    // change during one of its waits was superseded by a newer one.
    quint64 pagesTaken = 0;
};

// Values of one lookup: they start empty every time and are only shown.
struct SongDetails {
    QString fans;
    QString otherInfo;
    QString songName;
    QString playCount;
    QString giftCount;
    QString forwardCount;
    QString commentCount;
    QString photoUrl;
};

enum class PictureSource { HeaderPicture, Photo };

// What a lookup does to the song panel and the status line, in the order it
// does it. The window implements it over its controls; the command line
// records it.
class SongPanelOutput {
public:
    virtual ~SongPanelOutput() = default;
    virtual void setStatus(const QString &text) = 0;
    // The eight detail captions, in the order user name, fans, other
    // information, song name, play, gift, forward and comment counts.
    virtual void showDetails(const QString &userName, const SongDetails &details) = 0;
    virtual void showDefaultPicture() = 0;
    // Loads the picture at `path` into the singer picture. A load that cannot
    // even be attempted leaves the picture as it is, and so does one that
    // `superseded` (asked once the load is back) declares out of date.
    virtual void showPicture(PictureSource source, QString path, const std::function<bool()> &superseded) = 0;
    // Puts the music video badge right after the song name as it now stands.
    virtual void placeBadgeAfterSongName() = 0;
    virtual void setBadgeVisible(bool visible) = 0;
};


namespace SongLookupTexts {
inline const QString EmptyAddress = QStringLiteral("请输入Kelvaro网页地址 ");
// No page came: no answer, an HTTP error status or an empty body.
inline const QString FetchFailed = QStringLiteral("抱歉!页面获取失败,请检查地址或稍后再试..");
// The page names no audio file: the work was withdrawn.
inline const QString NoAudio = QStringLiteral("未找到音乐地址,作品可能已删除..");
} // namespace SongLookupTexts

// "http://" + the community's web host + "/s/": what a recording page address
// must contain.
QString recordingPagePrefix();

// Cuts the details out of state.PageHtml: updates the state and the window
// pieces where each step succeeds and returns this lookup's values. The audio
// address is the exception: a page without one empties MusicUrl, so that no
// later action plays or saves the previous song under this page's name.
SongDetails extractSongDetails(SongState &state, ExtractionPieces &pieces);

// The work id from the audio address: its seventh "/"-separated field up to
// the first ".". The first step keeps the old id when the address has too
// few fields; the second always runs on whatever id is then held.
void deriveWorkId(SongState &state);

// The whole parse action for the address typed by the user. It may run
// nested inside its own fetch (or picture load) wait: everything it keeps
// across a wait is its own copy, and what it writes after the wait goes to
// the long-lived state, pieces and panel it was given. The newest lookup
// wins: once a lookup clicked during one of this one's waits has taken its
// page, whatever this one would still write (page, details, picture, badge,
// MvUrl) is dropped. A newer lookup that got no page changes no song and
// supersedes nothing.
void runParseAction(QString address, SongState &state, ExtractionPieces &pieces, SongPanelOutput &panel,
                    const PageFetch &fetch);
