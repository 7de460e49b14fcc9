// The crawl's counting and row building without a window: the markers as the
// scan counts them, the rows with their carry-over of failed steps, and the
// incremental cutting checked against the steps read literally.
#include "common/WorksPages.h"
#include "common/TestEnvironment.h"
#include "core/works/WorksCrawl.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtTest>

namespace {

PageRow row(const QString &id, const QString &title, PageRow::Title form = PageRow::InSpan,
            PageRow::Id idForm = PageRow::Closed)
{
    return {id, title, form, idForm};
}

} // namespace

class WorksCrawlTest : public QObject {
    Q_OBJECT

private slots:
    void rows_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<int>("hits");
        QTest::addColumn<QStringList>("expected"); // "id|title" for rows 1..n
        QTest::newRow("no work") << singerPage({}) << 0 << QStringList();
        QTest::newRow("one work gives no row") << singerPage(ordinaryRows(1)) << 1 << QStringList();
        QTest::newRow("marker at the very end") << "x" + WorksMarkup::WorkRowMarker << 1 << QStringList();
        QTest::newRow("the last marker's work is left out")
            << singerPage({row("11", "甲"), row("22", "乙", PageRow::InDiv), row("33", "丙")}) << 3
            << QStringList{"11|甲", "22|乙"};
        QTest::newRow("id without closer is empty")
            << singerPage({row("77", "开", PageRow::InSpan, PageRow::Unclosed), row("5", "b")}) << 2
            << QStringList{"|开"};
        QTest::newRow("title in neither form repeats the previous")
            << singerPage({row("1", "A"), row("2", "B", PageRow::Bare), row("3", "C")}) << 3
            << QStringList{"1|A", "2|A"};
        // Only rows 1, 4 and 5 hold "goPlay(": ids pair by number, and the
        // pieces run out before the last rows.
        const PageRow noOpener = row("2", "B", PageRow::InSpan, PageRow::NoOpener);
        QTest::newRow("missing id pieces repeat the previous id")
            << singerPage({row("1", "A"), noOpener, noOpener, row("4", "D"), row("5", "E")}) << 5
            << QStringList{"1|A", "4|B", "5|B", "5|D"};
    }
    void rows()
    {
        QFETCH(QString, page);
        QFETCH(int, hits);
        QFETCH(QStringList, expected);
        WorksCrawlState state;
        state.Seg[0] = page;
        QCOMPARE(::countWorkRows(state), hits > 0);
        QCOMPARE(int(state.Hits[0]), hits);
        const QList<WorkRow> built = buildWorkRows(state);
        QStringList shown;
        for (int i = 0; i < built.size(); ++i) {
            shown.append(built[i].id + QLatin1Char('|') + built[i].title);
            QCOMPARE(built[i].number, i + 1);
            QCOMPARE(built[i].serviceAddress, ServicePrefix + built[i].id);
        }
        QCOMPARE(shown, expected);
    }

    // The incremental cutting must give exactly what cutting the whole page
    // per step gives, the failures and their carry-over included: random
    // pages of the markup's fragments, random earlier values, and row counts
    // beyond the pieces there are.
    void rowsEqualTheLiteralReading()
    {
        const QStringList fragments = {
            WorksMarkup::WorkRowMarker, QStringLiteral("("),    WorksMarkup::IdOpener,  QStringLiteral("12"),
            QStringLiteral(")"),        WorksMarkup::TitleCell, WorksMarkup::TitleSpan, QStringLiteral("</span>"),
            WorksMarkup::TitleDiv,      QStringLiteral("<"),    QStringLiteral("歌"),    QStringLiteral("goPlay"),
        };
        QRandomGenerator random(20240607);
        for (int round = 0; round < 1000; ++round) {
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
        for (int i = 1; i <= 40000; ++i)
            state.Seg[0] += WorksMarkup::WorkRowMarker + QStringLiteral("(%1)").arg(i) + WorksMarkup::TitleCell
                + WorksMarkup::TitleSpan + QString::number(i) + QStringLiteral("</span>");
        QElapsedTimer clock;
        clock.start();
        QVERIFY(::countWorkRows(state));
        const QList<WorkRow> built = buildWorkRows(state);
        QVERIFY2(clock.elapsed() < 10000, "row building grows faster than the page");
        QCOMPARE(state.Hits[0], qint16(32767));
        QCOMPARE(built.size(), 32766);
        QCOMPARE(built.last(), (WorkRow{32766, "32766", "32766", ServicePrefix + "32766"}));
    }
};

KELVARO_TEST_MAIN(WorksCrawlTest)
#include "tst_workscrawl.moc"
