// The local Kelvaro community, reached the way the program reaches it: through
// the one network manager with the demo site as its HTTP proxy. The pages are
// cut with a deliberately literal copy of the program's text rules, so a page
// that the program would misread fails here first.
#include "Catalogue.h"
#include "DemoSite.h"
#include "app/Endpoints.h"
#include "common/TestEnvironment.h"
#include "lookup/PageFetcher.h"
#include "platform/Network.h"

#include <httplib.h>
#include <lame/lame.h>

#include <QCryptographicHash>
#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QSet>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <optional>

using namespace demo;

namespace {

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// ---- The text rules, exactly as the lookup reads them ----------------------

std::optional<QString> piece(const QString &text, const QString &marker, int n)
{
    const QStringList pieces = text.split(marker);
    if (pieces.size() < n + 1)
        return std::nullopt;
    return pieces.at(n);
}

std::optional<QString> after(const QString &text, const QString &marker)
{
    return piece(text, marker, 1);
}

QString upto(const QString &text, const QString &marker)
{
    const qsizetype at = text.indexOf(marker);
    return at < 0 ? QString() : text.left(at + 1);
}

QString removeAll(QString text, const QString &what)
{
    return text.remove(what);
}

QString trim(const QString &text) // blanks only
{
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && text.at(from) == QLatin1Char(' '))
        ++from;
    while (to > from && text.at(to - 1) == QLatin1Char(' '))
        --to;
    return text.mid(from, to - from);
}

// A guarded step: a failed rule leaves its target as it was.
void step(QString &target, const std::optional<QString> &value)
{
    if (value)
        target = *value;
}

const QString Q = QStringLiteral("\"");

struct Extracted {
    QString songName, userName, fans, other, plays, gifts, forwards, comments;
    QString photo, musicUrl, headBg, headPic, workId, mvUrl;
};

// One lookup on a fresh window: every window piece starts empty.
Extracted extractLiterally(const QString &page)
{
    QString title, dash, fansPiece, fansCut, otherPiece, otherCut, title2;
    QString listenPiece, listenCut, giftPiece, giftCut, forwardPiece, forwardCut, commentPiece, commentCut;
    QString photosPiece, photosCut, source, audioPiece, audioCut, headPiece;
    Extracted e;
    step(title, after(page, QStringLiteral("<title>")));
    if (const auto p = piece(title, QStringLiteral("-"), 1))
        dash = trim(*p);
    e.userName = trim(removeAll(upto(dash, QStringLiteral("Kelvaro")), QStringLiteral("K")));
    step(fansPiece, after(page, QStringLiteral("pcsong_title") + Q + ">"));
    fansCut = upto(fansPiece, QStringLiteral("</div>"));
    e.fans = trim(removeAll(removeAll(fansCut, QStringLiteral("<")), QStringLiteral("有")));
    step(otherPiece, after(page, QStringLiteral("pcsong_title") + Q + " >"));
    otherCut = upto(otherPiece, QStringLiteral("</div>"));
    e.other = trim(removeAll(otherCut, QStringLiteral("<")));
    step(title2, after(page, QStringLiteral("<title>")));
    e.songName = trim(removeAll(upto(title2, QStringLiteral("-")), QStringLiteral("-")));
    const auto count = [&page](const char *icon, QString &pieceOf, QString &cut) {
        step(pieceOf, after(page, QLatin1String(icon) + Q + ">"));
        cut = upto(pieceOf, QStringLiteral("</div>"));
        return trim(removeAll(cut, QStringLiteral("<")));
    };
    e.plays = count("pcsong_listen_icon fl", listenPiece, listenCut);
    e.gifts = count("pcsong_gift_icon fl", giftPiece, giftCut);
    e.forwards = count("pcsong_forward_icon fl", forwardPiece, forwardCut);
    e.comments = count("pcsong_comment_icon fl", commentPiece, commentCut);
    step(photosPiece, after(page, QStringLiteral("pcsong_photos") + Q + ">"));
    photosCut = upto(photosPiece, QStringLiteral("/>"));
    if (const auto s = after(photosCut, QStringLiteral("src=") + Q))
        source = removeAll(*s, Q);
    e.photo = trim(upto(source, QStringLiteral(" ")));
    step(audioPiece, after(page, QStringLiteral("mp3:") + Q));
    audioCut = upto(audioPiece, Q);
    e.musicUrl = trim(removeAll(audioCut, Q));
    step(headPiece, after(page, QStringLiteral(".pcsong_head {background: url( ") + Q));
    e.headBg = removeAll(upto(headPiece, Q), Q);
    e.headPic = QString(e.headBg).replace(QStringLiteral("100"), QStringLiteral("640"));
    step(e.workId, piece(e.musicUrl, QStringLiteral("/"), 6));
    e.workId = removeAll(upto(e.workId, QStringLiteral(".")), QStringLiteral("."));
    if (!e.photo.isEmpty() && e.photo.contains(QLatin1String("player")))
        e.mvUrl = QString(e.photo).replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    return e;
}

// The fallback audio address, rebuilt from the page's own one the way the
// "can't play" button does it.
QString rebuildLiterally(const QString &musicUrl, const QString &workId)
{
    const QString folder = musicUrl.split(QLatin1Char('/')).value(5).remove(QLatin1Char('a'));
    const int hostNumber = folder.toInt() - 108;
    return QStringLiteral("http://a") + QString::number(hostNumber) + QLatin1String(Endpoints::MediaHostTail) + "/userdata/userwork/"
        + workId.right(3) + "/" + workId + ".mp3";
}

struct Fetched {
    int status = 0;
    QString contentType;
    QVariant contentLength;
    QByteArray body;
};

Fetched fetch(const QString &url)
{
    QNetworkRequest request{QUrl(url)};
    std::unique_ptr<QNetworkReply> reply(networkManager().get(request));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    if (!reply->isFinished())
        finished.wait(20000);
    Fetched f;
    f.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    f.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toString();
    f.contentLength = reply->header(QNetworkRequest::ContentLengthHeader);
    f.body = reply->readAll();
    return f;
}

void useProxy(int port)
{
    networkManager().setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), quint16(port)));
}

// Decodes an MP3 file (after its ID3 tag) with the encoder library's decoder.
struct Decoded {
    bool ok = false;
    int sampleRate = 0;
    std::vector<short> samples;
};

Decoded decodeMp3(QByteArray data)
{
    Decoded out;
    if (data.startsWith("ID3") && data.size() >= 10) {
        const auto b = [&data](int i) { return quint32(quint8(data.at(i))); };
        const quint32 size = (b(6) << 21) | (b(7) << 14) | (b(8) << 7) | b(9);
        data = data.mid(10 + qsizetype(size));
    }
    const std::unique_ptr<std::remove_pointer_t<hip_t>, int (*)(hip_t)> decoder(hip_decode_init(), hip_decode_exit);
    std::vector<short> left(8192), right(8192);
    mp3data_struct info{};
    for (qsizetype at = 0; at < data.size(); at += 1024) {
        QByteArray chunk = data.mid(at, 1024);
        auto *bytes = reinterpret_cast<unsigned char *>(chunk.data());
        int n = hip_decode1_headers(decoder.get(), bytes, size_t(chunk.size()), left.data(), right.data(), &info);
        while (n > 0) {
            out.samples.insert(out.samples.end(), left.begin(), left.begin() + n);
            n = hip_decode1_headers(decoder.get(), bytes, 0, left.data(), right.data(), &info);
        }
        if (n < 0)
            return out;
    }
    out.ok = info.header_parsed == 1;
    out.sampleRate = info.samplerate;
    return out;
}

} // namespace

class DemoSiteTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_site.start(0));
        QVERIFY(m_site.port() > 0);
        useProxy(m_site.port());
    }

    void cleanupTestCase() { m_site.stop(); }

    void recordingPagesHoldTheirMarkers_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < int(std::size(Works)); ++i)
            QTest::newRow(Works[i].id.data()) << i;
    }

    void recordingPagesHoldTheirMarkers()
    {
        QFETCH(int, index);
        const Work &work = Works[index];
        const std::optional<QString> page = GetBody(qs(pageAddress(work)));
        QVERIFY(page);
        // Each marker once: the cutting takes the text between a marker's
        // first and second occurrence, so a second one would cut a value short.
        const bool sparse = work.layout == PageLayout::Sparse;
        const QList<QPair<QString, bool>> markers = {
            {QStringLiteral("<title>"), true},
            {QStringLiteral("pcsong_title") + Q + ">", true},
            {QStringLiteral("pcsong_title") + Q + " >", true},
            {QStringLiteral("pcsong_listen_icon fl") + Q + ">", true},
            {QStringLiteral("pcsong_gift_icon fl") + Q + ">", !sparse},
            {QStringLiteral("pcsong_forward_icon fl") + Q + ">", !sparse},
            {QStringLiteral("pcsong_comment_icon fl") + Q + ">", true},
            {QStringLiteral("pcsong_photos") + Q + ">", !sparse},
            {QStringLiteral("mp3:") + Q, !sparse},
            {QStringLiteral(".pcsong_head {background: url( ") + Q, !sparse},
        };
        for (const auto &[marker, present] : markers)
            QVERIFY2(page->count(marker) == (present ? 1 : 0), qPrintable(marker));
        QVERIFY(page->startsWith(QLatin1String("<!DOCTYPE html>")));
        QVERIFY(page->trimmed().endsWith(QLatin1String("</html>")));
    }

    void extractionGivesTheCataloguedValues_data() { recordingPagesHoldTheirMarkers_data(); }

    void extractionGivesTheCataloguedValues()
    {
        QFETCH(int, index);
        const Work &work = Works[index];
        const Singer &singer = singerOf(work);
        const std::optional<QString> page = GetBody(qs(pageAddress(work)));
        QVERIFY(page);
        const Extracted e = extractLiterally(*page);

        QCOMPARE(e.songName, qs(work.title));
        QCOMPARE(e.userName, qs(singer.name));
        QCOMPARE(e.fans, qs(singer.fans));
        QCOMPARE(e.other, qs(work.about));
        QCOMPARE(e.plays, qs(work.plays));
        QCOMPARE(e.comments, qs(work.comments));
        if (work.layout == PageLayout::Sparse) {
            // A first lookup of the withdrawn recording finds none of these.
            for (const QString &missing : {e.gifts, e.forwards, e.photo, e.musicUrl, e.headBg, e.workId, e.mvUrl})
                QVERIFY(missing.isEmpty());
            return;
        }
        QCOMPARE(e.gifts, qs(work.gifts));
        QCOMPARE(e.forwards, qs(work.forwards));
        QCOMPARE(e.photo, qs(photoAddress(work)));
        QCOMPARE(e.musicUrl, qs(audioAddress(work)));
        QCOMPARE(e.workId, qs(work.id));
        QCOMPARE(e.headBg, qs(headAddress(work)));
        QCOMPARE(e.headPic, qs(headPictureAddress(work)));
        QCOMPARE(e.musicUrl.split(QLatin1Char('/')).size(), 7);
        if (work.layout == PageLayout::MusicVideo) {
            QVERIFY(e.photo.contains(QLatin1String("player")));
            QVERIFY(e.photo.contains(QLatin1String("&amp;")));
            QVERIFY(e.headBg.count(QLatin1String("100")) >= 2);
            QCOMPARE(e.mvUrl, qs(playerScriptAddress(work)));
            QVERIFY(!e.mvUrl.contains(QLatin1String("&amp;")));
        } else {
            QVERIFY(!e.photo.contains(QLatin1String("player")));
            QVERIFY(e.mvUrl.isEmpty());
        }
    }

    void singerPagesListTheirWorks_data()
    {
        QTest::addColumn<QString>("uid");
        for (const Singer &singer : Singers)
            QTest::newRow(singer.name.data()) << qs(singer.uid);
    }

    void singerPagesListTheirWorks()
    {
        QFETCH(QString, uid);
        const Singer *singer = findSinger(uid.toStdString());
        const std::vector<const Work *> works = worksOf(singer->uid);
        const std::optional<QString> page = GetBody(qs(homeAddress(*singer)));
        QVERIFY(page);

        const QString rowMarker = QStringLiteral("<tr class=") + Q + Q + " onclick=" + Q + "goPlay";
        const QString titleCell = QStringLiteral("class=") + Q + "_col _col_left" + Q + ">";
        const QString titleDiv = QStringLiteral("<div class=") + Q + "song_title" + Q + ">";
        QCOMPARE(page->count(rowMarker), qsizetype(works.size()));
        QCOMPARE(page->count(QLatin1String("goPlay(")), qsizetype(works.size()));
        QCOMPARE(page->count(titleCell), qsizetype(works.size()));

        // The crawl's rows: all but the last marker's work.
        int spans = 0;
        for (int i = 1; i < int(works.size()); ++i) {
            const QString idPiece = piece(*page, QStringLiteral("goPlay("), i).value_or(QString());
            const QString id = idPiece.contains(QLatin1Char(')')) ? idPiece.left(idPiece.indexOf(QLatin1Char(')')))
                                                                  : QString();
            const QString titlePiece = piece(*page, titleCell, i).value_or(QString());
            const bool inSpan = titlePiece.contains(QLatin1String("<span>"));
            spans += inSpan ? 1 : 0;
            const QString opened = piece(titlePiece, inSpan ? QStringLiteral("<span>") : titleDiv, 1).value_or(QString());
            const QString title = opened.contains(QLatin1Char('<')) ? opened.left(opened.indexOf(QLatin1Char('<')))
                                                                     : QString();
            QCOMPARE(id, qs(works[std::size_t(i - 1)]->id));
            QCOMPARE(title, qs(works[std::size_t(i - 1)]->title));
            QCOMPARE(inSpan, works[std::size_t(i - 1)]->titleInSpan);
        }
        if (works.size() > 2) // both ways of writing a title occur
            QVERIFY(spans > 0 && spans < int(works.size()) - 1);
    }

    void playServiceAnswersThePageAddress_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("expected");
        for (const Work &work : Works)
            QTest::newRow(work.id.data()) << qs(work.id) << qs(pageAddress(work));
        QTest::newRow("unknown id") << QStringLiteral("999") << QString();
        QTest::newRow("no id") << QString() << QString();
    }

    void playServiceAnswersThePageAddress()
    {
        QFETCH(QString, id);
        QFETCH(QString, expected);
        const Fetched answer = fetch(qs(playServiceAddress(id.toStdString())));
        QCOMPARE(answer.status, 200);
        QCOMPARE(QString::fromUtf8(answer.body), expected);
    }

    void recordingsAreServedAtBothAddresses_data() { recordingPagesHoldTheirMarkers_data(); }

    void recordingsAreServedAtBothAddresses()
    {
        QFETCH(int, index);
        const Work &work = Works[index];
        const QString own = qs(audioAddress(work));
        const QString rebuilt = rebuildLiterally(own, qs(work.id));
        QCOMPARE(rebuilt, qs(rebuiltAudioAddress(work)));

        const Fetched first = fetch(own);
        const Fetched second = fetch(rebuilt);
        for (const Fetched *answer : {&first, &second}) {
            QCOMPARE(answer->status, 200);
            QCOMPARE(answer->contentType, QStringLiteral("audio/mpeg"));
            QVERIFY(answer->contentLength.isValid());
            QCOMPARE(answer->contentLength.toLongLong(), qint64(answer->body.size()));
            const bool frameSync = answer->body.size() > 1 && quint8(answer->body.at(0)) == 0xff
                && (quint8(answer->body.at(1)) & 0xe0) == 0xe0;
            QVERIFY(answer->body.startsWith("ID3") || frameSync);
        }
        QCOMPARE(first.body, second.body);

        const Decoded decoded = decodeMp3(first.body);
        QVERIFY(decoded.ok);
        QCOMPARE(decoded.sampleRate, 44100);
        const double seconds = double(decoded.samples.size()) / decoded.sampleRate;
        QVERIFY2(seconds >= 3.0 && seconds <= 6.5, qPrintable(QString::number(seconds)));
        double energy = 0;
        int peak = 0;
        for (const short sample : decoded.samples) {
            energy += double(sample) * sample;
            peak = std::max(peak, std::abs(int(sample)));
        }
        const double rms = std::sqrt(energy / double(decoded.samples.size()));
        QVERIFY2(rms > 1500 && peak > 8000, qPrintable(QStringLiteral("rms %1 peak %2").arg(rms).arg(peak)));
    }

    void everyWorkHasItsOwnTune()
    {
        QSet<QByteArray> tunes;
        for (const Work &work : Works) {
            const Decoded decoded = decodeMp3(fetch(qs(audioAddress(work))).body);
            QVERIFY(decoded.ok);
            const QByteArray pcm(reinterpret_cast<const char *>(decoded.samples.data()),
                                 qsizetype(decoded.samples.size() * sizeof(short)));
            tunes.insert(QCryptographicHash::hash(pcm, QCryptographicHash::Sha1));
        }
        QCOMPARE(tunes.size(), qsizetype(std::size(Works)));
    }

    void picturesAreServed_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("width");
        for (const Singer &singer : Singers)
            QTest::newRow(("avatar " + std::string(singer.uid)).c_str()) << qs(avatarAddress(singer)) << 200;
        for (const Work &work : Works) {
            QTest::newRow(("head " + std::string(work.id)).c_str()) << qs(headAddress(work)) << 100;
            QTest::newRow(("head 640 " + std::string(work.id)).c_str()) << qs(headPictureAddress(work)) << 640;
        }
    }

    void picturesAreServed()
    {
        QFETCH(QString, url);
        QFETCH(int, width);
        const Fetched answer = fetch(url);
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.contentType, QStringLiteral("image/png"));
        const QImage image = QImage::fromData(answer.body);
        QVERIFY(!image.isNull());
        QCOMPARE(image.width(), width);
    }

    void videoPlayerScriptNamesItsWork()
    {
        const Work &video = firstWork(PageLayout::MusicVideo);
        const Fetched script = fetch(qs(playerScriptAddress(video)));
        QCOMPARE(script.status, 200);
        QVERIFY(script.contentType.startsWith(QLatin1String("application/javascript")));
        const QString text = QString::fromUtf8(script.body);
        QVERIFY(text.contains(qs(video.title)));
        QVERIFY(text.contains(QLatin1String("canvas")));
        QVERIFY(!text.contains(QLatin1String("</script")));
    }

    void publisherHostsAnswer_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("contains");
        QTest::newRow("version file") << QString::fromLatin1(Endpoints::VersionFileUrl)
                                      << QStringLiteral("text/plain; charset=utf-8") << QStringLiteral("kv:V3.0.83|");
        QTest::newRow("forum") << QString::fromLatin1(Endpoints::ForumUrl) << QStringLiteral("text/html; charset=utf-8")
                               << QStringLiteral("</html>");
        QTest::newRow("site") << QString::fromLatin1(Endpoints::SiteUrl) << QStringLiteral("text/html; charset=utf-8")
                              << QStringLiteral("</html>");
        QTest::newRow("recording page") << qs(pageAddress(Works[0])) << QStringLiteral("text/html; charset=utf-8")
                                        << QStringLiteral("</html>");
    }

    void publisherHostsAnswer()
    {
        QFETCH(QString, url);
        QFETCH(QString, type);
        QFETCH(QString, contains);
        const Fetched answer = fetch(url);
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.contentType, type);
        QVERIFY(QString::fromUtf8(answer.body).contains(contains));
    }

    void versionFileIsTheWholeBody()
    {
        QCOMPARE(GetBody(QString::fromLatin1(Endpoints::VersionFileUrl)), std::optional<QString>(u"kv:V3.0.83|"_qs));
    }

    void unservedAddresses_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("status");
        QTest::newRow("foreign host") << QStringLiteral("http://example.com/") << 502;
        QTest::newRow("bare community domain") << QStringLiteral("http://kelvaro.com/s/kQ7mX2pA") << 502;
        QTest::newRow("media host nobody uses") << QStringLiteral("http://a99.stream.kelvaro.com/x.mp3") << 502;
        QTest::newRow("unknown page") << QStringLiteral("http://www.kelvaro.com/s/nothing") << 404;
        QTest::newRow("audio in the wrong folder")
            << QStringLiteral("http://a7.stream.kelvaro.com/userdata/userwork/999/3108115.mp3") << 404;
    }

    void unservedAddresses()
    {
        QFETCH(QString, url);
        QFETCH(int, status);
        QCOMPARE(fetch(url).status, status);
    }

    void directRequestsUseTheHostHeader()
    {
        httplib::Client client("127.0.0.1", m_site.port());
        const auto page = client.Get(("/s/" + std::string(Works[0].token)).c_str(), {{"Host", "www.kelvaro.com"}});
        QVERIFY(page);
        QCOMPARE(page->status, 200);
        QVERIFY(QString::fromStdString(page->body).contains(qs(Works[0].title)));
        const auto refused = client.Get("/s/x", {{"Host", "127.0.0.1"}});
        QVERIFY(refused);
        QCOMPARE(refused->status, 502);
    }

    void aTakenPortIsRefused()
    {
        DemoSite second;
        QVERIFY(!second.start(m_site.port()));
        QCOMPARE(second.port(), 0);
    }

    void standaloneProxyServesUntilStopped()
    {
        QProcess proxy;
        proxy.start(QStringLiteral(KELVARO_DEMO_SITE_BINARY),
                    {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--version-text"),
                     QStringLiteral("xx:V1|kv:V3.0.84|")});
        QVERIFY(proxy.waitForStarted(10000));
        QByteArray out;
        while (!out.contains('\n') && proxy.waitForReadyRead(30000))
            out += proxy.readAllStandardOutput();
        const QRegularExpressionMatch line =
            QRegularExpression(QStringLiteral("^kelvaro-demo-site: listening on 127\\.0\\.0\\.1:(\\d+)\n$"))
                .match(QString::fromUtf8(out));
        QVERIFY2(line.hasMatch(), out.constData());

        useProxy(line.captured(1).toInt());
        const std::optional<QString> version = GetBody(QString::fromLatin1(Endpoints::VersionFileUrl));
        useProxy(m_site.port());
        QCOMPARE(version, std::optional<QString>(u"xx:V1|kv:V3.0.84|"_qs));

        proxy.terminate(); // SIGTERM
        QVERIFY(proxy.waitForFinished(10000));
        QCOMPARE(proxy.exitStatus(), QProcess::NormalExit);
        QCOMPARE(proxy.exitCode(), 0);
        QCOMPARE(out + proxy.readAllStandardOutput(), out); // nothing after the one line
    }

    void standaloneProxyRefusesABadPort()
    {
        QProcess proxy;
        proxy.start(QStringLiteral(KELVARO_DEMO_SITE_BINARY), {QStringLiteral("--port"), QStringLiteral("many")});
        QVERIFY(proxy.waitForFinished(30000));
        QCOMPARE(proxy.exitCode(), 2);
        QVERIFY(proxy.readAllStandardOutput().isEmpty());
    }

private:
    DemoSite m_site;
};

KELVARO_TEST_MAIN(DemoSiteTest)
#include "tst_demosite.moc"
