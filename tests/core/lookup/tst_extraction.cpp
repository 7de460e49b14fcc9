// The parse action without widgets: address checks, the extraction rules on
// the page forms the community writes (and the odd ones it may), and that
// nothing carries over from one page to the next.
// Everything else is held against the literal rules in the differential test.
#include "common/RecordingPanel.h"
#include "common/SongPages.h"
#include "common/TestEnvironment.h"
#include "core/lookup/SongExtraction.h"

#include <QPointer>
#include <QtTest>
#include <map>

namespace {

QString address(const QString &name)
{
    return recordingPagePrefix() + name;
}

// One window's lookups against pages by address; an address without a page
// fails to fetch. The pages of the addresses in `held` come only when
// release() hands them over.
struct Lookup {
    SongState state;
    RecordingSongPanel panel;
    std::map<QString, QString> pages;
    QStringList held;
    QList<QPointer<HeldDelivery>> heldPages;
    QStringList fetched;
    SongLookups lookups{state, panel, [this](const QString &wanted, PageDone done) {
        fetched << wanted;
        const auto found = pages.find(wanted);
        const std::optional<QString> page = found == pages.end() ? std::nullopt : std::optional<QString>(found->second);
        const auto deliver = [done = std::move(done), page] { done(page); };
        if (!held.contains(wanted))
            return FetchHandle(new LaterDelivery({}, deliver));
        auto *waiting = new HeldDelivery(deliver);
        heldPages.append(waiting);
        return FetchHandle(waiting);
    }};

    // Starts the lookup of `url`; `ended` comes true once it has ended.
    // False when it was refused at once.
    bool start(const QString &url, bool *ended = nullptr)
    {
        return lookups.start(url, [ended](LookupOutcome) {
            if (ended)
                *ended = true;
        });
    }
    // Looks `url` up and waits until no lookup is in flight any more.
    void run(const QString &url) { lookUpAndWait(lookups, url); }
    void run(const QString &name, const QString &html)
    {
        pages[address(name)] = html;
        run(address(name));
    }
    void release()
    {
        for (const QPointer<HeldDelivery> &page : std::exchange(heldPages, {}))
            HeldDelivery::deliver(page);
    }
};

} // namespace

class ExtractionTest : public QObject {
    Q_OBJECT

private slots:
    // A refused address is not fetched and changes nothing but the status;
    // an accepted one goes to the fetch exactly as typed.
    void addresses_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("status"); // empty: accepted
        QTest::newRow("empty") << "" << "请输入Kelvaro网页地址 ";
        QTest::newRow("secure scheme") << "https://www.kelvaro.com/s/abc" << "地址错误,请您检查 ..";
        QTest::newRow("host in capitals") << "http://WWW.KELVARO.COM/s/abc" << "地址错误,请您检查 ..";
        QTest::newRow("singer page") << "http://www.kelvaro.com/u/abc" << "地址错误,请您检查 ..";
        QTest::newRow("leading blank") << " " + address("abc") << "";
        QTest::newRow("text around it") << "see " + address("abc") + "?x=1 please" << "";
    }
    void addresses()
    {
        QFETCH(QString, url);
        QFETCH(QString, status);
        Lookup lookup;
        lookup.state = SongState{"old page", "old music", "old user", "old id", "old mv", "old bg", "old pic"};
        lookup.pages[url] = songPage({});
        lookup.run(url);
        if (status.isEmpty()) {
            QCOMPARE(lookup.fetched, QStringList{url});
            QCOMPARE(lookup.panel.calls, QStringList({"details Song", "status 歌曲信息获取完毕..", "hide badge",
                                                      "photo http://img.kelvaro.test/photo_100.jpg"}));
            QCOMPARE(lookup.state.UserName, QStringLiteral("Alice"));
        } else {
            QCOMPARE(lookup.panel.calls, QStringList{"status " + status});
            QVERIFY(lookup.fetched.isEmpty());
            QCOMPARE(lookup.state.PageHtml, QStringLiteral("old page"));
            QCOMPARE(lookup.state.UserName, QStringLiteral("old user"));
        }
    }

    // One lookup of one page: the fields the page writes differently from
    // the usual ("field=value"; "counts" sets all four counts, the other
    // information and the fans alike; "WorkId" is the id held before), and
    // what the lookup shows ("value=expected"; "counts" checks the four
    // counts and the other information).
    void onePage_data()
    {
        QTest::addColumn<QStringList>("page");
        QTest::addColumn<QStringList>("expected");
        const auto row = [](const char *name, const QStringList &page, const QStringList &expected) {
            QTest::newRow(name) << page << expected;
        };
        row("title: usual", {"title=Song - Alice Kelvaro - 全民K歌"},
            {"song=Song", "user=Alice", "status=歌曲信息获取完毕.."});
        row("title: no blank before Kelvaro", {"title=Song - AliceKelvaro - x"}, {"song=Song", "user=Alice"});
        row("title: every K of the name is lost", {"title=Song - Kim KaKelvaro - x"}, {"user=im a"});
        row("title: Kelvaro only after the second dash", {"title=Song - Alice - Kelvaro"}, {"user="});
        row("title: dash in the song name", {"title=Hip-Hop Kelvaro - x"}, {"song=Hip", "user=Hop"});
        row("title: blanks around", {"title=   Song   -   Alice Kelvaro   -"}, {"song=Song", "user=Alice"});
        row("counts: the fans word goes from the fans only", {"counts=有1234"}, {"counts=有1234", "fans=1234"});
        row("counts: blanks trimmed", {"counts=  12  "}, {"counts=12", "fans=12"});
        row("counts: inner markup loses its <", {"counts=<b>12</b>"}, {"counts=b>12/b>", "fans=b>12/b>"});
        row("counts: line breaks and tabs kept", {"counts=\n 12\t"}, {"counts=\n 12\t", "fans=\n 12\t"});
        row("counts: empty", {"counts="}, {"counts=", "fans="});
        row("photo: usual", {"photo=<img src=\"http://i/p.jpg\" width=\"90\" />"},
            {"photo=http://i/p.jpg", "picture=photo http://i/p.jpg"});
        row("photo: no blank before />, default picture", {"photo=<img src=\"http://i/p.jpg\"/>"},
            {"photo=", "picture=default picture"});
        row("photo: blank inside the address", {"photo=<img src=\"http://i/my p.jpg\" />"}, {"photo=http://i/my"});
        row("photo: no quotes", {"photo=<img src=http://i/p.jpg />"}, {"photo=", "picture=default picture"});
        row("photo: leading blank in the quotes", {"photo=<img src=\" http://i/p.jpg\" />"}, {"photo="});
        row("audio: the id is field 7 up to its dot", {"audio=http://a7.h/u/w/345/12.34.mp3/x", "WorkId=old.x"},
            {"music=http://a7.h/u/w/345/12.34.mp3/x", "id=12"});
        row("audio: blanks at the ends", {"audio=  http://a7.h/u/w/345/12345.mp3 "},
            {"music=http://a7.h/u/w/345/12345.mp3", "id=12345"});
        row("audio: too few fields, no id", {"audio=http://a7.h/u/345.mp3", "WorkId=old.x"},
            {"music=http://a7.h/u/345.mp3", "id=", "status=歌曲信息获取完毕.."});
        row("audio: too few fields, id without a dot", {"audio=http://short/a.mp3", "WorkId=777"}, {"id="});
        row("audio: empty, the work has no audio", {"audio=", "WorkId=old.x"},
            {"music=", "id=", "status=未找到音乐地址,作品可能已删除.."});
        row("header: every 100", {"headBg=http://i100/100x100/a100.jpg"},
            {"head=http://i100/100x100/a100.jpg", "large=http://i640/640x640/a640.jpg"});
        row("header: left to right, no overlap", {"headBg=http://i/1000100.jpg"}, {"large=http://i/6400640.jpg"});
        row("header: none", {"headBg=http://i/head.jpg"}, {"large=http://i/head.jpg"});
    }
    void onePage()
    {
        QFETCH(QStringList, page);
        QFETCH(QStringList, expected);
        SongPageFields f;
        Lookup lookup;
        const std::map<QString, QList<QString *>> fields{
            {"title", {&f.title}}, {"photo", {&f.photoElement}}, {"audio", {&f.audio}}, {"headBg", {&f.headBg}},
            {"WorkId", {&lookup.state.WorkId}}, // as the works table may leave it
            {"counts", {&f.play, &f.gift, &f.forward, &f.comment, &f.other, &f.fans}}};
        for (const QString &assignment : page)
            for (QString *field : fields.at(assignment.section('=', 0, 0)))
                *field = assignment.section('=', 1);
        lookup.run("a", songPage(f));

        const SongDetails &d = lookup.panel.shown;
        const SongState &s = lookup.state;
        QCOMPARE(lookup.panel.userName, s.UserName);
        const std::map<QString, QString> shown{
            {"song", d.songName}, {"user", s.UserName}, {"fans", d.fans}, {"photo", d.photoUrl},
            {"music", s.MusicUrl}, {"id", s.WorkId}, {"head", s.HeadBgUrl}, {"large", s.HeadPicUrl},
            {"status", lookup.panel.status},
            {"picture", lookup.panel.calls.last()},
            {"counts", QStringList({d.playCount, d.giftCount, d.forwardCount, d.commentCount, d.otherInfo})
                           .join(" | ")}};
        for (const QString &want : expected) {
            const QString name = want.section('=', 0, 0);
            QString value = want.section('=', 1);
            if (name == "counts")
                value = QStringList(5, value).join(" | ");
            QCOMPARE(name + '=' + shown.at(name), name + '=' + value);
        }
    }

    // A music video shows the header picture and the badge; an ordinary
    // recording hides the badge; a page without a photo empties MvUrl and
    // leaves the badge alone.
    void musicVideoBadgeAcrossLookups()
    {
        SongPageFields video;
        video.photoElement = photoElement("http://www.kelvaro.test/player.js?wid=1&amp;auto=1");
        SongPageFields noPhoto;
        noPhoto.photoElement = QStringLiteral("<img src=\"\" />");
        Lookup lookup;
        lookup.run("video", songPage(video));
        QCOMPARE(lookup.panel.calls.mid(2), QStringList({"head picture http://img.kelvaro.test/head_640.jpg",
                                                         "place badge", "show badge"}));
        QCOMPARE(lookup.state.MvUrl, QStringLiteral("http://www.kelvaro.test/player.js?wid=1&auto=1"));

        lookup.panel.calls.clear();
        lookup.run("ordinary", songPage({}));
        QCOMPARE(lookup.panel.calls.mid(2),
                 QStringList({"hide badge", "photo http://img.kelvaro.test/photo_100.jpg"}));
        QCOMPARE(lookup.state.MvUrl, QString());

        lookup.run(address("video"));
        lookup.panel.calls.clear();
        lookup.run("nophoto", songPage(noPhoto));
        QCOMPARE(lookup.panel.calls.mid(2), QStringList({"default picture"}));
        QCOMPARE(lookup.state.MvUrl, QString());
    }

    // Each marker missing from an otherwise complete page, after a complete
    // page of another song: what hangs on it is empty, never the first
    // song's value; everything else is this page's.
    void missingMarkerLeavesItsValueEmpty_data()
    {
        QTest::addColumn<QString>("marker");
        QTest::addColumn<QStringList>("empty"); // the values that must be empty
        QTest::newRow("title") << "<title>" << QStringList{"user", "song"};
        QTest::newRow("fans") << "pcsong_title\">" << QStringList{"fans"};
        QTest::newRow("other information") << "pcsong_title\" >" << QStringList{"other"};
        QTest::newRow("play count") << "pcsong_listen_icon fl\">" << QStringList{"play"};
        QTest::newRow("gift count") << "pcsong_gift_icon fl\">" << QStringList{"gift"};
        QTest::newRow("forward count") << "pcsong_forward_icon fl\">" << QStringList{"forward"};
        QTest::newRow("comment count") << "pcsong_comment_icon fl\">" << QStringList{"comment"};
        QTest::newRow("photos") << "pcsong_photos\">" << QStringList{"photo"};
        QTest::newRow("photo source") << "src=\"" << QStringList{"photo"};
        QTest::newRow("audio") << "mp3:\"" << QStringList{"music", "id"};
        QTest::newRow("header") << ".pcsong_head {background: url( \"" << QStringList{"head", "large"};
    }
    void missingMarkerLeavesItsValueEmpty()
    {
        QFETCH(QString, marker);
        QFETCH(QStringList, empty);
        SongPageFields first;
        first.photoElement = photoElement("http://i/player.swf?a=1&amp;b=2");
        SongPageFields second;
        second.title = QStringLiteral("Other - Bob Kelvaro - x");
        second.fans = QStringLiteral("有7");
        second.other = QStringLiteral("上传于 2016");
        second.play = QStringLiteral("1");
        second.gift = QStringLiteral("2");
        second.forward = QStringLiteral("3");
        second.comment = QStringLiteral("4");
        second.photoElement = photoElement("http://i/second.jpg");
        second.audio = QStringLiteral("http://a1.h/userdata/userwork/999/777.mp3");
        second.headBg = QStringLiteral("http://i/second_100.jpg");
        Lookup lookup;
        lookup.run("first", songPage(first));
        QString page = songPage(second);
        QVERIFY(page.contains(marker));
        lookup.run("second", page.remove(marker));

        const SongDetails &d = lookup.panel.shown;
        const SongState &s = lookup.state;
        const std::map<QString, std::pair<QString, QString>> values{ // name: (now, on a complete page)
            {"user", {s.UserName, "Bob"}},          {"song", {d.songName, "Other"}},
            {"fans", {d.fans, "7"}},                {"other", {d.otherInfo, second.other}},
            {"play", {d.playCount, "1"}},           {"gift", {d.giftCount, "2"}},
            {"forward", {d.forwardCount, "3"}},     {"comment", {d.commentCount, "4"}},
            {"photo", {d.photoUrl, "http://i/second.jpg"}},
            {"music", {s.MusicUrl, second.audio}},  {"id", {s.WorkId, "777"}},
            {"head", {s.HeadBgUrl, second.headBg}}, {"large", {s.HeadPicUrl, "http://i/second_640.jpg"}}};
        for (const auto &[name, value] : values)
            QCOMPARE(name + '=' + value.first, name + '=' + (empty.contains(name) ? QString() : value.second));
        QCOMPARE(lookup.panel.userName, s.UserName);
        QCOMPARE(s.SongName, d.songName);
        QCOMPARE(s.MvUrl, QString()); // the first page's player is gone with its photo
        QCOMPARE(lookup.panel.status, empty.contains("music") ? QStringLiteral("未找到音乐地址,作品可能已删除..")
                                                                : QStringLiteral("歌曲信息获取完毕.."));
    }

    // After a failed fetch or a refused address the status says so, and the
    // state and panel still describe the song shown; the next page clears
    // that status.
    void statusAfterEachLookup()
    {
        Lookup lookup;
        lookup.run("a", songPage({}));
        const SongState was = lookup.state;
        lookup.run(address("missing"));
        QCOMPARE(lookup.panel.status, QStringLiteral("抱歉!页面获取失败,请检查地址或稍后再试.."));
        QCOMPARE(lookup.state.MusicUrl, was.MusicUrl);
        QCOMPARE(lookup.state.WorkId, was.WorkId);
        lookup.run(QStringLiteral("http://www.kelvaro.com/u/x"));
        QCOMPARE(lookup.panel.status, QStringLiteral("地址错误,请您检查 .."));
        QCOMPARE(lookup.state.UserName, was.UserName);
        lookup.run(address("a"));
        QCOMPARE(lookup.panel.status, QStringLiteral("歌曲信息获取完毕.."));
    }

    // A lookup clicked while another one waits, and ended before the older
    // one's page or picture comes, wins: whatever the older one would write
    // after its wait is dropped. One that gets no page supersedes nothing:
    // the older one finishes as if alone, and so does one that is refused.
    void newerLookupWins_data()
    {
        QTest::addColumn<QString>("olderWaitsFor"); // "page" or "picture"
        QTest::addColumn<QString>("newer");         // "ordinary", "failing" or "refused"
        QTest::addColumn<QStringList>("olderCallsAfterWait");
        QTest::addColumn<QString>("songShown");
        QTest::addColumn<QString>("mvUrl");
        const QString video = QStringLiteral("http://www.kelvaro.test/player.js?wid=1");
        const QString head = QStringLiteral("head picture http://img.kelvaro.test/head_640.jpg");
        QTest::newRow("page, newer ordinary") << "page" << "ordinary" << QStringList() << "Newer" << "";
        QTest::newRow("page, newer fails") << "page" << "failing"
                                           << QStringList{"details Older", "status 歌曲信息获取完毕..", head, "place badge",
                                                          "show badge"}
                                           << "Older" << video;
        QTest::newRow("picture, newer ordinary") << "picture" << "ordinary" << QStringList{"picture dropped"}
                                                 << "Newer" << "";
        QTest::newRow("picture, newer fails") << "picture" << "failing" << QStringList{"place badge", "show badge"}
                                              << "Older" << video;
        QTest::newRow("page, newer refused") << "page" << "refused"
                                             << QStringList{"details Older", "status 歌曲信息获取完毕..", head,
                                                            "place badge", "show badge"}
                                             << "Older" << video;
        QTest::newRow("picture, newer refused") << "picture" << "refused" << QStringList{"place badge", "show badge"}
                                                << "Older" << video;
    }
    void newerLookupWins()
    {
        QFETCH(QString, olderWaitsFor);
        QFETCH(QString, newer);
        QFETCH(QStringList, olderCallsAfterWait);
        QFETCH(QString, songShown);
        QFETCH(QString, mvUrl);
        Lookup lookup;
        lookup.run("first", songPage({})); // what the panel showed before
        SongPageFields older;
        older.title = QStringLiteral("Older - Olga Kelvaro - x");
        older.photoElement = photoElement("http://www.kelvaro.test/player.js?wid=1");
        older.audio = QStringLiteral("http://a1.stream.kelvaro.test/userdata/userwork/111/10111.mp3");
        SongPageFields newerPage;
        newerPage.title = QStringLiteral("Newer - Nina Kelvaro - x");
        newerPage.audio = QStringLiteral("http://a2.stream.kelvaro.test/userdata/userwork/222/20222.mp3");
        lookup.pages[address("older")] = songPage(older);
        if (newer == "ordinary")
            lookup.pages[address("newer")] = songPage(newerPage);
        if (olderWaitsFor == "page")
            lookup.held << address("older");
        lookup.start(address("older"));
        if (olderWaitsFor == "page") {
            QTRY_COMPARE(lookup.heldPages.size(), 1);
        } else {
            lookup.panel.holdPictures = true; // only the older lookup's load is held
            QTRY_COMPARE(lookup.panel.heldPictures.size(), 1);
            lookup.panel.holdPictures = false;
        }
        bool newerEnded = false;
        if (newer == "refused")
            QVERIFY(!lookup.start(QStringLiteral("http://www.kelvaro.com/u/newer"), &newerEnded));
        else
            QVERIFY(lookup.start(address("newer"), &newerEnded));
        QTRY_VERIFY(newerEnded || newer == "refused");
        QCOMPARE(lookup.panel.status, newer == "ordinary"  ? QStringLiteral("歌曲信息获取完毕..")
                                      : newer == "failing" ? QStringLiteral("抱歉!页面获取失败,请检查地址或稍后再试..")
                                                           : QStringLiteral("地址错误,请您检查 .."));
        const QStringList callsBefore = lookup.panel.calls;
        lookup.release();
        lookup.panel.releasePictures();
        QTRY_VERIFY(!lookup.lookups.busy());

        QCOMPARE(lookup.panel.calls.mid(callsBefore.size()), olderCallsAfterWait);
        QCOMPARE(lookup.panel.shown.songName, songShown);
        QCOMPARE(lookup.state.MvUrl, mvUrl);
        QCOMPARE(lookup.state.MusicUrl, songShown == "Older" ? older.audio : newerPage.audio);
    }
};

KELVARO_TEST_MAIN(ExtractionTest)
#include "tst_extraction.moc"
