// The works listing in the main window with pages served from a table: the
// address checks, the crawl's three stages with their timers, the mended
// fetch failure, the double-click through the real parse action (a newer one
// replacing an older one included), clearing and pasting. Last, one crawl and double-click through
// the real page fetch against the local community.
#include "Catalogue.h"
#include "DemoSite.h"
#include "common/WorksPages.h"
#include "common/WorksWindow.h"
#include "common/TestEnvironment.h"
#include "common/SongPages.h"
#include "common/Waiting.h"
#include "gui/works/WorksRun.h"
#include "core/platform/Network.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QNetworkProxy>
#include <QScopeGuard>
#include <QtTest>

namespace {

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

void useProxy(quint16 port)
{
    QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), port));
}

const QString SingerAddress = QStringLiteral("http://www.kelvaro.com/u/80231547");

// Pages by address, answered on the next turn of the event loop; an action
// may run while one address "is being fetched", as the user may click while
// the real fetch is under way. The answer is read once that action is done.
struct ServedPages {
    QHash<QString, std::optional<QString>> answers; // absent: the fetch fails
    QHash<QString, std::function<void()>> whileFetching;
    QStringList asked;
    int delivered = 0;

    FetchHandle fetch(const QString &url, PageDone done)
    {
        asked.append(url);
        return FetchHandle(new LaterDelivery(whileFetching.take(url), [this, url, done = std::move(done)] {
            ++delivered;
            done(answers.value(url));
        }));
    }
};

QString recordingAddress(const QString &token)
{
    return recordingPagePrefix() + token;
}

// A recording page whose lookup shows `song` and derives the id `audioId`.
QString recordingPage(const QString &song, const QString &audioId)
{
    SongPageFields fields;
    fields.title = song + QStringLiteral(" - Alice Kelvaro - x");
    fields.photoElement.clear(); // the default picture: nothing to load
    fields.audio = QStringLiteral("http://a7.stream.kelvaro.com/userdata/userwork/345/") + audioId + ".mp3";
    return songPage(fields);
}

} // namespace

class WorksTableTest : public QObject {
    Q_OBJECT

    ServedPages m_pages;
    std::unique_ptr<WorksWindow> m_window;

    // A whole crawl of `page`, up to the row-building tick.
    void crawl(const QString &page)
    {
        m_pages.answers[SingerAddress] = page;
        m_window->form.Text2->setText(SingerAddress);
        QTest::mouseClick(m_window->form.Command10, Qt::LeftButton);
        QTRY_COMPARE(m_window->form.status(), WorksCrawlTexts::Done);
    }
    bool timersOff() const { return !m_window->form.Timer3->isActive() && !m_window->form.Timer4->isActive(); }

private slots:
    void initTestCase()
    {
        // Nothing here should reach the network; should it try, it meets a
        // closed port on this machine.
        networkManager();
        useProxy(9);
    }

    void init()
    {
        m_pages = ServedPages{};
        m_window = std::make_unique<WorksWindow>(
            [this](const QString &url, PageDone done) { return m_pages.fetch(url, std::move(done)); });
        QVERIFY(QTest::qWaitForWindowExposed(&m_window->form));
    }

    void cleanup() { m_window.reset(); }

    // One marker: no row, and the report timer is off before it could fire.
    void crawlFillsTheTable_data()
    {
        QTest::addColumn<int>("works");
        QTest::newRow("three works, two rows") << 3;
        QTest::newRow("one work, no row") << 1;
    }
    void crawlFillsTheTable()
    {
        QFETCH(int, works);
        Form1 &f = m_window->form;
        QSignalSpy reports(f.Timer4, &QTimer::timeout);
        crawl(singerPage(ordinaryRows(2))); // a row of an earlier crawl
        m_pages.answers[SingerAddress] = singerPage(ordinaryRows(works));
        QStringList whileFetching;
        // Clearing while the page is fetched empties the table at once; what
        // is put in meanwhile goes when the page is there.
        m_pages.whileFetching[SingerAddress] = [&] {
            whileFetching = {f.status(), QString::number(m_window->rowCount()),
                             QString::number(f.Command10->isEnabled() || f.Text2->isEnabled())};
            QTest::mouseClick(f.Command12, Qt::LeftButton);
            whileFetching.append(QString::number(m_window->rowCount()));
            f.ListView1->addTopLevelItem(new QTreeWidgetItem(QStringList{QStringLiteral("x")}));
        };
        const int deliveredBefore = m_pages.delivered;
        QTest::mouseClick(f.Command10, Qt::LeftButton);
        QTRY_COMPARE(m_pages.delivered, deliveredBefore + 1);
        QCOMPARE(whileFetching, (QStringList{WorksCrawlTexts::Fetching, "1", "0", "0"}));
        // Scanned: the table is empty until the rows' tick, both timers run.
        QCOMPARE(m_window->rowCount(), 0);
        QVERIFY(f.Timer3->isActive() && f.Timer4->isActive());
        QCOMPARE(int(m_window->works.crawlState().Hits[0]), works);

        QTRY_COMPARE(f.status(), WorksCrawlTexts::Done);
        QCOMPARE(m_window->rowCount(), works - 1);
        for (int i = 0; i < works - 1; ++i) {
            const QString id = QString::number(1000001 + i);
            QCOMPARE(m_window->rowTexts(i), (QStringList{QString::number(i + 1), id, "Song " + QString::number(i + 1),
                                                         ServicePrefix + id}));
        }
        QVERIFY(m_window->idle());
        QVERIFY(timersOff());
        QCOMPARE(reports.size(), 0);
        QVERIFY(m_window->dialogs.shown.isEmpty());
        QCOMPARE(m_pages.asked, QStringList(2, SingerAddress)); // one request per crawl
        // The service address column stays out of sight.
        QCOMPARE(f.ListView1->visualRect(f.ListView1->model()->index(0, 3)).width(), 0);
    }

    void noWorksIsReportedAfterTwoSeconds()
    {
        Form1 &f = m_window->form;
        QStringList whileShown;
        m_window->dialogs.whileShown = [&] {
            whileShown = {f.status(), QString::number(f.Command10->isEnabled() || f.Text2->isEnabled()),
                          QString::number(f.Timer4->isActive())};
        };
        m_pages.answers[SingerAddress] = singerPage({});
        f.Text2->setText(SingerAddress);
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(f.Command10, Qt::LeftButton);
        QTRY_COMPARE(m_pages.delivered, 1);
        QVERIFY(!f.Timer3->isActive() && f.Timer4->isActive());
        QTRY_COMPARE_WITH_TIMEOUT(m_window->dialogs.shown.size(), 1, 10000);
        QVERIFY(clock.elapsed() >= 1800);
        const ScriptedDialogs::Shown &box = m_window->dialogs.shown.first();
        QCOMPARE((QStringList{box.text, box.title}), (QStringList{WorksTable::NoWorksMessage, "Ulvaren系列软件"}));
        QVERIFY(box.icon == MessageIcon::Information && box.buttons == MessageButtons::Ok);
        // Controls come back once the box is closed; no second box from a further tick.
        QCOMPARE(whileShown, (QStringList{WorksCrawlTexts::NoWorks, "0", "0"}));
        QVERIFY(m_window->idle());
        QCOMPARE(f.status(), WorksCrawlTexts::NoWorks);
    }

    // A refused address, or a fetch that brings no page: no timer would end
    // the crawl, so the window goes back to idle at once and says why.
    void crawlEndsAtOnce_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("rowsAfter");
        const QString refused = StatusTexts::WrongAddress;
        QTest::newRow("empty") << QString() << WorksCrawlTexts::EnterAddress << 2;
        QTest::newRow("upper-case /U/") << "http://www.kelvaro.com/U/80231547" << refused << 2;
        QTest::newRow("no /u/") << "http://www.kelvaro.com/s/80231547" << refused << 2;
        QTest::newRow("no answer: the earlier rows stay") << SingerAddress + "1" << WorksCrawlTexts::FetchFailed << 2;
        QTest::newRow("empty page: the table is emptied") << SingerAddress << WorksCrawlTexts::FetchFailed << 0;
    }
    void crawlEndsAtOnce()
    {
        QFETCH(QString, address);
        QFETCH(QString, status);
        QFETCH(int, rowsAfter);
        crawl(singerPage(ordinaryRows(3)));
        m_pages.answers[SingerAddress] = QString();
        m_window->form.Text2->setText(address);
        QTest::mouseClick(m_window->form.Command10, Qt::LeftButton);
        QTRY_COMPARE(m_window->form.status(), status);
        QCOMPARE(m_pages.asked.size(), status == WorksCrawlTexts::FetchFailed ? 2 : 1);
        QVERIFY(m_window->idle());
        QCOMPARE(m_window->rowCount(), rowsAfter);
        QVERIFY(timersOff());
        QVERIFY(m_window->dialogs.shown.isEmpty());
    }

    void doubleClickLooksTheWorkUp_data()
    {
        QTest::addColumn<bool>("serviceAnswers");
        QTest::addColumn<QString>("text1");
        QTest::addColumn<QString>("songCaption");
        QTest::addColumn<QString>("status");
        // A lookup that finds its page with an audio address says it is done.
        QTest::newRow("a recording page") << true << recordingAddress("w2") << "演唱歌曲：Second"
                                          << "歌曲信息获取完毕..";
        // Seg(5) then still holds the last row's title, and the lookup fails.
        QTest::newRow("service unreachable") << false << "Song 3" << "演唱歌曲：未查询" << "地址错误,请您检查 ..";
    }
    void doubleClickLooksTheWorkUp()
    {
        QFETCH(bool, serviceAnswers);
        QFETCH(QString, text1);
        QFETCH(QString, songCaption);
        QFETCH(QString, status);
        Form1 &f = m_window->form;
        crawl(singerPage(ordinaryRows(4)));
        const QString service = m_window->rowTexts(1)[3];
        if (serviceAnswers)
            m_pages.answers[service] = recordingAddress("w2");
        m_pages.answers[recordingAddress("w2")] = recordingPage(QStringLiteral("Second"), QStringLiteral("99999"));
        m_window->playSomething();

        m_window->doubleClickRow(1);
        QTRY_COMPARE(m_window->media.commands, QStringList{QStringLiteral("close all")});
        QCOMPARE(m_pages.asked.mid(1, 1), QStringList{service});
        QCOMPARE(f.Text1->text(), text1);
        QCOMPARE(f.Label2->text(), songCaption);
        QCOMPARE(f.status(), status);
        QCOMPARE(m_window->song.WorkId, QStringLiteral("1000002")); // the row's, not the audio address's 99999
        QCOMPARE(f.Command7->text(), QStringLiteral("在线播放"));
        QVERIFY(!m_window->play.playing());
        QCOMPARE(m_window->media.commands, QStringList{QStringLiteral("close all")});
    }

    void doubleClickOnAnEmptyTableAfterStartUp()
    {
        m_window->song.WorkId = QStringLiteral("kept");
        m_window->form.Text1->setText(QStringLiteral("typed"));
        QTest::mouseDClick(m_window->form.ListView1->viewport(), Qt::LeftButton, {}, QPoint(40, 40));
        QCOMPARE(m_window->form.Text1->text(), QString());
        QCOMPARE(m_window->form.status(), QStringLiteral("请输入Kelvaro网页地址 "));
        QVERIFY(m_pages.asked.isEmpty());
        QCOMPARE(m_window->song.WorkId, QStringLiteral("kept"));
        QCOMPARE(m_window->media.commands, QStringList{QStringLiteral("close all")});
    }

    // A second double-click while the first one waits for the service
    // replaces it: the newer one runs to its end, and nothing of the older
    // one follows (no lookup, no row id, no second stop), also when the rows
    // are gone by then.
    void newerDoubleClickWins_data()
    {
        QTest::addColumn<bool>("clearBeforeInner");
        QTest::newRow("rows kept") << false;
        QTest::newRow("rows cleared meanwhile") << true;
    }
    void newerDoubleClickWins()
    {
        QFETCH(bool, clearBeforeInner);
        Form1 &f = m_window->form;
        crawl(singerPage(ordinaryRows(4)));
        const QString outerService = m_window->rowTexts(0)[3];
        m_pages.answers[outerService] = recordingAddress("outer");
        m_pages.answers[m_window->rowTexts(2)[3]] = recordingAddress("inner");
        m_pages.answers[recordingAddress("outer")] = recordingPage(QStringLiteral("Outer"), QStringLiteral("111"));
        m_pages.answers[recordingAddress("inner")] = recordingPage(QStringLiteral("Inner"), QStringLiteral("333"));

        m_pages.whileFetching[outerService] = [&] {
            if (clearBeforeInner) {
                QTest::mouseClick(f.Command12, Qt::LeftButton);
                // Nothing is selected now: Text1 gets Seg(5) as it was.
                QTest::mouseDClick(f.ListView1->viewport(), Qt::LeftButton, {}, QPoint(40, 40));
            } else {
                m_window->doubleClickRow(2);
            }
        };
        m_window->doubleClickRow(0);
        QTRY_COMPARE(m_window->media.commands, QStringList{QStringLiteral("close all")});
        QTRY_VERIFY(!m_window->lookup.busy());
        QTest::qWait(20);

        const QStringList after{f.Text1->text(), f.Label2->text(), m_window->song.WorkId};
        if (clearBeforeInner)
            QCOMPARE(after, (QStringList{"Song 3", "演唱歌曲：未查询", ""}));
        else
            QCOMPARE(after, (QStringList{recordingAddress("inner"), "演唱歌曲：Inner", "1000003"}));
        QVERIFY(!m_pages.asked.contains(recordingAddress("outer")));
        QCOMPARE(m_window->media.commands, QStringList{QStringLiteral("close all")});
        QCOMPARE(m_window->rowCount(), clearBeforeInner ? 0 : 3);
    }

    // Works played in a row go on from row to row as each lookup ends; a
    // double-click of the user's while the run looks a row up takes over:
    // the run ends and the user's row is looked up, nothing is played.
    void worksInARowYieldToADoubleClick()
    {
        Form1 &f = m_window->form;
        crawl(singerPage(ordinaryRows(4)));
        for (int row = 0; row < 3; ++row) {
            const QString token = QStringLiteral("w%1").arg(row);
            m_pages.answers[m_window->rowTexts(row)[3]] = recordingAddress(token);
            m_pages.answers[recordingAddress(token)] =
                recordingPage(QStringLiteral("Song%1").arg(row), QStringLiteral("9%1").arg(row));
        }
        WorksRun run(m_window->works, f.ListView1, m_window->play, m_window->song, [&f](const QString &text) {
            f.setStatus(text);
        });
        run.start(0);
        QTRY_COMPARE(run.currentRow(), 0);
        QVERIFY(m_window->play.playing());
        QCOMPARE(f.Label2->text(), QStringLiteral("演唱歌曲：Song0"));

        m_pages.whileFetching[m_window->rowTexts(1)[3]] = [&] { m_window->doubleClickRow(2); };
        m_window->media.end(PlaybackEnd::Finished); // the run moves on to row 1
        QTRY_VERIFY(!run.active());
        QTRY_COMPARE(f.Label2->text(), QStringLiteral("演唱歌曲：Song2"));
        QTRY_VERIFY(!m_window->lookup.busy());
        QCOMPARE(m_window->song.WorkId, QStringLiteral("1000003"));
        QVERIFY(!m_window->play.playing());
        QVERIFY(!m_pages.asked.contains(recordingAddress("w1")));
    }

    // The paste button fills the field even while a crawl has it disabled.
    void pasteIntoTheDisabledField()
    {
        const QString text = QStringLiteral(" http://www.kelvaro.com/u/80231547 歌手");
        QGuiApplication::clipboard()->setText(text);
        m_window->form.Text2->setText(QStringLiteral("old"));
        m_window->form.Text2->setEnabled(false);
        QTest::mouseClick(m_window->form.Command11, Qt::LeftButton);
        QCOMPARE(m_window->form.Text2->text(), text);
        QVERIFY(!m_window->form.Text2->isEnabled());
        QVERIFY(m_pages.asked.isEmpty());
    }

    // The music video row of the first singer: the service answers its page
    // address, and the lookup fills the panel from that page.
    void demoSiteCrawlAndDoubleClick()
    {
        demo::DemoSite site;
        QVERIFY(site.start(0));
        useProxy(quint16(site.port()));
        const auto backToTheClosedPort = qScopeGuard([] { useProxy(9); });
        WorksWindow window;
        QVERIFY(QTest::qWaitForWindowExposed(&window.form));
        const demo::Singer *singer = demo::findSinger(demo::ManyWorksSinger);
        const std::vector<const demo::Work *> works = demo::worksOf(singer->uid);
        window.form.Text2->setText(qs(demo::homeAddress(*singer)));
        QTest::mouseClick(window.form.Command10, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(window.form.status(), WorksCrawlTexts::Done, 15000);
        QCOMPARE(window.rowCount(), int(works.size()) - 1);
        int videoRow = -1;
        for (int i = 0; i < window.rowCount(); ++i) {
            const demo::Work &work = *works[std::size_t(i)];
            QCOMPARE(window.rowTexts(i), (QStringList{QString::number(i + 1), qs(work.id), qs(work.title),
                                                      qs(demo::playServiceAddress(work.id))}));
            if (&work == &demo::firstWork(demo::PageLayout::MusicVideo))
                videoRow = i;
        }
        QVERIFY(videoRow >= 0);
        const demo::Work &video = *works[std::size_t(videoRow)];
        window.playSomething();

        window.doubleClickRow(videoRow);
        QTRY_COMPARE_WITH_TIMEOUT(window.media.commands, QStringList{QStringLiteral("close all")}, 10000);
        QCOMPARE(window.form.Text1->text(), qs(demo::pageAddress(video)));
        QCOMPARE(window.form.Label2->text(), QStringLiteral("演唱歌曲：") + qs(video.title));
        QCOMPARE(window.song.MusicUrl, qs(demo::audioAddress(video)));
        QCOMPARE(window.song.MvUrl, qs(demo::playerScriptAddress(video)));
        QCOMPARE(window.song.WorkId, qs(video.id));
        QCOMPARE(window.form.Command7->text(), QStringLiteral("在线播放"));
        QVERIFY(!window.play.playing());
        QCOMPARE(window.media.commands, QStringList{QStringLiteral("close all")});
    }
};

KELVARO_TEST_MAIN(WorksTableTest)
#include "tst_workstable.moc"
