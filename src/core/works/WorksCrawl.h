#pragma once
#include <QList>
#include <QString>
#include <QStringView>
#include <QtGlobal>

#include <array>

// The singer works crawl without any widget: the crawl's working values, the
// markers of a singer home page, the count of its work rows and the rows of
// the works table cut out of it.

// The window-owned working values of the crawl. They live as long as the
// window and are never cleared: a cutting step that fails leaves the value
// of an earlier row (or an earlier crawl) in place, and that shows in the
// table, so the values must outlive a single crawl.
struct WorksCrawlState {
    // Seg(0) the singer page; Seg(1)..Seg(5) the working values of the row
    // building: the id piece, the id, the title piece, the text after the
    // title's opening tag, the title. The works table reuses Seg(5) for the
    // play-address service's answer. Slots 6..10 are unused.
    std::array<QString, 11> Seg;
    // Hits(0): the number of work-row markers in Seg(0). Slots 1..10 are unused.
    std::array<qint16, 11> Hits{};
};

namespace WorksMarkup {
// Every row of the singer's list of works starts with this.
inline const QString WorkRowMarker = QStringLiteral("<tr class=\"\" onclick=\"goPlay");
// The work id sits between this and the next ")".
inline const QString IdOpener = QStringLiteral("goPlay(");
inline const QString IdCloser = QStringLiteral(")");
// The cell that holds a work's title, written in a span or in a title block.
inline const QString TitleCell = QStringLiteral("class=\"_col _col_left\">");
inline const QString TitleSpan = QStringLiteral("<span>");
inline const QString TitleDiv = QStringLiteral("<div class=\"song_title\">");
inline const QString TitleEnd = QStringLiteral("<");
} // namespace WorksMarkup

namespace WorksCrawlTexts {
inline const QString EnterAddress = QStringLiteral("请输入歌手主页地址 ..");
inline const QString Fetching = QStringLiteral("正在进行获取..");
inline const QString Done = QStringLiteral("获取完毕..");
inline const QString NoWorks = QStringLiteral("当前歌手没有音乐作品或未开通Kelvaro会员无法获取");
inline const QString FetchFailed = QStringLiteral("获取失败,请您稍后再试..");
} // namespace WorksCrawlTexts

// What a singer home page address must contain: the community's web host
// immediately followed by "/u/", matched exactly (upper-case "/U/" is not it).
QString singerAddressMarker();

// Why a singer home page address is refused before anything is fetched: the
// status text for an empty address or one without the marker; empty when the
// address may be fetched as it stands.
QString singerAddressRefusal(const QString &address);

// The play-address service's address for a work id, as it stands (an empty
// id gives an address ending in "?wid=").
QString playServiceAddress(const QString &workId);

// Adds one to Hits(0) for every work-row marker in Seg(0), searching again
// from the character after each hit. Hits(0) never passes 32767: an addition
// beyond it is skipped. Returns whether any marker was found.
bool countWorkRows(WorksCrawlState &state);

// One row of the works table.
struct WorkRow {
    int number = 0;         // running number, from 1
    QString id;             // sub-item 1: the work id
    QString title;          // sub-item 2: the title
    QString serviceAddress; // sub-item 3 (hidden column): the play-address service for the id
    bool operator==(const WorkRow &) const = default;
};

// The rows 1 .. Hits(0) - 1 (none with fewer than two markers). For row i the
// id comes from the i-th "goPlay(" piece of the page and the title from the
// i-th title cell piece: the two are paired only by their number. Each step
// that fails (a piece beyond the last one, no title opener) leaves its Seg
// value as it was, so such a row repeats the previous row's id or title, or
// a value left from an earlier crawl. Seg(1)..Seg(5) end with the last row's
// values. Nothing is trimmed or decoded.
//
// Every piece of the page is visited once for all rows, so the work grows
// with the page's length, not with rows times length.
QList<WorkRow> buildWorkRows(WorksCrawlState &state);

// A whole crawl of a fetched singer page in one go, as the window's scan and
// row tick do it: Seg(0) takes the page, Hits(0) starts again from 0, and the
// rows come out exactly as the table would show them.
QList<WorkRow> crawlSingerPage(const QString &page, WorksCrawlState &state);
