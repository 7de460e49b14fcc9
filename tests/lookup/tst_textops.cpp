// The text operations at their edges: markers absent, at the very start or
// end, repeated, overlapping; empty texts; blanks against other white space.
#include "common/TestEnvironment.h"
#include "lookup/TextOps.h"
#include "lookup/TextSlice.h"

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
    void after_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("marker");
        QTest::addColumn<QString>("expected");
        QTest::newRow("between first and second") << "a<t>b<t>c" << "<t>" << "b";
        QTest::newRow("to the end when once") << "a<t>bc" << "<t>" << "bc";
        QTest::newRow("marker at the start") << "<t>bc" << "<t>" << "bc";
        QTest::newRow("marker at the end") << "abc<t>" << "<t>" << "";
        QTest::newRow("marker twice in a row") << "a<t><t>b" << "<t>" << "";
        QTest::newRow("marker absent") << "abc" << "<t>" << Failed;
        QTest::newRow("empty text") << "" << "<t>" << Failed;
        QTest::newRow("case differs") << "a<T>b" << "<t>" << Failed;
        QTest::newRow("overlap: aaa at aa") << "aaa" << "aa" << "a";
        QTest::newRow("overlap: aaaa at aa") << "aaaa" << "aa" << "";
        QTest::newRow("overlap: xaaay at aa") << "xaaay" << "aa" << "ay";
        QTest::newRow("whole text is marker") << "<t>" << "<t>" << "";
        QTest::newRow("empty marker splits nothing") << "abc" << "" << Failed;
        QTest::newRow("chinese marker") << "粉丝有12有3" << "有" << "12";
    }
    void after()
    {
        QFETCH(QString, text);
        QFETCH(QString, marker);
        QFETCH(QString, expected);
        QCOMPARE(shown(TextOps::after(text, marker)), expected);
    }

    void piece_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("marker");
        QTest::addColumn<int>("n");
        QTest::addColumn<QString>("expected");
        QTest::newRow("piece 0 before the first") << "a-b-c" << "-" << 0 << "a";
        QTest::newRow("last piece") << "a-b-c" << "-" << 2 << "c";
        QTest::newRow("one beyond the last") << "a-b-c" << "-" << 3 << Failed;
        QTest::newRow("empty pieces count") << "--x" << "-" << 2 << "x";
        QTest::newRow("empty last piece") << "a-" << "-" << 1 << "";
        QTest::newRow("no marker: whole text is piece 0") << "abc" << "-" << 0 << "abc";
        QTest::newRow("no marker: no piece 1") << "abc" << "-" << 1 << Failed;
        QTest::newRow("empty text has no piece 0") << "" << "-" << 0 << Failed;
        QTest::newRow("empty marker: text is piece 0") << "abc" << "" << 0 << "abc";
        QTest::newRow("overlap: aaa at aa, piece 0") << "aaa" << "aa" << 0 << "";
        QTest::newRow("overlap: aaa at aa, piece 2") << "aaa" << "aa" << 2 << Failed;
        QTest::newRow("address field 6")
            << "http://a7.host/userdata/userwork/345/12345.mp3" << "/" << 6 << "12345.mp3";
        QTest::newRow("address with six fields") << "http://a7.host/u/w/345" << "/" << 6 << Failed;
        QTest::newRow("negative index") << "a-b" << "-" << -1 << Failed;
    }
    void piece()
    {
        QFETCH(QString, text);
        QFETCH(QString, marker);
        QFETCH(int, n);
        QFETCH(QString, expected);
        QCOMPARE(shown(TextOps::piece(text, marker, n)), expected);
    }

    void upto_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("marker");
        QTest::addColumn<QString>("expected");
        QTest::newRow("keeps the marker's first character") << "12</div>x" << "</div>" << "12<";
        QTest::newRow("first of several") << "a.b.c" << "." << "a.";
        QTest::newRow("marker at the start") << "</div>x" << "</div>" << "<";
        QTest::newRow("marker at the end") << "ab\"" << "\"" << "ab\"";
        QTest::newRow("marker absent gives empty") << "abc" << "</div>" << "";
        QTest::newRow("empty text") << "" << "x" << "";
        QTest::newRow("marker only partly present at the end") << "ab</di" << "</div>" << "";
        QTest::newRow("empty marker found at 1") << "abc" << "" << "a";
        QTest::newRow("case-sensitive") << "alice kelvaro" << "Kelvaro" << "";
    }
    void upto()
    {
        QFETCH(QString, text);
        QFETCH(QString, marker);
        QFETCH(QString, expected);
        QCOMPARE(TextOps::upto(text, marker).toString(), expected);
    }

    void remove_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("part");
        QTest::addColumn<QString>("expected");
        QTest::newRow("every occurrence") << "<1<2<" << "<" << "12";
        QTest::newRow("none") << "abc" << "x" << "abc";
        QTest::newRow("overlap: aaa minus aa") << "aaa" << "aa" << "a";
        QTest::newRow("overlap: aaaaa minus aa") << "aaaaa" << "aa" << "a";
        QTest::newRow("does not rescan the join") << "aabb" << "ab" << "ab";
        QTest::newRow("whole text") << "\"\"" << "\"" << "";
        QTest::newRow("case-sensitive") << "KelvaroK" << "k" << "KelvaroK";
        QTest::newRow("empty part deletes nothing") << "abc" << "" << "abc";
        QTest::newRow("empty text") << "" << "a" << "";
    }
    void remove()
    {
        QFETCH(QString, text);
        QFETCH(QString, part);
        QFETCH(QString, expected);
        QCOMPARE(TextOps::remove(text, part), expected);
    }

    void trim_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("both ends") << "  12 3  " << "12 3";
        QTest::newRow("only blanks") << "   " << "";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("line breaks stay") << "\n 12 \n" << "\n 12 \n";
        QTest::newRow("tabs stay") << "\t12 " << "\t12";
        QTest::newRow("no-break space stays") << QString(QChar(0xA0)) + "x " << QString(QChar(0xA0)) + "x";
        QTest::newRow("ideographic space stays") << QString(QChar(0x3000)) + "x" << QString(QChar(0x3000)) + "x";
    }
    void trim()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(TextOps::trim(text).toString(), expected);
    }

    // A slice that finds its end lazily answers exactly what the fully cut
    // piece answers: every text of up to seven characters over a small
    // alphabet, every start, several end markers and markers, each question
    // asked of a fresh slice and again after the slice has learned part of
    // its end.
    void lazySliceAgreesWithTheCutPiece()
    {
        QStringList texts = {QString()};
        for (int length = 1, from = 0; length <= 7; ++length) {
            const qsizetype upTo = texts.size();
            for (qsizetype i = from; i < upTo; ++i)
                for (const QChar c : {QChar('a'), QChar('b'), QChar('-')})
                    texts << texts[i] + c;
            from = int(upTo);
        }
        const QStringList endMarkers = {"b", "ab", "--", "a-a"};
        const QStringList markers = {"-", "a-", "b", "ba", "--", "bab"};
        int checks = 0;
        for (const QString &text : texts) {
            for (qsizetype start = 0; start <= text.size(); ++start) {
                for (const QString &endMarker : endMarkers) {
                    const qsizetype end = text.indexOf(endMarker, start);
                    const QString cut = text.mid(start, end < 0 ? -1 : end - start);
                    for (const QString &marker : markers) {
                        const QString where = QStringLiteral("text '%1' start %2 end '%3' marker '%4'")
                                                  .arg(text).arg(start).arg(endMarker, marker);
                        const TextSlice fresh = TextSlice::until(text, start, endMarker);
                        QVERIFY2(fresh.upto(marker).toString() == TextOps::upto(cut, marker).toString(),
                                 qPrintable(where));
                        const TextSlice other = TextSlice::until(text, start, endMarker);
                        QVERIFY2(shown(other.after(marker) ? std::optional<QStringView>(other.after(marker)->view())
                                                           : std::nullopt)
                                     == shown(TextOps::after(cut, marker)),
                                 qPrintable(where));
                        QVERIFY2(other.view().toString() == cut, qPrintable(where));
                        const qsizetype expected = cut.indexOf(marker);
                        QVERIFY2(TextSlice::until(text, start, endMarker).indexOf(marker) == expected,
                                 qPrintable(where));
                        ++checks;
                    }
                }
            }
        }
        QVERIFY(checks > 100000);
    }

    // Large pieces share their page, small ones are copied, and both stay
    // valid after the page is gone.
    void slicesOutliveTheirPage()
    {
        TextSlice big;
        TextSlice small;
        TextSlice lazy;
        {
            QString page = QStringLiteral("head<title>") + QString(1000, QLatin1Char('x'));
            const auto rest = TextOps::after(page, QStringLiteral("<title>"));
            QVERIFY(rest);
            big = TextSlice::within(page, *rest);
            QCOMPARE(big.view().data(), rest->data()); // no copy
            small = TextSlice::within(page, TextOps::upto(page, QStringLiteral("<")));
            QVERIFY(small.view().data() != page.constData()); // copied
            lazy = TextSlice::until(page, 11, QStringLiteral("<title>"));
            QCOMPARE(lazy.upto(QStringLiteral("xx")).toString(), QStringLiteral("x"));
            page = QStringLiteral("another page");
        }
        QCOMPARE(big.toString(), QString(1000, QLatin1Char('x')));
        QCOMPARE(small.toString(), QStringLiteral("head<"));
        QCOMPARE(big.sub(big.view().first(3)).toString(), QStringLiteral("xxx"));
        QCOMPARE(lazy.view().size(), 1000);
        QCOMPARE(lazy.settled().toString(), QString(1000, QLatin1Char('x')));
    }
};

KELVARO_TEST_MAIN(TextOpsTest)
#include "tst_textops.moc"
