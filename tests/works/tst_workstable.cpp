// The works listing in the main window with pages served from a table: the
// address checks, the crawl's three stages with their timers, the mended
// fetch failure, the double-click through the real parse action (nested ones
// included), clearing and pasting.
#include "WorksPages.h"
#include "app/ColumnLock.h"
#include "app/Form1.h"
#include "common/Fakes.h"
#include "common/TestEnvironment.h"
#include "lookup/SongLookup.h"
#include "lookup/SongPages.h"
#include "platform/Network.h"
#include "works/WorksTable.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QNetworkProxy>
#include <QtTest>

namespace {

const QString SingerAddress = QStringLiteral("http://www.kelvaro.com/u/80231547");

// Pages by address, answered at once; an action may run while one address
// "is being fetched", as a handler delivered during the real wait would.
struct ServedPages {
    QHash<QString, std::optional<QString>> answers; // absent: the fetch fails
    QHash<QString, std::function<void()>> whileFetching;
    QStringList asked;

    std::optional<QString> fetch(const QString &url)
    {
        asked.append(url);
        if (const std::function<void()> action = whileFetching.take(url))
            action();
        return answers.value(url);
    }
};

// A recording page whose lookup shows `song` and derives the id `audioId`.
QString recordingPage(const QString &song, const QString &audioId)
{
    SongPageFields fields;
    fields.title = song + QStringLiteral(" - Alice Kelvaro - x");
    fields.photoElement.clear(); // the default picture: nothing to load
    fields.audio = QStringLiteral("http://a7.stream.kelvaro.com/userdata/userwork/345/") + audioId + ".mp3";
    return songPage(fields);
}

QString recordingAddress(const QString &token)
{
    return recordingPagePrefix() + token;
}

} // namespace

class WorksTableTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Form1> m_form;
    SongState m_song;
    ScriptedDialogs m_dialogs;
    RecordingMediaControl m_media;
    ServedPages m_pages;
    std::unique_ptr<SongLookup> m_lookup;
    std::unique_ptr<WorksTable> m_works;

    QStringList rowTexts(int row) const
    {
        const QTreeWidgetItem *item = m_form->ListView1->topLevelItem(row);
        return {item->text(0), item->text(1), item->text(2), item->text(3)};
    }
    int rowCount() const { return m_form->ListView1->topLevelItemCount(); }
    bool idle() const { return m_form->Command10->isEnabled() && m_form->Text2->isEnabled(); }

    // A whole crawl of `page`, up to the row-building tick.
    void crawl(const QString &page)
    {
        m_pages.answers[SingerAddress] = page;
        m_form->Text2->setText(SingerAddress);
        QTest::mouseClick(m_form->Command10, Qt::LeftButton);
        QTRY_COMPARE(m_form->status(), WorksTable::DoneStatus);
    }

    void doubleClickRow(int row)
    {
        QWidget *viewport = m_form->ListView1->viewport();
        const QPoint at = m_form->ListView1->visualItemRect(m_form->ListView1->topLevelItem(row)).center();
        QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
    }

private slots:
    void initTestCase()
    {
        // Nothing here should reach the network; should it try, it meets a
        // closed port on this machine.
        networkManager();
        QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), 9));
    }

    void init()
    {
        m_form = std::make_unique<Form1>();
        Form1 *f = m_form.get();
        m_song = SongState{};
        m_dialogs = ScriptedDialogs{};
        m_media.commands.clear();
        m_pages = ServedPages{};
        const PageFetch fetch = [this](const QString &url) { return m_pages.fetch(url); };
        const auto setStatus = [f](const QString &text) { f->setStatus(text); };
        m_lookup = std::make_unique<SongLookup>(
            SongLookup::Controls{f->Text1, f->aicAlphaImage3, f->Command13, f->Command9, f->Label1, f->Label4,
                                 f->Label10, f->Label2, f->Label5, f->Label6, f->Label7, f->Label9, f->Image1,
                                 f->Image2, f->aicAlphaImage2, setStatus},
            m_song, fetch);
        m_works = std::make_unique<WorksTable>(
            WorksTable::Controls{f, f->Text2, f->Command10, f->Command11, f->Command12, f->ListView1, f->Timer3,
                                 f->Timer4, f->Text1, f->Command7, setStatus},
            m_song, [lookup = m_lookup.get()] { lookup->aicAlphaImage3_Click(); }, m_media, m_dialogs, fetch);
        // What start-up and the version check do before the user comes.
        HookListView(f->ListView1);
        f->Text1->setEnabled(true);
        f->Text2->setEnabled(true);
        f->Command10->setEnabled(true);
        f->Command12->setEnabled(true);
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f));
    }

    void cleanup()
    {
        m_works.reset();
        m_lookup.reset();
        m_form.reset();
    }

    void addressRefused_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("status");
        QTest::newRow("empty") << QString() << WorksTable::EnterAddressStatus;
        QTest::newRow("upper-case /U/") << QStringLiteral("http://www.kelvaro.com/U/80231547")
                                        << WorksTable::WrongAddressStatus;
        QTest::newRow("host without /u/") << QStringLiteral("http://www.kelvaro.com/s/80231547")
                                          << WorksTable::WrongAddressStatus;
        QTest::newRow("/u/ on another host") << QStringLiteral("http://kelvaro.com/u/80231547")
                                             << WorksTable::WrongAddressStatus;
    }
    void addressRefused()
    {
        QFETCH(QString, address);
        QFETCH(QString, status);
        crawl(singerPage(ordinaryRows(3)));
        m_pages.asked.clear();
        m_form->Text2->setText(address);
        QTest::mouseClick(m_form->Command10, Qt::LeftButton);
        QCOMPARE(m_form->status(), status);
        QVERIFY(m_pages.asked.isEmpty());
        QCOMPARE(rowCount(), 2);
        QVERIFY(idle());
        QVERIFY(!m_form->Timer3->isActive() && !m_form->Timer4->isActive());
    }

    void crawlFillsTheTable_data()
    {
        QTest::addColumn<int>("works");
        QTest::newRow("ten works, nine rows") << 10;
        QTest::newRow("two works, one row") << 2;
    }
    void crawlFillsTheTable()
    {
        QFETCH(int, works);
        crawl(singerPage(ordinaryRows(2))); // rows of an earlier crawl
        const QString page = singerPage(ordinaryRows(works));
        m_pages.answers[SingerAddress] = page;
        QString statusWhileFetching;
        int rowsWhileFetching = -1;
        bool idleWhileFetching = true;
        m_pages.whileFetching[SingerAddress] = [&] {
            statusWhileFetching = m_form->status();
            rowsWhileFetching = rowCount();
            idleWhileFetching = m_form->Command10->isEnabled() || m_form->Text2->isEnabled();
        };
        m_form->Text2->setText(SingerAddress);
        QTest::mouseClick(m_form->Command10, Qt::LeftButton);
        QCOMPARE(statusWhileFetching, WorksTable::FetchingStatus);
        QCOMPARE(rowsWhileFetching, 1);
        QVERIFY(!idleWhileFetching);
        // Scanned: the table is empty until the rows' tick, both timers run.
        QCOMPARE(rowCount(), 0);
        QVERIFY(m_form->Timer3->isActive() && m_form->Timer4->isActive());
        QCOMPARE(m_works->crawlState().Seg[0], page);
        QCOMPARE(int(m_works->crawlState().Hits[0]), works);

        QTRY_COMPARE(m_form->status(), WorksTable::DoneStatus);
        QCOMPARE(rowCount(), works - 1);
        for (int i = 0; i < works - 1; ++i) {
            const QString id = QString::number(1000001 + i);
            QCOMPARE(rowTexts(i), (QStringList{QString::number(i + 1), id, QStringLiteral("Song %1").arg(i + 1),
                                               QStringLiteral("http://www.kelvaro.com/member/personcenter/"
                                                              "loadplayurl.php?wid=")
                                                   + id}));
        }
        QVERIFY(idle());
        QVERIFY(!m_form->Timer3->isActive() && !m_form->Timer4->isActive());
        QVERIFY(m_dialogs.shown.isEmpty());
        QCOMPARE(m_pages.asked, QStringList(2, SingerAddress)); // one request per crawl
        // The service address column stays out of sight.
        const QHeaderView *header = m_form->ListView1->header();
        QVERIFY(header->isSectionHidden(3) || header->sectionSize(3) == 0);
        QCOMPARE(m_form->ListView1->visualRect(m_form->ListView1->model()->index(0, 3)).width(), 0);
    }

    // One marker: no row, and the report timer is off before it could fire.
    void oneWorkGivesNoRow()
    {
        QSignalSpy reports(m_form->Timer4, &QTimer::timeout);
        crawl(singerPage(ordinaryRows(1)));
        QCOMPARE(rowCount(), 0);
        QVERIFY(idle());
        QVERIFY(!m_form->Timer4->isActive());
        QCOMPARE(reports.size(), 0);
        QVERIFY(m_dialogs.shown.isEmpty());
    }

    void noWorksIsReportedAfterTwoSeconds()
    {
        bool idleWhileShown = true;
        bool reportTimerWhileShown = true;
        QString statusWhileShown;
        m_dialogs.whileShown = [&] {
            idleWhileShown = m_form->Command10->isEnabled() || m_form->Text2->isEnabled();
            reportTimerWhileShown = m_form->Timer4->isActive();
            statusWhileShown = m_form->status();
        };
        m_pages.answers[SingerAddress] = singerPage({});
        m_form->Text2->setText(SingerAddress);
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(m_form->Command10, Qt::LeftButton);
        QVERIFY(!m_form->Timer3->isActive());
        QVERIFY(m_form->Timer4->isActive());
        QTRY_COMPARE_WITH_TIMEOUT(m_dialogs.shown.size(), 1, 10000);
        QVERIFY(clock.elapsed() >= 1800);
        const ScriptedDialogs::Shown &box = m_dialogs.shown.first();
        QCOMPARE(box.text, WorksTable::NoWorksMessage);
        QCOMPARE(box.title, QStringLiteral("Ulvaren系列软件"));
        QCOMPARE(box.icon, MessageIcon::Information);
        QCOMPARE(box.buttons, MessageButtons::Ok);
        QCOMPARE(statusWhileShown, WorksTable::NoWorksStatus);
        QVERIFY(!idleWhileShown);         // enabled once the box is closed
        QVERIFY(!reportTimerWhileShown);  // no second box from a further tick
        QVERIFY(idle());
        QCOMPARE(m_form->status(), WorksTable::NoWorksStatus);
        QCOMPARE(rowCount(), 0);
    }

    // Without a page no timer would end the crawl: the window goes back to
    // idle at once and says so.
    void fetchFailureEndsTheCrawl_data()
    {
        QTest::addColumn<bool>("answered");
        QTest::addColumn<int>("rowsAfter");
        QTest::newRow("no answer: the earlier rows stay") << false << 2;
        QTest::newRow("empty page: the table is emptied") << true << 0;
    }
    void fetchFailureEndsTheCrawl()
    {
        QFETCH(bool, answered);
        QFETCH(int, rowsAfter);
        crawl(singerPage(ordinaryRows(3)));
        m_pages.answers[SingerAddress] = answered ? std::optional<QString>(QString()) : std::nullopt;
        QTest::mouseClick(m_form->Command10, Qt::LeftButton);
        QCOMPARE(m_form->status(), WorksTable::FetchFailedStatus);
        QVERIFY(idle());
        QCOMPARE(rowCount(), rowsAfter);
        QCOMPARE(int(m_works->crawlState().Hits[0]), answered ? 0 : 3);
        QVERIFY(!m_form->Timer3->isActive() && !m_form->Timer4->isActive());
        QVERIFY(m_dialogs.shown.isEmpty());
    }

    void doubleClickLooksTheWorkUp_data()
    {
        QTest::addColumn<bool>("serviceAnswers");
        QTest::addColumn<QString>("serviceAnswer");
        QTest::addColumn<bool>("pageServed");
        QTest::addColumn<QString>("text1");
        QTest::addColumn<QString>("songCaption");
        QTest::addColumn<QString>("status");
        const QString page = recordingAddress("w2");
        const QString unchanged = WorksTable::DoneStatus; // a lookup that finds its page writes no status
        QTest::newRow("a recording page") << true << page << true << page << "演唱歌曲：Second" << unchanged;
        QTest::newRow("recording page unreachable") << true << page << false << page << "演唱歌曲：未查询" << unchanged;
        QTest::newRow("answer is no page address") << true << "<html>gone</html>" << false << "<html>gone</html>"
                                                   << "演唱歌曲：未查询" << "地址错误,请您检查 ..";
        // Seg(5) then still holds the last row's title.
        QTest::newRow("service unreachable") << false << QString() << false << "Song 3" << "演唱歌曲：未查询"
                                             << "地址错误,请您检查 ..";
    }
    void doubleClickLooksTheWorkUp()
    {
        QFETCH(bool, serviceAnswers);
        QFETCH(QString, serviceAnswer);
        QFETCH(bool, pageServed);
        QFETCH(QString, text1);
        QFETCH(QString, songCaption);
        QFETCH(QString, status);
        crawl(singerPage(ordinaryRows(4)));
        const QString service = rowTexts(1)[3];
        if (serviceAnswers)
            m_pages.answers[service] = serviceAnswer;
        if (pageServed)
            m_pages.answers[recordingAddress("w2")] = recordingPage(QStringLiteral("Second"), QStringLiteral("99999"));
        m_form->Command7->setText(QStringLiteral("停止播放"));

        doubleClickRow(1);
        QCOMPARE(m_pages.asked.mid(1, 1), QStringList{service});
        QCOMPARE(m_form->Text1->text(), text1);
        QCOMPARE(m_form->Label2->text(), songCaption);
        QCOMPARE(m_form->status(), status);
        QCOMPARE(m_song.WorkId, QStringLiteral("1000002")); // the row's, not the audio address's 99999
        QCOMPARE(m_form->Command7->text(), QStringLiteral("在线播放"));
        QCOMPARE(m_media.commands, QStringList{QStringLiteral("close all")});
        QCOMPARE(m_works->crawlState().Seg[5], text1);
    }

    void doubleClickOnAnEmptyTableAfterStartUp()
    {
        m_song.WorkId = QStringLiteral("kept");
        m_form->Text1->setText(QStringLiteral("typed"));
        QTest::mouseDClick(m_form->ListView1->viewport(), Qt::LeftButton, {}, QPoint(40, 40));
        QCOMPARE(m_form->Text1->text(), QString());
        QCOMPARE(m_form->status(), QStringLiteral("请输入Kelvaro网页地址 "));
        QVERIFY(m_pages.asked.isEmpty());
        QCOMPARE(m_song.WorkId, QStringLiteral("kept"));
        QCOMPARE(m_form->Command7->text(), QStringLiteral("在线播放"));
        QCOMPARE(m_media.commands, QStringList{QStringLiteral("close all")});
    }

    // A second double-click while the first one waits for the service: the
    // inner one runs to its end, then the outer one finishes with its own
    // row, also when the rows are gone by then.
    void nestedDoubleClick_data()
    {
        QTest::addColumn<bool>("clearBeforeInner");
        QTest::newRow("rows kept") << false;
        QTest::newRow("rows cleared meanwhile") << true;
    }
    void nestedDoubleClick()
    {
        QFETCH(bool, clearBeforeInner);
        crawl(singerPage(ordinaryRows(4)));
        const QString outerService = rowTexts(0)[3];
        const QString innerService = rowTexts(2)[3];
        m_pages.answers[outerService] = recordingAddress("outer");
        m_pages.answers[innerService] = recordingAddress("inner");
        m_pages.answers[recordingAddress("outer")] = recordingPage(QStringLiteral("Outer"), QStringLiteral("111"));
        m_pages.answers[recordingAddress("inner")] = recordingPage(QStringLiteral("Inner"), QStringLiteral("333"));

        QStringList afterInner;
        m_pages.whileFetching[outerService] = [&] {
            if (clearBeforeInner) {
                QTest::mouseClick(m_form->Command12, Qt::LeftButton);
                // Nothing is selected now: Text1 gets Seg(5) as it was.
                QTest::mouseDClick(m_form->ListView1->viewport(), Qt::LeftButton, {}, QPoint(40, 40));
            } else {
                doubleClickRow(2);
            }
            afterInner = {m_form->Text1->text(), m_form->Label2->text(), m_song.WorkId};
        };
        doubleClickRow(0);

        if (clearBeforeInner)
            QCOMPARE(afterInner, (QStringList{"Song 3", "演唱歌曲：未查询", ""}));
        else
            QCOMPARE(afterInner, (QStringList{recordingAddress("inner"), "演唱歌曲：Inner", "1000003"}));
        QCOMPARE(m_form->Text1->text(), recordingAddress("outer"));
        QCOMPARE(m_form->Label2->text(), QStringLiteral("演唱歌曲：Outer"));
        QCOMPARE(m_song.WorkId, QStringLiteral("1000001"));
        QCOMPARE(m_media.commands, QStringList(2, QStringLiteral("close all")));
        QCOMPARE(rowCount(), clearBeforeInner ? 0 : 3);
    }

    void clear_data()
    {
        QTest::addColumn<bool>("crawlFirst");
        QTest::newRow("empty table") << false;
        QTest::newRow("after a crawl") << true;
    }
    void clear()
    {
        QFETCH(bool, crawlFirst);
        if (crawlFirst)
            crawl(singerPage(ordinaryRows(3)));
        const WorksCrawlState before = m_works->crawlState();
        const QString status = m_form->status();
        m_form->Text2->setText(QStringLiteral("typed"));
        QTest::mouseClick(m_form->Command12, Qt::LeftButton);
        QCOMPARE(rowCount(), 0);
        QVERIFY(m_works->crawlState().Seg == before.Seg);
        QVERIFY(m_works->crawlState().Hits == before.Hits);
        QCOMPARE(m_form->status(), status);
        QCOMPARE(m_form->Text2->text(), QStringLiteral("typed"));
    }

    // The rows vanish at the click; the crawl goes on and empties the table
    // again once its page is there.
    void clearDuringTheCrawlsFetch()
    {
        crawl(singerPage(ordinaryRows(3)));
        int rowsAfterClear = -1;
        m_pages.answers[SingerAddress] = singerPage(ordinaryRows(4));
        m_pages.whileFetching[SingerAddress] = [&] {
            QTest::mouseClick(m_form->Command12, Qt::LeftButton);
            rowsAfterClear = rowCount();
            // Something else put in meanwhile goes as well.
            m_form->ListView1->addTopLevelItem(new QTreeWidgetItem(QStringList{QStringLiteral("x")}));
        };
        QTest::mouseClick(m_form->Command10, Qt::LeftButton);
        QCOMPARE(rowsAfterClear, 0);
        QCOMPARE(rowCount(), 0);
        QTRY_COMPARE(m_form->status(), WorksTable::DoneStatus);
        QCOMPARE(rowCount(), 3);
    }

    void paste_data()
    {
        QTest::addColumn<bool>("hasText");
        QTest::addColumn<bool>("fieldEnabled");
        QTest::newRow("text") << true << true;
        QTest::newRow("text into the disabled field") << true << false;
        QTest::newRow("no text") << false << true;
    }
    void paste()
    {
        QFETCH(bool, hasText);
        QFETCH(bool, fieldEnabled);
        const QString text = QStringLiteral(" http://www.kelvaro.com/u/80231547 歌手");
        if (hasText)
            QGuiApplication::clipboard()->setText(text);
        else
            QGuiApplication::clipboard()->clear();
        m_form->Text2->setText(QStringLiteral("old"));
        m_form->Text2->setEnabled(fieldEnabled);
        const QString status = m_form->status();
        QTest::mouseClick(m_form->Command11, Qt::LeftButton);
        QCOMPARE(m_form->Text2->text(), hasText ? text : QString());
        QCOMPARE(m_form->status(), status);
        QCOMPARE(m_form->Text2->isEnabled(), fieldEnabled);
        QVERIFY(m_pages.asked.isEmpty());
        QVERIFY(!m_form->Timer3->isActive() && !m_form->Timer4->isActive());
    }

    // 40000 markers through the window: 32766 rows, in one tick.
    void countLimitFillsTheTable()
    {
        QElapsedTimer clock;
        clock.start();
        crawl(singerPage(ordinaryRows(40000)));
        qInfo("crawl of 40000 works: %lld ms, rows built in one tick", qlonglong(clock.elapsed()));
        QCOMPARE(rowCount(), 32766);
        QCOMPARE(rowTexts(32765).mid(0, 3), (QStringList{"32766", "1032766", "Song 32766"}));
        QCOMPARE(int(m_works->crawlState().Hits[0]), 32767);
    }
};

KELVARO_TEST_MAIN(WorksTableTest)
#include "tst_workstable.moc"
