// The crawl's counting and row building without a window: the markers as the
// scan counts them, the rows with their carry-over of failed steps, and the
// incremental cutting checked against the steps read literally.
#include "WorksPages.h"
#include "app/Endpoints.h"
#include "common/TestEnvironment.h"
#include "works/WorksCrawl.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtTest>

namespace {

QString serviceAddress(const QString &id)
{
    return QStringLiteral("http://") + QString::fromUtf8(Endpoints::WebHost)
        + QStringLiteral("/member/personcenter/loadplayurl.php?wid=") + id;
}

PageRow row(const QString &id, const QString &title, PageRow::Title form = PageRow::InSpan)
{
    return {id, title, form};
}

// "id|title" per row, in order.
QStringList shown(const QList<WorkRow> &rows)
{
    QStringList out;
    for (const WorkRow &r : rows)
        out.append(r.id + QLatin1Char('|') + r.title);
    return out;
}

} // namespace

class WorksCrawlTest : public QObject {
    Q_OBJECT

private slots:
    void countWorkRows_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<int>("hitsBefore");
        QTest::addColumn<int>("hits");
        QTest::addColumn<bool>("found");
        const QString marker = WorksMarkup::WorkRowMarker;
        QTest::newRow("no work") << singerPage({}) << 0 << 0 << false;
        QTest::newRow("one work") << singerPage(ordinaryRows(1)) << 0 << 1 << true;
        QTest::newRow("ten works") << singerPage(ordinaryRows(10)) << 0 << 10 << true;
        PageRow withoutOpener = row("1", "a");
        withoutOpener.hasIdOpener = false;
        QTest::newRow("marker without its id") << singerPage({withoutOpener, withoutOpener}) << 0 << 2 << true;
        QTest::newRow("markers back to back") << marker + marker + marker << 0 << 3 << true;
        QTest::newRow("page is one marker") << marker << 0 << 1 << true;
        QTest::newRow("marker at the very end") << QStringLiteral("x") + marker << 0 << 1 << true;
        QTest::newRow("upper case tag") << QString(marker).replace(QStringLiteral("<tr"), QStringLiteral("<TR")) << 0
                                        << 0 << false;
        QTest::newRow("marker cut short") << marker.chopped(1) << 0 << 0 << false;
        QTest::newRow("count stops at the limit") << singerPage(ordinaryRows(10)) << 32760 << 32767 << true;
        QTest::newRow("count already at the limit") << singerPage(ordinaryRows(2)) << 32767 << 32767 << true;
    }
    void countWorkRows()
    {
        QFETCH(QString, page);
        QFETCH(int, hitsBefore);
        QFETCH(int, hits);
        QFETCH(bool, found);
        WorksCrawlState state;
        state.Seg[0] = page;
        state.Hits[0] = qint16(hitsBefore);
        QCOMPARE(::countWorkRows(state), found);
        QCOMPARE(int(state.Hits[0]), hits);
    }

    void rows_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QStringList>("earlierSeg"); // Seg(1)..Seg(5) before the crawl
        QTest::addColumn<QStringList>("expected");   // "id|title" for rows 1..n

        const QStringList fresh(5);
        QTest::newRow("no work") << singerPage({}) << fresh << QStringList();
        QTest::newRow("one work gives no row") << singerPage(ordinaryRows(1)) << fresh << QStringList();
        QTest::newRow("the last marker's work is left out")
            << singerPage({row("11", "甲"), row("22", "乙", PageRow::InDiv), row("33", "丙"), row("44", "丁")}) << fresh
            << QStringList{"11|甲", "22|乙", "33|丙"};
        QTest::newRow("taken as they stand")
            << singerPage({row(" 7 ", "A &amp; B", PageRow::InDiv), row("8", "x")}) << fresh
            << QStringList{" 7 |A &amp; B"};

        PageRow unclosed = row("77", "开");
        unclosed.hasIdCloser = false;
        QTest::newRow("id without closer is empty") << singerPage({unclosed, row("5", "b")}) << fresh
                                                    << QStringList{"|开"};

        QTest::newRow("title in neither form repeats the previous")
            << singerPage({row("1", "A"), row("2", "B", PageRow::Bare), row("3", "C", PageRow::InDiv), row("4", "D")})
            << fresh << QStringList{"1|A", "2|A", "3|C"};

        PageRow noOpener2 = row("2", "B");
        noOpener2.hasIdOpener = false;
        PageRow noOpener3 = row("3", "C");
        noOpener3.hasIdOpener = false;
        // Only rows 1, 4 and 5 hold "goPlay(": ids pair by number, and the
        // pieces run out before the last rows.
        QTest::newRow("missing id pieces repeat the previous id")
            << singerPage({row("1", "A"), noOpener2, noOpener3, row("4", "D"), row("5", "E")}) << fresh
            << QStringList{"1|A", "4|B", "5|C", "5|D"};

        PageRow noCell = row("2", "B");
        noCell.hasTitleCell = false;
        QTest::newRow("missing title cells repeat the previous title")
            << singerPage({row("1", "A"), noCell, row("3", "C")}) << fresh << QStringList{"1|A", "2|C"};

        QTest::newRow("span wins over the div")
            << singerPage({row("1", "<span>S</span><div class=\"song_title\">D", PageRow::InDiv), row("2", "x")})
            << fresh << QStringList{"1|S"};

        QTest::newRow("title without end is empty")
            << QString(WorksMarkup::WorkRowMarker + WorksMarkup::WorkRowMarker + "(1)" + WorksMarkup::TitleCell
                       + "<span>open")
            << fresh << QStringList{"1|"};

        // A first row whose steps fail takes what an earlier crawl (or the
        // table's double-click, in Seg(5)) left behind.
        QTest::newRow("first title from the earlier crawl's opener piece")
            << singerPage({row("1", "A", PageRow::Bare), row("2", "B")})
            << QStringList{"", "", "", "Earlier<b>", "service answer"} << QStringList{"1|Earlier"};
        PageRow onlyMarker = row("1", "A");
        onlyMarker.hasIdOpener = false;
        QTest::newRow("first id from the earlier crawl's piece")
            << singerPage({onlyMarker, onlyMarker}) << QStringList{"55)x", "old", "", "", ""} << QStringList{"55|A"};
    }
    void rows()
    {
        QFETCH(QString, page);
        QFETCH(QStringList, earlierSeg);
        QFETCH(QStringList, expected);
        WorksCrawlState state;
        for (int i = 0; i < 5; ++i)
            state.Seg[std::size_t(i) + 1] = earlierSeg[i];
        state.Seg[0] = page;
        ::countWorkRows(state);
        const QList<WorkRow> built = buildWorkRows(state);
        QCOMPARE(shown(built), expected);
        for (int i = 0; i < built.size(); ++i) {
            QCOMPARE(built[i].number, i + 1);
            QCOMPARE(built[i].serviceAddress, serviceAddress(built[i].id));
        }
    }

    // The incremental cutting must give exactly what cutting the whole page
    // per step gives, the failures and their carry-over included: random
    // pages of the markup's fragments, random earlier values, and row counts
    // beyond the pieces there are.
    void rowsEqualTheLiteralReading()
    {
        const QStringList fragments = {
            WorksMarkup::WorkRowMarker, QStringLiteral("("),  WorksMarkup::IdOpener, QStringLiteral("12"),
            QStringLiteral(")"),        WorksMarkup::TitleCell, WorksMarkup::TitleSpan, QStringLiteral("</span>"),
            WorksMarkup::TitleDiv,      QStringLiteral("<"),    QStringLiteral("歌"),   QStringLiteral("x y"),
            QStringLiteral("goPlay"),   QStringLiteral("class=\"_col _col_left\""),
        };
        QRandomGenerator random(20240607);
        for (int round = 0; round < 3000; ++round) {
            WorksCrawlState state;
            for (std::size_t slot = 1; slot <= 5; ++slot)
                state.Seg[slot] = random.bounded(3) ? fragments[random.bounded(int(fragments.size()))] + "a<b)" : "";
            const int length = random.bounded(40);
            for (int i = 0; i < length; ++i)
                state.Seg[0] += fragments[random.bounded(int(fragments.size()))];
            state.Hits[0] = qint16(random.bounded(length + 4));
            WorksCrawlState literal = state;

            const QList<WorkRow> expected = buildWorkRowsLiterally(literal);
            const QList<WorkRow> built = buildWorkRows(state);
            const QByteArray where = "round " + QByteArray::number(round) + ": " + state.Seg[0].toUtf8();
            QVERIFY2(built == expected, where.constData());
            QVERIFY2(state.Seg == literal.Seg, where.constData());
        }
    }

    // 40000 markers: the count stops at 32767 and every row up to 32766 is
    // built, fast, because no row cuts the whole page again.
    void countLimitOnAHugePage()
    {
        WorksCrawlState state;
        state.Seg[0] = singerPage(ordinaryRows(40000));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(::countWorkRows(state));
        const QList<WorkRow> built = buildWorkRows(state);
        const qint64 ms = clock.elapsed();
        qInfo("%lld characters, %lld rows: %lld ms", qlonglong(state.Seg[0].size()), qlonglong(built.size()), ms);
        QCOMPARE(state.Hits[0], qint16(32767));
        QCOMPARE(built.size(), 32766);
        QCOMPARE(built.last(), (WorkRow{32766, "1032766", "Song 32766", serviceAddress("1032766")}));
        QCOMPARE(state.Seg[5], QStringLiteral("Song 32766"));
        QVERIFY2(ms < 10000, "row building grows faster than the page");
    }
};

KELVARO_TEST_MAIN(WorksCrawlTest)
#include "tst_workscrawl.moc"
