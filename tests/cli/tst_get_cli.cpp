// `kelvaro get` as a user runs it, against a local community of many works:
// its options, how many transfers it runs at once (counted at the server),
// the order of its summary and the failures it lists.
#include "common/BatchCommunity.h"
#include "common/TagFrames.h"
#include "common/TestEnvironment.h"
#include "core/download/SongTags.h"
#include "ToneMp3.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run runGet(const BatchCommunity &community, const QStringList &args)
{
    QProcess cli;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("http_proxy"), community.proxy());
    environment.remove(QStringLiteral("no_proxy"));
    environment.remove(QStringLiteral("NO_PROXY"));
    cli.setProcessEnvironment(environment);
    cli.start(QStringLiteral(KELVARO_CLI), QStringList{QStringLiteral("get"), BatchCommunity::singerAddress()} + args);
    Run run;
    if (!cli.waitForFinished(120000) || cli.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = cli.exitCode();
    run.out = QString::fromUtf8(cli.readAllStandardOutput());
    run.err = QString::fromUtf8(cli.readAllStandardError());
    return run;
}

} // namespace

class GetCommandTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString rowFile(int work) const
    {
        return m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + QLatin1Char('/') + BatchCommunity::fileName(work));
    }
    QStringList toRowFolder() const { return {"-d", m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()))}; }

private slots:
    void options_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message"); // on stderr; for a run, the summary on stdout
        QTest::newRow("too many jobs") << QStringList{"--jobs", "9"} << 2 << "from 1 to 8, not '9'";
        QTest::newRow("jobs without a value") << QStringList{"--jobs"} << 2 << "--jobs needs a value";
        QTest::newRow("too many retries") << QStringList{"--retries", "11"} << 2 << "from 0 to 10, not '11'";
        QTest::newRow("unknown option") << QStringList{"--no-tag"} << 2 << "unknown option '--no-tag'";
        QTest::newRow("every option") << QStringList{"--jobs", "8", "--retries", "0", "--no-continue", "--no-tags"}
                                      << 0 << "Downloaded 6, skipped 0, failed 0";
    }
    void options()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        BatchCommunity::Options options;
        options.works = 6;
        options.audioBytes = 20000;
        BatchCommunity community(options);
        const Run run = runGet(community, toRowFolder() + args);
        QCOMPARE(run.exitCode, exitCode);
        if (exitCode == 2) {
            QVERIFY2(run.err.contains(message) && run.err.contains(QStringLiteral("Usage: kelvaro get")), qPrintable(run.err));
            QCOMPARE(community.requests(), 0);
            return;
        }
        QVERIFY2(run.out.startsWith(message), qPrintable(run.out + run.err));
        for (int work = 1; work <= options.works; ++work)
            QCOMPARE(readFile(rowFile(work)), community.audio(work));
    }

    // Never more transfers, nor answers of any kind, at one time than --jobs
    // (counted at the server), every place used; the works are reported in
    // the order they were listed, the failed ones with their reason.
    void jobs_data()
    {
        QTest::addColumn<QStringList>("jobs"); // the option, or nothing for the default
        QTest::addColumn<int>("most");
        QTest::newRow("one") << QStringList{"--jobs", "1"} << 1;
        QTest::newRow("default") << QStringList{} << 3;
        QTest::newRow("four") << QStringList{"--jobs", "4"} << 4;
    }
    void jobs()
    {
        QFETCH(QStringList, jobs);
        QFETCH(int, most);
        BatchCommunity::Options options;
        options.works = 10;
        options.audioBytes = 48 * 1024;
        options.pieceBytes = 4096;
        options.pauseMs = 15;
        options.missingAudio = {2, 7};
        BatchCommunity community(options);
        const Run run = runGet(community, jobs + toRowFolder());
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(community.mostAudioAtOnce(), most);
        QVERIFY2(community.mostAtOnce() <= most, qPrintable(QString::number(community.mostAtOnce())));
        QCOMPARE(run.out.split(QLatin1Char('\n')).mid(0, 3),
                 QStringList({"Downloaded 8, skipped 0, failed 2",
                              "  failed: 5000002 Work 2: the audio could not be downloaded (HTTP 404)",
                              "  failed: 5000007 Work 7: the audio could not be downloaded (HTTP 404)"}));
        // Not a terminal: plain lines, each naming its work, none redrawn.
        QVERIFY2(!run.err.contains(QLatin1Char('\r')) && !run.err.contains(QLatin1Char('\x1b')), qPrintable(run.err));
        for (int work = 1; work <= options.works; ++work) {
            const QString tag = QStringLiteral("[%1/10] ").arg(work);
            QVERIFY2(run.err.contains(tag + QStringLiteral("5000%1 Work %2\n").arg(work, 3, 10, QLatin1Char('0')).arg(work)),
                     qPrintable(run.err));
            const bool missing = options.missingAudio.count(work) > 0;
            QCOMPARE(run.err.contains(tag + QStringLiteral("receiving (")), !missing);
            QCOMPARE(run.err.contains(tag + QStringLiteral("failed: ")), missing);
            if (!missing)
                QCOMPARE(readFile(rowFile(work)), community.audio(work));
        }
    }

    // Saved files carry their song's tags, the singer's photo as the cover
    // (fetched once for the whole batch); --no-tags saves the bare audio.
    // A recording that breaks off is tried again after 1 s and continued
    // where it stopped, byte for byte; with --retries 0 the work fails and
    // the others are saved all the same.
    void tagsRetriesAndResume_data()
    {
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<bool>("tagged");
        QTest::addColumn<bool>("retried");
        QTest::newRow("tagged, retried") << QStringList{} << true << true;
        QTest::newRow("bare, no retries") << QStringList{"--no-tags", "--retries", "0"} << false << false;
    }
    void tagsRetriesAndResume()
    {
        QFETCH(QStringList, extra);
        QFETCH(bool, tagged);
        QFETCH(bool, retried);
        BatchCommunity::Options options;
        options.works = 4;
        options.recording = ToneMp3::encode(440, 0.5);
        options.pieceBytes = 1024;
        options.cutOnce = {2};
        BatchCommunity community(options);
        const Run run = runGet(community, toRowFolder() + QStringList{"--jobs", "2"} + extra);
        QCOMPARE(run.exitCode, retried ? 0 : 1);
        QCOMPARE(run.err.contains(QStringLiteral("retry ")), retried);
        QCOMPARE(run.out.startsWith(QStringLiteral("Downloaded 4, skipped 0, failed 0")), retried);
        QCOMPARE(run.out.contains(QStringLiteral("failed: 5000002 Work 2: the audio could not be downloaded")), !retried);
        QCOMPARE(QFileInfo::exists(rowFile(2)), retried);
        if (retried) {
            QVERIFY2(run.err.contains(QStringLiteral("[2/4] retry 1 of 3 after 1 s: ")), qPrintable(run.err));
            const qsizetype at = run.err.indexOf(QStringLiteral("[2/4] resuming at "));
            const qint64 from = run.err.mid(at + 18).section(QLatin1Char(' '), 0, 0).toLongLong();
            QVERIFY2(at > 0 && from > 0 && from <= options.recording.size() / 2, qPrintable(run.err));
        }
        for (int work = 1; work <= options.works; ++work) {
            if (work == 2 && !retried)
                continue;
            const QByteArray saved = readFile(rowFile(work));
            // The tag goes before the audio, which is left as it came.
            QCOMPARE(tagged ? saved.right(options.recording.size()) : saved, options.recording);
            const QString id = QString::number(5000000 + work);
            const QMap<QString, QByteArray> expected{{"TIT2", QStringLiteral("Work %1").arg(work).toUtf8()},
                                                     {"TPE1", "Singer"},
                                                     {"APIC", BatchCommunity::photo()},
                                                     {"WOAS", "http://www.kelvaro.com/s/" + id.toUtf8()},
                                                     {"TXXX:" + SongTags::WorkIdDescription, id.toUtf8()}};
            QCOMPARE(tagFrames(rowFile(work)), tagged ? expected : decltype(expected)());
        }
        // Fetched once, or once per work that asked before the first came.
        QVERIFY2(community.photoRequests() >= (tagged ? 1 : 0) && community.photoRequests() <= (tagged ? 2 : 0),
                 qPrintable(QString::number(community.photoRequests())));
    }
};

KELVARO_TEST_MAIN(GetCommandTest)
#include "tst_get_cli.moc"
