#include "core/lookup/SongExtraction.h"

#include "core/endpoints/Endpoints.h"
#include "core/lookup/TextOps.h"

#include <QStringMatcher>

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
    {
        const quint64 pagesTaken = pieces.pagesTaken;
        pieces = ExtractionPieces(); // a clean slate
        pieces.pagesTaken = pagesTaken;
    }

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

LookupOutcome runParseAction(QString address, SongState &state, ExtractionPieces &pieces, SongPanelOutput &panel,
                    const PageFetch &fetch)
{
    if (address.isEmpty()) {
        panel.setStatus(SongLookupTexts::EmptyAddress);
        return LookupOutcome::Refused;
    }
    if (!address.contains(recordingPagePrefix())) {
        panel.setStatus(StatusTexts::WrongAddress);
        return LookupOutcome::Refused;
    }

    // Other handlers, this one included, may run while the page is fetched.
    // Everything below reads the state afresh once the fetch is back, and
    // writes nothing once a newer lookup has taken its page.
    const quint64 takenBefore = pieces.pagesTaken;
    std::optional<QString> page = fetch(address);
    if (pieces.pagesTaken != takenBefore)
        return LookupOutcome::Superseded;
    if (!page || page->isEmpty()) {
        // The panel and the state stay as they were: they still describe
        // the song shown.
        panel.setStatus(SongLookupTexts::FetchFailed);
        return LookupOutcome::NoPage;
    }
    const quint64 mine = ++pieces.pagesTaken;
    const std::function<bool()> superseded = [&pieces, mine] { return pieces.pagesTaken != mine; };
    state.PageHtml = std::move(*page);
    state.MvUrl.clear();

    const SongDetails details = extractSongDetails(state, pieces);
    state.SongName = details.songName;
    panel.showDetails(state.UserName, details);
    deriveWorkId(state);
    panel.setStatus(state.MusicUrl.isEmpty() ? SongLookupTexts::NoAudio : SongLookupTexts::Done);

    if (details.photoUrl.isEmpty()) {
        panel.showDefaultPicture(); // the badge stays as it was
        return LookupOutcome::PageTaken;
    }
    if (details.photoUrl.contains(QStringLiteral("player"))) {
        // A music video: the photo is the video player; show the header
        // picture and the badge.
        panel.showPicture(PictureSource::HeaderPicture, state.HeadPicUrl, superseded);
        if (superseded())
            return LookupOutcome::PageTaken; // the newer lookup's badge and MvUrl stand
        panel.placeBadgeAfterSongName();
        panel.setBadgeVisible(true);
        state.MvUrl = QString(details.photoUrl).replace(QStringLiteral("&amp;"), QStringLiteral("&"));
        return LookupOutcome::PageTaken;
    }
    panel.setBadgeVisible(false);
    panel.showPicture(PictureSource::Photo, details.photoUrl, superseded);
    return LookupOutcome::PageTaken;
}
