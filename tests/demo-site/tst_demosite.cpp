// The local Kelvaro community, reached the way the program reaches it: through
// the one network manager with the demo site as its HTTP proxy. The pages are
// read with the literal copy of the program's text rules, so a page that the
// program would misread fails here first.
#include "Catalogue.h"
#include "DemoSite.h"
#include "common/LiteralExtraction.h"
#include "core/endpoints/Endpoints.h"
#include "common/TestEnvironment.h"
#include "common/Waiting.h"
#include "core/lookup/PageFetcher.h"
#include "core/platform/Network.h"
#include "core/playback/AudioAddress.h"

#include <lame/lame.h>

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>

using namespace demo;

namespace {

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

struct Fetched {
    int status = 0;
    QString contentType;
    QVariant contentLength;
    QByteArray body;
};

Fetched fetch(const QString &url)
{
    std::unique_ptr<QNetworkReply> reply(networkManager().get(QNetworkRequest(QUrl(url))));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    if (!reply->isFinished())
        finished.wait(20000);
    return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
            reply->header(QNetworkRequest::ContentTypeHeader).toString(),
            reply->header(QNetworkRequest::ContentLengthHeader), reply->readAll()};
}

void useProxy(int port)
{
    networkManager().setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), quint16(port)));
}

// Decodes an MP3 file (after its ID3 tag) with the encoder library's decoder;
// the sample rate, or 0 when it is not MP3.
int decodeMp3(QByteArray data, std::vector<short> &samples)
{
    if (data.startsWith("ID3") && data.size() >= 10) {
        const auto b = [&data](int i) { return quint32(quint8(data.at(i))); };
        data = data.mid(10 + qsizetype((b(6) << 21) | (b(7) << 14) | (b(8) << 7) | b(9)));
    }
    const std::unique_ptr<std::remove_pointer_t<hip_t>, int (*)(hip_t)> decoder(hip_decode_init(), hip_decode_exit);
    std::vector<short> left(8192), right(8192);
    mp3data_struct info{};
    for (qsizetype at = 0; at < data.size(); at += 1024) {
        QByteArray chunk = data.mid(at, 1024);
        auto *bytes = reinterpret_cast<unsigned char *>(chunk.data());
        int n = hip_decode1_headers(decoder.get(), bytes, size_t(chunk.size()), left.data(), right.data(), &info);
        for (; n > 0; n = hip_decode1_headers(decoder.get(), bytes, 0, left.data(), right.data(), &info))
            samples.insert(samples.end(), left.begin(), left.begin() + n);
        if (n < 0)
            return 0;
    }
    return info.header_parsed == 1 ? info.samplerate : 0;
}

} // namespace

class DemoSiteTest : public QObject {
    Q_OBJECT

    DemoSite m_site;

private slots:
    void initTestCase()
    {
        QVERIFY(m_site.start(0));
        useProxy(m_site.port());
    }
    void cleanupTestCase() { m_site.stop(); }

    void works_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < int(std::size(Works)); ++i)
            QTest::newRow(Works[i].id.data()) << i;
    }

    // Each marker once (a second one would cut a value short), and a first
    // lookup of the page finds the catalogue's values.
    void recordingPages_data() { works_data(); }
    void recordingPages()
    {
        QFETCH(int, index);
        const Work &work = Works[index];
        const std::optional<QString> page = bodyOf(qs(pageAddress(work)));
        QVERIFY(page);
        const bool sparse = work.layout == PageLayout::Sparse;
        const QString Q = QStringLiteral("\"");
        for (const auto &[marker, present] : QList<QPair<QString, bool>>{
                 {"<title>", true},
                 {"pcsong_title" + Q + ">", true},
                 {"pcsong_title" + Q + " >", true},
                 {"pcsong_listen_icon fl" + Q + ">", true},
                 {"pcsong_gift_icon fl" + Q + ">", !sparse},
                 {"pcsong_forward_icon fl" + Q + ">", !sparse},
                 {"pcsong_comment_icon fl" + Q + ">", true},
                 {"pcsong_photos" + Q + ">", !sparse},
                 {"mp3:" + Q, !sparse},
                 {".pcsong_head {background: url( " + Q, !sparse}})
            QVERIFY2(page->count(marker) == (present ? 1 : 0), qPrintable(marker));

        literal::Window window;
        literal::lookUp(window, qs(pageAddress(work)), page);
        const SongDetails &d = window.shown;
        const SongState &s = window.song;
        QCOMPARE(QStringList({d.songName, s.UserName, d.fans, d.otherInfo, d.playCount, d.commentCount}),
                 QStringList({qs(work.title), qs(singerOf(work).name), qs(singerOf(work).fans), qs(work.about),
                              qs(work.plays), qs(work.comments)}));
        const QStringList rest = {d.giftCount, d.forwardCount, d.photoUrl, s.MusicUrl, s.WorkId, s.HeadBgUrl,
                                  s.HeadPicUrl, s.MvUrl};
        if (sparse) // a first lookup of the withdrawn recording finds none of these
            QCOMPARE(rest, QStringList(rest.size(), QString()));
        else
            QCOMPARE(rest, QStringList({qs(work.gifts), qs(work.forwards), qs(photoAddress(work)),
                                        qs(audioAddress(work)), qs(work.id), qs(headAddress(work)),
                                        qs(headPictureAddress(work)),
                                        work.layout == PageLayout::MusicVideo ? qs(playerScriptAddress(work))
                                                                               : QString()}));
        if (work.layout == PageLayout::MusicVideo) // the page writes what the program turns back
            QVERIFY(d.photoUrl.contains("&amp;") && s.HeadBgUrl.count("100") >= 2);
    }

    // The rows the works crawl reads: every work's id and title, the title
    // written both ways the community writes it.
    void singerPages_data()
    {
        QTest::addColumn<QString>("uid");
        for (const Singer &singer : Singers)
            QTest::newRow(singer.name.data()) << qs(singer.uid);
    }
    void singerPages()
    {
        QFETCH(QString, uid);
        const Singer *singer = findSinger(uid.toStdString());
        const std::vector<const Work *> works = worksOf(singer->uid);
        const std::optional<QString> page = bodyOf(qs(homeAddress(*singer)));
        QVERIFY(page);
        const QString Q = QStringLiteral("\"");
        const QString titleCell = "class=" + Q + "_col _col_left" + Q + ">";
        QCOMPARE(page->count("<tr class=" + Q + Q + " onclick=" + Q + "goPlay"), qsizetype(works.size()));
        QCOMPARE(page->count("goPlay("), qsizetype(works.size()));
        QCOMPARE(page->count(titleCell), qsizetype(works.size()));
        int spans = 0;
        for (int i = 1; i < int(works.size()); ++i) {
            const Work &work = *works[std::size_t(i - 1)];
            const QString id = page->split("goPlay(").at(i).section(')', 0, 0);
            const QString cell = page->split(titleCell).at(i);
            const bool inSpan = cell.contains("<span>");
            spans += inSpan ? 1 : 0;
            const QString title =
                cell.split(inSpan ? "<span>" : "<div class=" + Q + "song_title" + Q + ">").value(1).section('<', 0, 0);
            QCOMPARE(QStringList({id, title}), QStringList({qs(work.id), qs(work.title)}));
            QCOMPARE(inSpan, work.titleInSpan);
        }
        if (works.size() > 2)
            QVERIFY(spans > 0 && spans < int(works.size()) - 1);
    }

    void answers_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("type");     // the start of the Content-Type
        QTest::addColumn<QByteArray>("body");  // what the body holds
        QTest::addColumn<bool>("whole");       // the body is exactly that
        const Work &first = Works[0];
        const Work &video = firstWork(PageLayout::MusicVideo);
        const QString html = QStringLiteral("text/html; charset=utf-8");
        QTest::newRow("play service") << qs(playServiceAddress(first.id)) << 200 << "" << qs(pageAddress(first)).toUtf8() << true;
        QTest::newRow("play service, unknown id") << qs(playServiceAddress("999")) << 200 << "" << QByteArray() << true;
        QTest::newRow("version file") << QString::fromLatin1(Endpoints::VersionFileUrl) << 200
                                      << "text/plain; charset=utf-8" << QByteArray(DefaultVersionText.data()) << true;
        QTest::newRow("forum") << QString::fromLatin1(Endpoints::ForumUrl) << 200 << html << QByteArray("</html>") << false;
        QTest::newRow("site") << QString::fromLatin1(Endpoints::SiteUrl) << 200 << html << QByteArray("</html>") << false;
        QTest::newRow("video player") << qs(playerScriptAddress(video)) << 200 << "application/javascript"
                                      << QByteArray(video.title.data(), qsizetype(video.title.size())) << false;
        QTest::newRow("singer picture") << qs(avatarAddress(Singers[0])) << 200 << "image/png" << QByteArray("PNG") << false;
        QTest::newRow("large header picture") << qs(headPictureAddress(first)) << 200 << "image/png" << QByteArray("PNG") << false;
        QTest::newRow("foreign host") << "http://example.com/" << 502 << "" << QByteArray() << false;
        QTest::newRow("bare community domain") << "http://kelvaro.com/s/kQ7mX2pA" << 502 << "" << QByteArray() << false;
        QTest::newRow("media host nobody uses") << "http://a99.stream.kelvaro.com/x.mp3" << 502 << "" << QByteArray() << false;
        QTest::newRow("unknown page") << "http://www.kelvaro.com/s/nothing" << 404 << "" << QByteArray() << false;
        QTest::newRow("audio in the wrong folder")
            << "http://a7.stream.kelvaro.com/userdata/userwork/999/3108115.mp3" << 404 << "" << QByteArray() << false;
    }
    void answers()
    {
        QFETCH(QString, url);
        QFETCH(int, status);
        QFETCH(QString, type);
        QFETCH(QByteArray, body);
        QFETCH(bool, whole);
        const Fetched answer = fetch(url);
        QCOMPARE(answer.status, status);
        QVERIFY2(answer.contentType.startsWith(type), qPrintable(answer.contentType));
        if (whole)
            QCOMPARE(answer.body, body);
        else
            QVERIFY(answer.body.contains(body));
    }

    // Each recording at the page's own address and at the one the program
    // rebuilds, the same MP3 of a few seconds of sound.
    void recordings_data() { works_data(); }
    void recordings()
    {
        QFETCH(int, index);
        const Work &work = Works[index];
        const QString own = qs(audioAddress(work));
        const std::optional<QString> rebuilt =
            AudioAddress::rebuild(own, qs(work.id), QString::fromUtf8(Endpoints::MediaHostTail));
        QCOMPARE(rebuilt.value_or(QString()), qs(rebuiltAudioAddress(work)));
        const Fetched first = fetch(own);
        const Fetched second = fetch(*rebuilt);
        for (const Fetched *answer : {&first, &second}) {
            QCOMPARE(answer->status, 200);
            QCOMPARE(answer->contentType, QStringLiteral("audio/mpeg"));
            QCOMPARE(answer->contentLength.toLongLong(), qint64(answer->body.size()));
        }
        QCOMPARE(first.body, second.body);

        std::vector<short> samples;
        QCOMPARE(decodeMp3(first.body, samples), 44100);
        const double seconds = double(samples.size()) / 44100;
        QVERIFY2(seconds >= 3.0 && seconds <= 6.5, qPrintable(QString::number(seconds)));
        double energy = 0;
        for (const short sample : samples)
            energy += double(sample) * sample;
        const double rms = std::sqrt(energy / double(samples.size()));
        QVERIFY2(rms > 1500, qPrintable(QString::number(rms)));
    }

    // As the demo script runs it: one line naming the port, the version file
    // as asked for, and a clean end on SIGTERM.
    void standaloneProxy()
    {
        QProcess proxy;
        proxy.start(QStringLiteral(KELVARO_DEMO_SITE_BINARY),
                    {"--port", "0", "--version-text", "xx:V1|kv:V3.0.84|"});
        QByteArray out;
        while (!out.contains('\n') && proxy.waitForReadyRead(30000))
            out += proxy.readAllStandardOutput();
        const QRegularExpressionMatch line =
            QRegularExpression(QStringLiteral("^kelvaro-demo-site: listening on 127\\.0\\.0\\.1:(\\d+)\n$"))
                .match(QString::fromUtf8(out));
        QVERIFY2(line.hasMatch(), out.constData());
        useProxy(line.captured(1).toInt());
        const std::optional<QString> version = bodyOf(QString::fromLatin1(Endpoints::VersionFileUrl));
        useProxy(m_site.port());
        QCOMPARE(version, std::optional<QString>(u"xx:V1|kv:V3.0.84|"_qs));
        proxy.terminate(); // SIGTERM
        QVERIFY(proxy.waitForFinished(10000));
        QCOMPARE(proxy.exitStatus(), QProcess::NormalExit);
        QCOMPARE(proxy.exitCode(), 0);
    }
};

KELVARO_TEST_MAIN(DemoSiteTest)
#include "tst_demosite.moc"
