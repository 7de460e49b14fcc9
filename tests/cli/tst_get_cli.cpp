// `kelvaro get` as a user runs it, against a local community of many works:
// its options, how many transfers it runs at once (counted at the server),
// the order of its summary and the failures it lists.
#include "common/BatchCommunity.h"
#include "common/TestEnvironment.h"
#include "ToneMp3.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <attachedpictureframe.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <textidentificationframe.h>
#include <urllinkframe.h>

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run runGet(const QString &proxy, const QStringList &args)
{
    QProcess cli;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("http_proxy"), proxy);
    environment.remove(QStringLiteral("no_proxy"));
    environment.remove(QStringLiteral("NO_PROXY"));
    cli.setProcessEnvironment(environment);
    cli.start(QStringLiteral(KELVARO_CLI), QStringList{QStringLiteral("get")} + args);
    Run run;
    if (!cli.waitForFinished(120000) || cli.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = cli.exitCode();
    run.out = QString::fromUtf8(cli.readAllStandardOutput());
    run.err = QString::fromUtf8(cli.readAllStandardError());
    return run;
}

QString qs(const TagLib::String &value)
{
    return QString::fromStdString(value.to8Bit(true));
}

// The tags of a saved file as a music library reads them:
// title|artist|cover bytes|page|work id; "no tag" when it has none.
QString tagsOf(const QString &path, QByteArray *cover)
{
    TagLib::MPEG::File file(QFile::encodeName(path).constData(), false);
    TagLib::ID3v2::Tag *tag = file.isValid() ? file.ID3v2Tag() : nullptr;
    if (!tag || tag->isEmpty())
        return QStringLiteral("no tag");
    QString page;
    QString workId;
    for (TagLib::ID3v2::Frame *frame : tag->frameList("WOAS"))
        page = qs(static_cast<TagLib::ID3v2::UrlLinkFrame *>(frame)->url());
    if (auto *text = TagLib::ID3v2::UserTextIdentificationFrame::find(tag, "KELVARO_WORK_ID"))
        workId = qs(text->fieldList().back());
    for (TagLib::ID3v2::Frame *frame : tag->frameList("APIC")) {
        const TagLib::ByteVector bytes = static_cast<TagLib::ID3v2::AttachedPictureFrame *>(frame)->picture();
        *cover = QByteArray(bytes.data(), qsizetype(bytes.size()));
    }
    return QStringList{qs(tag->title()), qs(tag->artist()), QString::number(cover->size()), page, workId}.join(
        QLatin1Char('|'));
}

} // namespace

class GetCommandTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString rowFolder() const { return m_dir.filePath(QString::fromLatin1(QTest::currentDataTag())); }

private slots:
    void options_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message"); // on stderr; for a run, the summary on stdout
        const QString singer = BatchCommunity::singerAddress();
        QTest::newRow("no jobs") << QStringList{singer, "--jobs", "0"} << 2 << "from 1 to 8, not '0'";
        QTest::newRow("too many jobs") << QStringList{singer, "--jobs", "9"} << 2 << "from 1 to 8, not '9'";
        QTest::newRow("jobs in words") << QStringList{singer, "--jobs", "four"} << 2 << "not 'four'";
        QTest::newRow("signed jobs") << QStringList{singer, "--jobs", "+2"} << 2 << "not '+2'";
        QTest::newRow("jobs without a value") << QStringList{singer, "--jobs"} << 2 << "--jobs needs a value";
        QTest::newRow("negative retries") << QStringList{singer, "--retries", "-1"} << 2 << "from 0 to 10, not '-1'";
        QTest::newRow("too many retries") << QStringList{singer, "--retries", "11"} << 2 << "not '11'";
        QTest::newRow("retries without a value") << QStringList{singer, "--retries"} << 2 << "--retries needs a value";
        QTest::newRow("unknown option") << QStringList{singer, "--no-tag"} << 2 << "unknown option '--no-tag'";
        QTest::newRow("every option") << QStringList{singer, "--jobs", "8", "--retries", "0", "--no-continue", "--no-tags"}
                                      << 0 << "Downloaded 6, skipped 0, failed 0";
        QTest::newRow("one job") << QStringList{singer, "--jobs", "1", "--retries", "10"} << 0
                                 << "Downloaded 6, skipped 0, failed 0";
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
        const Run run = runGet(community.proxy(), QStringList{"-d", rowFolder()} + args);
        QCOMPARE(run.exitCode, exitCode);
        if (exitCode == 2) {
            QVERIFY2(run.err.contains(message), qPrintable(run.err));
            QVERIFY2(run.err.contains(QStringLiteral("Usage: kelvaro get")), qPrintable(run.err));
            QCOMPARE(community.requests(), 0);
            return;
        }
        QVERIFY2(run.out.startsWith(message), qPrintable(run.out + run.err));
        for (int work = 1; work <= options.works; ++work)
            QCOMPARE(readFile(QDir(rowFolder()).filePath(BatchCommunity::fileName(work))), community.audio(work));
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
        const Run run = runGet(community.proxy(), jobs + QStringList{BatchCommunity::singerAddress(), "-d", rowFolder()});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(community.mostAudioAtOnce(), most);
        QVERIFY2(community.mostAtOnce() <= most, qPrintable(QString::number(community.mostAtOnce())));
        const QStringList out = run.out.split(QLatin1Char('\n'));
        QCOMPARE(out.value(0), QStringLiteral("Downloaded 8, skipped 0, failed 2"));
        QCOMPARE(out.value(1), QStringLiteral("  failed: 5000002 Work 2: the audio could not be downloaded (HTTP 404)"));
        QCOMPARE(out.value(2), QStringLiteral("  failed: 5000007 Work 7: the audio could not be downloaded (HTTP 404)"));
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
                QCOMPARE(readFile(QDir(rowFolder()).filePath(BatchCommunity::fileName(work))), community.audio(work));
        }
    }

    // Saved files carry their song's tags, the singer's photo as the cover
    // (fetched once for the whole batch); --no-tags saves the bare audio.
    void tags_data()
    {
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<bool>("tagged");
        QTest::newRow("tagged") << QStringList{} << true;
        QTest::newRow("bare") << QStringList{"--no-tags"} << false;
    }
    void tags()
    {
        QFETCH(QStringList, extra);
        QFETCH(bool, tagged);
        BatchCommunity::Options options;
        options.works = 4;
        options.recording = ToneMp3::encode(440, 0.5);
        BatchCommunity community(options);
        const Run run = runGet(community.proxy(),
                               QStringList{"-d", rowFolder(), BatchCommunity::singerAddress(), "--jobs", "2"} + extra);
        QCOMPARE(run.exitCode, 0);
        for (int work = 1; work <= options.works; ++work) {
            const QString file = QDir(rowFolder()).filePath(BatchCommunity::fileName(work));
            const QByteArray saved = readFile(file);
            QByteArray cover;
            if (!tagged) {
                QCOMPARE(saved, options.recording);
                QCOMPARE(tagsOf(file, &cover), QStringLiteral("no tag"));
                continue;
            }
            // The tag goes before the audio, which is left as it came.
            QVERIFY(saved.startsWith("ID3"));
            QVERIFY(saved.endsWith(options.recording));
            const QString page = QStringLiteral("http://www.kelvaro.com/s/%1").arg(5000000 + work);
            QCOMPARE(tagsOf(file, &cover), QStringLiteral("Work %1|Singer|%2|%3|%4")
                                               .arg(work)
                                               .arg(BatchCommunity::photo().size())
                                               .arg(page)
                                               .arg(5000000 + work));
            QCOMPARE(cover, BatchCommunity::photo());
        }
        // Fetched once, or once per work that asked before the first came.
        QVERIFY2(community.photoRequests() >= (tagged ? 1 : 0) && community.photoRequests() <= (tagged ? 2 : 0),
                 qPrintable(QString::number(community.photoRequests())));
    }

    // A recording that breaks off is tried again after 1 s and continued
    // where it stopped; the file is the recording byte for byte. With
    // --retries 0 the work fails and the others are saved all the same.
    void retryAndResume_data()
    {
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<bool>("saved");
        QTest::newRow("retried") << QStringList{} << true;
        QTest::newRow("no retries") << QStringList{"--retries", "0"} << false;
    }
    void retryAndResume()
    {
        QFETCH(QStringList, extra);
        QFETCH(bool, saved);
        BatchCommunity::Options options;
        options.works = 3;
        options.audioBytes = 64 * 1024;
        options.pieceBytes = 4096;
        options.cutOnce = {2};
        BatchCommunity community(options);
        const Run run = runGet(community.proxy(),
                               QStringList{"-d", rowFolder(), BatchCommunity::singerAddress(), "--no-tags"} + extra);
        QCOMPARE(run.exitCode, saved ? 0 : 1);
        const QString file = QDir(rowFolder()).filePath(BatchCommunity::fileName(2));
        if (saved) {
            QVERIFY2(run.err.contains(QStringLiteral("[2/3] retry 1 of 3 after 1 s (")), qPrintable(run.err));
            const qsizetype at = run.err.indexOf(QStringLiteral("[2/3] resuming at "));
            QVERIFY2(at > 0, qPrintable(run.err));
            const qint64 from = run.err.mid(at + 18).section(QLatin1Char(' '), 0, 0).toLongLong();
            QVERIFY2(from > 0 && from <= community.audio(2).size() / 2, qPrintable(run.err));
            QCOMPARE(readFile(file), community.audio(2));
            QVERIFY2(run.out.startsWith(QStringLiteral("Downloaded 3, skipped 0, failed 0")), qPrintable(run.out));
        } else {
            QVERIFY2(!run.err.contains(QStringLiteral("retry ")), qPrintable(run.err));
            QVERIFY(!QFileInfo::exists(file));
            QVERIFY2(run.out.contains(QStringLiteral("failed: 5000002 Work 2: the audio could not be downloaded")),
                     qPrintable(run.out));
        }
        for (const int other : {1, 3})
            QCOMPARE(readFile(QDir(rowFolder()).filePath(BatchCommunity::fileName(other))), community.audio(other));
    }
};

KELVARO_TEST_MAIN(GetCommandTest)
#include "tst_get_cli.moc"
