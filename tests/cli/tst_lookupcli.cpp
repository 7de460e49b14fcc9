// `kelvaro lookup` as a user runs it: the built program, reaching the
// community through http_proxy, one JSON line per address with the state
// carried from one lookup to the next, and the exit status.
#include "common/FakeCommunity.h"
#include "common/SongPages.h"
#include "common/TestPictures.h"
#include "common/TestEnvironment.h"
#include "core/lookup/SongExtraction.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

namespace {

QString address(const QString &name)
{
    return recordingPagePrefix() + name;
}

// Runs the built companion with the community behind http_proxy.
void startThroughProxy(QProcess &process, const FakeCommunity &site, const QStringList &args)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("http_proxy"), QStringLiteral("http://127.0.0.1:%1").arg(site.port()));
    environment.remove(QStringLiteral("no_proxy"));
    environment.remove(QStringLiteral("NO_PROXY"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(KELVARO_CLI_PATH), args);
}

const QStringList Keys = {"status",    "userName",   "fans",      "otherInfo", "songName", "playCount",
                          "giftCount", "forwardCount", "commentCount", "photoUrl", "musicUrl", "workId",
                          "mvUrl",     "headBgUrl",  "headPicUrl", "badge",    "picture"};

} // namespace

class LookupCliTest : public QObject {
    Q_OBJECT

private slots:
    void noAddressIsAUsageError()
    {
        QProcess process;
        process.start(QStringLiteral(KELVARO_CLI_PATH), {QStringLiteral("lookup")});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 2);
        QVERIFY(process.readAllStandardOutput().isEmpty());
        QVERIFY(process.readAllStandardError().contains("lookup URL"));
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
        site.page(address("video"), songPage(video));
        site.page(address("ordinary"), songPage(ordinary));
        site.page(address("bare"), QStringLiteral("<title>Bare - Bob Kelvaro - x</title>"));
        site.page(address("nophoto"), songPage(noPhoto));
        site.page(QStringLiteral("http://img.kelvaro.test/p.png"), pngBytes(Qt::red), "image/png");
        site.page(QStringLiteral("http://img.kelvaro.test/head_640.jpg"), pngBytes(Qt::red), "image/png");
        site.start();

        QProcess process;
        // Refused before any lookup, then the four pages with a refusal among them.
        startThroughProxy(process, site,
                          {QStringLiteral("lookup"), QStringLiteral("not an address"), address("video"),
                           address("ordinary"), QStringLiteral("https://www.kelvaro.com/s/ordinary"),
                           address("bare"), address("nophoto")});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 2); // refused addresses among them
        const QByteArray out = process.readAllStandardOutput();
        QVERIFY(out.contains("小明")); // UTF-8, not escaped
        QList<QJsonObject> lines;
        for (const QByteArray &line : out.split('\n'))
            if (!line.isEmpty())
                lines << QJsonDocument::fromJson(line).object();
        QCOMPARE(lines.size(), 6);
        for (const QJsonObject &line : lines) { // every key, every value a text
            QCOMPARE(line.size(), Keys.size());
            for (const QString &key : Keys)
                QVERIFY2(line.value(key).isString(), qPrintable(key));
        }
        const auto values = [&lines](int line, const QStringList &keys) {
            QStringList out;
            for (const QString &key : keys)
                out << lines[line][key].toString();
            return out;
        };

        // Values never set print as empty texts.
        QCOMPARE(values(0, Keys.mid(0, 15)), QStringList{"地址错误,请您检查 .."} + QStringList(14, QString()));
        QCOMPARE(values(1, Keys),
                 QStringList({"歌曲信息获取完毕..", "Alice", "1234", video.other, "Song", "5678", "90", "12", "34",
                              "http://www.kelvaro.test/player.js?wid=1&amp;x=2", video.audio, "12345",
                              "http://www.kelvaro.test/player.js?wid=1&x=2", video.headBg,
                              "http://img.kelvaro.test/head_640.jpg", "shown", "head"}));
        const QStringList panel = {"userName", "songName", "mvUrl", "badge", "picture"};
        QCOMPARE(values(2, panel), QStringList({"小明", "歌", "", "hidden", "photo"}));
        // Refused: the panel still shows the last lookup, untouched.
        QCOMPARE(values(3, Keys.mid(1, 14)), values(2, Keys.mid(1, 14)));
        QCOMPARE(values(3, {"badge", "picture"}), QStringList({"unchanged", "unchanged"}));
        // Markers missing: their values are empty, never the previous song's.
        QCOMPARE(values(4, Keys.mid(0, 15)),
                 QStringList({"未找到音乐地址,作品可能已删除..", "Bob", "", "", "Bare", "", "", "", "", "", "", "",
                              "", "", ""}));
        QCOMPARE(values(4, {"picture", "badge"}), QStringList({"default", "unchanged"}));
        QCOMPARE(values(5, {"photoUrl", "picture", "badge"}), QStringList({"", "default", "unchanged"}));
    }

    // 0 when every address gave a page, 1 when a fetch failed, 2 when an
    // address was refused (whatever else happened).
    void exitStatus_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("deadProxy");
        QTest::addColumn<int>("status");
        const QString song = address("song");
        QTest::newRow("all pages") << QStringList{song, song} << false << 0;
        QTest::newRow("page without audio") << QStringList{address("noaudio")} << false << 0;
        QTest::newRow("not found") << QStringList{song, address("missing")} << false << 1;
        QTest::newRow("dead proxy") << QStringList{song} << true << 1;
        QTest::newRow("refused") << QStringList{"https://www.kelvaro.com/s/song", song} << false << 2;
        QTest::newRow("not found and refused") << QStringList{address("missing"), "wrong"} << false << 2;
    }
    void exitStatus()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, deadProxy);
        QFETCH(int, status);
        FakeCommunity site;
        site.page(address("song"), songPage({}));
        site.page(address("noaudio"), QStringLiteral("<title>Gone - Bob Kelvaro - x</title>"));
        site.start();
        QProcess process;
        if (deadProxy) { // nothing listens on port 1
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("http_proxy"), QStringLiteral("http://127.0.0.1:1"));
            process.setProcessEnvironment(environment);
            process.start(QStringLiteral(KELVARO_CLI_PATH), QStringList{QStringLiteral("lookup")} + args);
        } else {
            startThroughProxy(process, site, QStringList{QStringLiteral("lookup")} + args);
        }
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), status);
        QCOMPARE(process.readAllStandardOutput().count('\n'), args.size()); // one line each all the same
    }
};

KELVARO_TEST_MAIN(LookupCliTest)
#include "tst_lookupcli.moc"
