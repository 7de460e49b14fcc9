// `kelvaro works` and `kelvaro get` against the local community: the listing
// is the table the window builds from the same page, and the saved files are
// the recordings the community serves, named as the download panel names them.
#include "Catalogue.h"
#include "DemoSite.h"
#include "demo-site/CatalogueText.h"
#include "common/WorksWindow.h"
#include "common/TestEnvironment.h"
#include "common/TestServer.h"
#include "common/Waiting.h"
#include "core/lookup/PageFetcher.h"
#include "core/lookup/SongExtraction.h"
#include "core/platform/Network.h"

#include <QNetworkProxy>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using namespace demo;

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

void startCli(QProcess &cli, int proxyPort, const QStringList &args)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("http_proxy"), QStringLiteral("http://127.0.0.1:%1").arg(proxyPort));
    environment.remove(QStringLiteral("no_proxy"));
    environment.remove(QStringLiteral("NO_PROXY"));
    cli.setProcessEnvironment(environment);
    cli.start(QStringLiteral(KELVARO_CLI_PATH), args);
}

Run runCli(int proxyPort, const QStringList &args)
{
    QProcess cli;
    startCli(cli, proxyPort, args);
    Run run;
    if (!cli.waitForFinished(60000) || cli.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = cli.exitCode();
    run.out = QString::fromUtf8(cli.readAllStandardOutput());
    run.err = QString::fromUtf8(cli.readAllStandardError());
    return run;
}

// The name the download panel gives a work of the catalogue.
QString fileNameOf(const Work &work)
{
    return q(work.title) + QStringLiteral(" - ") + q(singerOf(work).name) + QStringLiteral(".mp3");
}

QByteArray served(const Work &work)
{
    const std::optional<HttpAnswer> answer = answerOf(QNetworkRequest(QUrl(q(audioAddress(work)))));
    return answer ? answer->body : QByteArray();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The audio of a recording without the ID3v2 tag at its head: a saved song's
// tag is its own, the rest is the server's.
QByteArray audioOf(const QByteArray &file)
{
    if (!file.startsWith("ID3") || file.size() < 10)
        return file;
    const auto byte = [&file](int i) { return qint64(quint8(file.at(i))) & 0x7F; };
    const qint64 size = byte(6) << 21 | byte(7) << 14 | byte(8) << 7 | byte(9);
    const bool footer = quint8(file.at(5)) & 0x10;
    return file.mid(10 + size + (footer ? 10 : 0));
}

// The files under a final name: an unfinished transfer's ".part" file is not one.
QStringList filesIn(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    names.removeIf([](const QString &name) { return name.endsWith(QLatin1String(".part")); });
    return names;
}

// The catalogue's works of the many-works singer that the table lists: all
// but the last marker's.
std::vector<const Work *> listedWorks()
{
    std::vector<const Work *> works = worksOf(ManyWorksSinger);
    works.pop_back();
    return works;
}

} // namespace

class WorksDemoSiteTest : public QObject {
    Q_OBJECT

    DemoSite m_site;
    QTemporaryDir m_dir;

    QString singer(std::string_view uid) { return q(homeAddress(*findSinger(uid))); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(m_site.start(0));
        networkManager().setProxy(
            QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), quint16(m_site.port())));
    }
    void cleanupTestCase() { m_site.stop(); }

    void listingIsTheTable_data()
    {
        QTest::addColumn<QString>("uid");
        for (const std::string_view uid : {ManyWorksSinger, NoWorksSinger, OneWorkSinger})
            QTest::newRow(uid.data()) << q(uid);
    }

    // The window's crawl and the command's, on the same page: the same rows,
    // and the command says what the window's status line ends on.
    void listingIsTheTable()
    {
        QFETCH(QString, uid);
        const QString address = singer(uid.toStdString());
        WorksWindow window;
        window.form.Text2->setText(address);
        QTest::mouseClick(window.form.Command10, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(window.idle() && window.form.status() != WorksCrawlTexts::Fetching, 10000);
        QStringList table;
        for (int row = 0; row < window.rowCount(); ++row)
            table.append(window.rowTexts(row).join(QLatin1Char('\t')) + QLatin1Char('\n'));

        const Run run = runCli(m_site.port(), {QStringLiteral("works"), address});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, table.join(QString()));
        QCOMPARE(run.err.trimmed(), QStringLiteral("kelvaro: ") + window.form.status());
        if (uid == q(ManyWorksSinger))
            QCOMPARE(window.rowCount(), int(listedWorks().size()));
    }

    void listingRefusals_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("proxyPort"); // 0: the local community
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");

        QTest::newRow("empty address") << QStringList{"works", ""} << 0 << 2 << WorksCrawlTexts::EnterAddress;
        QTest::newRow("upper-case /U/") << QStringList{"works", "http://www.kelvaro.com/U/80231547"} << 0 << 2
                                        << StatusTexts::WrongAddress;
        QTest::newRow("fetch fails") << QStringList{"works", "http://www.kelvaro.com/u/80231547"}
                                     << TestServer::refusingPort() << 1 << WorksCrawlTexts::FetchFailed;
    }

    void listingRefusals()
    {
        QFETCH(QStringList, args);
        QFETCH(int, proxyPort);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const Run run = runCli(proxyPort ? proxyPort : m_site.port(), args);
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.out, QString());
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
    }

    // Every listed work with an audio address is saved with the served bytes;
    // the withdrawn one (its page names no audio) is reported, and no file is
    // made up for it. A second run finds every file complete.
    void getSavesTheSinger()
    {
        const QString folder = m_dir.filePath(QStringLiteral("whole"));
        const Run first = runCli(m_site.port(), {QStringLiteral("get"), singer(ManyWorksSinger), "-d", folder});
        QCOMPARE(first.exitCode, 1);
        QStringList expected;
        for (const Work *work : listedWorks()) {
            if (work->layout == PageLayout::Sparse) {
                QVERIFY2(first.out.contains(q(work->id) + QLatin1Char(' ') + q(work->title)
                                            + QStringLiteral(": the recording page names no audio file")),
                         qPrintable(first.out));
                continue;
            }
            expected.append(fileNameOf(*work));
            const QByteArray bytes = served(*work);
            QVERIFY(bytes.size() > 1000);
            QCOMPARE(audioOf(readFile(QDir(folder).filePath(fileNameOf(*work)))), audioOf(bytes));
        }
        expected.sort();
        QCOMPARE(filesIn(folder), expected);
        QVERIFY2(first.out.startsWith(QStringLiteral("Downloaded %1, skipped 0, failed 1\n").arg(expected.size())),
                 qPrintable(first.out));
        // stderr is no terminal here: a start line per transfer, no frames redrawn in place.
        QVERIFY2(!first.err.contains(QLatin1Char('\r')), qPrintable(first.err));
        QCOMPARE(first.err.count(QStringLiteral("] receiving (")), expected.size());

        const QFileInfo before(QDir(folder).filePath(expected.first()));
        const Run second = runCli(m_site.port(), {QStringLiteral("get"), singer(ManyWorksSinger), "-d", folder});
        QVERIFY2(second.out.startsWith(QStringLiteral("Downloaded 0, skipped %1, failed 1\n").arg(expected.size())),
                 qPrintable(second.out));
        QCOMPARE(QFileInfo(QDir(folder).filePath(expected.first())).lastModified(), before.lastModified());
        QCOMPARE(filesIn(folder), expected);

        // A recording page by itself, with another singer's name.
        const Work &other = *worksOf(OneWorkSinger).front();
        const Run page = runCli(m_site.port(), {QStringLiteral("get"), q(pageAddress(other)), "-d", folder});
        QCOMPARE(page.exitCode, 0);
        QCOMPARE(audioOf(readFile(QDir(folder).filePath(fileNameOf(other)))), audioOf(served(other)));

        // A recording page the community does not have: its 404 page is not read for an audio address.
        const QString missing = recordingPagePrefix() + QStringLiteral("noSuchWork");
        const Run gone = runCli(m_site.port(), {QStringLiteral("get"), missing, "-d", folder});
        QCOMPARE(gone.exitCode, 1);
        QVERIFY2(gone.out.contains(QStringLiteral("the recording page was not found (HTTP 404: %1)").arg(missing)),
                 qPrintable(gone.out));
        QStringList kept = expected + QStringList{fileNameOf(other)};
        kept.sort();
        QCOMPARE(filesIn(folder), kept);
    }

    // A recording that breaks off is reported; the others are saved, and the
    // broken one leaves no file under its name. (Relies on the engine keeping
    // an unfinished transfer out of the final name.)
    void getReportsABrokenRecording()
    {
        const Work &broken = *listedWorks().at(1);
        DemoSiteOptions options;
        options.brokenAudio.insert(std::string(broken.id));
        DemoSite site(options);
        QVERIFY(site.start(0));
        const QString folder = m_dir.filePath(QStringLiteral("broken"));
        const Run run = runCli(site.port(), {QStringLiteral("get"), singer(ManyWorksSinger), "-d", folder});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.out.contains(QStringLiteral("failed 2\n")), qPrintable(run.out));
        QVERIFY2(run.out.contains(q(broken.id) + QLatin1Char(' ') + q(broken.title)
                                  + QStringLiteral(": the audio could not be downloaded")),
                 qPrintable(run.out));
        QVERIFY(QFileInfo::exists(QDir(folder).filePath(fileNameOf(*listedWorks().at(2)))));
        QVERIFY2(!filesIn(folder).contains(fileNameOf(broken)), qPrintable(filesIn(folder).join(", ")));
    }

    // Ctrl-C during the second work: the first file stays complete, nothing
    // else is left under a final name, the summary says it was stopped.
    void getStopsOnInterrupt()
    {
        DemoSiteOptions options;
        options.audioPauseMs = 40;
        DemoSite site(options);
        QVERIFY(site.start(0));
        const QString folder = m_dir.filePath(QStringLiteral("interrupted"));
        QProcess cli;
        startCli(cli, site.port(), {QStringLiteral("get"), singer(ManyWorksSinger), "-d", folder, "--jobs", "1"});
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT((err += cli.readAllStandardError()).contains("[2/9] receiving ("), 30000);
        QCOMPARE(::kill(pid_t(cli.processId()), SIGINT), 0);
        QVERIFY(cli.waitForFinished(30000));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), 130);
        const QString out = QString::fromUtf8(cli.readAllStandardOutput());
        QVERIFY2(out.startsWith(QStringLiteral("Downloaded 1, skipped 0, failed 0 (stopped by Ctrl-C)")),
                 qPrintable(out));
        const Work &done = *listedWorks().front();
        QCOMPARE(filesIn(folder), QStringList{fileNameOf(done)});
        QCOMPARE(audioOf(readFile(QDir(folder).filePath(fileNameOf(done)))), audioOf(served(done)));
    }

    // SIGTERM while the singer page is being waited for (the server says
    // nothing): the fetch is given up at once and get exits with 143.
    void getStopsWhilePageWaits()
    {
        TestServer silent;
        silent.serveSilence(QStringLiteral(".*"));
        silent.start();
        QProcess cli;
        startCli(cli, silent.port(), {QStringLiteral("get"), singer(ManyWorksSinger), "-d",
                                      m_dir.filePath(QStringLiteral("silent"))});
        QVERIFY(cli.waitForStarted());
        const QString page = singer(ManyWorksSinger);
        QTRY_VERIFY_WITH_TIMEOUT(silent.requestCount(page) + silent.requestCount(QUrl(page).path()) > 0, 30000);
        QElapsedTimer stopping;
        stopping.start();
        QCOMPARE(::kill(pid_t(cli.processId()), SIGTERM), 0);
        QVERIFY(cli.waitForFinished(30000));
        const qint64 stopMs = stopping.elapsed();
        QVERIFY2(stopMs < 2000, qPrintable(QStringLiteral("took %1 ms to stop").arg(stopMs)));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), 128 + SIGTERM);
        silent.stop();
    }

    void getUsage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("neither page") << QStringList{"get", "http://www.kelvaro.com/x/1"} << "is neither";
        QTest::newRow("too many at once") << QStringList{"get", "http://www.kelvaro.com/u/1", "--jobs", "9"}
                                          << "from 1 to 8";
    }

    void getUsage()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const Run run = runCli(m_site.port(), args);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
    }
};

KELVARO_TEST_MAIN(WorksDemoSiteTest)
#include "tst_works_demosite.moc"
