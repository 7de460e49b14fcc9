// Start-up in its order, the version check's outcomes, the skin, the column
// lock, the buttons' wiring and the ways the program ends.
#include "core/endpoints/Endpoints.h"
#include "gui/app/Appearance.h"
#include "gui/app/Program.h"
#include "common/Fakes.h"
#include "common/TestEnvironment.h"
#include "common/TestServer.h"
#include "common/Waiting.h"
#include "common/TransferBytes.h"

#include <QHeaderView>
#include <QIcon>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Harness {
    ScriptedDialogs dialogs;
    RecordingDesktop desktop;
    RecordingMediaControl media;
    int ended = 0;
    QStringList fetched;
    int answered = 0;
    std::optional<QString> answer = QStringLiteral("kv:%1|").arg(QLatin1String(Endpoints::BuildVersion));
    std::function<void()> whileFetching;
    QString folder = QStringLiteral(KELVARO_SOURCE_DIR "/assets");
    std::unique_ptr<Program> program;

    Program &make()
    {
        const auto fetch = [this](const QString &url, PageDone done) {
            fetched << url;
            if (whileFetching)
                whileFetching();
            return answerLater([this, done = std::move(done), page = answer] {
                ++answered;
                done(page);
            });
        };
        program = std::make_unique<Program>(
            *qApp, ProgramServices{dialogs, desktop, media, [this] { ++ended; }, fetch, folder});
        return *program;
    }
    Program &load()
    {
        make().Form_Load();
        settle();
        return *program;
    }
    // Until every page asked for has been answered and acted on.
    void settle()
    {
        QVERIFY(QTest::qWaitFor([this] { return answered == fetched.size(); }, 5000));
    }
};

// The four controls the version check unlocks, as "1" enabled or "0" not.
QString lockState(const Form1 &f)
{
    QString state;
    for (const QWidget *w : std::initializer_list<const QWidget *>{f.Text1, f.Text2, f.Command10, f.Command12})
        state += w->isEnabled() ? '1' : '0';
    return state;
}

} // namespace

class StartupTest : public QObject {
    Q_OBJECT

    TestServer m_server;
    const QByteArray m_slow = patterned(100 * 1024, 4);

private slots:
    void initTestCase()
    {
        m_server.serveSlowly("/slow.mp3", m_slow, 4096, 10);
        m_server.start();
    }

    void cleanup()
    {
        qApp->setStyleSheet(QString());
        qApp->setPalette(QPalette());
    }

    // While the check waits the window is on screen, locked, with its design
    // status, the volume, the column lock and the download engine in place.
    void loadRunsInOrderAndUnlocksWhenCurrent()
    {
        Harness h;
        Program &program = h.make();
        Form1 &f = program.form();
        QVERIFY(!program.downloadEngine());
        bool readyWhileChecking = false;
        h.whileFetching = [&] {
            readyWhileChecking = f.isVisible() && lockState(f) == "0000" && f.status() == "正在检测是否最新版本.."
                && f.Slider1->value() == 1000 && f.ListView1->header()->sectionResizeMode(0) == QHeaderView::Fixed
                && program.downloadEngine() != nullptr;
        };
        program.Form_Load();
        h.settle();
        QVERIFY(readyWhileChecking);
        QCOMPARE(h.fetched, QStringList{QStringLiteral("http://update.ulvaren.com/version/main.txt")});
        QVERIFY(!f.windowIcon().isNull()); // the theme's icon or the built-in one
        QCOMPARE(f.Image3->geometry(), QRect(2, 536, 1060, 36));
        QCOMPARE(f.ListView1->editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(lockState(f), QStringLiteral("1111"));
        QCOMPARE(f.status(), QStringLiteral("欢迎使用Ulvaren系列软件 .."));
        QVERIFY(h.dialogs.shown.isEmpty() && h.media.commands.isEmpty());
        QCOMPARE(h.ended, 0);
        QVERIFY(!qApp->styleSheet().isEmpty()); // the skin beside the program was attached
    }

    // The window comes up wearing the built-in icon in its task bar sizes;
    // once it is painted the desktop's icon theme is asked, and its icon, or
    // else the whole built-in one, becomes the icon of the window and of
    // every dialog.
    void themeIconAfterFirstPaint_data()
    {
        QTest::addColumn<bool>("themeHasIcon");
        QTest::newRow("theme has the icon") << true;
        QTest::newRow("theme lacks it") << false;
    }
    void themeIconAfterFirstPaint()
    {
        QFETCH(bool, themeHasIcon);
        QTemporaryDir themes;
        const QString theme = QStringLiteral("kelvaro-test-%1").arg(themeHasIcon);
        QVERIFY(QDir(themes.path()).mkpath(theme + "/48x48/apps"));
        QFile index(themes.filePath(theme + "/index.theme"));
        QVERIFY(index.open(QIODevice::WriteOnly));
        index.write("[Icon Theme]\nName=Test\nDirectories=48x48/apps\n\n[48x48/apps]\nSize=48\nType=Fixed\n");
        index.close();
        if (themeHasIcon) {
            QImage themed(48, 48, QImage::Format_ARGB32);
            themed.fill(Qt::green);
            QVERIFY(themed.save(themes.filePath(theme + "/48x48/apps/com.ulvaren.KelvaroHelper.png")));
        }
        const QStringList searchPaths = QIcon::themeSearchPaths();
        const QString themeName = QIcon::themeName();
        const auto restore = qScopeGuard([&] {
            QIcon::setThemeSearchPaths(searchPaths);
            QIcon::setThemeName(themeName);
            qApp->setWindowIcon(builtInIcon());
        });
        QIcon::setThemeSearchPaths({themes.path()});
        QIcon::setThemeName(theme);

        Harness h;
        Form1 &f = h.load().form();
        const auto widths = [](const QIcon &icon) {
            QList<int> sizes;
            for (const QSize &size : icon.availableSizes())
                sizes << size.width();
            std::sort(sizes.begin(), sizes.end());
            return sizes;
        };
        QCOMPARE(widths(f.windowIcon()), (QList<int>{48, 128}));
        QCOMPARE(widths(QApplication::windowIcon()), (QList<int>{48, 128}));
        int paints = 0;
        struct PaintCounter : QObject {
            int &count;
            explicit PaintCounter(int &count) : count(count) {}
            bool eventFilter(QObject *, QEvent *event) override
            {
                count += event->type() == QEvent::Paint;
                return false;
            }
        } counter(paints);
        f.installEventFilter(&counter);
        f.update();
        QTRY_VERIFY(paints > 0);
        QCoreApplication::processEvents(); // what the first paint queued
        const auto colour = [](const QIcon &icon) { return icon.pixmap(48).toImage().pixelColor(24, 24); };
        const QColor green(Qt::green);
        QCOMPARE(colour(f.windowIcon()) == green, themeHasIcon);
        QCOMPARE(colour(QApplication::windowIcon()) == green, themeHasIcon);
        if (!themeHasIcon) {
            QCOMPARE(f.windowIcon().cacheKey(), builtInIcon().cacheKey());
            QCOMPARE(widths(QApplication::windowIcon()), (QList<int>{48, 128, 256}));
        }
    }

    // An update opens the forum and ends at once, without "close all"; no
    // answer leaves the window locked.
    void versionAnswers_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("outcome"); // "current", "update" or "none"
        QTest::addColumn<QString>("shownVersion");
        // This build's version, e.g. "V3.0.83".
        const QString v = QString::fromLatin1(Endpoints::BuildVersion);
        QTest::newRow("current") << "kv:" + v + "|" << "current" << "";
        QTest::newRow("no closing bar") << "kv:" + v << "update" << "";
        QTest::newRow("prefix before the key") << "xx:V9|kv:" + v + "|" << "current" << "";
        QTest::newRow("next version") << "kv:" + v + "1|" << "update" << v + "1";
        QTest::newRow("lower-case letter") << "kv:" + v.toLower() + "|" << "update" << v.toLower();
        QTest::newRow("second entry") << "kv:" + v + "|kv:V1|" << "current" << "";
        QTest::newRow("second entry without bar") << "kv:" + v + "kv:V1|" << "update" << "";
        QTest::newRow("error page") << "<html><body>404 Not Found</body></html>" << "update" << "";
        QTest::newRow("empty answer") << "" << "none" << "";
    }
    void versionAnswers()
    {
        QFETCH(QString, answer);
        QFETCH(QString, outcome);
        QFETCH(QString, shownVersion);
        Harness h;
        h.answer = answer;
        Form1 &f = h.load().form();
        QCOMPARE(lockState(f), outcome == "current" ? "1111" : "0000");
        QCOMPARE(h.ended, outcome == "update" ? 1 : 0);
        QVERIFY(h.media.commands.isEmpty());
        QCOMPARE(h.desktop.opened, outcome == "update" ? QStringList{"http://bbs.ulvaren.com/"} : QStringList{});
        QCOMPARE(h.dialogs.shown.size(), outcome == "current" ? 0 : 1);
        if (outcome == "current")
            return;
        const auto &box = h.dialogs.shown.first();
        QCOMPARE(box.title, QStringLiteral("Ulvaren系列软件"));
        QCOMPARE(box.buttons, MessageButtons::Ok);
        if (outcome == "update") {
            QCOMPARE(box.text, "发现最新版本![" + shownVersion + "]\r\n \r\n确定后自动打开官方论坛!");
            QCOMPARE(box.icon, MessageIcon::Information);
        } else {
            QCOMPARE(box.text, QStringLiteral("检测更新失败!请您稍后再试,暂时使用原版"));
            QCOMPARE(box.icon, MessageIcon::Exclamation);
            QCOMPARE(f.status(), QStringLiteral("正在检测是否最新版本.."));
        }
    }

    void skinFileMissingOrUnreadable_data()
    {
        QTest::addColumn<bool>("unreadable");
        QTest::newRow("missing") << false;
        QTest::newRow("unreadable") << true;
    }
    void skinFileMissingOrUnreadable()
    {
        QFETCH(bool, unreadable);
        QTemporaryDir folder;
        if (unreadable) // a folder by that name cannot be read as a file, even by root
            QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("skinh.she")));
        Harness h;
        h.folder = folder.path();
        Program &program = h.make();
        const QString sheetBefore = qApp->styleSheet();
        program.Form_Load();
        h.settle();
        QCOMPARE(qApp->styleSheet(), sheetBefore);
        QVERIFY(h.program->form().isVisible());
        QCOMPARE(lockState(h.program->form()), QStringLiteral("1111"));
    }

    // The skin goes on before the controls are made; the ones its rules name
    // still wear its colours and weights, and the captions keep their size.
    void skinReachesNamedControls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<double>("points");
        QTest::newRow("recording address caption") << "Label11_1" << true << 10.5;
        QTest::newRow("singer address caption") << "Label11_0" << true << 10.5;
        QTest::newRow("download panel heading") << "Label12" << true << 10.5;
        QTest::newRow("other information heading") << "Label3" << false << 9.0;
        QTest::newRow("music information heading") << "Label14" << false << 9.0;
    }
    void skinReachesNamedControls()
    {
        QFETCH(QString, name);
        QFETCH(bool, bold);
        QFETCH(double, points);
        Harness h;
        Form1 &f = h.load().form();
        const auto *caption = f.findChild<QLabel *>(name);
        QVERIFY(caption);
        caption->ensurePolished();
        QCOMPARE(caption->palette().color(QPalette::WindowText), QColor(QStringLiteral("#7a1022")));
        QCOMPARE(caption->font().bold(), bold);
        QCOMPARE(caption->font().pointSizeF(), points);
        // Sized for the text as the skin draws it.
        QVERIFY(caption->width() >= QFontMetrics(caption->font()).horizontalAdvance(caption->text()));
    }

    // Dragging or double-clicking a divider changes no width, and the hidden
    // column stays hidden; clicks on the header and the rows still work.
    void columnsAreLocked()
    {
        Harness h;
        QTreeWidget *table = h.load().form().ListView1;
        auto *item = new QTreeWidgetItem(table, {"1", "42", "歌", "http://x"});
        QHeaderView *header = table->header();
        QVERIFY(QTest::qWaitForWindowExposed(&h.program->form()));
        for (int column = 0; column < 3; ++column) {
            const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) - 1,
                            header->height() / 2);
            const QPoint to = at + QPoint(80, 0);
            QTest::mousePress(header->viewport(), Qt::LeftButton, {}, at);
            QMouseEvent move(QEvent::MouseMove, QPointF(to), header->viewport()->mapToGlobal(QPointF(to)),
                             Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(header->viewport(), &move);
            QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, to);
            QTest::mouseDClick(header->viewport(), Qt::LeftButton, {}, at);
        }
        QList<int> widths;
        for (int column = 0; column < 4; ++column)
            widths << header->sectionSize(column);
        QCOMPARE(widths, QList<int>({60, 100, 260, 0}));
        QVERIFY(header->isSectionHidden(3));
        QSignalSpy headerClicks(header, &QHeaderView::sectionClicked);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(30, header->height() / 2));
        QCOMPARE(headerClicks.size(), 1);
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(item).center());
        QCOMPARE(table->currentItem(), item);
    }

    // However the program is left, whatever plays is closed once. During a
    // download it first asks, once, whether to stop it: Yes stops it and
    // leaves the earlier file at the target; No leaves everything running.
    void leavingTheProgram_data()
    {
        QTest::addColumn<QString>("way");     // "exit button", "window close" or "painted close"
        QTest::addColumn<int>("downloading"); // -1 idle, else the answer: 1 Yes, 0 No
        for (const char *way : {"exit button", "window close", "painted close"}) {
            QTest::addRow("%s, idle", way) << way << -1;
            QTest::addRow("%s, downloading, yes", way) << way << 1;
            QTest::addRow("%s, downloading, no", way) << way << 0;
        }
    }
    void leavingTheProgram()
    {
        QFETCH(QString, way);
        QFETCH(int, downloading);
        QTemporaryDir folder;
        Harness h;
        h.folder = folder.path();
        Program &program = h.load();
        Form1 &f = program.form();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        const auto leave = [&] {
            if (way == "exit button")
                QTest::mouseClick(f.Command5, Qt::LeftButton);
            else if (way == "window close")
                f.close();
            else
                QTest::mouseClick(&f, Qt::LeftButton, {}, Form1::closeButtonRect(f.width()).center());
        };
        const QByteArray earlier = "an earlier, complete download";
        QString target;
        if (downloading < 0) {
            leave();
        } else {
            h.dialogs.answers.push_back(downloading ? MessageAnswer::Yes : MessageAnswer::No);
            program.song().MusicUrl = m_server.url("/slow.mp3");
            QTest::mouseClick(f.Command2, Qt::LeftButton);
            target = program.downloadPanel()->DownPath();
            QDir().mkpath(QFileInfo(target).path());
            QFile old(target);
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write(earlier) == earlier.size());
            old.close();
            QObject::connect(program.downloadEngine(), &Cls_DownLoad::DLFileDowning, &f,
                             [&](const QString &, qint64 done) {
                                 if (done == 512) // as the user would, between chunks
                                     QMetaObject::invokeMethod(&f, leave, Qt::QueuedConnection);
                             });
            QTest::mouseClick(f.Command6, Qt::LeftButton); // starts the transfer
            QTRY_VERIFY_WITH_TIMEOUT(!program.downloadPanel()->transferRunning(), 30000);
        }

        const bool left = downloading != 0;
        QCOMPARE(h.dialogs.shown.size(), downloading < 0 ? 0 : 1);
        if (downloading >= 0) {
            QCOMPARE(h.dialogs.shown.first().text, QStringLiteral("当前正在下载中..是否停止下载并退出程序?"));
            QCOMPARE(h.dialogs.shown.first().buttons, MessageButtons::YesNo);
            QCOMPARE(readFile(target), left ? earlier : m_slow);
            QVERIFY(!QFileInfo::exists(Cls_DownLoad::partPath(target)));
        }
        QCOMPARE(h.media.commands, left ? QStringList{QStringLiteral("close all")} : QStringList());
        QCOMPARE(h.ended, left && way == "painted close" ? 1 : 0);
        QCOMPARE(f.isVisible(), !left || way == "painted close"); // the fake end leaves the window
    }

    // The window's buttons reach the parts behind them.
    void buttonsAreWiredToTheirParts()
    {
        Harness h;
        Program &program = h.load();
        Form1 &f = program.form();
        QTest::mouseClick(f.Command7, Qt::LeftButton);
        QCOMPARE(f.status(), QStringLiteral("请先进行解析.."));
        QTest::mouseClick(f.Command8, Qt::LeftButton);
        QCOMPARE(h.dialogs.shown.size(), 1);
        QCOMPARE(h.dialogs.shown.first().text, QStringLiteral("没有发现视频文件.."));
        QTest::mouseClick(f.Command3, Qt::LeftButton);
        QTest::mouseClick(f.Command4, Qt::LeftButton);
        QCOMPARE(h.desktop.opened, QStringList({"http://bbs.ulvaren.com/", "http://www.ulvaren.com/"}));

        const QString audio = QStringLiteral("http://m3.stream.kelvaro.com/userwork/2026/a115/3108115.mp3");
        h.answer = "<title>夏夜的风 - 林晓雨 Kelvaro - 歌</title><script>var s={mp3:\"" + audio + "\"};</script>";
        f.Text1->setText(QStringLiteral("http://www.kelvaro.com/s/kQ7mX2pA"));
        QTest::mouseClick(f.aicAlphaImage3, Qt::LeftButton);
        h.settle();
        QCOMPARE(h.fetched.last(), QStringLiteral("http://www.kelvaro.com/s/kQ7mX2pA"));
        QCOMPARE(f.Label2->text(), QStringLiteral("演唱歌曲：夏夜的风"));
        QCOMPARE(program.song().WorkId, QStringLiteral("3108115"));
        QTest::mouseClick(f.Command2, Qt::LeftButton);
        QVERIFY(f.Picture3->isVisible());
        new QTreeWidgetItem(f.ListView1, {QStringLiteral("1"), QStringLiteral("3108115"), QStringLiteral("夏夜的风"), QString()});
        QTest::mouseClick(f.Command12, Qt::LeftButton);
        QCOMPARE(f.ListView1->topLevelItemCount(), 0);

        QTest::mouseClick(f.Command7, Qt::LeftButton);
        QCOMPARE(h.media.commands.value(1), "open " + audio + " alias OpenFile type MPEGVideo");
        QCOMPARE(f.Command7->text(), QStringLiteral("停止播放"));
    }

    // The works table's menu holds the choice whether saved songs get their
    // tags: on at first, followed by the download panel, kept for the next run.
    void songTagsChoiceIsRemembered()
    {
        {
            Harness h;
            Program &program = h.load();
            QAction *choice = program.worksTable().songTagsAction();
            QVERIFY(choice->isCheckable() && choice->isChecked());
            QVERIFY(program.downloadPanel()->writesSongTags());
            choice->trigger();
            QVERIFY(!program.downloadPanel()->writesSongTags());
        }
        Harness next;
        Program &program = next.load();
        QVERIFY(!program.worksTable().songTagsAction()->isChecked());
        QVERIFY(!program.downloadPanel()->writesSongTags());
        program.worksTable().songTagsAction()->trigger();
        QVERIFY(program.downloadPanel()->writesSongTags());
        QVERIFY(UserSettings().writeSongTags());
    }
};

KELVARO_TEST_MAIN(StartupTest)
#include "tst_startup.moc"
