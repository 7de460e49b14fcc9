// The lookup in the main window, through the network stack and a local proxy
// standing in for the community: the captions, the singer picture and the
// badge as the user sees them, the copy and paste buttons, and a second
// lookup clicked while the first one waits for its page or picture.
#include "common/FakeCommunity.h"
#include "common/SongPages.h"
#include "common/TestPictures.h"
#include "gui/app/Form1.h"
#include "gui/app/FormControls.h"
#include "common/TestEnvironment.h"
#include "gui/lookup/SongLookup.h"
#include "core/platform/Network.h"

#include <QClipboard>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString address(const QString &name)
{
    return recordingPagePrefix() + name;
}

QColor shownColour(const QLabel *image)
{
    return image->pixmap().toImage().pixelColor(0, 0);
}

const QString PhotoAddress = QStringLiteral("http://img.kelvaro.test/photo_100.jpg");

} // namespace

class SongLookupTest : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeCommunity> m_site;
    std::unique_ptr<Form1> m_form;
    SongState m_state;
    std::unique_ptr<SongLookup> m_lookup;
    QTemporaryDir m_files;

    void click(const QString &url)
    {
        m_form->Text1->setText(url);
        QTest::mouseClick(m_form->aicAlphaImage3, Qt::LeftButton);
    }
    // Clicks and waits for the lookup's end.
    void lookUp(const QString &url)
    {
        click(url);
        QTRY_VERIFY_WITH_TIMEOUT(!m_lookup->busy(), 10000);
    }
    QStringList shownCaptions() const
    {
        QStringList out;
        const Form1 &f = *m_form;
        for (const QLabel *label : std::initializer_list<const QLabel *>{
                 f.Label1, f.Label4, f.Label10, f.Label2, f.Label5, f.Label6, f.Label7, f.Label9})
            out << label->text();
        return out;
    }

private slots:
    void initTestCase()
    {
        QFile local(m_files.filePath("local.png"));
        QVERIFY(local.open(QIODevice::WriteOnly) && local.write(pngBytes(Qt::red)) > 0);
    }
    void init()
    {
        m_site = std::make_unique<FakeCommunity>();
        m_site->page(PhotoAddress, pngBytes(Qt::red), "image/jpeg");
        m_site->page(QStringLiteral("http://img.kelvaro.test/head_640.jpg"), pngBytes(Qt::blue), "image/jpeg");
        m_site->start();
        networkManager().setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), quint16(m_site->port())));
        m_form = std::make_unique<Form1>();
        m_state = SongState{};
        m_lookup = std::make_unique<SongLookup>(controlsOf(*m_form).songLookup, m_state, PageFetch{},
                                                FetchLimits{3000, 3000});
    }
    void cleanup()
    {
        m_lookup.reset();
        m_form.reset();
        m_site.reset();
    }

    // The captions carry their prefixes and units, the values inserted
    // unchanged, empty ones too.
    void captions_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QStringList>("expected");
        // A page without audio says so; one with audio says nothing.
        QTest::newRow("a recording") << songPage({})
                                     << QStringList{"用户名：Alice",    "粉丝数：1234",     "上传于 2015-06-01",
                                                    "演唱歌曲：Song",   "播放次数：5678次", "收到礼物：90个",
                                                    "转发次数：12次",   "评论数量：34次"};
        QTest::newRow("nothing found") << "<html>nothing here</html>"
                                       << QStringList{"用户名：",    "粉丝数：",     "",           "演唱歌曲：",
                                                      "播放次数：次", "收到礼物：个", "转发次数：次", "评论数量：次"};
    }
    void captions()
    {
        QFETCH(QString, page);
        QFETCH(QStringList, expected);
        m_site->page(address("a"), page);
        lookUp(address("a"));
        QCOMPARE(m_site->requestCount(address("a")), 1);
        QCOMPARE(shownCaptions(), expected);
        QCOMPARE(m_form->status(), page.contains(QStringLiteral("mp3:")) ? QStringLiteral("歌曲信息获取完毕..")
                                                                          : QStringLiteral("未找到音乐地址,作品可能已删除.."));
    }

    // The badge sits right after the song name as the name is now: a longer
    // name puts it further right.
    void badgeFollowsTheSongName()
    {
        QList<int> lefts;
        for (const QString &name : {QStringLiteral("Hi"), QStringLiteral("A much longer song name 长歌名")}) {
            SongPageFields video;
            video.title = name + QStringLiteral(" - Alice Kelvaro - x");
            video.photoElement = photoElement("http://www.kelvaro.test/player.js?a=1&amp;b=2");
            m_site->page(address(name), songPage(video));
            lookUp(address(name));
            QVERIFY(m_form->aicAlphaImage2->isVisibleTo(m_form.get()));
            QCOMPARE(m_form->aicAlphaImage2->Left(), m_form->Label2->x() + m_form->Label2->width());
            lefts << m_form->aicAlphaImage2->Left();
        }
        QVERIFY(lefts[1] > lefts[0]);
        QCOMPARE(shownColour(m_form->Image1), QColor(Qt::blue)); // the header picture
        QCOMPARE(m_state.PictureBytes, pngBytes(Qt::blue));      // and so the cover
    }

    void singerPicture_data()
    {
        QTest::addColumn<QString>("photo");
        QTest::addColumn<QString>("shows"); // "photo", "default", "blank" or "kept"
        // The bytes kept for a saved song's cover: the picture shown, as
        // served; never the program's default picture, nor an earlier song's.
        QTest::addColumn<QByteArray>("cover");
        QTest::newRow("photo loaded") << PhotoAddress << "photo" << pngBytes(Qt::red);
        QTest::newRow("no photo address: default, badge unchanged") << "" << "default" << QByteArray();
        QTest::newRow("photo not a picture: blank") << "http://img.kelvaro.test/404.jpg" << "blank" << QByteArray();
        QTest::newRow("photo cannot be loaded at all: kept") << "/relative/p.jpg" << "kept" << QByteArray();
        QTest::newRow("a local picture file") << m_files.filePath("local.png") << "photo" << pngBytes(Qt::red);
    }
    void singerPicture()
    {
        QFETCH(QString, photo);
        QFETCH(QString, shows);
        QFETCH(QByteArray, cover);
        m_form->Image1->setPixmap(QPixmap::fromImage(QImage::fromData(pngBytes(Qt::green))));
        m_state.PictureBytes = pngBytes(Qt::green); // the song before
        m_form->aicAlphaImage2->show();
        SongPageFields fields;
        fields.photoElement = photoElement(photo);
        m_site->page(address("p"), songPage(fields));
        lookUp(address("p"));
        if (shows == "default")
            QCOMPARE(m_form->Image1->pixmap().toImage(), m_form->Image2->pixmap().toImage());
        else if (shows == "blank")
            QVERIFY(m_form->Image1->pixmap().isNull());
        else
            QCOMPARE(shownColour(m_form->Image1), QColor(shows == "photo" ? Qt::red : Qt::green));
        // Only an ordinary recording with a photo hides the badge.
        QCOMPARE(m_form->aicAlphaImage2->isVisibleTo(m_form.get()), photo.isEmpty());
        QCOMPARE(m_state.PictureBytes, cover);
        QCOMPARE(m_state.PageUrl, address("p"));
    }

    void copyAddress()
    {
        QClipboard *clipboard = QGuiApplication::clipboard();
        clipboard->setText(QStringLiteral("untouched"));
        QTest::mouseClick(m_form->Command13, Qt::LeftButton);
        QCOMPARE(m_form->status(), QStringLiteral("请先进行解析.."));
        QCOMPARE(clipboard->text(), QStringLiteral("untouched"));

        m_site->page(address("a"), songPage({}));
        lookUp(address("a"));
        QTest::mouseClick(m_form->Command13, Qt::LeftButton);
        QCOMPARE(clipboard->text(), SongPageFields{}.audio);
        QCOMPARE(m_form->status(), QStringLiteral("音乐地址已复制.."));
    }

    // Pasting works on the address field while it is still disabled, and
    // looks nothing up.
    void pasteAddress_data()
    {
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QString>("expected");
        QTest::newRow("text, blanks kept") << "  " + address("x") + " " << "  " + address("x") + " ";
        QTest::newRow("empty clipboard") << "" << "";
    }
    void pasteAddress()
    {
        QFETCH(QString, clipboard);
        QFETCH(QString, expected);
        QVERIFY(!m_form->Text1->isEnabled()); // as designed, until the version check
        m_form->Text1->setText(QStringLiteral("old text"));
        if (clipboard.isEmpty())
            QGuiApplication::clipboard()->clear();
        else
            QGuiApplication::clipboard()->setText(clipboard);
        QTest::mouseClick(m_form->Command9, Qt::LeftButton);
        QCOMPARE(m_form->Text1->text(), expected);
        QCOMPARE(m_site->requestCount(address("x")), 0);
    }

    // A second click while the first lookup waits, for its page or for its
    // picture: the newer lookup runs to its end and wins; nothing of the
    // older one's page, picture (even a failing one), badge or MvUrl shows
    // afterwards, though its answer comes after all.
    void newerLookupWins_data()
    {
        QTest::addColumn<QString>("gated"); // what the outer lookup waits for
        QTest::addColumn<QString>("outerPhoto");
        QTest::newRow("its page") << "page" << "http://www.kelvaro.test/player.js?wid=1";
        QTest::newRow("its slow video picture") << "http://img.kelvaro.test/head_640.jpg"
                                                << "http://www.kelvaro.test/player.js?wid=1";
        QTest::newRow("its picture that fails late") << "http://img.kelvaro.test/gone.jpg"
                                                     << "http://img.kelvaro.test/gone.jpg";
    }
    void newerLookupWins()
    {
        QFETCH(QString, gated);
        QFETCH(QString, outerPhoto);
        SongPageFields inner;
        inner.title = QStringLiteral("Inner - Ian Kelvaro - x");
        inner.play = QStringLiteral("111");
        inner.audio = QStringLiteral("http://a1.stream.kelvaro.test/userdata/userwork/999/54999.mp3");
        SongPageFields outer;
        outer.title = QStringLiteral("Outer - Olga Kelvaro - x");
        outer.photoElement = photoElement(outerPhoto);
        m_site->page(address("inner"), songPage(inner));
        m_site->page(address("outer"), songPage(outer));
        const QString waitedFor = gated == "page" ? address("outer") : gated;
        m_site->gate(waitedFor);

        // The inner click comes once the outer lookup's request is held.
        QSignalSpy ended(m_lookup.get(), &SongLookup::lookupEnded);
        click(address("outer"));
        QTRY_VERIFY_WITH_TIMEOUT(m_site->requestCount(waitedFor) > 0, 10000);
        click(address("inner"));
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 10000);
        const QStringList captionsAfterInner = shownCaptions();
        m_site->release();
        QTRY_VERIFY(!m_lookup->busy());
        QTest::qWait(200); // time for a late answer to show, were it taken
        QCOMPARE(ended.size(), 1);

        QCOMPARE(captionsAfterInner.value(3), QStringLiteral("演唱歌曲：Inner"));
        QCOMPARE(shownCaptions(), captionsAfterInner);
        QCOMPARE(m_state.MusicUrl, inner.audio);
        QCOMPARE(m_state.WorkId, QStringLiteral("54999"));
        QCOMPARE(m_state.MvUrl, QString());
        QCOMPARE(m_state.PageHtml, songPage(inner));
        QVERIFY(!m_form->aicAlphaImage2->isVisibleTo(m_form.get()));
        QCOMPARE(shownColour(m_form->Image1), QColor(Qt::red)); // the inner page's photo
        QCOMPARE(m_site->requestCount(address("outer")), 1);
    }

    // Pages that cannot be shown, looked up after a good one: a withdrawn
    // page empties the audio address, so play, copy and download refuse; a
    // fetch that brings no page says so and keeps the panel.
    void afterAGoodLookup_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("httpStatus");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("songCaption");
        QTest::addColumn<bool>("brokenPacking"); // sent as gzip that fails to unpack part-way
        const QString failed = QStringLiteral("抱歉!页面获取失败,请检查地址或稍后再试..");
        QTest::newRow("withdrawn") << QByteArray("<title>Gone - Bob Kelvaro - x</title><p>作品已删除</p>") << 200
                                   << "未找到音乐地址,作品可能已删除.." << "演唱歌曲：Gone" << false;
        QTest::newRow("404 error page") << QByteArray("<title>Gone - Bob Kelvaro - x</title>") << 404 << failed
                                        << "演唱歌曲：Song" << false;
        QTest::newRow("empty answer") << QByteArray() << 200 << failed << "演唱歌曲：Song" << false;
        // What unpacks before the break has no audio: taken as the page, it
        // would read as a withdrawn recording.
        QTest::newRow("gzip body breaks off") << QByteArray("<title>Gone - Bob Kelvaro - x</title>").repeated(30000)
                                              << 200 << failed << "演唱歌曲：Song" << true;
    }
    void afterAGoodLookup()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, httpStatus);
        QFETCH(QString, status);
        QFETCH(QString, songCaption);
        QFETCH(bool, brokenPacking);
        m_site->page(address("good"), songPage({}));
        if (brokenPacking) // not a text type, which the server would pack once more
            m_site->page(address("second"), brokenGzip(body), "application/octet-stream", httpStatus, "gzip");
        else
            m_site->page(address("second"), body, "text/html; charset=utf-8", httpStatus);
        lookUp(address("good"));
        const bool failed = songCaption.endsWith("Song");
        lookUp(address("second"));
        QCOMPARE(m_form->status(), status);
        QCOMPARE(m_form->Label2->text(), songCaption);
        QCOMPARE(m_state.MusicUrl, failed ? SongPageFields{}.audio : QString());
        QCOMPARE(m_state.WorkId, failed ? QStringLiteral("12345") : QString());
        // A failed fetch keeps the good page's photo; a withdrawn page has none
        // of its own and shows the default picture.
        QCOMPARE(shownColour(m_form->Image1) == QColor(Qt::red), failed);

        QClipboard *clipboard = QGuiApplication::clipboard();
        clipboard->setText(QStringLiteral("untouched"));
        QTest::mouseClick(m_form->Command13, Qt::LeftButton);
        QCOMPARE(clipboard->text(), failed ? SongPageFields{}.audio : QStringLiteral("untouched"));
        QCOMPARE(m_form->status(), failed ? QStringLiteral("音乐地址已复制..") : QStringLiteral("请先进行解析.."));
    }
};

KELVARO_TEST_MAIN(SongLookupTest)
#include "tst_songlookup.moc"
