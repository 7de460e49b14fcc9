#pragma once
// Singer home pages as the community writes them, for tests and benchmarks,
// and the row building read literally: one split of the whole page per step.
#include "core/works/WorksCrawl.h"

#include <QList>
#include <QString>
#include <QStringList>

// Where the play-address service answers, up to the work id.
inline const QString ServicePrefix = QStringLiteral("http://www.kelvaro.com/member/personcenter/loadplayurl.php?wid=");

struct PageRow {
    enum Title { InSpan, InDiv, Bare };
    enum Id { Closed, Unclosed, NoOpener }; // "goPlay(id)", "goPlay(id", "goPlayLater"
    QString id;
    QString title;
    Title form = InSpan;
    Id idForm = Closed;
};

inline QString workRowMarkup(const PageRow &row, int number)
{
    static const QString opens[] = {WorksMarkup::TitleSpan, WorksMarkup::TitleDiv, QString()};
    static const QString closes[] = {QStringLiteral("</span>"), QStringLiteral("</div>"), QString()};
    const QString id = row.idForm == PageRow::NoOpener
        ? QStringLiteral("Later")
        : QStringLiteral("(") + row.id + (row.idForm == PageRow::Closed ? QStringLiteral(")") : QString());
    return WorksMarkup::WorkRowMarker + id
        + QStringLiteral("\">\n  <td class=\"_col _col_num\">%1</td>\n  <td class=\"_col _col_left\">").arg(number)
        + opens[row.form] + row.title + closes[row.form] + QStringLiteral("</td>\n  <td class=\"_col\">12</td>\n</tr>\n");
}

inline QString singerPage(const QList<PageRow> &rows)
{
    QString html = QStringLiteral("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>歌手的个人主页 - "
                                  "Kelvaro</title>\n</head>\n<body>\n<table class=\"song_list\">\n<tbody>\n");
    for (int i = 0; i < rows.size(); ++i)
        html += workRowMarkup(rows[i], i + 1);
    return html + QStringLiteral("</tbody>\n</table>\n</body>\n</html>\n");
}

// `count` ordinary rows: ids 1000001.., titles "Song 1"..., spans and divs in turn.
inline QList<PageRow> ordinaryRows(int count)
{
    QList<PageRow> rows;
    rows.reserve(count);
    for (int i = 1; i <= count; ++i)
        rows.append({QString::number(1000000 + i), QStringLiteral("Song %1").arg(i),
                     i % 2 ? PageRow::InSpan : PageRow::InDiv});
    return rows;
}

// The row building exactly as its steps read, cutting the whole page again for
// every step of every row. Slow on purpose: the reference for the real one.
inline QList<WorkRow> buildWorkRowsLiterally(WorksCrawlState &state)
{
    auto &Seg = state.Seg;
    // Before the first `end`, empty when there is none.
    const auto before = [](const QString &text, const QString &end) {
        return text.contains(end) ? text.left(text.indexOf(end)) : QString();
    };
    QList<WorkRow> rows;
    for (int i = 1; i <= state.Hits[0] - 1; ++i) {
        if (const QStringList pieces = Seg[0].split(WorksMarkup::IdOpener); pieces.size() > i)
            Seg[1] = pieces[i];
        Seg[2] = before(Seg[1], WorksMarkup::IdCloser);
        if (const QStringList pieces = Seg[0].split(WorksMarkup::TitleCell); pieces.size() > i)
            Seg[3] = pieces[i];
        const QString opener = Seg[3].contains(WorksMarkup::TitleSpan) ? WorksMarkup::TitleSpan : WorksMarkup::TitleDiv;
        if (const QStringList pieces = Seg[3].split(opener); pieces.size() > 1)
            Seg[4] = pieces[1];
        Seg[5] = before(Seg[4], WorksMarkup::TitleEnd);
        rows.append({i, Seg[2], Seg[5], playServiceAddress(Seg[2])});
    }
    return rows;
}
