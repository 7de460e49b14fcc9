// The works listing against the local community, through the real page
// fetch with the demo site as the HTTP proxy: a singer's page crawled into
// the table, and a double-click that resolves a row through the play-address
// service.
#include "Catalogue.h"
#include "DemoSite.h"
#include "WorksWindow.h"
#include "common/TestEnvironment.h"
#include "platform/Network.h"

#include <QNetworkProxy>
#include <QtTest>

namespace {

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

} // namespace

class WorksDemoSiteTest : public QObject {
    Q_OBJECT

    demo::DemoSite m_site;

private slots:
    void initTestCase()
    {
        QVERIFY(m_site.start(0));
        // The manager takes the system's proxy settings when first used; the
        // application proxy set afterwards replaces them.
        networkManager();
        QNetworkProxy::setApplicationProxy(
            QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), quint16(m_site.port())));
    }

    void cleanupTestCase() { m_site.stop(); }

    // The music video row of the first singer: the service answers its page
    // address, and the lookup fills the panel from that page.
    void crawlAndDoubleClick()
    {
        WorksWindow window;
        QVERIFY(QTest::qWaitForWindowExposed(&window.form));
        const demo::Singer *singer = demo::findSinger(demo::ManyWorksSinger);
        const std::vector<const demo::Work *> works = demo::worksOf(singer->uid);
        window.form.Text2->setText(qs(demo::homeAddress(*singer)));
        QTest::mouseClick(window.form.Command10, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(window.form.status(), WorksTable::DoneStatus, 15000);
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
        window.form.Command7->setText(QStringLiteral("停止播放"));

        window.doubleClickRow(videoRow);
        QCOMPARE(window.form.Text1->text(), qs(demo::pageAddress(video)));
        QCOMPARE(window.form.Label2->text(), QStringLiteral("演唱歌曲：") + qs(video.title));
        QCOMPARE(window.song.MusicUrl, qs(demo::audioAddress(video)));
        QCOMPARE(window.song.MvUrl, qs(demo::playerScriptAddress(video)));
        QCOMPARE(window.song.WorkId, qs(video.id));
        QCOMPARE(window.form.Command7->text(), QStringLiteral("在线播放"));
        QCOMPARE(window.media.commands, QStringList{QStringLiteral("close all")});
    }
};

KELVARO_TEST_MAIN(WorksDemoSiteTest)
#include "tst_works_demosite.moc"
