// Start-up in its order, the version check's outcomes, the skin, the column
// lock and the ways the program ends.
#include "app/Endpoints.h"
#include "app/Program.h"
#include "common/Fakes.h"
#include "common/TestEnvironment.h"
#include "common/TestServer.h"
#include "lookup/PageFetcher.h"
#include "platform/Network.h"

#include <QHeaderView>
#include <QNetworkProxy>
#include <QTemporaryDir>
#include <QtTest>

#include <httplib.h>

namespace {

struct Harness {
    ScriptedDialogs dialogs;
    RecordingDesktop desktop;
    RecordingMediaControl media;
    int ended = 0;
    QStringList fetched;
    std::function<std::optional<QString>()> answer = [] { return std::optional<QString>(QStringLiteral("kv:V3.0.83|")); };
    QString folder = QStringLiteral(KELVARO_SOURCE_DIR "/assets");
    std::unique_ptr<Program> program;

    Program &make()
    {
        program = std::make_unique<Program>(
            *qApp, ProgramServices{dialogs, desktop, media, [this] { ++ended; },
                                   [this](const QString &url) {
                                       fetched << url;
                                       return answer();
                                   },
                                   folder});
        return *program;
    }
};

bool locked(Form1 &f)
{
    return !f.Text1->isEnabled() && !f.Text2->isEnabled() && !f.Command10->isEnabled() && !f.Command12->isEnabled();
}

bool unlocked(Form1 &f)
{
    return f.Text1->isEnabled() && f.Text2->isEnabled() && f.Command10->isEnabled() && f.Command12->isEnabled();
}

} // namespace

class StartupTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup()
    {
        qApp->setStyleSheet(QString());
        qApp->setPalette(QPalette());
    }

    void loadRunsInOrderAndUnlocksWhenCurrent()
    {
        Harness h;
        Program &program = h.make();
        Form1 &f = program.form();
        QVERIFY(!program.downloadEngine());
        bool checkedWhileVisible = false;
        h.answer = [&] {
            // The window is on screen, locked, with its design status, while the check waits.
            checkedWhileVisible = f.isVisible() && locked(f) && f.status() == QStringLiteral("正在检测是否最新版本..")
                && f.Slider1->value() == 1000
                && f.ListView1->header()->sectionResizeMode(0) == QHeaderView::Fixed
                && program.downloadEngine() != nullptr;
            return std::optional<QString>(QStringLiteral("kv:V3.0.83|"));
        };
        program.Form_Load();
        QVERIFY(checkedWhileVisible);
        QCOMPARE(h.fetched, QStringList{QStringLiteral("http://update.ulvaren.com/version/main.txt")});
        QVERIFY(f.windowIcon().isNull());
        QCOMPARE(f.Image3->geometry(), QRect(2, 536, 1060, 36));
        QCOMPARE(f.Slider1->value(), 1000);
        QCOMPARE(f.ListView1->editTriggers(), QAbstractItemView::NoEditTriggers);
        QVERIFY(unlocked(f));
        QCOMPARE(f.status(), QStringLiteral("欢迎使用Ulvaren系列软件 .."));
        QVERIFY(h.dialogs.shown.isEmpty());
        QCOMPARE(h.ended, 0);
        QVERIFY(h.media.commands.isEmpty());
        QVERIFY(!qApp->styleSheet().isEmpty()); // the skin beside the program was attached
    }

    void versionAnswers_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("shownVersion");
        QTest::newRow("current") << "kv:V3.0.83|" << "current" << "";
        QTest::newRow("no closing bar") << "kv:V3.0.83" << "update" << "";
        QTest::newRow("prefix before the key") << "xx:V9|kv:V3.0.83|" << "current" << "";
        QTest::newRow("next version") << "kv:V3.0.84|" << "update" << "V3.0.84";
        QTest::newRow("lower-case letter") << "kv:v3.0.83|" << "update" << "v3.0.83";
        QTest::newRow("second entry") << "kv:V3.0.83|kv:V1|" << "current" << "";
        QTest::newRow("second entry without bar") << "kv:V3.0.83kv:V1|" << "update" << "";
        QTest::newRow("error page") << "<html><body>404 Not Found</body></html>" << "update" << "";
        QTest::newRow("empty answer") << "" << "none" << "";
    }

    void versionAnswers()
    {
        QFETCH(QString, answer);
        QFETCH(QString, outcome);
        QFETCH(QString, shownVersion);
        Harness h;
        h.answer = [answer] { return std::optional<QString>(answer); };
        Program &program = h.make();
        Form1 &f = program.form();
        program.Form_Load();

        if (outcome == QLatin1String("current")) {
            QVERIFY(unlocked(f));
            QVERIFY(h.dialogs.shown.isEmpty());
            QCOMPARE(h.ended, 0);
        } else if (outcome == QLatin1String("update")) {
            QCOMPARE(h.dialogs.shown.size(), 1);
            const auto &box = h.dialogs.shown.first();
            QCOMPARE(box.text, QStringLiteral("发现最新版本![") + shownVersion + QStringLiteral("]\r\n \r\n确定后自动打开官方论坛!"));
            QCOMPARE(box.title, QStringLiteral("Ulvaren系列软件"));
            QCOMPARE(box.icon, MessageIcon::Information);
            QCOMPARE(box.buttons, MessageButtons::Ok);
            QCOMPARE(h.desktop.opened, QStringList{QStringLiteral("http://bbs.ulvaren.com/")});
            QCOMPARE(h.ended, 1);
            QVERIFY(h.media.commands.isEmpty()); // ends at once, without "close all"
        } else {
            QCOMPARE(h.dialogs.shown.size(), 1);
            QCOMPARE(h.dialogs.shown.first().text, QStringLiteral("检测更新失败!请您稍后再试,暂时使用原版"));
            QCOMPARE(h.dialogs.shown.first().icon, MessageIcon::Exclamation);
            QCOMPARE(h.dialogs.shown.first().title, QStringLiteral("Ulvaren系列软件"));
            QVERIFY(locked(f));
            QCOMPARE(f.status(), QStringLiteral("正在检测是否最新版本.."));
            QCOMPARE(h.ended, 0);
            QVERIFY(h.desktop.opened.isEmpty());
        }
    }

    // The check over the real network stack, with a local server standing in
    // for the update host as the HTTP proxy.
    void versionCheckThroughProxy_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("reachable");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("current") << 200 << QByteArray("kv:V3.0.83|") << true << "current";
        QTest::newRow("error page") << 404 << QByteArray("<h1>Not Found</h1>") << true << "update";
        QTest::newRow("unreachable") << 0 << QByteArray() << false << "none";
    }

    void versionCheckThroughProxy()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, reachable);
        QFETCH(QString, outcome);
        TestServer proxy;
        std::string requested;
        std::string ifModifiedSince;
        proxy.http().Get(".*", [&](const httplib::Request &request, httplib::Response &response) {
            requested = request.path;
            ifModifiedSince = request.get_header_value("If-Modified-Since");
            response.status = status;
            response.set_content(body.toStdString(), "text/plain");
        });
        proxy.start();
        networkManager(); // settle the manager's proxy settings before overriding them
        const int port = reachable ? proxy.port() : TestServer::refusingPort();
        QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), quint16(port)));

        Harness h;
        h.make();
        h.program = std::make_unique<Program>(
            *qApp, ProgramServices{h.dialogs, h.desktop, h.media, [&h] { ++h.ended; },
                                   [](const QString &url) { return GetBody(url); }, h.folder});
        h.program->Form_Load();
        QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);

        if (reachable) {
            QCOMPARE(QString::fromStdString(requested), QStringLiteral("http://update.ulvaren.com/version/main.txt"));
            QCOMPARE(QString::fromStdString(ifModifiedSince), QStringLiteral("0"));
        }
        if (outcome == QLatin1String("current"))
            QVERIFY(unlocked(h.program->form()));
        else if (outcome == QLatin1String("update"))
            QCOMPARE(h.ended, 1);
        else
            QVERIFY(locked(h.program->form()) && h.dialogs.shown.size() == 1 && h.ended == 0);
    }

    void skinFileMissingOrUnreadableStartsNormally_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing") << "missing";
        QTest::newRow("unreadable") << "unreadable";
    }

    void skinFileMissingOrUnreadableStartsNormally()
    {
        QFETCH(QString, kind);
        QTemporaryDir folder;
        if (kind == QLatin1String("unreadable")) // a folder by that name cannot be read as a file, even by root
            QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("skinh.she")));
        Harness h;
        h.folder = folder.path();
        Program &program = h.make();
        const QString sheetBefore = qApp->styleSheet();
        program.Form_Load();
        QCOMPARE(qApp->styleSheet(), sheetBefore);
        QVERIFY(program.form().isVisible());
        QVERIFY(unlocked(program.form()));
    }

    void skinLayerReportsAndShiftsHue()
    {
        SkinLayer skin(*qApp);
        QTemporaryDir folder;
        QCOMPARE(skin.attachEx(folder.filePath(QStringLiteral("none.she")), QString()), int(SkinLayer::FileMissing));
        QFile sheet(folder.filePath(QStringLiteral("skinh.she")));
        QVERIFY(sheet.open(QIODevice::WriteOnly));
        sheet.write("QPushButton { color: red; }");
        sheet.close();
        QCOMPARE(skin.attachEx(sheet.fileName(), QString()), int(SkinLayer::Ok));
        QCOMPARE(qApp->styleSheet(), QStringLiteral("QPushButton { color: red; }"));

        QPalette palette;
        palette.setColor(QPalette::Highlight, QColor::fromHsv(200, 180, 200));
        palette.setColor(QPalette::Window, QColor(128, 128, 128));
        qApp->setPalette(palette);
        QCOMPARE(skin.adjustHsv(140, 0, 0), 0);
        QCOMPARE(qApp->palette().color(QPalette::Highlight).hsvHue(), 340);
        QCOMPARE(qApp->palette().color(QPalette::Highlight).hsvSaturation(), 180);
        QCOMPARE(qApp->palette().color(QPalette::Window).rgb(), QColor(128, 128, 128).rgb()); // grey has no hue
        skin.adjustHsv(140, 0, 0);
        QCOMPARE(qApp->palette().color(QPalette::Highlight).hsvHue(), 120); // wraps round the circle
    }

    void columnsAreLocked()
    {
        Harness h;
        Program &program = h.make();
        program.Form_Load();
        QTreeWidget *table = program.form().ListView1;
        auto *item = new QTreeWidgetItem(table, {QStringLiteral("1"), QStringLiteral("42"), QStringLiteral("歌"), QStringLiteral("http://x")});
        QHeaderView *header = table->header();
        QVERIFY(QTest::qWaitForWindowExposed(&program.form()));
        const int widths[] = {60, 100, 260, 0};

        // Drag each divider, and double-click it.
        for (int column = 0; column < 3; ++column) {
            const int divider = header->sectionViewportPosition(column) + header->sectionSize(column) - 1;
            const QPoint at(divider, header->height() / 2);
            QTest::mousePress(header->viewport(), Qt::LeftButton, {}, at);
            QMouseEvent move(QEvent::MouseMove, QPointF(at + QPoint(80, 0)), header->viewport()->mapToGlobal(QPointF(at + QPoint(80, 0))),
                             Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(header->viewport(), &move);
            QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, at + QPoint(80, 0));
            QTest::mouseDClick(header->viewport(), Qt::LeftButton, {}, at);
        }
        for (int column = 0; column < 4; ++column)
            QCOMPARE(header->sectionSize(column), widths[column]);
        QVERIFY(header->isSectionHidden(3));

        // Clicking a header and an item still work.
        QSignalSpy headerClicks(header, &QHeaderView::sectionClicked);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(30, header->height() / 2));
        QCOMPARE(headerClicks.size(), 1);
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(item).center());
        QCOMPARE(table->currentItem(), item);
    }

    void exitButtonSendsCloseAllOnce()
    {
        Harness h;
        Program &program = h.make();
        program.Form_Load();
        QTest::mouseClick(program.form().Command5, Qt::LeftButton);
        QVERIFY(!program.form().isVisible());
        QCOMPARE(h.media.commands, QStringList{QStringLiteral("close all")});
        QCOMPARE(h.ended, 0);
    }

    void anyCloseGoesTheSameWay()
    {
        Harness h;
        Program &program = h.make();
        program.Form_Load();
        program.form().close();
        QCOMPARE(h.media.commands, QStringList{QStringLiteral("close all")});
    }

    // The window's buttons reach the parts behind them.
    void buttonsAreWiredToTheirParts()
    {
        Harness h;
        Program &program = h.make();
        program.Form_Load();
        Form1 &f = program.form();

        QTest::mouseClick(f.Command7, Qt::LeftButton);
        QCOMPARE(f.status(), QStringLiteral("请先进行解析.."));
        QTest::mouseClick(f.Command8, Qt::LeftButton);
        QCOMPARE(h.dialogs.shown.size(), 1);
        QCOMPARE(h.dialogs.shown.first().text, QStringLiteral("没有发现视频文件.."));

        h.answer = [] {
            return std::optional<QString>(QStringLiteral(
                "<title>夏夜的风 - 林晓雨 Kelvaro - 歌</title><script>var s={mp3:\"http://m3.stream.kelvaro.com/userwork/2026/a115/3108115.mp3\"};</script>"));
        };
        f.Text1->setText(QStringLiteral("http://www.kelvaro.com/s/kQ7mX2pA"));
        QTest::mouseClick(f.aicAlphaImage3, Qt::LeftButton);
        QCOMPARE(h.fetched.last(), QStringLiteral("http://www.kelvaro.com/s/kQ7mX2pA"));
        QCOMPARE(f.Label2->text(), QStringLiteral("演唱歌曲：夏夜的风"));
        QCOMPARE(f.Label1->text(), QStringLiteral("用户名：林晓雨"));
        QCOMPARE(program.song().MusicUrl, QStringLiteral("http://m3.stream.kelvaro.com/userwork/2026/a115/3108115.mp3"));
        QCOMPARE(program.song().WorkId, QStringLiteral("3108115"));
        QTest::mouseClick(f.Command2, Qt::LeftButton);
        QVERIFY(f.Picture3->isVisible());
        QCOMPARE(f.status(), QStringLiteral("正在下载音乐.."));
        new QTreeWidgetItem(f.ListView1, {QStringLiteral("1"), QStringLiteral("3108115"), QStringLiteral("夏夜的风"), QString()});
        QTest::mouseClick(f.Command12, Qt::LeftButton);
        QCOMPARE(f.ListView1->topLevelItemCount(), 0);

        QTest::mouseClick(f.Command7, Qt::LeftButton);
        QCOMPARE(h.media.commands.value(1), QStringLiteral("open http://m3.stream.kelvaro.com/userwork/2026/a115/3108115.mp3 alias OpenFile type MPEGVideo"));
        QCOMPARE(f.Command7->text(), QStringLiteral("停止播放"));
    }

    void publisherButtonsOpenTheirPages()
    {
        Harness h;
        Program &program = h.make();
        program.Form_Load();
        QTest::mouseClick(program.form().Command3, Qt::LeftButton);
        QTest::mouseClick(program.form().Command4, Qt::LeftButton);
        QCOMPARE(h.desktop.opened, (QStringList{QStringLiteral("http://bbs.ulvaren.com/"), QStringLiteral("http://www.ulvaren.com/")}));
    }
};

KELVARO_TEST_MAIN(StartupTest)
#include "tst_startup.moc"
