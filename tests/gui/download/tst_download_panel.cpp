// The download panel on a real window and the real engine, against the local
// server: opening and filling the panel, choosing the target, whole and
// broken transfers, the stop question inside a transfer, and the names that
// become file names.
#include "common/BatchCommunity.h"
#include "common/TagFrames.h"
#include "common/TestPictures.h"
#include "common/TransferBytes.h"
#include "gui/app/Form1.h"
#include "gui/app/FormControls.h"
#include "common/Fakes.h"
#include "common/TestEnvironment.h"
#include "common/TestServer.h"
#include "core/download/Cls_DownLoad.h"
#include "gui/download/DownloadPanel.h"
#include "core/download/DownloadPanelLogic.h"
#include "core/download/SongTags.h"
#include "core/lookup/SongState.h"
#include "core/platform/Network.h"
#include "core/works/WorkBatch.h"
#include "ToneMp3.h"

#include <QDialog>
#include <QNetworkProxy>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

namespace {

using namespace DownloadStatus;

const QString Start = QStringLiteral("开始下载");
const QString Stop = QStringLiteral("停止下载");

QStringList texts(std::initializer_list<DownloadStatus::Code> states)
{
    QStringList out;
    for (const int state : states)
        out << downloadStatusText(state);
    return out;
}

// A window, the engine and the panel, with the dialogs and the desktop
// answered by fakes. Records every status text, and at each progress event
// the bar's value and the start/stop caption after the panel handled it.
struct Rig {
    explicit Rig(const QString &programFolder)
        : panel(recordingStatus(controlsOf(form).downloadPanel), song, engine, dialogs, desktop,
                programFolder + QStringLiteral("/Music"))
    {
        QObject::connect(&engine, &Cls_DownLoad::DLFileDowning, &form, [this] {
            bar << form.ProgressBar1->value();
            captions << form.Command6->text();
            if (onProgress)
                onProgress(int(bar.size()));
        });
    }

    // The window's status line, every text also recorded.
    DownloadPanel::Controls recordingStatus(DownloadPanel::Controls controls)
    {
        controls.setStatus = [this](const QString &text) {
            statuses << text;
            form.setStatus(text);
        };
        return controls;
    }

    // Clicks the start button and runs the event loop until the transfer it
    // started (if any) has ended.
    bool startAndWait()
    {
        form.Command6->click();
        return QTest::qWaitFor([this] { return !panel.transferRunning(); }, 30000);
    }

    void lookUp(const QString &url, const QString &title = QStringLiteral("夜曲"),
                const QString &user = QStringLiteral("小鹿"))
    {
        song.MusicUrl = url;
        song.UserName = user;
        song.SongName = title;
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
    const QByteArray m_tone = ToneMp3::encode(440, 0.5);
    std::shared_ptr<RangeRoute> m_breaksOnce; // the song, continued where asked

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
        m_server.serve("/missing.mp3", m_errorPage, "text/html", 404);
        m_server.serveCutShort("/cut.mp3", patterned(8000, 4), 3000);
        m_server.serve("/empty.mp3", QByteArray(), "audio/mpeg");
        m_server.serveSlowly("/slow.mp3", m_big, 4096, 10);
        m_server.serveStalled("/stall.mp3", patterned(8000, 5), 2000);
        m_server.serveSlowly("/slower.mp3", m_big, 4096, 30);
        RangeAnswers breaks;
        breaks.body = m_tone;
        breaks.etag = "\"tone-1\"";
        m_breaksOnce = m_server.serveRanges("/breaks-once.mp3", breaks);
        m_server.start();
    }

    // Names can only ever be one file name: no separators, no control
    // characters, no "." or "..", and no longer than 250 bytes (255 with the
    // download's ".part"), shortened
    // before the extension and never inside a character.
    void safeFileNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("safe");
        const QString note = QStringLiteral("\U0001F3B5");
        QTest::newRow("slashes") << "../../etc/x - a/b.mp3" << ".._.._etc_x - a_b.mp3";
        QTest::newRow("NUL and controls") << QStringLiteral("a%1b\nc\td\x7f" "e\u0085.mp3").arg(QChar(0))
                                          << "a_b_c_d_e_.mp3";
        QTest::newRow("empty") << "" << "_";
        QTest::newRow("dot dot") << ".." << "__";
        QTest::newRow("pair kept, lone half replaced") << note + QChar(0xD800) + "x" << note + "_x";
        QTest::newRow("long, with extension") << QString(300, QChar(0x6B4C)) + ".mp3"
                                              << QString(82, QChar(0x6B4C)) + ".mp3";
        QTest::newRow("long, pairs kept whole") << note.repeated(100) + ".mp3" << note.repeated(61) + ".mp3";
        QTest::newRow("long, without extension") << QString(400, 'a') << QString(250, 'a');
        QTest::newRow("250 bytes kept") << QString(246, 'a') + ".mp3" << QString(246, 'a') + ".mp3";
    }
    void safeFileNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, safe);
        QCOMPARE(safeFileName(name), safe);
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
        QCOMPARE(r.statuses, QStringList{lookedUp ? "正在下载音乐.." : "请先进行解析.."});
        QCOMPARE(r.form.Picture3->pos(), lookedUp ? QPoint(283, 71) : QPoint(0, 0)); // centred: 1063/2 - 497/2, ...
        QCOMPARE(r.form.Label16->text(), lookedUp ? "音乐名称：夜曲" : "音乐名称：");
        QCOMPARE(r.form.Label17->text(), lookedUp ? "演唱歌手：小鹿" : "演唱歌手：");
        QCOMPARE(r.panel.DownPath(), folder + (lookedUp ? "/Music/夜曲 - 小鹿.mp3" : "/Music/未查询 - .mp3"));
    }

    void browse_data()
    {
        QTest::addColumn<bool>("chosen");
        QTest::addColumn<QString>("remembered"); // relative to the program folder; "" = none
        QTest::addColumn<QString>("startsIn");
        QTest::newRow("a file chosen") << true << "" << "/Music";
        QTest::newRow("cancelled") << false << "" << "/Music";
        QTest::newRow("the remembered folder") << true << "/kept" << "/kept";
        QTest::newRow("a remembered folder that is gone") << false << "/gone" << "/Music";
    }
    void browse()
    {
        QFETCH(bool, chosen);
        QFETCH(QString, remembered);
        QFETCH(QString, startsIn);
        const QString folder = freshFolder();
        QVERIFY(QDir().mkpath(folder + "/kept"));
        Rig r(folder);
        QStringList kept;
        if (!remembered.isEmpty())
            r.panel.rememberFolders(folder + remembered, [&kept](const QString &f) { kept << f; });
        r.lookUp(m_server.url("/song.mp3"), "夜/曲");
        r.form.Command2->click();
        const QString before = r.panel.DownPath();
        const QString picked = m_root.filePath("elsewhere/mine.mp3");
        if (chosen)
            r.dialogs.saveAnswers.push_back(picked);

        r.form.Command1->click();

        QCOMPARE(r.dialogs.saves.size(), 1);
        const ScriptedDialogs::SaveAsked asked = r.dialogs.saves.first();
        QCOMPARE(QStringList({asked.title, asked.typeDescription, asked.pattern, asked.suggestedName}),
                 QStringList({"选择要下载的路径", "MP3音乐文件", "*.mp3", "夜_曲 - 小鹿.mp3"}));
        QCOMPARE(asked.startFolder, folder + startsIn);
        if (!remembered.isEmpty())
            QCOMPARE(kept, chosen ? QStringList{m_root.filePath("elsewhere")} : QStringList());
        QCOMPARE(r.panel.DownPath(), chosen ? picked : before);
        QCOMPARE(r.statuses.last(), chosen ? "已更换下载路径：" + picked : QStringLiteral("正在下载音乐.."));
        r.form.Command2->click(); // opening the panel again forgets the choice
        QCOMPARE(r.panel.DownPath(), before);
    }

    void startWithoutTarget()
    {
        Rig r(freshFolder());
        r.lookUp(m_server.url("/song.mp3"));
        const int requests = m_server.requestCount("/song.mp3");
        r.form.Command6->click();
        QCOMPARE(r.dialogs.shown.size(), 1);
        QCOMPARE(r.dialogs.shown.first().text, "请先选择要下载的文件路径!");
        QCOMPARE(r.dialogs.shown.first().icon, MessageIcon::Exclamation);
        QCOMPARE(r.form.Command6->text(), Start);
        QCOMPARE(m_server.requestCount("/song.mp3"), requests);
    }

    // One transfer from the start button to its end. Only a whole file is
    // shown in the file manager, and only it replaces an earlier file at the
    // target; every other ending says what happened and leaves that file.
    void transfers_data()
    {
        QTest::addColumn<QString>("route");       // "refused": a port nothing listens on
        QTest::addColumn<bool>("folderInTheWay"); // the chosen target is a folder
        QTest::addColumn<QByteArray>("earlier");  // a file at the target before, if any
        QTest::addColumn<QStringList>("statuses");
        QTest::addColumn<QByteArray>("file");     // what the target holds afterwards; null: none
        QTest::addColumn<int>("lastBar");
        QTest::addColumn<bool>("shown");
        const QStringList through = texts({Connecting, SessionOpen, Answered, Receiving, DataEnded, HandlesClosed});
        const QByteArray earlier = patterned(6000, 12);
        QTest::newRow("whole file") << "/song.mp3" << false << QByteArray() << through << m_song << 100 << true;
        QTest::newRow("whole file over an earlier one")
            << "/song.mp3" << false << earlier << through << m_song << 100 << true;
        QTest::newRow("connection cut: not complete")
            << "/cut.mp3" << false << earlier << through + QStringList{"音乐下载未完成,文件不完整,请重试.."} << earlier
            << 38 << false;
        QTest::newRow("connection cut, no earlier file")
            << "/cut.mp3" << false << QByteArray() << through + QStringList{"音乐下载未完成,文件不完整,请重试.."}
            << QByteArray() << 38 << false;
        QTest::newRow("error page") << "/missing.mp3" << false << earlier
                                    << through + QStringList{"抱歉!服务器返回错误(404),音乐下载失败.."} << earlier
                                    << 100 << false;
        QTest::newRow("empty answer") << "/empty.mp3" << false << earlier
                                      << through + QStringList{"抱歉!服务器没有返回数据,音乐下载失败.."}
                                      << earlier << 0 << false;
        QTest::newRow("refused") << "refused" << false << earlier
                                 << texts({Connecting, SessionOpen, NoAnswer, HandlesClosed}) +
                                        QStringList{"抱歉!无法连接服务器,音乐下载失败.."}
                                 << earlier << 0 << false;
        QTest::newRow("target not writable") << "/song.mp3" << true << QByteArray()
                                             << texts({Connecting, SessionOpen, Answered, Receiving}) +
                                                    QStringList{"抱歉!下载文件无法写入.."}
                                             << QByteArray() << 0 << false;
    }
    void transfers()
    {
        QFETCH(QString, route);
        QFETCH(bool, folderInTheWay);
        QFETCH(QByteArray, earlier);
        QFETCH(QStringList, statuses);
        QFETCH(QByteArray, file);
        QFETCH(int, lastBar);
        QFETCH(bool, shown);
        const QString folder = freshFolder();
        Rig r(folder);
        r.panel.setRetries(0); // each ending as it is met for good: retries are continuedAndRetried's
        r.lookUp(route == "refused" ? QStringLiteral("http://127.0.0.1:%1/song.mp3").arg(TestServer::refusingPort())
                                    : m_server.url(route));
        r.form.Command2->click();
        if (folderInTheWay) {
            r.dialogs.saveAnswers.push_back(folder);
            r.form.Command1->click();
        }
        const QString path = r.panel.DownPath();
        QVERIFY(!QFileInfo::exists(folder + "/Music"));
        if (!earlier.isNull()) {
            QDir().mkpath(folder + "/Music");
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write(earlier) == earlier.size());
        }
        r.statuses.clear();

        QVERIFY(r.startAndWait());

        QCOMPARE(r.statuses, statuses);
        QCOMPARE(r.form.Command6->text(), Start);
        QVERIFY(r.form.Command2->isEnabled() && !r.panel.transferRunning());
        QCOMPARE(r.form.ProgressBar1->value(), lastBar);
        QVERIFY(std::is_sorted(r.bar.begin(), r.bar.end()));
        QCOMPARE(r.desktop.shownInFileManager, shown ? QStringList{path} : QStringList{});
        QVERIFY(!QFileInfo::exists(Cls_DownLoad::partPath(path)));
        if (folderInTheWay) {
            QCOMPARE(r.dialogs.shown.size(), 1);
            QCOMPARE(r.dialogs.shown.first().icon, MessageIcon::Exclamation);
            QVERIFY2(r.dialogs.shown.first().text.contains(path), qPrintable(r.dialogs.shown.first().text));
        } else {
            QCOMPARE(QFileInfo(path).isFile(), !file.isNull());
            QCOMPARE(readFile(path), file);
            QVERIFY(QFileInfo(folder + "/Music").isDir()); // made before the transfer, on first use
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
        // After the last of the 400 chunks: the data has ended, the stop is dropped.
        QTest::newRow("yes, too late") << QList<int>{400} << QList<int>{1} << false;
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
        r.dialogs.whileShown = [&] { whileAsking << r.form.Command6->text(); };
        r.onProgress = [&](int event) {
            for (int i = int(clicksAt.count(event)); i > 0; --i) // as the user would, between chunks
                QMetaObject::invokeMethod(r.form.Command6, [&r] { r.form.Command6->click(); }, Qt::QueuedConnection);
        };
        const int requests = m_server.requestCount("/big.mp3");
        const QString path = r.panel.DownPath();

        QVERIFY(r.startAndWait());

        QCOMPARE(m_server.requestCount("/big.mp3"), requests + 1);
        QCOMPARE(r.dialogs.shown.size(), answers.size());
        for (const ScriptedDialogs::Shown &box : r.dialogs.shown) {
            QCOMPARE(box.text, "当前正在下载中..停止将损坏下载文件!");
            QCOMPARE(box.buttons, MessageButtons::YesNo);
        }
        QCOMPARE(whileAsking, QStringList(answers.size(), Start));
        if (stopped) { // not complete: nothing saved, nothing shown
            QCOMPARE(r.statuses.mid(r.statuses.size() - 3),
                     texts({StoppedOnRequest, HandlesClosed}) + QStringList{"下载已停止.."});
            QVERIFY(!QFileInfo::exists(path) && !QFileInfo::exists(Cls_DownLoad::partPath(path)));
            QCOMPARE(r.desktop.shownInFileManager, QStringList());
        } else { // the transfer went on, and the button kept offering to stop it
            QCOMPARE(r.statuses.mid(r.statuses.size() - 2), texts({DataEnded, HandlesClosed}));
            QCOMPARE(readFile(path), m_big);
            QCOMPARE(r.captions, QStringList(r.captions.size(), Stop));
            QCOMPARE(r.desktop.shownInFileManager, QStringList{path});
        }
        QCOMPARE(r.form.Command6->text(), Start);
        QVERIFY(r.form.Command2->isEnabled());
        QVERIFY(!r.engine.stopPending());
        r.dialogs.whileShown = nullptr;
        r.onProgress = nullptr;
        QVERIFY(r.startAndWait()); // the next download is not cut short by an old request
        QCOMPARE(readFile(path), m_big);
    }

    // A dialog open during a transfer runs the event loop until it is
    // answered, as a modal dialog does: the transfer goes on meanwhile, and
    // so does its stall limit. "否" then answers a question about a transfer
    // that never paused (here: that has ended meanwhile).
    void dialogsDuringTransfer_data()
    {
        QTest::addColumn<bool>("question"); // the stop question, else the browse dialog
        QTest::addColumn<QString>("route");
        QTest::addColumn<bool>("grows");    // progress events come while the dialog is open
        QTest::addColumn<QStringList>("ending");
        QTest::addColumn<bool>("complete");
        const QStringList done = texts({DataEnded, HandlesClosed});
        QTest::newRow("stop question: the transfer finishes, then no")
            << true << "/slow.mp3" << true << done << true;
        QTest::newRow("stop question: the stall limit ends it, then no")
            << true << "/stall.mp3" << false << done + QStringList{"音乐下载未完成,文件不完整,请重试.."} << false;
        QTest::newRow("browse dialog: the transfer finishes") << false << "/slow.mp3" << true << done << true;
    }
    void dialogsDuringTransfer()
    {
        QFETCH(bool, question);
        QFETCH(QString, route);
        QFETCH(bool, grows);
        QFETCH(QStringList, ending);
        QFETCH(bool, complete);
        Rig r(freshFolder());
        r.engine.setStallLimit(route == "/stall.mp3" ? 300 : 10000);
        r.panel.setRetries(0); // the stall ends the transfer, not an attempt of it
        r.lookUp(m_server.url(route));
        r.form.Command2->click();
        const QString path = r.panel.DownPath();
        r.form.Command6->click();
        QTRY_VERIFY_WITH_TIMEOUT(!r.bar.isEmpty(), 10000);

        qsizetype eventsWhenOpened = -1;
        qsizetype eventsWhenAnswered = -1;
        bool endedWhileOpen = false;
        const auto keepOpen = [&] {
            eventsWhenOpened = r.bar.size();
            endedWhileOpen = QTest::qWaitFor([&r] { return !r.panel.transferRunning(); }, 30000);
            eventsWhenAnswered = r.bar.size();
        };
        if (question) {
            r.dialogs.answers.push_back(MessageAnswer::No);
            r.dialogs.whileShown = keepOpen;
            r.form.Command6->click();
            QCOMPARE(r.dialogs.shown.size(), 1);
            QCOMPARE(r.dialogs.shown.first().text, "当前正在下载中..停止将损坏下载文件!");
        } else {
            r.dialogs.whileChoosing = keepOpen; // and then cancelled
            r.form.Command1->click();
            QCOMPARE(r.dialogs.saves.size(), 1);
            QCOMPARE(r.panel.DownPath(), path);
        }

        QVERIFY(endedWhileOpen);
        QVERIFY2(!grows || eventsWhenAnswered > eventsWhenOpened,
                 qPrintable(QStringLiteral("%1 -> %2").arg(eventsWhenOpened).arg(eventsWhenAnswered)));
        QCOMPARE(r.statuses.mid(r.statuses.size() - ending.size()), ending);
        QCOMPARE(r.form.Command6->text(), Start);
        QVERIFY(r.form.Command2->isEnabled());
        QVERIFY(!r.engine.stopPending());
        QCOMPARE(readFile(path), complete ? m_big : QByteArray());
        QCOMPARE(r.desktop.shownInFileManager, complete ? QStringList{path} : QStringList());
        QVERIFY(!QFileInfo::exists(Cls_DownLoad::partPath(path)));
    }

    // Quitting during a transfer asks once; Yes stops it (the earlier file
    // stays), No leaves it running. While a modal dialog is open the request
    // is refused without a question.
    void quitDuringTransfer_data()
    {
        QTest::addColumn<bool>("modalOpen");
        QTest::addColumn<int>("answer"); // 1 yes, 0 no
        QTest::addColumn<bool>("mayQuit");
        QTest::newRow("yes") << false << 1 << true;
        QTest::newRow("no") << false << 0 << false;
        QTest::newRow("a modal dialog open") << true << 1 << false;
    }
    void quitDuringTransfer()
    {
        QFETCH(bool, modalOpen);
        QFETCH(int, answer);
        QFETCH(bool, mayQuit);
        Rig r(freshFolder());
        QVERIFY(r.panel.mayQuit()); // nothing runs: nothing to ask
        r.lookUp(m_server.url("/slow.mp3"));
        r.form.Command2->click();
        const QString path = r.panel.DownPath();
        QDir().mkpath(QFileInfo(path).path());
        const QByteArray earlier = patterned(900, 2);
        {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write(earlier) == earlier.size());
        }
        r.form.Command6->click();
        QTRY_VERIFY_WITH_TIMEOUT(!r.bar.isEmpty(), 10000);
        QDialog modal(&r.form);
        modal.setModal(true);
        if (modalOpen) {
            modal.show();
            QTRY_VERIFY(QApplication::activeModalWidget() == &modal);
        }
        r.dialogs.answers.push_back(answer ? MessageAnswer::Yes : MessageAnswer::No);

        QCOMPARE(r.panel.mayQuit(), mayQuit);

        QCOMPARE(r.dialogs.shown.size(), modalOpen ? 0 : 1);
        if (!modalOpen)
            QCOMPARE(r.dialogs.shown.first().text, "当前正在下载中..是否停止下载并退出程序?");
        modal.hide();
        QTRY_VERIFY_WITH_TIMEOUT(!r.panel.transferRunning(), 30000);
        QCOMPARE(r.statuses.contains(downloadStatusText(StoppedOnRequest)), mayQuit);
        QCOMPARE(readFile(path), mayQuit ? earlier : m_big);
        QVERIFY(!QFileInfo::exists(Cls_DownLoad::partPath(path)));
    }

    // The file lands in Music under the shown name, whatever the page said.
    void namesFromThePageStayInMusic_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("climbing out") << "../../../escaped" << "../x" << ".._.._.._escaped - .._x.mp3";
        QTest::newRow("dots and line breaks") << ".." << "\r\n" << ".. - __.mp3";
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
        QVERIFY(r.startAndWait());
        const QDir::Filters everything = QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot;
        QCOMPARE(QDir(folder).entryList(everything), QStringList{"Music"});
        QCOMPARE(QDir(folder + "/Music").entryList(everything), QStringList{fileName});
        QCOMPARE(readFile(folder + "/Music/" + fileName), m_song);
        QCOMPARE(r.form.Label16->text(), "音乐名称：" + title); // shown as the page has it
    }

    // Rounded to the nearest, halves to even; never above 100; 0 while the
    // size is unknown.
    void barPercentage()
    {
        Rig r(freshFolder());
        const qint64 big = Q_INT64_C(1) << 31;
        QList<int> bars;
        for (const auto &[downloaded, size] : QList<std::pair<qint64, qint64>>{
                 {1, 200}, {5, 200}, {3, 8}, {1990, 2000}, {3000, 200}, {5000, 0}, {3 * big, 4 * big}}) {
            r.form.ProgressBar1->setValue(57); // a value the bar keeps if it is handed one out of range
            r.panel.Cdf_entDLFileDowning(QStringLiteral("http://127.0.0.1/x.mp3"), downloaded, size);
            bars << r.form.ProgressBar1->value();
        }
        QCOMPARE(bars, QList<int>({0, 2, 38, 100, 100, 0, 75}));
    }

    // The status line for each engine status; an unknown one leaves it, and
    // only 6 turns the button back to start.
    void statusTexts()
    {
        Rig r(freshFolder());
        QStringList captions;
        for (int state = 1; state <= 10; ++state) {
            r.form.Command6->setText(Stop);
            r.panel.Cdf_entDLFileStatus(state);
            captions << r.form.Command6->text();
        }
        QCOMPARE(r.statuses, QStringList({"正在连接服务器...", "正在发送请求...", "获取远程文件信息...",
                                          "正在下载音乐数据...", "停止音乐下载", "音乐下载完成", "抱歉!连接服务器失败..",
                                          "抱歉!发送请求失败..", "正在连接服务器.."}));
        QCOMPARE(captions, QStringList({Stop, Stop, Stop, Stop, Stop, Start, Stop, Stop, Stop, Stop}));
    }

    // The works table's batch: three works at once, named together in the
    // status line, the whole batch in the progress bar (never going back),
    // and at its end the failed works, each with its reason, in a report the
    // user can copy from; none when nothing failed.
    void batchInParallel_data()
    {
        QTest::addColumn<QList<int>>("missing");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("report"); // empty: no report
        QTest::newRow("two fail") << QList<int>{2, 5} << "批量下载结束：下载 4 首,跳过 0 首,失败 2 首"
                                  << "以下 2 首作品下载失败：\n5000002 Work 2：音乐下载失败(HTTP 404)\n"
                                     "5000005 Work 5：音乐下载失败(HTTP 404)";
        QTest::newRow("all saved") << QList<int>{} << "批量下载结束：下载 6 首,跳过 0 首,失败 0 首" << "";
    }
    void batchInParallel()
    {
        QFETCH(QList<int>, missing);
        QFETCH(QString, summary);
        QFETCH(QString, report);
        BatchCommunity::Options options;
        options.works = 6;
        options.audioBytes = 40 * 1024;
        options.pieceBytes = 4096;
        options.pauseMs = 20;
        options.missingAudio = std::set<int>(missing.cbegin(), missing.cend());
        BatchCommunity community(options);
        // Pages come through the network manager, recordings through the
        // engines, which take the proxy from the environment.
        const QNetworkProxy before = networkManager().proxy();
        networkManager().setProxy(
            QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), quint16(community.port())));
        qputenv("http_proxy", community.proxy().toUtf8());
        const auto restore = qScopeGuard([&before] {
            qunsetenv("http_proxy");
            networkManager().setProxy(before);
        });

        Rig r(freshFolder());
        QList<WorkRow> rows;
        for (const PageRow &row : BatchCommunity::rowsOf(options.works))
            rows.append({int(rows.size()) + 1, row.id, row.title, playServiceAddress(row.id)});
        QList<int> overall;
        QStringList counted; // the bar's text: the works ended so far
        connect(r.form.ProgressBar1, &QProgressBar::valueChanged, this, [&](int value) {
            overall << value;
            if (r.form.ProgressBar1->isTextVisible() && counted.value(counted.size() - 1) != r.form.ProgressBar1->format())
                counted << r.form.ProgressBar1->format();
        });
        r.panel.downloadWorks(rows);
        QVERIFY(r.panel.workBatch().isRunning());
        QCOMPARE(r.form.Command6->text(), Stop);
        QTRY_COMPARE_WITH_TIMEOUT(r.form.status(), summary, 30000);
        QCOMPARE(r.form.Command6->text(), Start);
        QVERIFY(r.form.Command2->isEnabled());

        QVERIFY2(std::any_of(r.statuses.cbegin(), r.statuses.cend(),
                             [](const QString &text) { return text.startsWith(QStringLiteral("第 1-3/6 首：")); }),
                 qPrintable(r.statuses.join(QLatin1Char('\n'))));
        QCOMPARE(community.mostAudioAtOnce(), 3);
        QVERIFY(community.mostAtOnce() <= 3);
        QVERIFY(!overall.isEmpty() && overall.last() == 100);
        QVERIFY2(std::is_sorted(overall.cbegin(), overall.cend()), "the batch's progress went back");
        QVERIFY2(std::count_if(overall.cbegin(), overall.cend(), [](int value) { return value > 0 && value < 100; }) > 3,
                 "the progress bar showed no steps between");
        // Counted up from none, never back, always of all six; gone with the batch.
        QVERIFY2(counted.size() >= 2 && counted.first() == QStringLiteral("已完成 0/6 首"), qPrintable(counted.join('|')));
        for (qsizetype i = 1; i < counted.size(); ++i)
            QVERIFY2(counted.at(i).contains(QRegularExpression(QStringLiteral("^已完成 [1-6]/6 首$"))) &&
                         counted.at(i) > counted.at(i - 1),
                     qPrintable(counted.join('|')));
        QVERIFY(!r.form.ProgressBar1->isTextVisible());
        for (const int work : missing)
            QVERIFY(r.statuses.contains(QStringLiteral("第 %1/6 首：下载失败：音乐下载失败(HTTP 404)").arg(work)));
        QCOMPARE(r.dialogs.reports.size(), report.isEmpty() ? 0 : 1);
        for (const auto &shown : std::as_const(r.dialogs.reports)) {
            QCOMPARE(shown.heading + QLatin1Char('\n') + shown.text, report);
            QCOMPARE(shown.title, MessageBoxTitle);
        }
    }

    // The text inside the progress bar: size, then speed and time left once
    // they can be told.
    void progressTexts_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<double>("speed"); // bytes per second; negative: not measured yet
        QTest::addColumn<QString>("text");
        const qint64 MiB = 1024 * 1024;
        QTest::newRow("size, speed, time left")
            << qint64(2.3 * MiB) << qint64(4.8 * MiB) << 1.2 * MiB << "2.3/4.8 MB · 1.2 MB/s · 剩余 3 秒";
        QTest::newRow("speed not measured yet") << MiB << 4 * MiB << -1.0 << "1.0/4.0 MB";
        QTest::newRow("size unknown: no time left") << qint64(2.3 * MiB) << qint64(0) << 1.2 * MiB << "2.3 MB · 1.2 MB/s";
        QTest::newRow("nothing came lately: no time left") << MiB << 4 * MiB << 0.0 << "1.0/4.0 MB · 0 B/s";
    }
    void progressTexts()
    {
        QFETCH(qint64, bytes);
        QFETCH(qint64, total);
        QFETCH(double, speed);
        QFETCH(QString, text);
        QCOMPARE(progressText(bytes, total, speed), text);
    }

    // The speed counts only what this transfer received, over windows of at
    // least half a second, smoothed across them; -1 until the first window.
    void transferRate()
    {
        const auto speeds = [](qint64 resumedFrom, const QList<std::pair<qint64, qint64>> &samples) { // ms, bytes
            TransferRate rate;
            rate.start(resumedFrom, 0);
            QList<int> seen;
            for (const auto &[ms, bytes] : samples) {
                rate.sample(bytes, ms);
                seen << qRound(rate.bytesPerSecond());
            }
            return seen;
        };
        QCOMPARE(speeds(0, {{1, 512}, {100, 100}, {499, 1000}, {500, 1000}, {1500, 1000}}),
                 QList<int>({-1, -1, -1, 2000, 1400}));
        QCOMPARE(speeds(1000000, {{500, 1000500}}), QList<int>{1000}); // resumed bytes do not count
    }

    // During a single download the bar carries its size, then its speed and
    // time left once half a second has been measured; the text goes with
    // the transfer, and the bar keeps its place.
    void progressTextInTheBar()
    {
        Rig r(freshFolder());
        r.lookUp(m_server.url("/slower.mp3"));
        r.form.Command2->click();
        QStringList shown;
        const QByteArray shots = qgetenv("KELVARO_SCREENSHOT_DIR");
        r.onProgress = [&](int event) {
            shown << (r.form.ProgressBar1->isTextVisible() ? r.form.ProgressBar1->format() : "-");
            if (event == 300 && !shots.isEmpty())
                r.form.Picture3->grab().save(QString::fromLocal8Bit(shots) + QStringLiteral("/download-progress.png"));
        };
        const QRect barPlace = r.form.ProgressBar1->geometry();

        QVERIFY(r.startAndWait());

        QCOMPARE(readFile(r.panel.DownPath()), m_big);
        const QRegularExpression full(QStringLiteral("^\\d+/200 KB · \\d+ KB/s · 剩余 \\d+ 秒$"));
        const qsizetype firstSpeed = shown.indexOf(full);
        QVERIFY2(shown.size() > 10 && shown.first().contains(QRegularExpression(QStringLiteral("^\\d+/200 KB$"))) &&
                     firstSpeed > 0 && shown.last().startsWith("200/200 KB"),
                 qPrintable(shown.join('\n')));
        // Once measured, the speed stays.
        for (qsizetype i = firstSpeed; i < shown.size(); ++i)
            QVERIFY2(full.match(shown.at(i)).hasMatch(), qPrintable(shown.at(i)));
        QVERIFY(!r.form.ProgressBar1->isTextVisible());
        QCOMPARE(r.form.ProgressBar1->geometry(), barPlace);
    }

    // A transfer broken off is continued where it broke, by a retry or by
    // the next click, and says so; the saved song is the one a straight
    // download saves, with the song's tags (the cover being the picture the
    // song panel shows) unless the window's setting turned them off. The
    // transfer tags the song it started with, though another is looked up meanwhile.
    void continuedAndRetried_data()
    {
        QTest::addColumn<int>("retries");
        QTest::addColumn<bool>("tags");
        QTest::addColumn<QStringList>("said"); // the texts of the two ways, in order
        QTest::newRow("retried at once, tagged") << 3 << true << QStringList{"第 1 次重试..", "正在继续下载.."};
        QTest::newRow("continued by the next click, tags off")
            << 0 << false << QStringList{"音乐下载未完成,文件不完整,请重试..", "正在继续下载.."};
    }
    void continuedAndRetried()
    {
        QFETCH(int, retries);
        QFETCH(bool, tags);
        QFETCH(QStringList, said);
        m_breaksOnce->change([](RangeAnswers &answers) {
            answers.cutAfter = 3000; // the first answer breaks off there
            answers.cuts = 1;
        });
        const qsizetype asked = m_breaksOnce->requests().size();
        Rig r(freshFolder());
        r.panel.setRetries(retries);
        r.panel.setWriteSongTags(tags);
        r.lookUp(m_server.url("/breaks-once.mp3"), "夜曲演唱歌曲：", "小鹿");
        r.song.PictureBytes = pngBytes(Qt::red);
        r.song.PageUrl = QStringLiteral("http://www.kelvaro.test/s/abc");
        r.song.WorkId = QStringLiteral("98765");
        r.form.Command2->click();
        const QString path = r.panel.DownPath();
        if (retries > 0)
            r.onProgress = [&r](int) {
                r.song = SongState{};
                r.song.SongName = "别的歌";
                r.song.UserName = "别人";
                r.song.PictureBytes = pngBytes(Qt::blue);
                r.song.PageUrl = "http://www.kelvaro.test/s/other";
                r.song.WorkId = "1";
            };

        QVERIFY(r.startAndWait());
        if (retries == 0) {
            QCOMPARE(readFile(Cls_DownLoad::partPath(path)), m_tone.left(3000)); // kept for the next click
            QVERIFY(r.startAndWait());
        }

        QCOMPARE(m_breaksOnce->requests().mid(asked),
                 QList<QByteArray>({"Range=;If-Range=", "Range=bytes=3000-;If-Range=\"tone-1\""}));
        QStringList seen = r.statuses;
        seen.removeIf([&said](const QString &text) { return !said.contains(text); });
        QCOMPARE(seen, said);
        QCOMPARE(r.statuses.last(), downloadStatusText(HandlesClosed));
        const QByteArray saved = readFile(path);
        QCOMPARE(tags ? saved.right(m_tone.size()) : saved, m_tone); // the audio as served, whole
        const QMap<QString, QByteArray> expected{{"TIT2", "夜曲"},
                                                 {"TPE1", "小鹿"},
                                                 {"WOAS", "http://www.kelvaro.test/s/abc"},
                                                 {"TXXX:" + SongTags::WorkIdDescription, "98765"},
                                                 {"APIC", pngBytes(Qt::red)}};
        QCOMPARE(tagFrames(path), tags ? expected : decltype(expected)());
        QVERIFY(!QFileInfo::exists(Cls_DownLoad::partPath(path)));
        QCOMPARE(r.desktop.shownInFileManager, QStringList{path});
        QCOMPARE(r.song.WorkId == "1", retries > 0); // the other song was looked up meanwhile
    }

    // An attempt after a retry that starts over, where an earlier one had
    // continued a kept file, speaks with its own statuses again: answered
    // anew (3, 4), without connecting and opening (1, 2).
    void resumeAndRetryTexts()
    {
        Rig r(freshFolder());
        for (const int status : {1, 2, 3})
            r.panel.Cdf_entDLFileStatus(status);
        r.panel.Cdf_entDLFileResuming(3000, 8000);
        r.panel.Cdf_entDLFileStatus(4);
        r.panel.Cdf_entDLFileRetrying(2, 3, 1000, "connection reset");
        for (const int status : {3, 4, 9, 6})
            r.panel.Cdf_entDLFileStatus(status);
        QCOMPARE(r.statuses, (texts({Connecting, SessionOpen, Answered}) + QStringList{"正在继续下载..", "第 2 次重试.."} +
                              texts({Answered, Receiving, DataEnded, HandlesClosed})));
    }
};

KELVARO_TEST_MAIN(DownloadPanelTest)
#include "tst_download_panel.moc"
