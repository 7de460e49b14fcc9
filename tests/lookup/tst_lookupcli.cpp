// `kelvaro lookup` as a user runs it: the built program, reaching the
// community through http_proxy, one JSON line per address with the state
// carried from one lookup to the next.
#include "FakeCommunity.h"
#include "SongPages.h"
#include "TestPictures.h"
#include "common/TestEnvironment.h"
#include "lookup/SongExtraction.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

namespace {

QString address(const QString &name)
{
    return recordingPagePrefix() + name;
}

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    QList<QJsonObject> lines;
};

Run runCli(const QStringList &args, int proxyPort)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"http_proxy", "HTTP_PROXY", "no_proxy", "NO_PROXY", "all_proxy", "ALL_PROXY"})
        environment.remove(QString::fromLatin1(name));
    if (proxyPort > 0)
        environment.insert(QStringLiteral("http_proxy"), QStringLiteral("http://127.0.0.1:%1").arg(proxyPort));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(KELVARO_CLI_PATH), args);
    Run run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    for (const QByteArray &line : run.out.split('\n')) {
        if (!line.isEmpty())
            run.lines << QJsonDocument::fromJson(line).object();
    }
    return run;
}


const QStringList Keys = {"status",       "userName",     "fans",      "otherInfo", "songName",   "playCount",
                          "giftCount",    "forwardCount", "commentCount", "photoUrl", "musicUrl", "workId",
                          "mvUrl",        "headBgUrl",    "headPicUrl", "badge",     "picture"};

} // namespace

class LookupCliTest : public QObject {
    Q_OBJECT

private slots:
    void noAddressIsAUsageError()
    {
        const Run run = runCli({QStringLiteral("lookup")}, 0);
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.out.isEmpty());
        QVERIFY(run.err.contains("lookup URL"));
    }

    void successiveLookupsCarryTheState()
    {
        FakeCommunity site;
        SongPageFields video;
        video.photoElement = photoElement(QStringLiteral("http://www.kelvaro.test/player.js?wid=1&amp;x=2"));
        SongPageFields ordinary;
        ordinary.title = QStringLiteral("歌 - 小明 Kelvaro - x");
        ordinary.photoElement = photoElement(QStringLiteral("http://img.kelvaro.test/p.png"));
        SongPageFields noPhoto;
        noPhoto.photoElement = QStringLiteral("<img src=\"\" />");
        SongPageFields relativePhoto;
        relativePhoto.photoElement = photoElement(QStringLiteral("/img/p.png"));
        site.page(address("video"), songPage(video));
        site.page(address("ordinary"), songPage(ordinary));
        site.page(address("bare"), QStringLiteral("<title>Bare - Bob Kelvaro - x</title>"));
        site.page(address("nophoto"), songPage(noPhoto));
        site.page(address("relative"), songPage(relativePhoto));
        site.page(QStringLiteral("http://img.kelvaro.test/p.png"), pngBytes(Qt::red), "image/png");
        site.page(QStringLiteral("http://img.kelvaro.test/head_640.jpg"), pngBytes(Qt::red), "image/png");
        site.start();

        const QStringList args = {QStringLiteral("lookup"), address("video"), address("ordinary"),
                                  QStringLiteral("https://www.kelvaro.com/s/ordinary"), address("bare"),
                                  QString(), address("nophoto"), address("relative")};
        const Run run = runCli(args, site.port());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.lines.size(), args.size() - 1);
        for (const QJsonObject &line : run.lines) {
            QCOMPARE(line.keys().size(), Keys.size());
            for (const QString &key : Keys)
                QVERIFY2(line.value(key).isString(), qPrintable(key));
        }
        QVERIFY(run.out.contains("小明")); // UTF-8, not escaped
        QVERIFY(site.lastRequestHeaders(address("video")).contains("If-Modified-Since: 0"));

        const QJsonObject v = run.lines[0];
        QCOMPARE(v["status"].toString(), QString());
        QCOMPARE(v["userName"].toString(), QStringLiteral("Alice"));
        QCOMPARE(v["songName"].toString(), QStringLiteral("Song"));
        QCOMPARE(v["fans"].toString(), QStringLiteral("1234"));
        QCOMPARE(v["otherInfo"].toString(), video.other);
        QCOMPARE(v["playCount"].toString(), QStringLiteral("5678"));
        QCOMPARE(v["giftCount"].toString(), QStringLiteral("90"));
        QCOMPARE(v["forwardCount"].toString(), QStringLiteral("12"));
        QCOMPARE(v["commentCount"].toString(), QStringLiteral("34"));
        QCOMPARE(v["photoUrl"].toString(), QStringLiteral("http://www.kelvaro.test/player.js?wid=1&amp;x=2"));
        QCOMPARE(v["musicUrl"].toString(), video.audio);
        QCOMPARE(v["workId"].toString(), QStringLiteral("12345"));
        QCOMPARE(v["mvUrl"].toString(), QStringLiteral("http://www.kelvaro.test/player.js?wid=1&x=2"));
        QCOMPARE(v["headBgUrl"].toString(), video.headBg);
        QCOMPARE(v["headPicUrl"].toString(), QStringLiteral("http://img.kelvaro.test/head_640.jpg"));
        QCOMPARE(v["badge"].toString(), QStringLiteral("shown"));
        QCOMPARE(v["picture"].toString(), QStringLiteral("head"));

        const QJsonObject o = run.lines[1];
        QCOMPARE(o["userName"].toString(), QStringLiteral("小明"));
        QCOMPARE(o["songName"].toString(), QStringLiteral("歌"));
        QCOMPARE(o["mvUrl"].toString(), QString());
        QCOMPARE(o["badge"].toString(), QStringLiteral("hidden"));
        QCOMPARE(o["picture"].toString(), QStringLiteral("photo"));

        // Refused: the status changes, the panel still shows the last lookup.
        QJsonObject refused = run.lines[2];
        QCOMPARE(refused["status"].toString(), QStringLiteral("地址错误,请您检查 .."));
        QCOMPARE(refused["badge"].toString(), QStringLiteral("unchanged"));
        QCOMPARE(refused["picture"].toString(), QStringLiteral("unchanged"));
        for (const QString &key : Keys.mid(1, 14))
            QCOMPARE(refused[key], o[key]);

        // Markers missing: their values come from the previous page; the
        // status line keeps the refusal.
        const QJsonObject b = run.lines[3];
        QCOMPARE(b["status"].toString(), QStringLiteral("地址错误,请您检查 .."));
        QCOMPARE(b["songName"].toString(), QStringLiteral("Bare"));
        QCOMPARE(b["userName"].toString(), QStringLiteral("Bob"));
        QCOMPARE(b["playCount"].toString(), o["playCount"].toString());
        QCOMPARE(b["photoUrl"].toString(), QStringLiteral("http://img.kelvaro.test/p.png"));
        QCOMPARE(b["picture"].toString(), QStringLiteral("photo"));

        QCOMPARE(run.lines[4]["status"].toString(), QStringLiteral("请输入Kelvaro网页地址 "));

        const QJsonObject n = run.lines[5];
        QCOMPARE(n["photoUrl"].toString(), QString());
        QCOMPARE(n["picture"].toString(), QStringLiteral("default"));
        QCOMPARE(n["badge"].toString(), QStringLiteral("unchanged"));

        const QJsonObject r = run.lines[6];
        QCOMPARE(r["photoUrl"].toString(), QStringLiteral("/img/p.png"));
        QCOMPARE(r["picture"].toString(), QStringLiteral("unchanged")); // no loader can take it
        QCOMPARE(r["badge"].toString(), QStringLiteral("hidden"));
    }

    // Refused before any lookup: values never set print as empty texts.
    void valuesNeverSetAreEmpty()
    {
        const Run run = runCli({QStringLiteral("lookup"), QStringLiteral("not an address")}, 0);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.lines.size(), 1);
        for (const QString &key : Keys.mid(1, 14))
            QCOMPARE(run.lines[0][key].toString(), QString());
        QCOMPARE(run.lines[0]["status"].toString(), QStringLiteral("地址错误,请您检查 .."));
    }
};

KELVARO_TEST_MAIN(LookupCliTest)
#include "tst_lookupcli.moc"
