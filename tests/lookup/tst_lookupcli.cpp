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
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("http_proxy"), QStringLiteral("http://127.0.0.1:%1").arg(site.port()));
        environment.remove(QStringLiteral("no_proxy"));
        environment.remove(QStringLiteral("NO_PROXY"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(environment);
        // Refused before any lookup, then the four pages with a refusal among them.
        process.start(QStringLiteral(KELVARO_CLI_PATH),
                      {QStringLiteral("lookup"), QStringLiteral("not an address"), address("video"),
                       address("ordinary"), QStringLiteral("https://www.kelvaro.com/s/ordinary"), address("bare"),
                       address("nophoto")});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 0);
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
                 QStringList({"地址错误,请您检查 ..", "Alice", "1234", video.other, "Song", "5678", "90", "12", "34",
                              "http://www.kelvaro.test/player.js?wid=1&amp;x=2", video.audio, "12345",
                              "http://www.kelvaro.test/player.js?wid=1&x=2", video.headBg,
                              "http://img.kelvaro.test/head_640.jpg", "shown", "head"}));
        const QStringList panel = {"userName", "songName", "mvUrl", "badge", "picture"};
        QCOMPARE(values(2, panel), QStringList({"小明", "歌", "", "hidden", "photo"}));
        // Refused: the panel still shows the last lookup, untouched.
        QCOMPARE(values(3, Keys.mid(1, 14)), values(2, Keys.mid(1, 14)));
        QCOMPARE(values(3, {"badge", "picture"}), QStringList({"unchanged", "unchanged"}));
        // Markers missing: their values come from the previous page.
        QCOMPARE(values(4, {"songName", "userName", "playCount", "photoUrl", "picture"}),
                 QStringList({"Bare", "Bob", "5678", "http://img.kelvaro.test/p.png", "photo"}));
        QCOMPARE(values(5, {"photoUrl", "picture", "badge"}), QStringList({"", "default", "unchanged"}));
    }
};

KELVARO_TEST_MAIN(LookupCliTest)
#include "tst_lookupcli.moc"
