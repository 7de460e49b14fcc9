// The lookup in the main window: the captions, the singer picture and the
// badge as the user sees them, the copy and paste buttons, and a second
// lookup clicked while the first one waits for its page.
#include "FakeCommunity.h"
#include "SongPages.h"
#include "app/Form1.h"
#include "TestPictures.h"
#include "common/TestEnvironment.h"
#include "lookup/SongLookup.h"
#include "platform/Network.h"

#include <QClipboard>
#include <QMimeData>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
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
const QString HeadPictureAddress = QStringLiteral("http://img.kelvaro.test/head_640.jpg");

} // namespace

class SongLookupTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<FakeCommunity> m_site;
    std::unique_ptr<Form1> m_form;
    SongState m_state;
    std::unique_ptr<SongLookup> m_lookup;

    void lookUp(const QString &url)
    {
        m_form->Text1->setText(url);
        m_lookup->aicAlphaImage3_Click();
    }

private slots:
    void init()
    {
        m_site = std::make_unique<FakeCommunity>();
        m_site->page(PhotoAddress, pngBytes(Qt::red), "image/jpeg");
        m_site->page(HeadPictureAddress, pngBytes(Qt::blue), "image/jpeg");
        m_site->start();
        networkManager().setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), quint16(m_site->port())));
        m_form = std::make_unique<Form1>();
        m_state = SongState{};
        Form1 *form = m_form.get();
        const SongLookup::Controls controls{form->Text1,  form->aicAlphaImage3, form->Command13,
                                            form->Command9, form->Label1,        form->Label4,
                                            form->Label10,  form->Label2,        form->Label5,
                                            form->Label6,   form->Label7,        form->Label9,
                                            form->Image1,   form->Image2,        form->aicAlphaImage2,
                                            [form](const QString &text) { form->setStatus(text); }};
        m_lookup = std::make_unique<SongLookup>(controls, m_state, PageFetch{}, FetchLimits{3000, 3000});
    }
    void cleanup()
    {
        m_lookup.reset();
        m_form.reset();
        m_site.reset();
    }

    // The logo button starts the lookup; the captions carry their prefixes
    // and units, the values inserted unchanged.
    void captionsAfterALookup()
    {
        m_site->page(address("a"), songPage({}));
        m_form->Text1->setText(address("a"));
        QTest::mouseClick(m_form->aicAlphaImage3, Qt::LeftButton);
        QCOMPARE(m_site->requestCount(address("a")), 1);
        QVERIFY(m_site->lastRequestHeaders(address("a")).contains("If-Modified-Since: 0"));
        QCOMPARE(m_form->Label1->text(), QStringLiteral("用户名：Alice"));
        QCOMPARE(m_form->Label4->text(), QStringLiteral("粉丝数：1234"));
        QCOMPARE(m_form->Label10->text(), QStringLiteral("上传于 2015-06-01"));
        QCOMPARE(m_form->Label2->text(), QStringLiteral("演唱歌曲：Song"));
        QCOMPARE(m_form->Label5->text(), QStringLiteral("播放次数：5678次"));
        QCOMPARE(m_form->Label6->text(), QStringLiteral("收到礼物：90个"));
        QCOMPARE(m_form->Label7->text(), QStringLiteral("转发次数：12次"));
        QCOMPARE(m_form->Label9->text(), QStringLiteral("评论数量：34次"));
        QCOMPARE(m_form->Label3->text(), QStringLiteral("其他信息："));
        QCOMPARE(m_form->status(), QStringLiteral("正在检测是否最新版本.."));
        QCOMPARE(m_state.MusicUrl, SongPageFields{}.audio);
        QCOMPARE(m_state.WorkId, QStringLiteral("12345"));
    }

    // Accepted as typed; the fetch reads the address without the blank.
    void addressWithALeadingBlank()
    {
        m_site->page(address("a"), songPage({}));
        lookUp(QStringLiteral(" ") + address("a"));
        QCOMPARE(m_site->requestCount(address("a")), 1);
        QCOMPARE(m_form->Label2->text(), QStringLiteral("演唱歌曲：Song"));
    }

    void captionsWhenNothingWasFound()
    {
        m_site->page(address("bare"), QStringLiteral("<html>nothing here</html>"));
        lookUp(address("bare"));
        QCOMPARE(m_form->Label1->text(), QStringLiteral("用户名："));
        QCOMPARE(m_form->Label4->text(), QStringLiteral("粉丝数："));
        QCOMPARE(m_form->Label10->text(), QString());
        QCOMPARE(m_form->Label2->text(), QStringLiteral("演唱歌曲："));
        QCOMPARE(m_form->Label5->text(), QStringLiteral("播放次数：次"));
        QCOMPARE(m_form->Label6->text(), QStringLiteral("收到礼物：个"));
        QCOMPARE(m_form->Label7->text(), QStringLiteral("转发次数：次"));
        QCOMPARE(m_form->Label9->text(), QStringLiteral("评论数量：次"));
    }

    void refusalLeavesThePanel()
    {
        lookUp(QStringLiteral("https://www.kelvaro.com/s/a"));
        QCOMPARE(m_form->status(), QStringLiteral("地址错误,请您检查 .."));
        QCOMPARE(m_form->Label1->text(), QStringLiteral("歌手名：未查询"));
        QCOMPARE(m_form->Label2->text(), QStringLiteral("演唱歌曲：未查询"));
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
        QCOMPARE(m_state.MvUrl, QStringLiteral("http://www.kelvaro.test/player.js?a=1&b=2"));
    }

    void singerPicture_data()
    {
        QTest::addColumn<QString>("photo");
        QTest::addColumn<QString>("shows"); // "photo", "default", "blank" or "kept"
        QTest::newRow("photo loaded") << PhotoAddress << "photo";
        QTest::newRow("no photo address: default") << "" << "default";
        QTest::newRow("photo not a picture: blank") << "http://img.kelvaro.test/404.jpg" << "blank";
        QTest::newRow("photo cannot be loaded at all: kept") << "/relative/p.jpg" << "kept";
    }
    void singerPicture()
    {
        QFETCH(QString, photo);
        QFETCH(QString, shows);
        // Start from a picture that is neither of the outcomes.
        m_form->Image1->setPixmap(QPixmap::fromImage(QImage::fromData(pngBytes(Qt::green))));
        SongPageFields fields;
        fields.photoElement = photoElement(photo);
        m_site->page(address("p"), songPage(fields));
        m_form->aicAlphaImage2->show();
        lookUp(address("p"));
        if (shows == "photo")
            QCOMPARE(shownColour(m_form->Image1), QColor(Qt::red));
        else if (shows == "default")
            QCOMPARE(m_form->Image1->pixmap().toImage(), m_form->Image2->pixmap().toImage());
        else if (shows == "blank")
            QVERIFY(m_form->Image1->pixmap().isNull());
        else
            QCOMPARE(shownColour(m_form->Image1), QColor(Qt::green));
        // Only an ordinary recording with a photo hides the badge.
        QCOMPARE(m_form->aicAlphaImage2->isVisibleTo(m_form.get()), photo.isEmpty());
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

        // A page without the audio marker leaves the earlier address to copy.
        m_site->page(address("b"), QStringLiteral("<title>B - Bob Kelvaro - x</title>"));
        lookUp(address("b"));
        clipboard->setText(QStringLiteral("something else"));
        QTest::mouseClick(m_form->Command13, Qt::LeftButton);
        QCOMPARE(clipboard->text(), SongPageFields{}.audio);
    }

    void pasteAddress_data()
    {
        QTest::addColumn<QString>("clipboard"); // "<picture>" puts only a picture there
        QTest::addColumn<QString>("expected");
        QTest::newRow("text") << address("x") << address("x");
        QTest::newRow("text with blanks") << "  " + address("x") + " " << "  " + address("x") + " ";
        QTest::newRow("empty clipboard") << "" << "";
        QTest::newRow("only a picture") << "<picture>" << "";
    }
    void pasteAddress()
    {
        QFETCH(QString, clipboard);
        QFETCH(QString, expected);
        QVERIFY(!m_form->Text1->isEnabled()); // as designed, until the version check
        m_form->Text1->setText(QStringLiteral("old text"));
        if (clipboard == "<picture>") {
            auto *data = new QMimeData;
            data->setImageData(QImage::fromData(pngBytes(Qt::red)));
            QGuiApplication::clipboard()->setMimeData(data);
        } else if (clipboard.isEmpty()) {
            QGuiApplication::clipboard()->clear();
        } else {
            QGuiApplication::clipboard()->setText(clipboard);
        }
        QTest::mouseClick(m_form->Command9, Qt::LeftButton);
        QCOMPARE(m_form->Text1->text(), expected);
        QCOMPARE(m_form->status(), QStringLiteral("正在检测是否最新版本.."));
        QCOMPARE(m_site->requestCount(expected), 0); // pasting looks nothing up
    }

    // A second click while the first lookup waits for its page: the inner
    // lookup runs to its end, then the outer one finishes with its own page,
    // the pieces its page lacks left as the inner page set them.
    void secondLookupWhileTheFirstWaits()
    {
        SongPageFields inner;
        inner.title = QStringLiteral("Inner - Ian Kelvaro - x");
        inner.play = QStringLiteral("111");
        inner.audio = QStringLiteral("http://a1.stream.kelvaro.test/userdata/userwork/999/54999.mp3");
        m_site->page(address("inner"), songPage(inner));
        m_site->page(address("outer"), QStringLiteral("<title>Outer - Olga Kelvaro - x</title>"));
        m_site->gate(address("outer"));

        QString captionAfterInner;
        int requestsBeforeInner = -1;
        QTimer::singleShot(0, this, [&] {
            requestsBeforeInner = m_site->requestCount(address("inner"));
            lookUp(address("inner")); // clicked while the outer lookup waits
            captionAfterInner = m_form->Label2->text();
            m_site->release();
        });
        lookUp(address("outer"));

        QCOMPARE(requestsBeforeInner, 0);
        QCOMPARE(captionAfterInner, QStringLiteral("演唱歌曲：Inner"));
        QCOMPARE(m_form->Label2->text(), QStringLiteral("演唱歌曲：Outer"));
        QCOMPARE(m_form->Label1->text(), QStringLiteral("用户名：Olga"));
        QCOMPARE(m_form->Label5->text(), QStringLiteral("播放次数：111次"));
        QCOMPARE(m_state.MusicUrl, inner.audio);
        QCOMPARE(m_state.WorkId, QStringLiteral("54999"));
        QCOMPARE(m_state.PageHtml, QStringLiteral("<title>Outer - Olga Kelvaro - x</title>"));
        QCOMPARE(m_site->requestCount(address("outer")), 1);
        QCOMPARE(m_site->requestCount(address("inner")), 1);
        QCOMPARE(shownColour(m_form->Image1), QColor(Qt::red)); // the inner page's photo, carried over
    }
};

KELVARO_TEST_MAIN(SongLookupTest)
#include "tst_songlookup.moc"
