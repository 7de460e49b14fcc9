// Saving works one after another: first the sequence on its own, with pages
// from a table and audio from the local test server; then the works table's
// menu in the window, through the download panel, against the local community.
#include "Catalogue.h"
#include "DemoSite.h"
#include "common/WorksWindow.h"
#include "common/TestEnvironment.h"
#include "common/TestServer.h"
#include "common/Waiting.h"
#include "core/download/Cls_DownLoad.h"
#include "gui/download/DownloadPanel.h"
#include "common/TransferBytes.h"
#include "common/SongPages.h"
#include "core/platform/Network.h"
#include "core/works/WorkBatch.h"

#include <QMenu>
#include <QNetworkProxy>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

using namespace demo;

namespace {

QString q(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QString outcomeText(const BatchOutcome &outcome)
{
    static const char *const kinds[] = {"downloaded", "skipped", "failed", "stopped"};
    static const char *const failures[] = {"",         "no service answer", "not a recording page", "no page",
                                           "no audio", "transfer",          "file",              "page error"};
    QString text = QLatin1String(kinds[int(outcome.kind)]);
    if (outcome.kind == BatchOutcome::Kind::Failed)
        text += QStringLiteral(" (%1: %2)").arg(QLatin1String(failures[int(outcome.failure)]), outcome.detail);
    if (outcome.httpStatus != 0)
        text += QStringLiteral(" HTTP %1").arg(outcome.httpStatus);
    if (!outcome.file.isEmpty())
        text += QLatin1Char(' ') + QFileInfo(outcome.file).fileName();
    return text;
}

} // namespace

class WorkBatchTest : public QObject {
    Q_OBJECT

    TestServer m_server;
    QTemporaryDir m_dir;
    QHash<QString, QString> m_pages; // address -> page; absent: the fetch fails
    QSet<QString> m_missing;         // recording pages answered with 404 and an error page
    const QByteArray m_one = patterned(3000, 1);
    const QByteArray m_two = patterned(5000, 2);

    QString audio(const QString &name) { return m_server.url(QStringLiteral("/a/b/c/") + name); }
    QString service(const QString &id) { return playServiceAddress(id); }

    static constexpr int ParallelWorks = 6;
    // The parallel works' recordings: the first the longest, so that later
    // works end first.
    QByteArray parallelBody(int i) const { return patterned((ParallelWorks - i) * 6 * 1024, 10 + i); }
    const QByteArray m_picture = QByteArray("\xFF\xD8\xFF\xE0", 4) + patterned(900, 7);

    // A batch over the table of pages (pictures answered from the test
    // server's paths, an unknown one with 404) with the works `ids` queued;
    // `ended` holds the outcomes' texts once it has finished.
    struct TableRun {
        Cls_DownLoad engine;
        std::unique_ptr<WorkBatch> batch;
        std::optional<QList<BatchOutcome>> ended;
        QStringList endedTexts() const
        {
            QStringList got;
            for (const BatchOutcome &outcome : ended.value_or(QList<BatchOutcome>()))
                got.append(outcomeText(outcome));
            return got;
        }
    };
    std::unique_ptr<TableRun> tableRun(const QStringList &ids)
    {
        auto run = std::make_unique<TableRun>();
        run->batch = std::make_unique<WorkBatch>(run->engine, laterPages([this](const QString &url) -> std::optional<QString> {
            if (!m_pages.contains(url))
                return std::nullopt;
            return m_pages.value(url);
        }));
        run->batch->setPageFetch([this](const QString &url, AnswerDone done) {
            std::optional<HttpAnswer> answer;
            if (url == m_server.url(QStringLiteral("/pic/photo.jpg")))
                answer = HttpAnswer{200, "image/jpeg", m_picture};
            else if (url.contains(QStringLiteral("/pic/")))
                answer = HttpAnswer{404, "text/html", "<html>no picture</html>"};
            else if (m_pages.contains(url))
                answer = HttpAnswer{200, "text/html; charset=utf-8", m_pages.value(url).toUtf8()};
            return answerLater([done = std::move(done), answer] { done(answer); });
        });
        QList<BatchWork> queued;
        for (const QString &id : ids)
            queued.append(BatchWork::fromRow({int(queued.size()) + 1, id, id, service(id)}));
        run->batch->enqueue(queued);
        connect(run->batch.get(), &WorkBatch::finished, this,
                [r = run.get()](const QList<BatchOutcome> &outcomes) { r->ended = outcomes; });
        return run;
    }
    static QStringList parallelIds(int works) { return QStringList{"p0", "p1", "p2", "p3", "p4", "p5"}.mid(0, works); }

    void page(const QString &id, const QString &song, const QString &audioAddress, const QString &photo = {})
    {
        SongPageFields fields;
        fields.title = song + QStringLiteral(" - Alice Kelvaro - x");
        fields.audio = audioAddress;
        if (!photo.isEmpty())
            fields.photoElement = photoElement(photo);
        m_pages[service(id)] = recordingPagePrefix() + id;
        m_pages[recordingPagePrefix() + id] = songPage(fields);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_server.serve(QStringLiteral("/a/b/c/1.mp3"), m_one, "audio/mpeg");
        m_server.serve(QStringLiteral("/a/b/c/2.mp3"), m_two, "audio/mpeg");
        m_server.serve(QStringLiteral("/a/b/c/gone.mp3"), "<html>gone</html>", "text/html", 404);
        m_server.serveSlowly(QStringLiteral("/a/b/c/slow.mp3"), patterned(100 * 1024, 3), 2048, 20);
        for (int i = 0; i < ParallelWorks; ++i)
            m_server.serveSlowly(QStringLiteral("/p/%1.mp3").arg(i), parallelBody(i), 2048, 25);
        m_server.start();
        for (int i = 0; i < ParallelWorks; ++i)
            page(QStringLiteral("p%1").arg(i), QStringLiteral("Par %1").arg(i), m_server.url(QStringLiteral("/p/%1.mp3").arg(i)));
        page(QStringLiteral("t1"), QStringLiteral("Tagged"), audio(QStringLiteral("1.mp3")),
             m_server.url(QStringLiteral("/pic/photo.jpg")));
        page(QStringLiteral("t2"), QStringLiteral("Bare"), audio(QStringLiteral("1.mp3")),
             m_server.url(QStringLiteral("/pic/missing.jpg")));
        page(QStringLiteral("1"), QStringLiteral("Same"), audio(QStringLiteral("1.mp3")));
        page(QStringLiteral("2"), QStringLiteral("Same"), audio(QStringLiteral("2.mp3")));
        m_pages[service(QStringLiteral("3"))] = QStringLiteral("http://www.kelvaro.com/u/1");
        page(QStringLiteral("5"), QStringLiteral("Gone"), audio(QStringLiteral("gone.mp3")));
        page(QStringLiteral("6"), QStringLiteral("Withdrawn"), QString());
        m_pages[service(QStringLiteral("7"))] = recordingPagePrefix() + QStringLiteral("7");
        m_missing.insert(recordingPagePrefix() + QStringLiteral("7"));
    }

    void sequence_data()
    {
        QTest::addColumn<QStringList>("ids");
        QTest::addColumn<QStringList>("outcomes");
        QTest::addColumn<QStringList>("files"); // what the folder holds afterwards

        QTest::newRow("two recordings of one song keep apart")
            << QStringList{"1", "2"} << QStringList{"downloaded Same - Alice.mp3", "downloaded Same - Alice (2).mp3"}
            << QStringList{"Same - Alice (2).mp3", "Same - Alice.mp3"};
        QTest::newRow("a repeated row finds its file complete")
            << QStringList{"1", "1"} << QStringList{"downloaded Same - Alice.mp3", "skipped Same - Alice.mp3"}
            << QStringList{"Same - Alice.mp3"};
        QTest::newRow("failures name their step and go on")
            << QStringList{"3", "4", "5", "6", "7", "1"}
            << QStringList{"failed (not a recording page: 地址错误,请您检查 ..)",
                           "failed (no service answer: " + service("4") + ")",
                           "failed (transfer: HTTP 404) Gone - Alice.mp3",
                           "failed (no audio: " + recordingPagePrefix() + "6)",
                           "failed (page error: " + recordingPagePrefix() + "7) HTTP 404",
                           "downloaded Same - Alice.mp3"}
            << QStringList{"Same - Alice.mp3"}; // an error page is not kept as the song
    }

    void sequence()
    {
        QFETCH(QStringList, ids);
        QFETCH(QStringList, outcomes);
        QFETCH(QStringList, files);

        const QString folder = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        Cls_DownLoad engine;
        WorkBatch batch(engine, laterPages([this](const QString &url) -> std::optional<QString> {
            if (!m_pages.contains(url))
                return std::nullopt;
            return m_pages.value(url);
        }));
        batch.setPageFetch([this](const QString &url, AnswerDone done) {
            std::optional<HttpAnswer> answer;
            if (m_missing.contains(url))
                answer = HttpAnswer{404, "text/html", "<html><body>404 not found</body></html>"};
            else if (m_pages.contains(url))
                answer = HttpAnswer{200, "text/html; charset=utf-8", m_pages.value(url).toUtf8()};
            return answerLater([done = std::move(done), answer] { done(answer); });
        });
        QList<BatchWork> works;
        for (const QString &id : ids)
            works.append(BatchWork::fromRow({int(works.size()) + 1, id, QStringLiteral("t") + id, service(id)}));
        batch.enqueue(works);
        std::optional<QList<BatchOutcome>> ended;
        connect(&batch, &WorkBatch::finished, this, [&ended](const QList<BatchOutcome> &outcomes) { ended = outcomes; });
        QVERIFY(batch.run(folder));
        QVERIFY(batch.isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(ended.has_value(), 30000);
        QVERIFY(!batch.isRunning());
        QStringList got;
        for (const BatchOutcome &outcome : *ended)
            got.append(outcomeText(outcome));
        QCOMPARE(got, outcomes);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name), files);
        // Every saved file holds its own recording.
        const auto holds = [&folder](const QString &name) { return readFile(QDir(folder).filePath(name)); };
        QCOMPARE(holds(QStringLiteral("Same - Alice.mp3")), m_one);
        if (files.contains(QStringLiteral("Same - Alice (2).mp3")))
            QCOMPARE(holds(QStringLiteral("Same - Alice (2).mp3")), m_two);
    }

    // run() only starts; a stop ends the step under way as soon as it can:
    // a page fetch or a size probe at once, a transfer after its next chunk. The rest of the
    // queue is dropped and an earlier file stays as it was.
    void stopEndsTheStepUnderWay_data()
    {
        QTest::addColumn<bool>("probing"); // an earlier file is there, so its size is asked first
        QTest::addColumn<bool>("asking");  // the play-address service keeps its answer
        QTest::newRow("during the size probe") << true << false;
        QTest::newRow("during the transfer") << false << false;
        QTest::newRow("while the service is asked") << true << true;
    }
    void stopEndsTheStepUnderWay()
    {
        QFETCH(bool, probing);
        QFETCH(bool, asking);
        const QString folder = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(folder));
        const QByteArray earlier = patterned(700, 9);
        const QString file = QDir(folder).filePath(QStringLiteral("Slow - Alice.mp3"));
        if (probing) {
            QFile old(file);
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write(earlier) == earlier.size());
        }
        QHash<QString, QString> pages = m_pages;
        SongPageFields fields;
        fields.title = QStringLiteral("Slow - Alice Kelvaro - x");
        fields.audio = audio(QStringLiteral("slow.mp3"));
        pages[service(QStringLiteral("8"))] = recordingPagePrefix() + QStringLiteral("8");
        pages[recordingPagePrefix() + QStringLiteral("8")] = songPage(fields);

        Cls_DownLoad engine;
        const PageFetch served = laterPages([&pages](const QString &url) -> std::optional<QString> {
            if (!pages.contains(url))
                return std::nullopt;
            return pages.value(url);
        });
        QPointer<HeldDelivery> held;
        WorkBatch batch(engine, [&](const QString &url, PageDone done) {
            if (!asking || url != service(QStringLiteral("8")))
                return served(url, std::move(done));
            held = new HeldDelivery([done = std::move(done)] { done(std::nullopt); });
            return FetchHandle(held.data());
        });
        int asked = 0;
        int ended = 0;
        WorkBatch::SizeAnswer pending;
        batch.setSizeProbe([&](const QString &, WorkBatch::SizeAnswer done) {
            ++asked;
            pending = std::move(done);
            return std::function<void()>([&] {
                ++ended;
                std::exchange(pending, nullptr)(std::nullopt);
            });
        });
        std::optional<QList<BatchOutcome>> outcomes;
        connect(&batch, &WorkBatch::finished, this, [&](const QList<BatchOutcome> &all) { outcomes = all; });
        int chunks = 0;
        connect(&engine, &Cls_DownLoad::DLFileDowning, this, [&] { ++chunks; });
        for (const QString id : {"8", "1"})
            batch.enqueue({BatchWork::fromRow({1, id, QStringLiteral("t"), service(id)})});

        const int requests = m_server.requestCount(QStringLiteral("/a/b/c/slow.mp3"));
        QVERIFY(batch.run(folder));
        QCOMPARE(batch.position(), 0); // nothing done inside run()
        if (asking)
            QTRY_VERIFY_WITH_TIMEOUT(held, 10000);
        else if (probing)
            QTRY_COMPARE_WITH_TIMEOUT(asked, 1, 10000);
        else
            QTRY_VERIFY_WITH_TIMEOUT(chunks > 0, 10000);
        batch.stop();
        if (asking) // the fetch has ended at once: its answer is dropped
            QVERIFY(!HeldDelivery::deliver(held));
        else if (probing) { // the probe has ended at once, and the work with it
            QCOMPARE(ended, 1);
            QVERIFY(!pending);
        }
        QTRY_VERIFY_WITH_TIMEOUT(outcomes.has_value(), 10000);
        QStringList got;
        for (const BatchOutcome &outcome : *outcomes)
            got.append(outcomeText(outcome));
        QCOMPARE(got, QStringList{asking ? "stopped" : "stopped Slow - Alice.mp3"});
        QCOMPARE(asked, probing && !asking ? 1 : 0);
        QVERIFY(!engine.isRunning() && !engine.stopPending());
        QCOMPARE(m_server.requestCount(QStringLiteral("/a/b/c/slow.mp3")), requests + (probing ? 0 : 1));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), probing ? QStringList{"Slow - Alice.mp3"} : QStringList());
        if (probing)
            QCOMPARE(readFile(file), earlier);
    }

    // Several works at once: never more transfers at a time than asked for,
    // every place used, and the outcomes in the order the works were queued,
    // though later (shorter) ones end first.
    void parallel_data()
    {
        QTest::addColumn<int>("jobs");
        QTest::addColumn<int>("works");
        QTest::newRow("three of six") << 3 << 6;
        QTest::newRow("beyond the limit takes the limit") << 20 << 6;
    }
    void parallel()
    {
        QFETCH(int, jobs);
        QFETCH(int, works);
        const QString folder = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        const auto run = tableRun(parallelIds(works));
        WorkBatch &batch = *run->batch;
        batch.setJobs(jobs);
        QList<int> endOrder;
        int mostRunning = 0;
        connect(&batch, &WorkBatch::workEnded, this, [&](int position) { endOrder.append(position); });
        connect(&batch, &WorkBatch::workStarted, this,
                [&] { mostRunning = std::max(mostRunning, int(batch.runningPositions().size())); });
        QTRY_COMPARE_WITH_TIMEOUT(m_server.slowAtOnce(), 0, 10000);
        m_server.resetMostSlowAtOnce();
        QVERIFY(batch.run(folder));
        QTRY_VERIFY_WITH_TIMEOUT(run->ended.has_value(), 60000);
        QStringList expected;
        for (int i = 0; i < works; ++i) {
            expected.append(QStringLiteral("downloaded Par %1 - Alice.mp3").arg(i));
            QCOMPARE(readFile(QDir(folder).filePath(QStringLiteral("Par %1 - Alice.mp3").arg(i))), parallelBody(i));
        }
        QCOMPARE(run->endedTexts(), expected);
        const int places = std::min({jobs, works, int(WorkBatch::MaxJobs)});
        QCOMPARE(m_server.mostSlowAtOnce(), places);
        QCOMPARE(mostRunning, places);
        QCOMPARE(batch.endedCount(), works);
        if (places > 1)
            QVERIFY2(endOrder.first() != 1, "the longest work ended first: they did not run at once");
    }

    // A stop ends every running work, not only one; nothing more starts.
    void stopEndsEveryRunningWork()
    {
        const QString folder = m_dir.filePath(QStringLiteral("stop-all"));
        const auto run = tableRun(parallelIds(ParallelWorks));
        run->batch->setJobs(3);
        QSet<int> receiving;
        connect(run->batch.get(), &WorkBatch::workProgress, this, [&](int position) { receiving.insert(position); });
        QVERIFY(run->batch->run(folder));
        QTRY_COMPARE_WITH_TIMEOUT(receiving.size(), 3, 20000);
        run->batch->stop();
        QTRY_VERIFY_WITH_TIMEOUT(run->ended.has_value(), 20000);
        QCOMPARE(run->endedTexts(), QStringList({"stopped Par 0 - Alice.mp3", "stopped Par 1 - Alice.mp3",
                                                 "stopped Par 2 - Alice.mp3"}));
        QCOMPARE(receiving, QSet<int>({1, 2, 3}));
        QStringList left = QDir(folder).entryList(QDir::Files);
        left.removeIf([](const QString &name) { return name.endsWith(QLatin1String(".part")); });
        QCOMPARE(left, QStringList());
    }

    // What the tags say: the song, the singer, the picture the song panel
    // shows (none when it cannot be fetched), the page and the work id; no
    // tags when they are off; a failed tag writer keeps the file out.
    void tags_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("tagsOn");
        QTest::addColumn<QString>("writerFails");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("written"); // title|artist|cover size|page|work id, or empty: never written
        QTest::newRow("with its cover") << "t1" << true << "" << "downloaded Tagged - Alice.mp3"
                                        << "Tagged|Alice|904|" + recordingPagePrefix() + "t1|t1";
        QTest::newRow("cover not found") << "t2" << true << "" << "downloaded Bare - Alice.mp3"
                                         << "Bare|Alice|0|" + recordingPagePrefix() + "t2|t2";
        QTest::newRow("tags off") << "t1" << false << "" << "downloaded Tagged - Alice.mp3" << "";
        QTest::newRow("writer fails") << "t1" << true << "no room for the tag"
                                      << "failed (file: no room for the tag) Tagged - Alice.mp3"
                                      << "Tagged|Alice|904|" + recordingPagePrefix() + "t1|t1";
    }
    void tags()
    {
        QFETCH(QString, id);
        QFETCH(bool, tagsOn);
        QFETCH(QString, writerFails);
        QFETCH(QString, outcome);
        QFETCH(QString, written);
        const QString folder = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        const auto run = tableRun({id});
        run->batch->setTags(tagsOn);
        QStringList writes;
        run->batch->setTagWriter([&](const QString &path, const SongTags &tags) {
            // The temporary file, complete, before it has the final name.
            const QString final = QDir(folder).filePath(tags.title + QStringLiteral(" - Alice.mp3"));
            if (path == final || QFileInfo::exists(final) || readFile(path) != m_one)
                return QStringLiteral("not the complete temporary file");
            if (!tags.cover.isEmpty() && tags.cover != m_picture)
                return QStringLiteral("not the page's picture");
            writes.append(QStringList{tags.title, tags.artist, QString::number(tags.cover.size()), tags.sourcePage,
                                      tags.workId}
                              .join(QLatin1Char('|')));
            return writerFails;
        });
        QVERIFY(run->batch->run(folder));
        QTRY_VERIFY_WITH_TIMEOUT(run->ended.has_value(), 20000);
        QCOMPARE(run->endedTexts(), QStringList{outcome});
        QCOMPARE(writes, written.isEmpty() ? QStringList() : QStringList{written});
        QCOMPARE(QFileInfo::exists(run->ended->first().file), writerFails.isEmpty());
    }

    // The table's menu in the window: one work, every work with a stop from
    // the panel's button, then every work again with one more queued meanwhile.
    void tableMenu()
    {
        DemoSiteOptions options;
        options.audioPauseMs = 30;
        DemoSite site(options);
        QVERIFY(site.start(0));
        // Pages come through the network manager, recordings through the
        // download engine, which takes the proxy from the environment as the
        // program does.
        networkManager().setProxy(
            QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), quint16(site.port())));
        qputenv("http_proxy", QByteArrayLiteral("http://127.0.0.1:") + QByteArray::number(site.port()));
        qunsetenv("no_proxy");
        const auto noProxy = qScopeGuard([] { qunsetenv("http_proxy"); });
        const QString musicFolder = m_dir.filePath(QStringLiteral("program/Music"));
        const QString music = musicFolder + QLatin1Char('/');

        WorksWindow window;
        Form1 &form = window.form;
        Cls_DownLoad engine;
        RecordingDesktop desktop;
        DownloadPanel panel(controlsOf(form).downloadPanel, window.song, engine, window.dialogs, desktop,
                            musicFolder);
        panel.setBatchJobs(1); // one work after another: the steps below follow the second work
        window.works.setDownloadWorks([&panel](const QList<WorkRow> &rows) { panel.downloadWorks(rows); });
        // The batch runs inside the queued menu call, so the user's clicks
        // during it come from the engine's progress events, as they would
        // from the events delivered between chunks.
        QStringList statuses;
        int bestProgress = 0;
        // What the user does next, each at the first chunk whose status line holds its text.
        QList<QPair<QString, std::function<void()>>> steps;
        connect(&engine, &Cls_DownLoad::DLFileStatus, this, [&] { statuses.append(form.status()); });
        connect(&engine, &Cls_DownLoad::DLFileDowning, this, [&] {
            bestProgress = std::max(bestProgress, form.ProgressBar1->value());
            if (!steps.isEmpty() && form.status().contains(steps.first().first))
                steps.takeFirst().second();
        });

        form.Text2->setText(q(homeAddress(*findSinger(ManyWorksSinger))));
        QTest::mouseClick(form.Command10, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(window.rowCount(), 9, 10000);
        const std::vector<const Work *> works = worksOf(ManyWorksSinger);
        const auto fileOf = [&](int row) { return music + q(works[size_t(row)]->title) + QStringLiteral(" - 林晓雨.mp3"); };

        // A right-click below the rows: only "all" makes sense there.
        QWidget *viewport = form.ListView1->viewport();
        const auto rightClick = [&](QPoint at) {
            QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
            QApplication::sendEvent(viewport, &event);
        };
        rightClick({5, viewport->height() - 3});
        QMenu *menu = window.works.contextMenu();
        QTRY_VERIFY(menu->isVisible());
        QCOMPARE(menu->actions().size(), 6); // two to save, the tags choice, a separator, two to play
        QCOMPARE(window.works.downloadThisAction()->text(), QStringLiteral("下载此作品"));
        QCOMPARE(window.works.downloadAllAction()->text(), QStringLiteral("下载全部作品"));
        QVERIFY(menu->actions().indexOf(window.works.songTagsAction()) == 2);
        QVERIFY(!window.works.downloadThisAction()->isEnabled());
        QVERIFY(window.works.downloadAllAction()->isEnabled());
        if (const QByteArray shots = qgetenv("KELVARO_SCREENSHOT_DIR"); !shots.isEmpty())
            menu->grab().save(QString::fromLocal8Bit(shots) + QStringLiteral("/works-menu.png"));
        menu->hide();

        // One work: the third row.
        rightClick(form.ListView1->visualItemRect(form.ListView1->topLevelItem(2)).center());
        window.works.downloadThisAction()->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(form.status(), QStringLiteral("批量下载结束：下载 1 首,跳过 0 首,失败 0 首"), 20000);
        QVERIFY(statuses.contains(QStringLiteral("第 1/1 首：正在下载音乐数据...")));
        QCOMPARE(bestProgress, 100);
        QCOMPARE(QFileInfo(fileOf(2)).size(), qint64(readFile(fileOf(2)).size()));
        QVERIFY(readFile(fileOf(2)).startsWith("ID3"));
        QVERIFY(form.Picture3->isVisible());
        QCOMPARE(form.Label16->text(), QStringLiteral("音乐名称：") + q(works[2]->title));

        // Every work, stopped from the panel's button during the second.
        bool sawStopCaption = false;
        steps.append({QStringLiteral("第 2/9 首：正在下载音乐数据"), [&] {
            sawStopCaption = form.Command6->text() == QStringLiteral("停止下载") && !form.Command2->isEnabled();
            QTest::mouseClick(form.Command6, Qt::LeftButton);
        }});
        window.works.downloadAllAction()->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(form.status(), QStringLiteral("批量下载已停止：下载 1 首,跳过 0 首,失败 0 首"), 20000);
        QVERIFY(sawStopCaption);
        QCOMPARE(window.dialogs.shown.last().text, QStringLiteral("当前正在下载中..停止将损坏下载文件!"));
        QCOMPARE(form.Command6->text(), QStringLiteral("开始下载"));
        QVERIFY(form.Command2->isEnabled());
        QVERIFY(!panel.workBatch().isRunning());
        QVERIFY(!engine.stopPending());
        // The stopped work leaves no file under its name (the engine keeps an
        // unfinished transfer out of it).
        QStringList left = QDir(music).entryList(QDir::Files | QDir::Hidden, QDir::Name);
        left.removeIf([](const QString &name) { return name.endsWith(QLatin1String(".part")); });
        QCOMPARE(left, QStringList({QFileInfo(fileOf(0)).fileName(), QFileInfo(fileOf(2)).fileName()}));

        // Every work again; the first row queued once more meanwhile.
        steps.append({QStringLiteral("第 2/9 首：正在下载音乐数据"), [&] {
            rightClick(form.ListView1->visualItemRect(form.ListView1->topLevelItem(0)).center());
            window.works.downloadThisAction()->trigger();
        }});
        steps.append({QStringLiteral("/10 首：正在下载音乐数据"), [&] {
            if (const QByteArray shots = qgetenv("KELVARO_SCREENSHOT_DIR"); !shots.isEmpty())
                form.grab().save(QString::fromLocal8Bit(shots) + QStringLiteral("/works-batch.png"));
        }});
        window.works.downloadAllAction()->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(form.status(), QStringLiteral("批量下载结束：下载 6 首,跳过 3 首,失败 1 首"), 60000);
        QVERIFY(steps.isEmpty());
        // The queued row came last and found its file complete: no transfer.
        QVERIFY(statuses.contains(QStringLiteral("第 9/10 首：音乐下载完成")));
        QVERIFY(!statuses.contains(QStringLiteral("第 10/10 首：音乐下载完成")));
        for (int row = 0; row < 9; ++row) {
            if (works[size_t(row)]->layout != PageLayout::Sparse)
                QVERIFY2(readFile(fileOf(row)).startsWith("ID3"), qPrintable(fileOf(row)));
        }
    }
};

KELVARO_TEST_MAIN(WorkBatchTest)
#include "tst_workbatch.moc"
