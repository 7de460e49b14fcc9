#include "core/works/WorksCrawl.h"

#include "core/endpoints/Endpoints.h"
#include "core/lookup/StatusLine.h"
#include "core/lookup/TextOps.h"

#include <limits>
#include <optional>

namespace {

// The pieces of a text split at every occurrence of a marker, asked for in
// rising order: each call goes on from where the previous one stopped, so
// walking through all pieces searches the text once. piece(n) answers what
// TextOps::piece(text, marker, n) answers.
class PieceWalker {
public:
    PieceWalker(QStringView text, QStringView marker) : m_text(text), m_marker(marker) {}

    // `n` must not be smaller than in the previous call.
    std::optional<QStringView> piece(qsizetype n)
    {
        if (m_text.isEmpty() || m_marker.isEmpty())
            return TextOps::piece(m_text, m_marker, n);
        Q_ASSERT(n >= m_index);
        while (m_index < n) {
            const qsizetype end = pieceEnd();
            if (end == m_text.size())
                return std::nullopt; // no further occurrence: the split has no piece n
            m_start = end + m_marker.size();
            m_end = Unknown;
            ++m_index;
        }
        return m_text.sliced(m_start, pieceEnd() - m_start);
    }

private:
    static constexpr qsizetype Unknown = -1;

    // Where piece m_index ends: the next occurrence, or the end of the text.
    qsizetype pieceEnd()
    {
        if (m_end == Unknown) {
            const qsizetype found = m_text.indexOf(m_marker, m_start);
            m_end = found < 0 ? m_text.size() : found;
        }
        return m_end;
    }

    QStringView m_text;
    QStringView m_marker;
    qsizetype m_index = 0;     // the piece that starts at m_start
    qsizetype m_start = 0;
    qsizetype m_end = Unknown; // end of that piece, once searched for
};

// The text before the first `end`; empty when there is none.
QString before(const QString &text, QStringView end)
{
    const QStringView cut = TextOps::upto(text, end); // ends with the first character of `end`
    return cut.isEmpty() ? QString() : cut.chopped(1).toString();
}

} // namespace

QString singerAddressMarker()
{
    return QString::fromUtf8(Endpoints::WebHost) + QStringLiteral("/u/");
}

QString singerAddressRefusal(const QString &address)
{
    if (address.isEmpty())
        return WorksCrawlTexts::EnterAddress;
    if (!address.contains(singerAddressMarker()))
        return StatusTexts::WrongAddress;
    return {};
}

QString playServiceAddress(const QString &workId)
{
    return QString::fromUtf8(Endpoints::PlayUrlService) + workId;
}

bool countWorkRows(WorksCrawlState &state)
{
    const QString &page = state.Seg[0];
    qint16 &hits = state.Hits[0];
    bool found = false;
    // Each search starts one character after the previous hit.
    for (qsizetype at = page.indexOf(WorksMarkup::WorkRowMarker); at >= 0;
         at = page.indexOf(WorksMarkup::WorkRowMarker, at + 1)) {
        found = true;
        if (hits == std::numeric_limits<qint16>::max())
            break; // the count cannot grow any further; the rest changes nothing
        ++hits;
    }
    return found;
}

QList<WorkRow> buildWorkRows(WorksCrawlState &state)
{
    auto &Seg = state.Seg;
    const QString &page = Seg[0];
    PieceWalker idPieces(page, WorksMarkup::IdOpener);
    PieceWalker titlePieces(page, WorksMarkup::TitleCell);

    // Once a piece is missing, so are all later ones, and the values cut from
    // the kept piece come out as they did for the row before: they are cut
    // once, for the first row that lacks its piece.
    bool idCutFromSeg1 = false;
    bool titleCutFromSeg3 = false;

    QList<WorkRow> rows;
    const int last = int(state.Hits[0]) - 1;
    rows.reserve(std::max(last, 0));
    for (int i = 1; i <= last; ++i) {
        if (const std::optional<QStringView> idPiece = idPieces.piece(i)) {
            Seg[1] = idPiece->toString();
            idCutFromSeg1 = false;
        }
        if (!idCutFromSeg1) {
            Seg[2] = before(Seg[1], WorksMarkup::IdCloser);
            idCutFromSeg1 = true;
        }

        if (const std::optional<QStringView> titlePiece = titlePieces.piece(i)) {
            Seg[3] = titlePiece->toString();
            titleCutFromSeg3 = false;
        }
        if (!titleCutFromSeg3) {
            const QString &opener =
                Seg[3].contains(WorksMarkup::TitleSpan) ? WorksMarkup::TitleSpan : WorksMarkup::TitleDiv;
            if (const std::optional<QStringView> opened = TextOps::piece(Seg[3], opener, 1))
                Seg[4] = opened->toString();
            Seg[5] = before(Seg[4], WorksMarkup::TitleEnd);
            titleCutFromSeg3 = true;
        }

        rows.append({i, Seg[2], Seg[5], playServiceAddress(Seg[2])});
    }
    return rows;
}

QList<WorkRow> crawlSingerPage(const QString &page, WorksCrawlState &state)
{
    state.Seg[0] = page;
    state.Hits[0] = 0;
    if (page.isEmpty() || !countWorkRows(state))
        return {};
    return buildWorkRows(state);
}
