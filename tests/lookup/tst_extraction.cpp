// The parse action without widgets: address checks, the extraction rules on
// the page forms the community writes (and the odd ones it may), what carries
// over from one lookup to the next, and lookups nested in one another.
#include "RecordingPanel.h"
#include "SongPages.h"
#include "common/TestEnvironment.h"
#include "lookup/SongExtraction.h"

#include <QtTest>
#include <map>

namespace {

QString address(const QString &name)
{
    return recordingPagePrefix() + name;
}

// Pages by address; an address without a page fails to fetch.
class FakeSite {
public:
    std::map<QString, QString> pages;
    QStringList fetched;
    std::function<void(const QString &)> whileFetching;

    PageFetch fetcher()
    {
        return [this](const QString &url) -> std::optional<QString> {
            fetched << url;
            if (whileFetching)
                whileFetching(url);
            const auto found = pages.find(url);
            if (found == pages.end())
                return std::nullopt;
            return found->second;
        };
    }
};

struct Lookup {
    SongState state;
    ExtractionPieces pieces;
    RecordingSongPanel panel;
    FakeSite site;
    PageFetch fetch = site.fetcher();

    void run(const QString &url) { runParseAction(url, state, pieces, panel, fetch); }
    void page(const QString &name, const QString &html) { site.pages[address(name)] = html; }
};

SongState filledState()
{
    return SongState{"old page", "old music", "old user", "old id", "old mv", "old bg", "old pic"};
}

bool sameState(const SongState &a, const SongState &b)
{
    return a.PageHtml == b.PageHtml && a.MusicUrl == b.MusicUrl && a.UserName == b.UserName && a.WorkId == b.WorkId
        && a.MvUrl == b.MvUrl && a.HeadBgUrl == b.HeadBgUrl && a.HeadPicUrl == b.HeadPicUrl;
}

} // namespace

class ExtractionTest : public QObject {
    Q_OBJECT

private slots:
    void refusedAddresses_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("status");
        QTest::newRow("empty") << "" << "请输入Kelvaro网页地址 ";
        QTest::newRow("secure scheme") << "https://www.kelvaro.com/s/abc" << "地址错误,请您检查 ..";
        QTest::newRow("host in capitals") << "http://WWW.KELVARO.COM/s/abc" << "地址错误,请您检查 ..";
        QTest::newRow("scheme in capitals") << "HTTP://www.kelvaro.com/s/abc" << "地址错误,请您检查 ..";
        QTest::newRow("singer page") << "http://www.kelvaro.com/u/abc" << "地址错误,请您检查 ..";
        QTest::newRow("no slash after s") << "http://www.kelvaro.com/s" << "地址错误,请您检查 ..";
        QTest::newRow("other host") << "http://www.kelvaro.co/s/abc" << "地址错误,请您检查 ..";
        QTest::newRow("blank only") << " " << "地址错误,请您检查 ..";
    }
    void refusedAddresses()
    {
        QFETCH(QString, url);
        QFETCH(QString, status);
        Lookup lookup;
        lookup.state = filledState();
        lookup.site.pages[url] = songPage({});
        lookup.run(url);
        QCOMPARE(lookup.panel.calls, QStringList{"status " + status});
        QVERIFY(lookup.site.fetched.isEmpty());
        QVERIFY(sameState(lookup.state, filledState()));
    }

    // The address goes to the fetch exactly as typed.
    void acceptedAddresses_data()
    {
        QTest::addColumn<QString>("url");
        QTest::newRow("plain") << address("abc");
        QTest::newRow("leading blank") << " " + address("abc");
        QTest::newRow("text around it") << "see " + address("abc") + "?x=1 please";
    }
    void acceptedAddresses()
    {
        QFETCH(QString, url);
        Lookup lookup;
        lookup.site.pages[url] = songPage({});
        lookup.run(url);
        QCOMPARE(lookup.site.fetched, QStringList{url});
        QCOMPARE(lookup.panel.shown.songName, QStringLiteral("Song"));
    }

    void statusLineUntouchedBySuccess()
    {
        Lookup lookup;
        lookup.page("a", songPage({}));
        lookup.run(QString());
        lookup.run(address("a"));
        QCOMPARE(lookup.panel.status, QStringLiteral("请输入Kelvaro网页地址 "));
        QCOMPARE(lookup.panel.calls.filter("status").size(), 1);
    }

    void titleGivesSongAndSinger_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("later"); // markup further down the page
        QTest::addColumn<QString>("song");
        QTest::addColumn<QString>("user");
        QTest::newRow("usual") << "Song - Alice Kelvaro - 全民K歌" << "" << "Song" << "Alice";
        QTest::newRow("no blank before Kelvaro") << "Song - AliceKelvaro - x" << "" << "Song" << "Alice";
        QTest::newRow("K of the name is lost") << "Song - Kim KaKelvaro - x" << "" << "Song" << "im a";
        QTest::newRow("lower-case k stays") << "Song - kiki Kelvaro - x" << "" << "Song" << "kiki";
        QTest::newRow("no Kelvaro after the dash") << "Song - Alice - x" << "" << "Song" << "";
        QTest::newRow("Kelvaro only after the second dash") << "Song - Alice - Kelvaro" << "" << "Song" << "";
        QTest::newRow("dash in the song name") << "Hip-Hop Song - Alice Kelvaro - x" << "" << "Hip" << "";
        QTest::newRow("dash in the song name, Kelvaro after it") << "Hip-Hop Kelvaro - x" << "" << "Hip" << "Hop";
        QTest::newRow("single dash: runs down the page")
            << "Song - Alice" << "<p>by Bob Kelvaro-fan</p>" << "Song" << "Alice</title>";
        QTest::newRow("no dash in the title") << "Song" << "" << "Song</title>" << "";
        QTest::newRow("empty title") << "" << "" << "</title>" << "";
        QTest::newRow("blanks around") << "   Song   -   Alice Kelvaro   -" << "" << "Song" << "Alice";
    }
    void titleGivesSongAndSinger()
    {
        QFETCH(QString, title);
        QFETCH(QString, later);
        QFETCH(QString, song);
        QFETCH(QString, user);
        SongPageFields fields;
        fields.title = title;
        fields.other = later;
        fields.fans = QStringLiteral("有1"); // no dash anywhere else in these pages
        Lookup lookup;
        // The only dashes after the title are those the row writes.
        QString html = songPage(fields).replace("no-repeat", "norepeat");
        if (!title.contains('-'))
            html.replace("</title>", "</title>-");
        lookup.page("a", html);
        lookup.run(address("a"));
        if (user.endsWith("</title>"))
            QVERIFY2(lookup.state.UserName.startsWith(user) && lookup.state.UserName.endsWith("<p>by Bob"),
                     qPrintable(lookup.state.UserName));
        else
            QCOMPARE(lookup.state.UserName, user);
        QCOMPARE(lookup.panel.shown.songName, song);
        QCOMPARE(lookup.panel.userName, lookup.state.UserName);
    }

    void countsAndTexts_data()
    {
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("count");
        QTest::addColumn<QString>("fans"); // the same text in the fans field
        QTest::newRow("plain") << "1234" << "1234" << "1234";
        QTest::newRow("fans marker word") << "有1234" << "有1234" << "1234";
        QTest::newRow("blanks trimmed") << "  12  " << "12" << "12";
        QTest::newRow("inner markup loses its <") << "<b>12</b>" << "b>12/b>" << "b>12/b>";
        QTest::newRow("line breaks kept") << "\n 12 \n" << "\n 12 \n" << "\n 12 \n";
        QTest::newRow("tab kept") << "\t12" << "\t12" << "\t12";
        QTest::newRow("empty") << "" << "" << "";
        QTest::newRow("chinese") << "一万二" << "一万二" << "一万二";
    }
    void countsAndTexts()
    {
        QFETCH(QString, written);
        QFETCH(QString, count);
        QFETCH(QString, fans);
        SongPageFields fields;
        fields.play = fields.gift = fields.forward = fields.comment = fields.other = fields.fans = written;
        Lookup lookup;
        lookup.page("a", songPage(fields));
        lookup.run(address("a"));
        const SongDetails &shown = lookup.panel.shown;
        QCOMPARE(shown.playCount, count);
        QCOMPARE(shown.giftCount, count);
        QCOMPARE(shown.forwardCount, count);
        QCOMPARE(shown.commentCount, count);
        QCOMPARE(shown.otherInfo, count);
        QCOMPARE(shown.fans, fans);
    }

    void photoAddress_data()
    {
        QTest::addColumn<QString>("element");
        QTest::addColumn<QString>("photo");
        QTest::newRow("usual") << "<img src=\"http://i/p.jpg\" width=\"90\" />" << "http://i/p.jpg";
        QTest::newRow("blank before />") << "<img src=\"http://i/p.jpg\" />" << "http://i/p.jpg";
        QTest::newRow("no blank before />") << "<img src=\"http://i/p.jpg\"/>" << "";
        QTest::newRow("blank inside the address") << "<img src=\"http://i/my p.jpg\" />" << "http://i/my";
        QTest::newRow("no quotes") << "<img src=http://i/p.jpg />" << "";
        QTest::newRow("empty source") << "<img src=\"\" />" << "";
        QTest::newRow("leading blank in the quotes") << "<img src=\" http://i/p.jpg\" />" << "";
    }
    void photoAddress()
    {
        QFETCH(QString, element);
        QFETCH(QString, photo);
        SongPageFields fields;
        fields.photoElement = element;
        Lookup lookup;
        lookup.page("a", songPage(fields));
        lookup.run(address("a"));
        QCOMPARE(lookup.panel.shown.photoUrl, photo);
        QCOMPARE(lookup.panel.calls.last(),
                 photo.isEmpty() ? QStringLiteral("default picture") : QStringLiteral("photo ") + photo);
    }

    void audioAddressAndWorkId_data()
    {
        QTest::addColumn<QString>("audio");
        QTest::addColumn<QString>("music");
        QTest::addColumn<QString>("workId");
        QTest::newRow("usual") << "http://a7.h/userdata/userwork/345/12345.mp3"
                               << "http://a7.h/userdata/userwork/345/12345.mp3" << "12345";
        QTest::newRow("blanks at the ends") << "  http://a7.h/u/w/345/12345.mp3 "
                                            << "http://a7.h/u/w/345/12345.mp3" << "12345";
        QTest::newRow("two dots") << "http://a7.h/u/w/345/12.34.mp3" << "http://a7.h/u/w/345/12.34.mp3" << "12";
        QTest::newRow("no dot in field 7") << "http://a7.h/u/w/345/12345" << "http://a7.h/u/w/345/12345" << "";
        QTest::newRow("field 7 not the last") << "http://a7.h/u/w/345/1.mp3/x" << "http://a7.h/u/w/345/1.mp3/x"
                                              << "1";
        QTest::newRow("too few fields") << "http://a7.h/u/345.mp3" << "http://a7.h/u/345.mp3" << "old";
        QTest::newRow("empty") << "" << "" << "old";
    }
    void audioAddressAndWorkId()
    {
        QFETCH(QString, audio);
        QFETCH(QString, music);
        QFETCH(QString, workId);
        SongPageFields fields;
        fields.audio = audio;
        Lookup lookup;
        lookup.state.WorkId = QStringLiteral("old.x"); // as the works table may leave it
        lookup.page("a", songPage(fields));
        lookup.run(address("a"));
        QCOMPARE(lookup.state.MusicUrl, music);
        QCOMPARE(lookup.state.WorkId, workId);
    }

    // The id is cut at its dot whatever it holds, also when the address had
    // no seventh field: an id without a dot, as the works table writes it,
    // comes out empty.
    void workIdWithoutFieldAndWithoutDot()
    {
        SongPageFields fields;
        fields.audio = QStringLiteral("http://short/a.mp3");
        Lookup lookup;
        lookup.state.WorkId = QStringLiteral("777");
        lookup.page("a", songPage(fields));
        lookup.run(address("a"));
        QCOMPARE(lookup.state.WorkId, QString());
    }

    void headerPicture_data()
    {
        QTest::addColumn<QString>("background");
        QTest::addColumn<QString>("large");
        QTest::newRow("once") << "http://i/head_100.jpg" << "http://i/head_640.jpg";
        QTest::newRow("several") << "http://i100/100x100/a100.jpg" << "http://i640/640x640/a640.jpg";
        QTest::newRow("1000") << "http://i/1000.jpg" << "http://i/6400.jpg";
        QTest::newRow("left to right, no overlap") << "http://i/10100.jpg" << "http://i/10640.jpg";
        QTest::newRow("none") << "http://i/head.jpg" << "http://i/head.jpg";
        QTest::newRow("blanks kept") << " http://i/h.jpg " << " http://i/h.jpg ";
    }
    void headerPicture()
    {
        QFETCH(QString, background);
        QFETCH(QString, large);
        SongPageFields fields;
        fields.headBg = background;
        Lookup lookup;
        lookup.page("a", songPage(fields));
        lookup.run(address("a"));
        QCOMPARE(lookup.state.HeadBgUrl, background);
        QCOMPARE(lookup.state.HeadPicUrl, large);
    }

    // A music video shows the header picture and the badge; an ordinary
    // recording hides the badge; a page without a photo empties MvUrl and
    // leaves the badge alone.
    void musicVideoBadgeAcrossLookups()
    {
        SongPageFields video;
        video.photoElement = photoElement("http://www.kelvaro.test/player.js?wid=1&amp;auto=1");
        SongPageFields ordinary;
        SongPageFields noPhoto;
        noPhoto.photoElement = QStringLiteral("<img src=\"\" />");
        Lookup lookup;
        lookup.page("video", songPage(video));
        lookup.page("ordinary", songPage(ordinary));
        lookup.page("nophoto", songPage(noPhoto));

        lookup.run(address("video"));
        QCOMPARE(lookup.panel.calls.mid(1), QStringList({"head picture http://img.kelvaro.test/head_640.jpg",
                                                         "place badge", "show badge"}));
        QCOMPARE(lookup.state.MvUrl, QStringLiteral("http://www.kelvaro.test/player.js?wid=1&auto=1"));

        lookup.panel.calls.clear();
        lookup.run(address("ordinary"));
        QCOMPARE(lookup.panel.calls.mid(1),
                 QStringList({"hide badge", "photo http://img.kelvaro.test/photo_100.jpg"}));
        QCOMPARE(lookup.state.MvUrl, QString());

        lookup.run(address("video"));
        lookup.panel.calls.clear();
        lookup.run(address("nophoto"));
        QCOMPARE(lookup.panel.calls.mid(1), QStringList({"default picture"}));
        QCOMPARE(lookup.state.MvUrl, QString());
    }

    // A second page without the markers keeps the first page's pieces, and
    // everything cut from them.
    void piecesCarryOverWhenMarkersAreMissing()
    {
        SongPageFields first;
        first.photoElement = photoElement("http://i/player.swf?a=1&amp;b=2");
        Lookup lookup;
        lookup.page("first", songPage(first));
        lookup.page("second", QStringLiteral("<html><title>Other - Bob Kelvaro - x</title><p>no markers</p></html>"));
        lookup.run(address("first"));
        const SongDetails firstShown = lookup.panel.shown;
        const SongState firstState = lookup.state;

        lookup.panel.calls.clear();
        lookup.run(address("second"));
        const SongDetails &shown = lookup.panel.shown;
        QCOMPARE(shown.songName, QStringLiteral("Other"));
        QCOMPARE(lookup.state.UserName, QStringLiteral("Bob"));
        QCOMPARE(shown.fans, firstShown.fans);
        QCOMPARE(shown.otherInfo, firstShown.otherInfo);
        QCOMPARE(shown.playCount, firstShown.playCount);
        QCOMPARE(shown.giftCount, firstShown.giftCount);
        QCOMPARE(shown.forwardCount, firstShown.forwardCount);
        QCOMPARE(shown.commentCount, firstShown.commentCount);
        QCOMPARE(shown.photoUrl, firstShown.photoUrl);
        QCOMPARE(lookup.state.MusicUrl, firstState.MusicUrl);
        QCOMPARE(lookup.state.WorkId, QStringLiteral("12345"));
        QCOMPARE(lookup.state.HeadPicUrl, firstState.HeadPicUrl);
        // The photo is still the first page's player: the video path runs again.
        QCOMPARE(lookup.state.MvUrl, QStringLiteral("http://i/player.swf?a=1&b=2"));
        QCOMPARE(lookup.pieces.fansCut.toString(), QStringLiteral("有1234<"));
        QCOMPARE(lookup.pieces.audioCut.toString(), firstState.MusicUrl + "\"");
    }

    // The photo element is found but has no source: the source piece, and so
    // the photo, stay as the previous page left them.
    void photoElementWithoutSourceKeepsThePreviousPhoto()
    {
        SongPageFields second;
        second.photoElement = QStringLiteral("<img alt=\"none\" />");
        Lookup lookup;
        lookup.page("first", songPage({}));
        lookup.page("second", songPage(second));
        lookup.run(address("first"));
        lookup.run(address("second"));
        QCOMPARE(lookup.panel.shown.photoUrl, QStringLiteral("http://img.kelvaro.test/photo_100.jpg"));
        QCOMPARE(lookup.pieces.photosCut.toString(), QStringLiteral("<img alt=\"none\" /"));
    }

    void failedFetchReusesThePreviousPage()
    {
        Lookup lookup;
        lookup.run(address("missing")); // nothing held yet: ends quietly
        QVERIFY(lookup.panel.calls.isEmpty());
        QCOMPARE(lookup.site.fetched.size(), 1);

        SongPageFields video;
        video.photoElement = photoElement("http://i/player.js");
        lookup.page("a", songPage(video));
        lookup.run(address("a"));
        lookup.state.MvUrl = QStringLiteral("changed meanwhile");
        lookup.panel.calls.clear();
        lookup.run(address("missing")); // the previous page is extracted again
        QCOMPARE(lookup.panel.calls.first(), QStringLiteral("details Song"));
        QCOMPARE(lookup.state.MvUrl, QStringLiteral("http://i/player.js"));
        QCOMPARE(lookup.state.PageHtml, songPage(video));
    }

    // The empty text does become the page held, so a later failed fetch has
    // nothing to fall back on; nothing else changes.
    void emptyPageChangesNothing()
    {
        Lookup lookup;
        SongPageFields video;
        video.photoElement = photoElement("http://i/player.js");
        lookup.page("a", songPage(video));
        lookup.page("empty", QString());
        lookup.run(address("a"));
        const SongState before = lookup.state;
        lookup.panel.calls.clear();
        lookup.run(address("empty"));
        QVERIFY(lookup.panel.calls.isEmpty());
        QCOMPARE(lookup.state.PageHtml, QString());
        SongState expected = before;
        expected.PageHtml.clear();
        QVERIFY(sameState(lookup.state, expected));
        lookup.run(address("missing"));
        QVERIFY(lookup.panel.calls.isEmpty());
    }

    // A second lookup started while the first waits for its page runs to its
    // end; the first then extracts its own page. Pieces its page lacks come
    // from the inner lookup's page.
    void lookupNestedInTheFetch()
    {
        Lookup lookup;
        SongPageFields inner;
        inner.title = QStringLiteral("Inner - Ian Kelvaro - x");
        inner.play = QStringLiteral("111");
        lookup.page("inner", songPage(inner));
        lookup.page("outer", QStringLiteral("<title>Outer - Olga Kelvaro - x</title>"));
        lookup.site.whileFetching = [&lookup](const QString &url) {
            if (url == address("outer"))
                lookup.run(address("inner"));
        };
        lookup.run(address("outer"));
        QCOMPARE(lookup.panel.calls.filter("details"), QStringList({"details Inner", "details Outer"}));
        QCOMPARE(lookup.state.UserName, QStringLiteral("Olga"));
        QCOMPARE(lookup.panel.shown.playCount, QStringLiteral("111"));
        QCOMPARE(lookup.state.PageHtml, QStringLiteral("<title>Outer - Olga Kelvaro - x</title>"));
    }

    // A lookup run while the outer one loads its header picture: the outer one
    // then finishes with its own photo address.
    void lookupNestedInThePictureLoad()
    {
        Lookup lookup;
        SongPageFields video;
        video.photoElement = photoElement("http://i/player.js?v=outer");
        lookup.page("video", songPage(video));
        lookup.page("plain", songPage({}));
        bool nested = false;
        lookup.panel.whilePictureLoads = [&](PictureSource source, const QString &) {
            if (source == PictureSource::HeaderPicture && !nested) {
                nested = true;
                lookup.run(address("plain"));
            }
        };
        lookup.run(address("video"));
        QCOMPARE(lookup.panel.calls.mid(lookup.panel.calls.size() - 2), QStringList({"place badge", "show badge"}));
        QCOMPARE(lookup.state.MvUrl, QStringLiteral("http://i/player.js?v=outer"));
    }
};

KELVARO_TEST_MAIN(ExtractionTest)
#include "tst_extraction.moc"
