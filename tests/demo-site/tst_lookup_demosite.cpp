// `kelvaro lookup` against the local community: each recording page, looked
// up on its own, gives the details the community wrote into it.
#include "Catalogue.h"
#include "DemoSite.h"
#include "demo-site/CatalogueText.h"
#include "common/TestEnvironment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

using namespace demo;

class LookupDemoSiteTest : public QObject {
    Q_OBJECT

    DemoSite m_site;

private slots:
    void initTestCase() { QVERIFY(m_site.start(0)); }
    void cleanupTestCase() { m_site.stop(); }

    void eachPage_data()
    {
        QTest::addColumn<int>("index");
        for (int index = 0; index < int(std::size(Works)); ++index) {
            if (Works[index].layout != PageLayout::Sparse)
                QTest::newRow(Works[index].token.data()) << index;
        }
    }

    void eachPage()
    {
        QFETCH(int, index);
        const Work &work = Works[index];
        const Singer &singer = singerOf(work);

        QProcess cli;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("http_proxy"), QStringLiteral("http://127.0.0.1:%1").arg(m_site.port()));
        environment.remove(QStringLiteral("no_proxy"));
        environment.remove(QStringLiteral("NO_PROXY"));
        cli.setProcessEnvironment(environment);
        cli.start(QStringLiteral(KELVARO_CLI_PATH), {QStringLiteral("lookup"), q(pageAddress(work))});
        QVERIFY(cli.waitForFinished(30000));
        QCOMPARE(cli.exitCode(), 0);
        const QList<QByteArray> lines = cli.readAllStandardOutput().trimmed().split('\n');
        QCOMPARE(lines.size(), 1);
        const QJsonObject got = QJsonDocument::fromJson(lines.first()).object();

        const bool video = work.layout == PageLayout::MusicVideo;
        const QList<QPair<const char *, QString>> expected = {
            {"status", QStringLiteral("歌曲信息获取完毕..")},
            {"songName", q(work.title)},
            {"userName", q(singer.name)},
            {"fans", q(singer.fans)},
            {"otherInfo", q(work.about)},
            {"playCount", q(work.plays)},
            {"giftCount", q(work.gifts)},
            {"forwardCount", q(work.forwards)},
            {"commentCount", q(work.comments)},
            {"musicUrl", q(audioAddress(work))},
            {"workId", q(work.id)},
            {"photoUrl", q(photoAddress(work))},
            {"headBgUrl", q(headAddress(work))},
            {"headPicUrl", q(headPictureAddress(work))},
            {"mvUrl", video ? q(playerScriptAddress(work)) : QString()},
            {"badge", video ? QStringLiteral("shown") : QStringLiteral("hidden")},
            {"picture", video ? QStringLiteral("head") : QStringLiteral("photo")},
        };
        for (const auto &[key, value] : expected)
            QCOMPARE(got.value(QLatin1String(key)).toString(), value);
    }
};

KELVARO_TEST_MAIN(LookupDemoSiteTest)
#include "tst_lookup_demosite.moc"
