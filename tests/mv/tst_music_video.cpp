// The music video page: the file it writes, the dialog, and what happens
// without a video or without a writable folder.
#include "common/Fakes.h"
#include "common/TestEnvironment.h"
#include "lookup/SongState.h"
#include "mv/MusicVideo.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

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
        QList<int> cursorPositions; // of Text1 and Text2, where their shown part starts
        bool clickPlay = false;
        bool pressEscape = false;
        bool escapeClosed = false;

        Setup()
        {
            QObject::connect(&mv, &MusicVideo::dialogReady, [this](Form2 *dialog) {
                dialogTexts << dialog->Text1->text() << dialog->Text2->text();
                cursorPositions << dialog->Text1->cursorPosition() << dialog->Text2->cursorPosition();
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
            << "http://x/p.js\" onload=\"alert(1)"
            << QByteArray("<div><script src=\"http://x/p.js&quot; onload=&quot;alert(1)\" type=\"text/javascript\"></script></div>");
        QTest::newRow("non-ascii") << "http://x/播放器.js" << QString("<div><script src=\"http://x/播放器.js\" type=\"text/javascript\"></script></div>").toUtf8();
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
    }

    void secondClickRewritesOneLine()
    {
        Setup s;
        s.song.MvUrl = QStringLiteral("http://a/1.js");
        s.mv.Command8_Click();
        s.song.MvUrl = QStringLiteral("http://a/2.js");
        s.mv.Command8_Click();
        QCOMPARE(s.page(), QByteArray("<div><script src=\"http://a/2.js\" type=\"text/javascript\"></script></div>\r\n"));
        QCOMPARE(s.dialogTexts.size(), 4); // a fresh dialog each time, as the last one was closed
    }

    void playNowOpensThePageInAFolderWithBlanks()
    {
        Setup s;
        s.clickPlay = true;
        s.song.MvUrl = QStringLiteral("http://a/1.js");
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
        s.song.MvUrl = QStringLiteral("http://a/1.js");
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
