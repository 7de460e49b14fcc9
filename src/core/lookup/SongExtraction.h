#pragma once
#include "core/lookup/PageFetcher.h"
#include "core/lookup/SongState.h"
#include "core/lookup/StatusLine.h"
#include "core/lookup/TextSlice.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The lookup of a recording page, without widgets: check the address, fetch
// the page, cut the recording's details out of it into the current-song state
// and tell the song panel what to show.

// Intermediate pieces of the extraction. Every lookup that gets a page cuts
// them afresh: a page that lacks a marker leaves what hangs on that marker
// empty, never an earlier song's value.
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
    // Starts loading the picture at `path` into the singer picture; `shown`
    // follows once the load is over and the picture is in place. A load that
    // cannot even be attempted leaves the picture as it is. Cancelling the
    // returned handle drops the load: the picture stays as it is and `shown`
    // never comes. `shown` never comes from inside this call.
    virtual FetchHandle showPicture(PictureSource source, QString path, std::function<void()> shown) = 0;
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
    Superseded, // a newer lookup took its page first: this one wrote nothing more from then on
};

// One parse action for an address typed by the user: it checks the address,
// starts the page fetch and goes on in the slot that receives the page, then
// in the one that learns the picture is shown. It writes the state, the
// pieces and the panel it was given; everything else it needs is its own.
// Destroying it (or cancel()) ends it where it stands: it writes and reports
// nothing more.
class SongLookupRun : public QObject {
    Q_OBJECT
public:
    SongLookupRun(SongState &state, ExtractionPieces &pieces, SongPanelOutput &panel, QObject *parent = nullptr);

    // Refuses an empty or wrong address at once (the status line says why,
    // false, nothing more comes); otherwise starts the fetch and returns true.
    bool start(const QString &address, const PageFetch &fetch);
    void cancel();

signals:
    // The page is in hand, about to be written into the state and the panel:
    // whoever keeps older lookups ends them now.
    void takingPage();
    // The lookup is over: NoPage, or PageTaken once the picture is shown.
    void finished(LookupOutcome outcome);

private:
    void pageArrived(std::optional<QString> page);
    void end(LookupOutcome outcome);

    SongState &m_state;
    ExtractionPieces &m_pieces;
    SongPanelOutput &m_panel;
    FetchHandle m_pending; // the page fetch, then the picture load
    QString m_address;     // the page's address, for the state once the page is taken
    QString m_videoUrl;    // the player address, for a music video
};

// The lookups of one window in flight, and the rule between them: the newest
// lookup to take its page wins. When a lookup takes its page, every lookup
// started before it is ended there (its page fetch or picture load
// cancelled): it writes no labels, MusicUrl, badge, MvUrl or picture any
// more, and a late picture or a late failure of its load is dropped. A newer
// lookup that is refused or gets no page supersedes nothing; the older ones
// go on as if it had not been clicked.
class SongLookups : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(LookupOutcome outcome)>;

    SongLookups(SongState &state, SongPanelOutput &panel, PageFetch fetch, QObject *parent = nullptr);
    ~SongLookups() override;

    // Starts the parse action for `address`. A refused address returns false
    // at once (the status says why) and `done` never comes; otherwise `done`
    // comes exactly once, later: NoPage, PageTaken, or Superseded when a newer
    // lookup took its page first. Destroying this object drops every lookup
    // still in flight without a word.
    bool start(const QString &address, Done done = {});
    // Whether a lookup is in flight.
    bool busy() const { return !m_flights.empty(); }

    // The working pieces of the extraction, kept between lookups.
    const ExtractionPieces &pieces() const { return m_pieces; }

signals:
    // A lookup that was not superseded ended (NoPage or PageTaken).
    void finished(LookupOutcome outcome);

private:
    struct Flight {
        std::unique_ptr<SongLookupRun> run;
        Done done;
    };
    void supersedeOlderThan(const SongLookupRun *run);
    void ended(const SongLookupRun *run, LookupOutcome outcome);

    SongState &m_state;
    SongPanelOutput &m_panel;
    const PageFetch m_fetch;
    ExtractionPieces m_pieces;
    std::vector<Flight> m_flights; // oldest first
};
