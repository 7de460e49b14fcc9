// The download panel on a real window and the real engine, against the local
// server: opening and filling the panel, choosing the target, whole and
// broken transfers, the stop question inside a transfer, closing and
// dragging the panel, and the names that become file names.
#include "app/Form1.h"
#include "common/Fakes.h"
#include "common/TestEnvironment.h"
#include "common/TestServer.h"
#include "download/Cls_DownLoad.h"
#include "download/DownloadPanel.h"
#include "download/DownloadPanelLogic.h"
#include "lookup/SongState.h"

#include <QTemporaryDir>

#include <algorithm>
#include <QtTest>

namespace {

QByteArray patterned(int size, int seed = 0)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + (i >> 9) * 13 + seed) & 0xff);
    return bytes;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QString Start = QStringLiteral("开始下载");
const QString Stop = QStringLiteral("停止下载");

QStringList texts(std::initializer_list<int> states)
{
    QStringList out;
    for (const int state : states)
        out << downloadStatusText(state);
    return out;
}

bool isBox(const ScriptedDialogs::Shown &box, MessageIcon icon, MessageButtons buttons)
{
    return box.title == QStringLiteral("Ulvaren系列软件") && box.icon == icon && box.buttons == buttons;
}

// A window, the engine and the panel, with the dialogs and the desktop
// answered by fakes. Records every status text, and at each progress event
// the bar's value and the start/stop caption after the panel handled it.
struct Rig {
    explicit Rig(const QString &programFolder)
        : panel({&form, form.Picture3, form.Command2, form.Command1, form.Command6, form.ProgressBar1, form.Label16,
                 form.Label17, form.aicAlphaImage4, form.Label2,
                 [this](const QString &text) {
                     statuses << text;
                     form.setStatus(text);
                 }},
                song, engine, dialogs, desktop, programFolder)
    {
        QObject::connect(&engine, &Cls_DownLoad::DLFileDowning, &form, [this] {
            bar << form.ProgressBar1->value();
            captions << form.Command6->text();
            if (onProgress)
                onProgress(int(bar.size()));
        });
    }

    void lookUp(const QString &url, const QString &title = QStringLiteral("夜曲"),
                const QString &user = QStringLiteral("小鹿"))
    {
        song.MusicUrl = url;
        song.UserName = user;
        form.Label2->setText(QStringLiteral("演唱歌曲：") + title);
    }

    // Clicks `button` from inside the transfer, as the user would between chunks.
    void clickSoon(QAbstractButton *button)
    {
        QMetaObject::invokeMethod(button, [button] { button->click(); }, Qt::QueuedConnection);
    }

    Form1 form;
    SongState song;
    Cls_DownLoad engine;
    ScriptedDialogs dialogs;
    RecordingDesktop desktop;
    QStringList statuses;
    QList<int> bar;
    QStringList captions;
    std::function<void(int)> onProgress; // with the number of the progress event, from 1
    DownloadPanel panel;
};

} // namespace

class DownloadPanelTest : public QObject {
    Q_OBJECT

    TestServer m_server;
    QTemporaryDir m_root;
    int m_folders = 0;
    const QByteArray m_song = patterned(5000);
    const QByteArray m_big = patterned(200 * 1024, 3);
    const QByteArray m_errorPage = "<html><body><h1>404 Not Found</h1></body></html>";

    // A program folder of its own, without a Music folder yet.
    QString freshFolder()
    {
        const QString folder = m_root.filePath(QStringLiteral("program-%1").arg(++m_folders));
        QDir().mkpath(folder);
        return folder;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        m_server.serve("/song.mp3", m_song, "audio/mpeg");
        m_server.serve("/big.mp3", m_big, "audio/mpeg");
        m_server.serve("/empty.mp3", QByteArray(), "audio/mpeg");
        m_server.serve("/missing.mp3", m_errorPage, "text/html", 404);
        m_server.serveWithoutLength("/nolength.mp3", patterned(3000, 1));
        m_server.serveCutShort("/cut.mp3", patterned(8000, 4), 3000);
        m_server.serveStalled("/stall.mp3", patterned(8000, 5), 2000);
        m_server.start();
    }

    void cleanupTestCase() { m_server.stop(); }

    void safeFileNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("safe");
        QTest::newRow("ordinary") << "夜曲 - 小鹿.mp3" << "夜曲 - 小鹿.mp3";
        QTest::newRow("slashes") << "../../etc/x - a/b.mp3" << ".._.._etc_x - a_b.mp3";
        QTest::newRow("NUL and controls") << QStringLiteral("a%1b\nc\td\x7f" "e\u0085.mp3").arg(QChar(0))
                                          << "a_b_c_d_e_.mp3";
        QTest::newRow("empty") << "" << "_";
        QTest::newRow("dot") << "." << "_";
        QTest::newRow("dot dot") << ".." << "__";
        QTest::newRow("pair kept, lone half replaced")
            << QStringLiteral("\U0001F3B5") + QChar(0xD800) + "x" << QStringLiteral("\U0001F3B5_x");
    }

    void safeFileNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, safe);
        QCOMPARE(safeFileName(name), safe);
    }

    // Names longer than a file name may be lose characters, not the extension
    // and never half a character.
    void longNamesAreShortened_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("with extension") << QString(300, QChar(0x6B4C)) + ".mp3";
        QTest::newRow("pairs") << QStringLiteral("\U0001F3B5").repeated(100) + ".mp3";
        QTest::newRow("without extension") << QString(400, QLatin1Char('a'));
    }

    void longNamesAreShortened()
    {
        QFETCH(QString, name);
        const QString safe = safeFileName(name);
        QVERIFY(safe.toUtf8().size() <= 255);
        QVERIFY(safe.toUtf8().size() > 250);
        QVERIFY(name.startsWith(safe.left(safe.size() - 4)));
        QCOMPARE(safe.endsWith(".mp3"), name.endsWith(".mp3"));
        QVERIFY(!safe.back().isHighSurrogate());
    }

    void openPanel_data()
    {
        QTest::addColumn<bool>("lookedUp");
        QTest::newRow("after a lookup") << true;
        QTest::newRow("before any lookup") << false;
    }

    void openPanel()
    {
        QFETCH(bool, lookedUp);
        const QString folder = freshFolder();
        Rig r(folder);
        if (lookedUp) // every "演唱歌曲：" goes, not only the first
            r.lookUp(m_server.url("/song.mp3"), QStringLiteral("夜曲演唱歌曲："));
        r.form.Picture3->move(0, 0);
        r.form.ProgressBar1->setValue(57);

        r.form.Command2->click();

        QCOMPARE(r.form.Picture3->isVisibleTo(&r.form), lookedUp);
        QCOMPARE(r.form.ProgressBar1->value(), 0);
        if (lookedUp) {
            QCOMPARE(r.statuses, QStringList{"正在下载音乐.."});
            QCOMPARE(r.form.Picture3->pos(), QPoint(283, 71)); // 1063/2 - 497/2, 575/2 - 433/2
            QCOMPARE(r.form.Label16->text(), "音乐名称：夜曲");
            QCOMPARE(r.form.Label17->text(), "演唱歌手：小鹿");
            QCOMPARE(r.panel.DownPath(), folder + "/Music/夜曲 - 小鹿.mp3");
        } else {
            QCOMPARE(r.statuses, QStringList{"请先进行解析.."});
            QCOMPARE(r.form.Picture3->pos(), QPoint(0, 0));
            QCOMPARE(r.form.Label16->text(), "音乐名称：");
            QCOMPARE(r.panel.DownPath(), folder + "/Music/未查询 - .mp3");
        }
    }

    void browse_data()
    {
        QTest::addColumn<bool>("chosen");
        QTest::newRow("a file chosen") << true;
        QTest::newRow("cancelled") << false;
    }

    void browse()
    {
        QFETCH(bool, chosen);
        const QString folder = freshFolder();
        Rig r(folder);
        r.lookUp(m_server.url("/song.mp3"), "夜/曲");
        r.form.Command2->click();
        const QString before = r.panel.DownPath();
        const QString picked = m_root.filePath("elsewhere/mine.mp3");
        if (chosen)
            r.dialogs.saveAnswers.push_back(picked);

        r.form.Command1->click();

        QCOMPARE(r.dialogs.saves.size(), 1);
        const ScriptedDialogs::SaveAsked asked = r.dialogs.saves.first();
        QCOMPARE(asked.title, "选择要下载的路径");
        QCOMPARE(asked.typeDescription, "MP3音乐文件");
        QCOMPARE(asked.pattern, "*.mp3");
        QCOMPARE(asked.suggestedName, "夜_曲 - 小鹿.mp3");
        QCOMPARE(r.panel.DownPath(), chosen ? picked : before);
        QCOMPARE(r.statuses.last(), chosen ? "已更换下载路径：" + picked : QStringLiteral("正在下载音乐.."));

        // Opening the panel again forgets the choice.
        r.form.Command2->click();
        QCOMPARE(r.panel.DownPath(), before);
    }

    void startWithoutTarget()
    {
        Rig r(freshFolder());
        r.lookUp(m_server.url("/song.mp3"));
        const int requests = m_server.requestCount("/song.mp3");
        r.form.Command6->click();
        QCOMPARE(r.dialogs.shown.size(), 1);
        QVERIFY(isBox(r.dialogs.shown.first(), MessageIcon::Exclamation, MessageButtons::Ok));
        QCOMPARE(r.dialogs.shown.first().text, "请先选择要下载的文件路径!");
        QCOMPARE(r.form.Command6->text(), Start);
        QCOMPARE(m_server.requestCount("/song.mp3"), requests);
    }

    // One transfer from the start button to its end, for every way it can end.
    void transfers_data()
    {
        QTest::addColumn<QString>("route");       // "" for a refusing address
        QTest::addColumn<QString>("target");      // "default", or "folder": a folder is in the way
        QTest::addColumn<bool>("session");        // a network session can be had
        QTest::addColumn<QStringList>("statuses");
        QTest::addColumn<QByteArray>("file");     // what the target holds afterwards
        QTest::addColumn<bool>("fileExists");
        QTest::addColumn<int>("lastBar");
        QTest::addColumn<bool>("shown");          // in the file manager

        const QStringList through = texts({1, 2, 3, 4, 9, 6});
        const QString cut = QStringLiteral("音乐下载未完成,文件不完整,请重试..");
        QTest::newRow("whole file") << "/song.mp3" << "default" << true << through << m_song << true << 100 << true;
        QTest::newRow("empty body") << "/empty.mp3" << "default" << true << through << QByteArray() << true << 0
                                    << false;
        QTest::newRow("no Content-Length") << "/nolength.mp3" << "default" << true << through << patterned(3000, 1)
                                           << true << 0 << true;
        QTest::newRow("connection cut") << "/cut.mp3" << "default" << true << through + QStringList{cut}
                                        << patterned(8000, 4).left(3000) << true << 38 << false;
        QTest::newRow("server went silent") << "/stall.mp3" << "default" << true << through + QStringList{cut}
                                            << patterned(8000, 5).left(2000) << true << 25 << false;
        QTest::newRow("error page") << "/missing.mp3" << "default" << true
                                    << through + QStringList{"抱歉!服务器返回错误(404),音乐下载失败.."} << m_errorPage
                                    << true << 100 << false;
        QTest::newRow("address refused") << "" << "default" << true << texts({1, 2, 8, 6}) << QByteArray() << false << 0
                                         << false;
        QTest::newRow("no connection at all") << "/song.mp3" << "default" << false << texts({1, 7}) << QByteArray()
                                              << false << 0 << false;
        QTest::newRow("target not writable") << "/song.mp3" << "folder" << true
                                             << texts({1, 2, 3, 4}) + QStringList{"抱歉!下载文件无法写入.."}
                                             << QByteArray() << false << 0 << false;
    }

    void transfers()
    {
        QFETCH(QString, route);
        QFETCH(QString, target);
        QFETCH(bool, session);
        QFETCH(QStringList, statuses);
        QFETCH(QByteArray, file);
        QFETCH(bool, fileExists);
        QFETCH(int, lastBar);
        QFETCH(bool, shown);

        const QString folder = freshFolder();
        Rig r(folder);
        r.engine.setStallLimit(300);
        if (!session)
            r.engine.setSessionSource([] { return nullptr; });
        r.lookUp(route.isEmpty() ? QStringLiteral("http://127.0.0.1:%1/x.mp3").arg(TestServer::refusingPort())
                                 : m_server.url(route));
        r.form.Command2->click();
        if (target == QLatin1String("folder")) {
            r.dialogs.saveAnswers.push_back(folder);
            r.form.Command1->click();
        }
        const QString path = r.panel.DownPath();
        QVERIFY(!QFileInfo::exists(folder + "/Music"));
        r.statuses.clear();

        r.form.Command6->click();

        QCOMPARE(r.statuses, statuses);
        QCOMPARE(r.form.Command6->text(), Start);
        QVERIFY(r.form.Command2->isEnabled());
        QVERIFY(!r.panel.transferRunning());
        QCOMPARE(r.form.ProgressBar1->value(), lastBar);
        QVERIFY(std::is_sorted(r.bar.begin(), r.bar.end()));
        if (route == QLatin1String("/nolength.mp3")) // the bar waits for a size that never comes
            QVERIFY(!r.bar.isEmpty() && r.bar.count(0) == r.bar.size());
        QCOMPARE(r.desktop.shownInFileManager, shown ? QStringList{path} : QStringList{});
        if (target == QLatin1String("default")) {
            QCOMPARE(QFileInfo(path).isFile(), fileExists);
            QCOMPARE(readFile(path), file);
            QVERIFY(QFileInfo(folder + "/Music").isDir()); // made before the transfer, on first use
        }
        if (target == QLatin1String("folder")) {
            QCOMPARE(r.dialogs.shown.size(), 1);
            QVERIFY(isBox(r.dialogs.shown.first(), MessageIcon::Exclamation, MessageButtons::Ok));
            QVERIFY2(r.dialogs.shown.first().text.contains(path), qPrintable(r.dialogs.shown.first().text));
        } else {
            QVERIFY(r.dialogs.shown.isEmpty());
        }
    }

    // The start/stop button clicked inside a transfer, at the given progress
    // events, with the dialog's answers in order.
    void stopQuestion_data()
    {
        QTest::addColumn<QList<int>>("clicksAt");
        QTest::addColumn<QList<int>>("answers"); // 1 yes, 0 no
        QTest::addColumn<bool>("stopped");
        QTest::newRow("yes") << QList<int>{1} << QList<int>{1} << true;
        QTest::newRow("no") << QList<int>{1} << QList<int>{0} << false;
        QTest::newRow("no, and asked again") << QList<int>{1, 20} << QList<int>{0, 0} << false;
        // The second click comes while the stopped transfer writes its last chunk.
        QTest::newRow("yes, then start at once") << QList<int>{1, 1} << QList<int>{1} << true;
    }

    void stopQuestion()
    {
        QFETCH(QList<int>, clicksAt);
        QFETCH(QList<int>, answers);
        QFETCH(bool, stopped);
        Rig r(freshFolder());
        r.lookUp(m_server.url("/big.mp3"));
        r.form.Command2->click();
        for (const int answer : answers)
            r.dialogs.answers.push_back(answer ? MessageAnswer::Yes : MessageAnswer::No);
        QStringList whileAsking;
        r.dialogs.whileShown = [&] {
            whileAsking << r.form.Command6->text() + (r.form.Command2->isEnabled() ? "+2" : "");
        };
        r.onProgress = [&](int event) {
            for (const int at : clicksAt) {
                if (at == event)
                    r.clickSoon(r.form.Command6);
            }
        };
        const int requests = m_server.requestCount("/big.mp3");
        const QString path = r.panel.DownPath();
        r.statuses.clear();

        r.form.Command6->click();

        QCOMPARE(m_server.requestCount("/big.mp3"), requests + 1);
        QCOMPARE(r.dialogs.shown.size(), answers.size());
        for (const ScriptedDialogs::Shown &box : r.dialogs.shown) {
            QVERIFY(isBox(box, MessageIcon::Information, MessageButtons::YesNo));
            QCOMPARE(box.text, "当前正在下载中..停止将损坏下载文件!");
        }
        QCOMPARE(whileAsking, QStringList(answers.size(), Start));
        const QByteArray saved = readFile(path);
        if (stopped) {
            QCOMPARE(r.statuses.mid(r.statuses.size() - 2), texts({5, 6}));
            QVERIFY(saved.size() > 0 && saved.size() < m_big.size());
            QCOMPARE(saved, m_big.left(saved.size()));
            QCOMPARE(r.captions.last(), Start);
        } else {
            // The transfer went on, and the button kept offering to stop it.
            QCOMPARE(r.statuses.mid(r.statuses.size() - 2), texts({9, 6}));
            QCOMPARE(saved, m_big);
            QCOMPARE(r.captions, QStringList(r.captions.size(), Stop));
        }
        QCOMPARE(r.desktop.shownInFileManager, QStringList{path});
        QCOMPARE(r.form.Command6->text(), Start);
        QVERIFY(r.form.Command2->isEnabled());
        QVERIFY(!r.engine.stopPending());
    }

    // Everything else in the window stays usable during a transfer.
    void controlsDuringTransfer_data()
    {
        QTest::addColumn<QString>("control");
        QTest::newRow("close image") << "close";
        QTest::newRow("browse") << "browse";
    }

    void controlsDuringTransfer()
    {
        QFETCH(QString, control);
        Rig r(freshFolder());
        r.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&r.form));
        r.lookUp(m_server.url("/big.mp3"));
        r.form.Command2->click();
        const QString first = r.panel.DownPath();
        const QString second = m_root.filePath("chosen-during.mp3");
        r.dialogs.saveAnswers.push_back(second);
        QStringList shownDuring;
        r.onProgress = [&](int event) {
            if (event == 1 && control == QLatin1String("close"))
                QMetaObject::invokeMethod(&r.form, [&] { QTest::mouseClick(r.form.aicAlphaImage4, Qt::LeftButton); },
                                          Qt::QueuedConnection);
            if (event == 1 && control == QLatin1String("browse"))
                r.clickSoon(r.form.Command1);
            if (event == 3)
                shownDuring << (r.form.Picture3->isVisible() ? "shown" : "hidden") << r.form.status();
        };

        r.form.Command6->click();

        QCOMPARE(readFile(first), m_big); // the file opened at the start got everything
        QCOMPARE(r.statuses.last(), "音乐下载完成");
        QVERIFY(r.form.Command2->isEnabled());
        if (control == QLatin1String("close")) {
            QCOMPARE(shownDuring, QStringList({"hidden", "正在下载音乐数据..."}));
            QCOMPARE(r.desktop.shownInFileManager, QStringList{first});
        } else {
            // The end looks for the newly chosen file, which nobody wrote.
            QCOMPARE(r.panel.DownPath(), second);
            QVERIFY(r.desktop.shownInFileManager.isEmpty());
        }
    }

    void namesFromThePageStayInMusic_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("climbing out") << "../../../escaped" << "../x" << ".._.._.._escaped - .._x.mp3";
        QTest::newRow("absolute") << "/tmp/evil" << "a/b" << "_tmp_evil - a_b.mp3";
        QTest::newRow("dots only") << ".." << "." << ".. - ..mp3";
        QTest::newRow("line breaks") << "夜\r\n曲" << "\t" << "夜__曲 - _.mp3";
    }

    void namesFromThePageStayInMusic()
    {
        QFETCH(QString, title);
        QFETCH(QString, user);
        QFETCH(QString, fileName);
        const QString folder = freshFolder();
        Rig r(folder);
        r.lookUp(m_server.url("/song.mp3"), title, user);
        r.form.Command2->click();
        QCOMPARE(r.panel.DownPath(), folder + "/Music/" + fileName);

        r.form.Command6->click();

        const QDir::Filters everything = QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot;
        QCOMPARE(readFile(folder + "/Music/" + fileName), m_song);
        QCOMPARE(QDir(folder).entryList(everything), QStringList{"Music"});
        QCOMPARE(QDir(folder + "/Music").entryList(everything), QStringList{fileName});
        // A name with a leading dot is still the saved file, and it is shown.
        QCOMPARE(r.desktop.shownInFileManager, QStringList{r.panel.DownPath()});
        QCOMPARE(r.form.Label16->text(), "音乐名称：" + title); // shown as the page has it
    }

    void dragPanel_data()
    {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<QPoint>("pressAt"); // inside the panel
        QTest::addColumn<QPoint>("moveTo");  // inside the panel as it was
        QTest::addColumn<QPoint>("endsAt");
        const QPoint centred(283, 71);
        QTest::newRow("left, on its background") << Qt::LeftButton << QPoint(10, 300) << QPoint(50, 330)
                                                 << centred + QPoint(40, 30);
        QTest::newRow("right drags too") << Qt::RightButton << QPoint(10, 300) << QPoint(0, 310)
                                         << centred + QPoint(-10, 10);
        QTest::newRow("kept inside the window") << Qt::LeftButton << QPoint(10, 300) << QPoint(5000, -5000)
                                                << QPoint(1062 - 10, 0 - 300);
        QTest::newRow("on its heading") << Qt::LeftButton << QPoint(30, 30) << QPoint(70, 60) << centred;
        QTest::newRow("on a section") << Qt::LeftButton << QPoint(100, 300) << QPoint(140, 330) << centred;
        QTest::newRow("on a button") << Qt::LeftButton << QPoint(360, 145) << QPoint(400, 175) << centred;
    }

    void dragPanel()
    {
        QFETCH(Qt::MouseButton, button);
        QFETCH(QPoint, pressAt);
        QFETCH(QPoint, moveTo);
        QFETCH(QPoint, endsAt);
        Rig r(freshFolder());
        r.lookUp(m_server.url("/song.mp3"));
        r.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&r.form));
        r.form.Command2->click();
        QFrame *panel = r.form.Picture3;

        QTest::mousePress(panel, button, {}, pressAt);
        QMouseEvent move(QEvent::MouseMove, QPointF(moveTo), panel->mapToGlobal(QPointF(moveTo)), Qt::NoButton,
                         button, Qt::NoModifier);
        QApplication::sendEvent(panel, &move);
        QTest::mouseRelease(panel, button, {}, moveTo);
        QCOMPARE(panel->pos(), endsAt);

        // Released: moving the mouse no longer moves the panel.
        QMouseEvent after(QEvent::MouseMove, QPointF(0, 0), panel->mapToGlobal(QPointF(0, 0)), Qt::NoButton,
                          Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(panel, &after);
        QCOMPARE(panel->pos(), endsAt);
    }

    void barPercentage_data()
    {
        QTest::addColumn<qint64>("downloaded");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<int>("bar");
        QTest::newRow("0.5 to 0") << qint64(1) << qint64(200) << 0;
        QTest::newRow("1.5 to 2") << qint64(3) << qint64(200) << 2;
        QTest::newRow("2.5 to 2") << qint64(5) << qint64(200) << 2;
        QTest::newRow("12.5 to 12") << qint64(1) << qint64(8) << 12;
        QTest::newRow("37.5 to 38") << qint64(3) << qint64(8) << 38;
        QTest::newRow("98.5 to 98") << qint64(1970) << qint64(2000) << 98;
        QTest::newRow("99.5 to 100") << qint64(1990) << qint64(2000) << 100;
        QTest::newRow("100.5, more than announced") << qint64(201) << qint64(200) << 100;
        QTest::newRow("far more than announced") << qint64(3000) << qint64(200) << 100;
        QTest::newRow("no size") << qint64(5000) << qint64(0) << 0;
        QTest::newRow("beyond 32 bits") << (Q_INT64_C(3) << 31) << (Q_INT64_C(4) << 31) << 75;
    }

    void barPercentage()
    {
        QFETCH(qint64, downloaded);
        QFETCH(qint64, size);
        QFETCH(int, bar);
        Rig r(freshFolder());
        r.form.ProgressBar1->setValue(57); // a value the bar keeps if it is handed one out of range
        r.panel.Cdf_entDLFileDowning(QStringLiteral("http://127.0.0.1/x.mp3"), downloaded, size, 1025);
        QCOMPARE(r.form.ProgressBar1->value(), bar);
        QVERIFY(r.statuses.isEmpty());
    }

    void statusTexts_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("text");
        QTest::newRow("1") << 1 << "正在连接服务器...";
        QTest::newRow("2") << 2 << "正在发送请求...";
        QTest::newRow("3") << 3 << "获取远程文件信息...";
        QTest::newRow("4") << 4 << "正在下载音乐数据...";
        QTest::newRow("5") << 5 << "停止音乐下载";
        QTest::newRow("6") << 6 << "音乐下载完成";
        QTest::newRow("7") << 7 << "抱歉!连接服务器失败..";
        QTest::newRow("8") << 8 << "抱歉!发送请求失败..";
        QTest::newRow("9, two dots") << 9 << "正在连接服务器..";
        QTest::newRow("unknown") << 10 << "";
    }

    void statusTexts()
    {
        QFETCH(int, state);
        QFETCH(QString, text);
        Rig r(freshFolder());
        r.form.Command6->setText(Stop);
        r.panel.Cdf_entDLFileStatus(state);
        QCOMPARE(r.statuses, text.isEmpty() ? QStringList{} : QStringList{text});
        QCOMPARE(r.form.Command6->text(), state == 6 ? Start : Stop);
    }
};

KELVARO_TEST_MAIN(DownloadPanelTest)
#include "tst_download_panel.moc"
