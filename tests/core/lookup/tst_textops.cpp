// The text operations at their edges: markers absent, at the very start or
// end, overlapping; empty texts; blanks against other white space.
#include "common/TestEnvironment.h"
#include "core/lookup/TextOps.h"
#include "core/lookup/TextSlice.h"

#include <QtTest>

namespace {
const QString Failed = QStringLiteral("<failed>");

QString shown(const std::optional<QStringView> &result)
{
    return result ? result->toString() : Failed;
}
} // namespace

class TextOpsTest : public QObject {
    Q_OBJECT

private slots:
    // after = piece 1. Which operation a row checks is its first column.
    void operations_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("marker");
        QTest::addColumn<int>("n"); // for piece
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const char *op, const QString &text, const QString &marker, int n,
                            const QString &expected) { QTest::newRow(name) << op << text << marker << n << expected; };
        row("after: between first and second", "after", "a<t>b<t>c", "<t>", 0, "b");
        row("after: marker at the start", "after", "<t>bc", "<t>", 0, "bc");
        row("after: marker at the end", "after", "abc<t>", "<t>", 0, "");
        row("after: marker absent", "after", "abc", "<t>", 0, Failed);
        row("after: empty text", "after", "", "<t>", 0, Failed);
        row("after: case differs", "after", "a<T>b", "<t>", 0, Failed);
        row("after: overlap aaa at aa", "after", "aaa", "aa", 0, "a");
        row("after: overlap xaaay at aa", "after", "xaaay", "aa", 0, "ay");
        row("after: empty marker splits nothing", "after", "abc", "", 0, Failed);
        row("piece: 0 before the first", "piece", "a-b-c", "-", 0, "a");
        row("piece: the last", "piece", "a-b-c", "-", 2, "c");
        row("piece: one beyond the last", "piece", "a-b-c", "-", 3, Failed);
        row("piece: empty text has no piece 0", "piece", "", "-", 0, Failed);
        row("piece: empty marker, text is piece 0", "piece", "abc", "", 0, "abc");
        row("piece: address field 6", "piece", "http://a7.host/userdata/userwork/345/12345.mp3", "/", 6, "12345.mp3");
        row("upto: keeps the marker's first character", "upto", "12</div>x", "</div>", 0, "12<");
        row("upto: marker at the start", "upto", "</div>x", "</div>", 0, "<");
        row("upto: marker at the end", "upto", "ab\"", "\"", 0, "ab\"");
        row("upto: marker absent gives empty", "upto", "abc", "</div>", 0, "");
        row("upto: marker only partly at the end", "upto", "ab</di", "</div>", 0, "");
        row("upto: empty marker found at 1", "upto", "abc", "", 0, "a");
        row("remove: every occurrence", "remove", "<1<2<", "<", 0, "12");
        row("remove: overlap aaaaa minus aa", "remove", "aaaaa", "aa", 0, "a");
        row("remove: does not rescan the join", "remove", "aabb", "ab", 0, "ab");
        row("remove: empty part deletes nothing", "remove", "abc", "", 0, "abc");
        row("trim: both ends", "trim", "  12 3  ", "", 0, "12 3");
        row("trim: line breaks stay", "trim", "\n 12 \n", "", 0, "\n 12 \n");
        row("trim: tabs stay", "trim", "\t12 ", "", 0, "\t12");
        row("trim: no-break and ideographic spaces stay", "trim", QString(QChar(0xA0)) + "x" + QChar(0x3000),
            "", 0, QString(QChar(0xA0)) + "x" + QChar(0x3000));
    }
    void operations()
    {
        QFETCH(QString, op);
        QFETCH(QString, text);
        QFETCH(QString, marker);
        QFETCH(int, n);
        QFETCH(QString, expected);
        QString result;
        if (op == "after")
            result = shown(TextOps::after(text, marker));
        else if (op == "piece")
            result = shown(TextOps::piece(text, marker, n));
        else if (op == "upto")
            result = TextOps::upto(text, marker).toString();
        else if (op == "remove")
            result = TextOps::remove(text, marker);
        else
            result = TextOps::trim(text).toString();
        QCOMPARE(result, expected);
    }

    // A slice that finds its end lazily answers exactly what the fully cut
    // piece answers: every text of up to seven characters over a small
    // alphabet, every start, several end markers and markers. (That pieces
    // stay valid after their page has gone shows in the differential test,
    // whose pieces carry over from one page to the next.)
    void lazySliceAgreesWithTheCutPiece()
    {
        QStringList texts = {QString()};
        for (qsizetype from = 0, length = 1; length <= 7; ++length) {
            const qsizetype upTo = texts.size();
            for (qsizetype i = from; i < upTo; ++i)
                for (const QChar c : {QChar('a'), QChar('b'), QChar('-')})
                    texts << texts[i] + c;
            from = upTo;
        }
        int checks = 0;
        for (const QString &text : texts) {
            for (qsizetype start = 0; start <= text.size(); ++start) {
                for (const QString endMarker : {"b", "ab", "--", "a-a"}) {
                    const qsizetype end = text.indexOf(endMarker, start);
                    const QString cut = text.mid(start, end < 0 ? -1 : end - start);
                    for (const QString marker : {"-", "a-", "b", "ba", "--", "bab"}) {
                        const QString where = QStringLiteral("text '%1' start %2 end '%3' marker '%4'")
                                                  .arg(text).arg(start).arg(endMarker, marker);
                        const TextSlice fresh = TextSlice::until(text, start, endMarker);
                        QVERIFY2(fresh.upto(marker).toString() == TextOps::upto(cut, marker).toString(),
                                 qPrintable(where));
                        // Asked again after the slice has learned part of its end.
                        const std::optional<TextSlice> after = fresh.after(marker);
                        QVERIFY2(shown(after ? std::optional<QStringView>(after->view()) : std::nullopt)
                                     == shown(TextOps::after(cut, marker)),
                                 qPrintable(where));
                        QVERIFY2(fresh.view().toString() == cut, qPrintable(where));
                        QVERIFY2(TextSlice::until(text, start, endMarker).indexOf(marker) == cut.indexOf(marker),
                                 qPrintable(where));
                        ++checks;
                    }
                }
            }
        }
        QVERIFY(checks > 100000);
    }
};

KELVARO_TEST_MAIN(TextOpsTest)
#include "tst_textops.moc"
