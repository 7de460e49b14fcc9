// The works listing against the local community, through the real page
// fetch with the demo site as the HTTP proxy: the three singer pages, and a
// double-click that resolves a row through the play-address service.
#include "Catalogue.h"
#include "DemoSite.h"
#include "app/ColumnLock.h"
#include "app/Form1.h"
#include "common/Fakes.h"
#include "common/TestEnvironment.h"
#include "lookup/SongLookup.h"
#include "platform/Network.h"
#include "works/WorksTable.h"

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

private:
    demo::DemoSite m_site;
    std::unique_ptr<Form1> m_form;
    SongState m_song;
    ScriptedDialogs m_dialogs;
    RecordingMediaControl m_media;
    std::unique_ptr<SongLookup> m_lookup;
    std::unique_ptr<WorksTable> m_works;

private slots:
    void initTestCase()
    {
        QVERIFY(m_site.start(0));
        // The manager takes the system's proxy settings when first used; the
        // application proxy set afterwards replaces them.
        networkManager();
        QNetworkProxy::setApplicationProxy(
            QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), quint16(m_site.port())));

        m_form = std::make_unique<Form1>();
        Form1 *f = m_form.get();
        const auto setStatus = [f](const QString &text) { f->setStatus(text); };
        m_lookup = std::make_unique<SongLookup>(
            SongLookup::Controls{f->Text1, f->aicAlphaImage3, f->Command13, f->Command9, f->Label1, f->Label4,
                                 f->Label10, f->Label2, f->Label5, f->Label6, f->Label7, f->Label9, f->Image1,
                                 f->Image2, f->aicAlphaImage2, setStatus},
            m_song);
        m_works = std::make_unique<WorksTable>(
            WorksTable::Controls{f, f->Text2, f->Command10, f->Command11, f->Command12, f->ListView1, f->Timer3,
                                 f->Timer4, f->Text1, f->Command7, setStatus},
            m_song, [lookup = m_lookup.get()] { lookup->aicAlphaImage3_Click(); }, m_media, m_dialogs);
        HookListView(f->ListView1);
        f->Text1->setEnabled(true);
        f->Text2->setEnabled(true);
        f->Command10->setEnabled(true);
        f->Command12->setEnabled(true);
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f));
    }

    void cleanupTestCase()
    {
        m_works.reset();
        m_lookup.reset();
        m_form.reset();
        m_site.stop();
    }

    void singerPages_data()
    {
        QTest::addColumn<QString>("uid");
        QTest::addColumn<QString>("status");
        QTest::newRow("ten works") << qs(demo::ManyWorksSinger) << WorksTable::DoneStatus;
        QTest::newRow("no works") << qs(demo::NoWorksSinger) << WorksTable::NoWorksStatus;
        QTest::newRow("one work") << qs(demo::OneWorkSinger) << WorksTable::DoneStatus;
    }
    void singerPages()
    {
        QFETCH(QString, uid);
        QFETCH(QString, status);
        const demo::Singer *singer = demo::findSinger(uid.toStdString());
        const std::vector<const demo::Work *> works = demo::worksOf(singer->uid);
        m_dialogs.shown.clear();
        m_form->Text2->setText(qs(demo::homeAddress(*singer)));
        QTest::mouseClick(m_form->Command10, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(m_form->status(), status, 15000);
        QTRY_VERIFY(m_form->Command10->isEnabled() && m_form->Text2->isEnabled());

        const int rows = std::max(int(works.size()) - 1, 0);
        QCOMPARE(m_form->ListView1->topLevelItemCount(), rows);
        for (int i = 0; i < rows; ++i) {
            const QTreeWidgetItem *item = m_form->ListView1->topLevelItem(i);
            const demo::Work &work = *works[std::size_t(i)];
            QCOMPARE(item->text(0), QString::number(i + 1));
            QCOMPARE(item->text(1), qs(work.id));
            QCOMPARE(item->text(2), qs(work.title));
            QCOMPARE(item->text(3), qs(demo::playServiceAddress(work.id)));
        }
        QCOMPARE(m_dialogs.shown.size(), works.empty() ? 1 : 0);
    }

    // The music video row of the first singer: the service answers its page
    // address, and the lookup fills the panel from that page.
    void doubleClickResolvesTheRow()
    {
        m_form->Text2->setText(qs(demo::homeAddress(*demo::findSinger(demo::ManyWorksSinger))));
        QTest::mouseClick(m_form->Command10, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(m_form->status(), WorksTable::DoneStatus, 15000);
        const demo::Work &video = demo::firstWork(demo::PageLayout::MusicVideo);
        QList<QTreeWidgetItem *> found = m_form->ListView1->findItems(qs(video.id), Qt::MatchExactly, 1);
        QCOMPARE(found.size(), 1);
        m_media.commands.clear();
        m_form->Command7->setText(QStringLiteral("停止播放"));

        QWidget *viewport = m_form->ListView1->viewport();
        const QPoint at = m_form->ListView1->visualItemRect(found.first()).center();
        QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);

        QCOMPARE(m_form->Text1->text(), qs(demo::pageAddress(video)));
        QCOMPARE(m_form->Label2->text(), QStringLiteral("演唱歌曲：") + qs(video.title));
        QCOMPARE(m_song.MusicUrl, qs(demo::audioAddress(video)));
        QCOMPARE(m_song.MvUrl, qs(demo::playerScriptAddress(video)));
        QCOMPARE(m_song.WorkId, qs(video.id));
        QCOMPARE(m_form->Command7->text(), QStringLiteral("在线播放"));
        QCOMPARE(m_media.commands, QStringList{QStringLiteral("close all")});
    }
};

KELVARO_TEST_MAIN(WorksDemoSiteTest)
#include "tst_works_demosite.moc"
