// The music video page: the file it writes, the dialog, what happens without
// a video, with an address that is not the community's player or without a
// writable folder, and the written page in a real browser.
#include "common/Fakes.h"
#include "common/TestEnvironment.h"
#include "common/TestServer.h"
#include "core/lookup/SongState.h"
#include "gui/mv/MusicVideo.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <httplib.h>
#include <unistd.h>

class MusicVideoTest : public QObject {
    Q_OBJECT

    struct Setup {
        QTemporaryDir dir{QDir::tempPath() + QStringLiteral("/kelvaro mv XXXXXX")}; // a folder with blanks
        QWidget window;
        SongState song;
        ScriptedDialogs dialogs;
        RecordingDesktop desktop;
        QString status;
        MusicVideo mv{{.window = &window, .setStatus = [this](const QString &text) { status = text; }},
                      song,
                      dialogs,
                      desktop,
                      dir.path()};
        QStringList dialogTexts; // Text1, Text2 of each dialog shown
        QStringList notes; // Label3 of each dialog shown
        QList<bool> playEnabled; // Command1 of each dialog shown
        QList<int> cursorPositions; // of Text1 and Text2, where their shown part starts
        bool clickPlay = false;
        bool pressEscape = false;
        bool escapeClosed = false;

        Setup()
        {
            QObject::connect(&mv, &MusicVideo::dialogReady, [this](Form2 *dialog) {
                dialogTexts << dialog->Text1->text() << dialog->Text2->text();
                cursorPositions << dialog->Text1->cursorPosition() << dialog->Text2->cursorPosition();
                notes << dialog->Label3->text();
                playEnabled << dialog->Command1->isEnabled();
                QTimer::singleShot(0, dialog, [this, dialog] {
                    if (clickPlay)
                        dialog->Command1->click();
                    if (pressEscape) {
                        QTest::keyClick(dialog, Qt::Key_Escape);
                        escapeClosed = !dialog->isVisible();
                    }
                    dialog->close();
                });
            });
        }
        QByteArray page() const
        {
            QFile file(mv.videoPagePath());
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }
    };

private slots:
    void withoutAVideo()
    {
        Setup s;
        s.mv.Command8_Click();
        QCOMPARE(s.dialogs.shown.size(), 1);
        QCOMPARE(s.dialogs.shown.first().text, QStringLiteral("没有发现视频文件.."));
        QCOMPARE(s.dialogs.shown.first().title, QStringLiteral("Ulvaren系列软件"));
        QCOMPARE(s.dialogs.shown.first().icon, MessageIcon::Information);
        QCOMPARE(s.status, QStringLiteral("没有发现视频文件.."));
        QVERIFY(!QFile::exists(s.mv.videoPagePath()));
        QVERIFY(s.dialogTexts.isEmpty());
    }

    void writesTheLineAndShowsTheDialog_data()
    {
        QTest::addColumn<QString>("mvUrl");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("ampersand kept") << "http://www.kelvaro.com/mv/player.js?wid=1&autoplay=1"
                                        << QByteArray("<div><script src=\"http://www.kelvaro.com/mv/player.js?wid=1&autoplay=1\" "
                                                      "type=\"text/javascript\"></script></div>");
        QTest::newRow("quote cannot end the attribute")
            << "http://www.kelvaro.com/p.js?a=\"onload=\"alert(1)"
            << QByteArray("<div><script src=\"http://www.kelvaro.com/p.js?a=&quot;onload=&quot;alert(1)\" "
                          "type=\"text/javascript\"></script></div>");
        QTest::newRow("non-ascii, a subdomain") << "http://mv.kelvaro.com/播放器.js" << QString("<div><script src=\"http://mv.kelvaro.com/播放器.js\" type=\"text/javascript\"></script></div>").toUtf8();
        QTest::newRow("https, a port, capitals")
            << "HTTPS://Player.Kelvaro.COM:8443/p.js"
            << QByteArray("<div><script src=\"HTTPS://Player.Kelvaro.COM:8443/p.js\" type=\"text/javascript\"></script></div>");
        QTest::newRow("a deeper subdomain, nothing after the host")
            << "http://a1.stream.kelvaro.com"
            << QByteArray("<div><script src=\"http://a1.stream.kelvaro.com\" type=\"text/javascript\"></script></div>");
    }

    void writesTheLineAndShowsTheDialog()
    {
        QFETCH(QString, mvUrl);
        QFETCH(QByteArray, line);
        Setup s;
        s.song.MvUrl = mvUrl;
        s.mv.Command8_Click();
        QCOMPARE(s.page(), line + "\r\n");
        QCOMPARE(s.mv.mvHtml().toUtf8(), line);
        QCOMPARE(s.dialogTexts, (QStringList{mvUrl, QString::fromUtf8(line)}));
        QVERIFY(s.dialogs.shown.isEmpty());
        QVERIFY(s.status.isEmpty());
        QCOMPARE(s.notes, QStringList{QStringLiteral("已在当前文件夹下生成名为“video.htm”")});
        QCOMPARE(s.playEnabled, QList<bool>{true});
    }

    // Only the community's own player goes into a page: any other address
    // writes nothing, and the dialog shows it with the reason and no way to
    // play. An earlier page stays as it was.
    void refusesForeignAddresses_data()
    {
        QTest::addColumn<QString>("mvUrl");
        QTest::newRow("data:") << "data:text/javascript,document.title='x'//player";
        QTest::newRow("javascript:") << "javascript:alert(1)//http://www.kelvaro.com/p.js";
        QTest::newRow("foreign host") << "http://evil.example/x/player.js";
        QTest::newRow("look-alike host") << "http://www.kelvaro.com.evil.example/p.js";
        QTest::newRow("domain only as a name's tail") << "http://evilkelvaro.com/p.js";
        QTest::newRow("community host as a user name") << "http://www.kelvaro.com@evil.example/p.js";
        QTest::newRow("backslash a browser reads as a slash") << "http://evil.example\\@www.kelvaro.com/p.js";
        QTest::newRow("tab a browser drops") << "http://www.kelvaro.com\t.evil.example/p.js";
        QTest::newRow("no host") << "http:///evil.example/p.js";
        QTest::newRow("host left to the page's scheme") << "//www.kelvaro.com/p.js";
        QTest::newRow("quote in a foreign address") << "http://evil.example/p.js\"x=\"";
        QTest::newRow("blank inside an allowed address") << "http://www.kelvaro.com/p.js\" onload=\"alert(1)";
        QTest::newRow("other scheme") << "ftp://www.kelvaro.com/p.js";
    }
    void refusesForeignAddresses()
    {
        QFETCH(QString, mvUrl);
        Setup s;
        s.song.MvUrl = QStringLiteral("http://www.kelvaro.com/mv/player.js?wid=1");
        s.mv.Command8_Click();
        const QByteArray earlier = s.page();
        QVERIFY(!earlier.isEmpty());

        s.song.MvUrl = mvUrl;
        s.mv.Command8_Click();
        QCOMPARE(s.page(), earlier);
        QCOMPARE(s.mv.mvHtml().toUtf8() + "\r\n", earlier);
        const QString refusal = QStringLiteral("视频地址无效,无法生成视频页面..");
        QCOMPARE(s.dialogTexts.mid(2), (QStringList{mvUrl, QString()}));
        QCOMPARE(s.notes.value(1), refusal);
        QCOMPARE(s.playEnabled, (QList<bool>{true, false}));
        QCOMPARE(s.status, refusal);
        QVERIFY(s.dialogs.shown.isEmpty());

        // Nothing in a fresh folder either.
        Setup fresh;
        fresh.song.MvUrl = mvUrl;
        fresh.mv.Command8_Click();
        QVERIFY(!QFile::exists(fresh.mv.videoPagePath()));
    }

    // The page as a browser runs it: headless Chromium opens video.htm from
    // its folder and reaches the community through a local proxy, which
    // serves a player script that leaves a mark in the page.
    void playerRunsInABrowser_data()
    {
        QTest::addColumn<QString>("mvUrl");
        QTest::addColumn<QString>("requested"); // the address the browser loads the player from
        QTest::newRow("web host") << "http://www.kelvaro.com/mv/player.js?wid=7&autoplay=1"
                                  << "http://www.kelvaro.com/mv/player.js?wid=7&autoplay=1";
        QTest::newRow("subdomain") << "http://mv.kelvaro.com/player.js?wid=7"
                                   << "http://mv.kelvaro.com/player.js?wid=7";
        QTest::newRow("quote kept in the address") << "http://www.kelvaro.com/mv/player.js?t=\"x"
                                                   << "http://www.kelvaro.com/mv/player.js?t=%22x";
    }
    void playerRunsInABrowser()
    {
        QFETCH(QString, mvUrl);
        QFETCH(QString, requested);
        const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
        if (chromium.isEmpty()) {
            if (qEnvironmentVariable("CI") == QLatin1String("true"))
                QFAIL("chromium is not installed; scripts/setup installs it");
            QSKIP("chromium is not installed (scripts/setup installs it): the page is not tried in a browser");
        }

        // Through a proxy the request line carries the whole address, which
        // the server hands over as the path. Everything else the browser asks
        // for (its own services included) ends here too, unanswered.
        TestServer proxy;
        proxy.http().Get(".*", [](const httplib::Request &request, httplib::Response &response) {
            if (request.path.find("player.js") == std::string::npos) {
                response.status = 404;
                return;
            }
            response.set_content("var mark = document.createElement('p');"
                                 "mark.id = 'player-marker';"
                                 "mark.textContent = 'player ran: ' + document.currentScript.src;"
                                 "document.currentScript.after(mark);",
                                 "text/javascript");
        });
        proxy.start();

        Setup s;
        s.song.MvUrl = mvUrl;
        s.mv.Command8_Click();
        QVERIFY(QFile::exists(s.mv.videoPagePath()));

        QTemporaryDir profile;
        QStringList arguments{QStringLiteral("--headless"),
                              QStringLiteral("--disable-gpu"),
                              QStringLiteral("--no-first-run"),
                              QStringLiteral("--disable-background-networking"),
                              QStringLiteral("--disable-component-update"),
                              QStringLiteral("--disable-sync"),
                              QStringLiteral("--user-data-dir=") + profile.path(),
                              QStringLiteral("--proxy-server=http://127.0.0.1:%1").arg(proxy.port()),
                              QStringLiteral("--dump-dom"),
                              QUrl::fromLocalFile(s.mv.videoPagePath()).toString()};
        if (::geteuid() == 0)
            arguments.prepend(QStringLiteral("--no-sandbox")); // Chromium's sandbox refuses root
        QProcess browser;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), profile.path());
        browser.setProcessEnvironment(environment);
        browser.start(chromium, arguments);
        QVERIFY2(browser.waitForStarted(), qPrintable(browser.errorString()));
        if (!browser.waitForFinished(90000)) {
            browser.kill();
            browser.waitForFinished();
            QFAIL("chromium did not finish within 90 s");
        }
        const QByteArray dom = browser.readAllStandardOutput();
        const QByteArray mark = "<p id=\"player-marker\">player ran: " + requested.toUtf8().replace("&", "&amp;") + "</p>";
        QVERIFY2(dom.contains(mark), (dom + browser.readAllStandardError().right(2000)).constData());
        QCOMPARE(proxy.requestCount(requested.section(QLatin1Char('?'), 0, 0)), 1);
    }

    void secondClickRewritesOneLine()
    {
        Setup s;
        s.song.MvUrl = QStringLiteral("http://www.kelvaro.com/1.js");
        s.mv.Command8_Click();
        s.song.MvUrl = QStringLiteral("http://www.kelvaro.com/2.js");
        s.mv.Command8_Click();
        QCOMPARE(s.page(), QByteArray("<div><script src=\"http://www.kelvaro.com/2.js\" type=\"text/javascript\"></script></div>\r\n"));
        QCOMPARE(s.dialogTexts.size(), 4); // a fresh dialog each time, as the last one was closed
    }

    void playNowOpensThePageInAFolderWithBlanks()
    {
        Setup s;
        s.clickPlay = true;
        s.song.MvUrl = QStringLiteral("http://www.kelvaro.com/1.js");
        s.mv.Command8_Click();
        QVERIFY(s.mv.videoPagePath().contains(QLatin1Char(' ')));
        QCOMPARE(s.desktop.opened, QStringList{s.mv.videoPagePath()});
    }

    // A long address shows its start; Escape closes the dialog as its close box does.
    void dialogShowsAddressStartAndClosesOnEscape()
    {
        Setup s;
        s.pressEscape = true;
        s.song.MvUrl = QStringLiteral("http://player.kelvaro.com/") + QString(300, QLatin1Char('x')) + QStringLiteral(".js");
        s.mv.Command8_Click();
        QCOMPARE(s.cursorPositions, (QList<int>{0, 0}));
        QVERIFY(s.escapeClosed);
    }

    void unwritableFolderSaysSoAndShowsNoDialog()
    {
        Setup s;
        const QString missing = s.dir.path() + QStringLiteral("/missing");
        MusicVideo mv({.window = &s.window, .setStatus = [&](const QString &text) { s.status = text; }}, s.song,
                      s.dialogs, s.desktop, missing);
        s.song.MvUrl = QStringLiteral("http://www.kelvaro.com/1.js");
        bool dialogShown = false;
        QObject::connect(&mv, &MusicVideo::dialogReady, [&](Form2 *) { dialogShown = true; });
        mv.Command8_Click();
        QVERIFY(!dialogShown);
        QCOMPARE(s.dialogs.shown.size(), 1);
        QString text = s.dialogs.shown.first().text;
        QVERIFY(text.contains(missing + QStringLiteral("/video.htm")));
        // Apart from the path, all the user reads is Chinese.
        QVERIFY2(!text.remove(missing + QStringLiteral("/video.htm")).contains(QRegularExpression(QStringLiteral("[A-Za-z]"))),
                 qPrintable(text));
        QCOMPARE(s.dialogs.shown.first().icon, MessageIcon::Exclamation);
        QVERIFY(mv.mvHtml().isEmpty());
    }

    void dialogMakeup()
    {
        Form2 dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("获取MV"));
        QCOMPARE(dialog.Frame1->title(), QStringLiteral("视频信息"));
        QCOMPARE(dialog.Frame2->title(), QStringLiteral("友情提示"));
        QCOMPARE(dialog.Label1->text(), QStringLiteral("视频地址："));
        QCOMPARE(dialog.Label2->text(), QStringLiteral("HTML调用代码："));
        QCOMPARE(dialog.Label3->text(), QStringLiteral("已在当前文件夹下生成名为“video.htm”"));
        QCOMPARE(dialog.Command1->text(), QStringLiteral("立刻播放"));
        QVERIFY(dialog.windowIcon().isNull());
        QVERIFY(!dialog.Text1->isReadOnly() && !dialog.Text2->isReadOnly());
    }
};

KELVARO_TEST_MAIN(MusicVideoTest)
#include "tst_music_video.moc"
