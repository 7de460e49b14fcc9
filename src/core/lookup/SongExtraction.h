#pragma once
#include "core/lookup/PageFetcher.h"
#include "core/lookup/SongState.h"
#include "core/lookup/StatusLine.h"
#include "core/lookup/TextSlice.h"

#include <QString>
#include <functional>
#include <optional>

// The lookup of a recording page, without widgets: check the address, fetch
// the page, cut the recording's details out of it into the current-song state
// and tell the song panel what to show.

// Intermediate pieces of the extraction. Every lookup that gets a page cuts
// them afresh: a page that lacks a marker leaves what hangs on that marker
// empty, never an earlier song's value. Only the count of pages taken lives
// on from one lookup to the next.
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
// A page with an audio address was read.
inline const QString Done = QStringLiteral("歌曲信息获取完毕..");
} // namespace SongLookupTexts

// "http://" + the community's web host + "/s/": what a recording page address
// must contain.
QString recordingPagePrefix();

// Cuts the details out of state.PageHtml from a clean slate: the pieces start
// empty, and every value the page does not yield (UserName, MusicUrl,
// HeadBgUrl, HeadPicUrl and the returned details) is empty, so no later
// action shows, plays or saves the previous song under this page's name.
SongDetails extractSongDetails(SongState &state, ExtractionPieces &pieces);

// The work id from the audio address: its seventh "/"-separated field up to
// the first ".". Empty when the address has too few fields.
void deriveWorkId(SongState &state);

// How one parse action ended.
enum class LookupOutcome {
    Refused,    // empty or wrong address: nothing fetched
    NoPage,     // the fetch gave no page
    PageTaken,  // a page was read into the state and the panel
    Superseded, // a newer lookup took its page during this one's fetch
};

// The whole parse action for the address typed by the user. It may run
// nested inside its own fetch (or picture load) wait: everything it keeps
// across a wait is its own copy, and what it writes after the wait goes to
// the long-lived state, pieces and panel it was given. The newest lookup
// wins: once a lookup clicked during one of this one's waits has taken its
// page, whatever this one would still write (page, details, picture, badge,
// MvUrl) is dropped. A newer lookup that got no page changes no song and
// supersedes nothing.
LookupOutcome runParseAction(QString address, SongState &state, ExtractionPieces &pieces, SongPanelOutput &panel,
                    const PageFetch &fetch);
