#include "core/lookup/SongExtraction.h"

#include "core/endpoints/Endpoints.h"
#include "core/lookup/TextOps.h"

#include <QStringMatcher>

#include <algorithm>

namespace {

// Fragments of the community's recording page markup.
const QString TitleMarker = QStringLiteral("<title>");
const QString FansMarker = QStringLiteral("pcsong_title\">");
const QString OtherMarker = QStringLiteral("pcsong_title\" >");
const QString ListenMarker = QStringLiteral("pcsong_listen_icon fl\">");
const QString GiftMarker = QStringLiteral("pcsong_gift_icon fl\">");
const QString ForwardMarker = QStringLiteral("pcsong_forward_icon fl\">");
const QString CommentMarker = QStringLiteral("pcsong_comment_icon fl\">");
const QString PhotosMarker = QStringLiteral("pcsong_photos\">");
const QString SourceMarker = QStringLiteral("src=\"");
const QString AudioMarker = QStringLiteral("mp3:\"");
const QString HeadMarker = QStringLiteral(".pcsong_head {background: url( \"");

const QString DivEnd = QStringLiteral("</div>");
const QString ElementEnd = QStringLiteral("/>");
const QString Blank = QStringLiteral(" ");
const QString Quote = QStringLiteral("\"");
const QString Dash = QStringLiteral("-");
const QString Dot = QStringLiteral(".");
const QString Slash = QStringLiteral("/");
const QString Lt = QStringLiteral("<");
const QString CommunityName = QStringLiteral("Kelvaro"); // as the page title writes it
const QString Has = QStringLiteral("有");                // "has", before the fans number

// piece = after(page, marker), where the marker occurs; else empty.
bool takeAfter(TextSlice &target, const QString &page, const QString &marker)
{
    // Most markers lie near the top, but the audio marker sits at the very end
    // of a page; a skipping search crosses the page fastest, also for markers
    // short enough that indexOf would compare character by character.
    const qsizetype found = QStringMatcher(marker).indexIn(page);
    if (found < 0) {
        target = TextSlice();
        return false;
    }
    target = TextSlice::until(page, found + marker.size(), marker);
    return true;
}

// cut = upto(piece, end): never fails, so the cut always follows its piece.
void cutUpto(TextSlice &target, const TextSlice &piece, const QString &end)
{
    target = piece.upto(end);
}

// A text in its own element: the piece after the marker, cut at "</div>",
// shown without "<" and the blanks around it.
QString elementText(TextSlice &piece, TextSlice &cut, const QString &page, const QString &marker)
{
    takeAfter(piece, page, marker);
    cutUpto(cut, piece, DivEnd);
    return TextOps::trim(TextOps::remove(cut.view(), Lt)).toString();
}

} // namespace

QString recordingPagePrefix()
{
    return QStringLiteral("http://") + QString::fromUtf8(Endpoints::WebHost) + QStringLiteral("/s/");
}

SongDetails extractSongDetails(SongState &state, ExtractionPieces &pieces)
{
    // One shared copy of the page: the pieces cut from it keep it alive even
    // after PageHtml moves on. Every "after" searches the whole page for its
    // first marker; where each piece ends is found only as far as needed.
    const QString page = state.PageHtml;
    SongDetails details;
    pieces = ExtractionPieces(); // a clean slate

    // The singer's name between the title's dashes, before "Kelvaro". The
    // song name below takes the same piece again; one search serves both.
    const bool titleFound = takeAfter(pieces.titlePiece, page, TitleMarker);
    if (const std::optional<TextSlice> dash = pieces.titlePiece.after(Dash))
        pieces.dashPiece = dash->sub(TextOps::trim(dash->view()));
    {
        const QStringView name = TextOps::upto(pieces.dashPiece.view(), CommunityName);
        state.UserName = TextOps::trim(TextOps::remove(name, CommunityName.first(1))).toString();
    }

    // Fans and other information.
    takeAfter(pieces.fansPiece, page, FansMarker);
    cutUpto(pieces.fansCut, pieces.fansPiece, DivEnd);
    details.fans = TextOps::trim(TextOps::remove(TextOps::remove(pieces.fansCut.view(), Lt), Has)).toString();
    details.otherInfo = elementText(pieces.otherPiece, pieces.otherCut, page, OtherMarker);

    // The song name: the title before its first "-".
    if (titleFound)
        pieces.secondTitlePiece = pieces.titlePiece;
    details.songName =
        TextOps::trim(TextOps::remove(pieces.secondTitlePiece.upto(Dash).view(), Dash)).toString();

    // The four counts.
    details.playCount = elementText(pieces.listenPiece, pieces.listenCut, page, ListenMarker);
    details.giftCount = elementText(pieces.giftPiece, pieces.giftCut, page, GiftMarker);
    details.forwardCount = elementText(pieces.forwardPiece, pieces.forwardCut, page, ForwardMarker);
    details.commentCount = elementText(pieces.commentPiece, pieces.commentCut, page, CommentMarker);

    // The photo element's source, up to its first blank.
    takeAfter(pieces.photosPiece, page, PhotosMarker);
    cutUpto(pieces.photosCut, pieces.photosPiece, ElementEnd);
    if (const std::optional<TextSlice> source = pieces.photosCut.after(SourceMarker))
        pieces.sourcePiece = TextSlice(TextOps::remove(source->view(), Quote));
    details.photoUrl = TextOps::trim(TextOps::upto(pieces.sourcePiece.view(), Blank)).toString();

    // The audio address between the quotes after "mp3:".
    takeAfter(pieces.audioPiece, page, AudioMarker);
    cutUpto(pieces.audioCut, pieces.audioPiece, Quote);
    state.MusicUrl = TextOps::trim(TextOps::remove(pieces.audioCut.view(), Quote)).toString();

    // The header background, and its large form.
    takeAfter(pieces.headPiece, page, HeadMarker);
    state.HeadBgUrl = TextOps::remove(pieces.headPiece.upto(Quote).view(), Quote);
    state.HeadPicUrl = QString(state.HeadBgUrl).replace(QStringLiteral("100"), QStringLiteral("640"));

    return details;
}

void deriveWorkId(SongState &state)
{
    const auto field = TextOps::piece(state.MusicUrl, Slash, 6);
    state.WorkId = field ? TextOps::remove(TextOps::upto(*field, Dot), Dot) : QString();
}

SongLookupRun::SongLookupRun(SongState &state, ExtractionPieces &pieces, SongPanelOutput &panel, QObject *parent)
    : QObject(parent), m_state(state), m_pieces(pieces), m_panel(panel)
{
}

bool SongLookupRun::start(const QString &address, const PageFetch &fetch)
{
    if (address.isEmpty()) {
        m_panel.setStatus(SongLookupTexts::EmptyAddress);
        return false;
    }
    if (!address.contains(recordingPagePrefix())) {
        m_panel.setStatus(StatusTexts::WrongAddress);
        return false;
    }
    // The address is this lookup's own copy; everything else is read afresh
    // once the page is in.
    m_address = address;
    m_pending = fetch(address, [this](std::optional<QString> page) { pageArrived(std::move(page)); });
    return true;
}

void SongLookupRun::cancel()
{
    m_pending.cancel();
}

void SongLookupRun::pageArrived(std::optional<QString> page)
{
    if (!page || page->isEmpty()) {
        // The panel and the state stay as they were: they still describe
        // the song shown.
        m_panel.setStatus(SongLookupTexts::FetchFailed);
        end(LookupOutcome::NoPage);
        return;
    }
    emit takingPage();
    m_state.PageHtml = std::move(*page);
    m_state.PageUrl = m_address;
    m_state.MvUrl.clear();

    const SongDetails details = extractSongDetails(m_state, m_pieces);
    m_state.SongName = details.songName;
    m_panel.showDetails(m_state.UserName, details);
    deriveWorkId(m_state);
    m_panel.setStatus(m_state.MusicUrl.isEmpty() ? SongLookupTexts::NoAudio : SongLookupTexts::Done);

    if (details.photoUrl.isEmpty()) {
        m_panel.showDefaultPicture(); // the badge stays as it was
        end(LookupOutcome::PageTaken);
        return;
    }
    if (details.photoUrl.contains(QStringLiteral("player"))) {
        // A music video: the photo is the video player; show the header
        // picture, then the badge.
        m_videoUrl = QString(details.photoUrl).replace(QStringLiteral("&amp;"), QStringLiteral("&"));
        m_pending = m_panel.showPicture(PictureSource::HeaderPicture, m_state.HeadPicUrl, [this] {
            m_panel.placeBadgeAfterSongName();
            m_panel.setBadgeVisible(true);
            m_state.MvUrl = m_videoUrl;
            end(LookupOutcome::PageTaken);
        });
        return;
    }
    m_panel.setBadgeVisible(false);
    m_pending = m_panel.showPicture(PictureSource::Photo, details.photoUrl, [this] { end(LookupOutcome::PageTaken); });
}

void SongLookupRun::end(LookupOutcome outcome)
{
    emit finished(outcome);
}

SongLookups::SongLookups(SongState &state, SongPanelOutput &panel, PageFetch fetch, QObject *parent)
    : QObject(parent), m_state(state), m_panel(panel), m_fetch(std::move(fetch))
{
}

SongLookups::~SongLookups()
{
    for (Flight &flight : m_flights)
        flight.run->cancel();
}

bool SongLookups::start(const QString &address, Done done)
{
    auto run = std::make_unique<SongLookupRun>(m_state, m_pieces, m_panel);
    if (!run->start(address, m_fetch))
        return false; // supersedes nothing: the lookups in flight go on
    const SongLookupRun *started = run.get();
    connect(started, &SongLookupRun::takingPage, this, [this, started] { supersedeOlderThan(started); });
    connect(started, &SongLookupRun::finished, this,
            [this, started](LookupOutcome outcome) { ended(started, outcome); });
    m_flights.push_back({std::move(run), std::move(done)});
    return true;
}

void SongLookups::supersedeOlderThan(const SongLookupRun *run)
{
    // The rule for lookups clicked while others wait: the one taking its
    // page now wins over every lookup started before it.
    std::vector<Flight> older;
    while (!m_flights.empty() && m_flights.front().run.get() != run) {
        older.push_back(std::move(m_flights.front()));
        m_flights.erase(m_flights.begin());
    }
    for (Flight &flight : older) {
        flight.run->cancel();
        flight.run.release()->deleteLater(); // it may be reporting right now
        if (flight.done)
            flight.done(LookupOutcome::Superseded);
    }
}

void SongLookups::ended(const SongLookupRun *run, LookupOutcome outcome)
{
    const auto found = std::find_if(m_flights.begin(), m_flights.end(),
                                    [run](const Flight &flight) { return flight.run.get() == run; });
    if (found == m_flights.end())
        return;
    Flight flight = std::move(*found);
    m_flights.erase(found);
    flight.run.release()->deleteLater(); // it is reporting right now
    if (flight.done)
        flight.done(outcome);
    emit finished(outcome);
}
