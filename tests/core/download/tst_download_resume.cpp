// The download engine continuing kept temporary files and trying transient
// failures again, against a local server that answers Range and If-Range:
// what is asked for, what the events say, and that the file in the end is
// the server's file byte for byte.
#include "common/TestEnvironment.h"
#include "common/TestServer.h"
#include "common/TransferBytes.h"
#include "core/download/Cls_DownLoad.h"
#include "core/download/KeptPartial.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Statuses as their numbers, a run of progress as "P", DLFileResuming as
// "R", DLFileRetrying as "T".
struct Trail {
    explicit Trail(Cls_DownLoad &engine)
    {
        QObject::connect(&engine, &Cls_DownLoad::DLFileStatus, &engine,
                         [this](int state) { marks << QString::number(state); });
        QObject::connect(&engine, &Cls_DownLoad::DLFileDowning, &engine, [this](const QString &, qint64 done, qint64 size) {
            if (marks.isEmpty() || marks.last() != "P") {
                marks << "P";
                firstProgress << done;
            }
            lastSize = size;
        });
        QObject::connect(&engine, &Cls_DownLoad::DLFileResuming, &engine, [this](qint64 from, qint64 size) {
            marks << "R";
            resumed << from << size;
        });
        QObject::connect(&engine, &Cls_DownLoad::DLFileRetrying, &engine,
                         [this](int attempt, int retries, int delayMs, const QString &reason) {
                             marks << "T";
                             retrying << QStringLiteral("%1/%2 %3").arg(attempt).arg(retries).arg(delayMs);
                             reasons << reason;
                             if (onRetry)
                                 onRetry(attempt);
                         });
    }
    QString joined() const { return marks.join(','); }

    QStringList marks, reasons;
    QStringList retrying; // "attempt/retries delayMs"
    QList<qint64> resumed, firstProgress; // firstProgress: lDownLoaded of the first event of each run
    qint64 lastSize = -1;
    std::function<void(int)> onRetry;
};

std::optional<DownloadResult> run(Cls_DownLoad &engine, const QString &url, const QString &path,
                                  const TransferOptions &options)
{
    std::optional<DownloadResult> ended;
    const auto connection = QObject::connect(&engine, &Cls_DownLoad::DLFileFinished, &engine,
                                             [&ended](const DownloadResult &result) { ended = result; });
    if (engine.DLFile(url, path, options))
        (void)QTest::qWaitFor([&ended] { return ended.has_value(); }, 30000);
    QObject::disconnect(connection);
    return ended;
}

TransferOptions resuming(bool resume = true, int retries = 0)
{
    TransferOptions options;
    options.resume = resume;
    options.retries = retries;
    return options;
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

void plant(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// One case of retries(): what the server answers, what the engine does.
struct RetryCase {
    int retries;
    QList<int> failures;   // statuses answered first
    QByteArray retryAfter; // with each of them
    int cutAfter;          // then one answer cut after so many bytes (0: none)
    bool etag;             // a strong validator sent
    QString trail;
    QStringList retrying;
    int httpStatus;     // of the result; 200 means complete
    QStringList ranges; // the Range of each request
};

const QString Plain = QStringLiteral("1,2,3,4,P,9,6");
const QString Continued = QStringLiteral("1,2,3,R,4,P,9,6");

} // namespace

Q_DECLARE_METATYPE(RetryCase)

class DownloadResumeTest : public QObject {
    Q_OBJECT

    TestServer m_server;
    QTemporaryDir m_dir;
    int m_number = 0;
    const QByteArray m_body = patterned(40000, 5);
    const QByteArray m_earlier = patterned(900, 1);

    // A folder of its own for each case: a target (holding an earlier
    // file), its records, nothing else; and a fresh path on the server.
    struct Case {
        QString folder, target, records, path;
        QString part() const { return folder + QStringLiteral("/song.mp3.part"); }
        bool hasRecord() const { return QFileInfo::exists(KeptPartial::recordPath(records, target)); }
    };
    Case freshCase()
    {
        const QString folder = m_dir.filePath(QString::number(++m_number));
        QDir().mkpath(folder);
        plant(folder + "/song.mp3", m_earlier);
        return {folder, folder + "/song.mp3", folder + "-records", QStringLiteral("/song%1").arg(m_number)};
    }
    std::unique_ptr<Cls_DownLoad> engineFor(const Case &at)
    {
        auto engine = std::make_unique<Cls_DownLoad>();
        engine->setResumeFolder(at.records);
        engine->setRetryDelayUnit(10);
        engine->setStallLimit(2000);
        return engine;
    }
    // A route with the body, cut after `cutAfter` bytes `cuts` times.
    std::shared_ptr<RangeRoute> route(const QString &path, const QByteArray &etag, const QByteArray &lastModified = {},
                                      int cutAfter = 0, int cuts = 0)
    {
        return m_server.serveRanges(path, RangeAnswers{m_body, etag, lastModified, true, cutAfter, cuts, {}});
    }
    // Leaves a kept temporary file of `kept` bytes for the case's target.
    void keepPart(const Case &at, int kept)
    {
        auto engine = engineFor(at);
        const std::optional<DownloadResult> first = run(*engine, m_server.url(at.path), at.target, resuming());
        QVERIFY(first);
        QCOMPARE(classifyDownload(*first), DownloadClass::CutShort);
        QCOMPARE(first->bytes, qint64(kept));
    }

    // A transfer that ends with `final` in the target: from `from` on when it
    // continues a kept file, from the start when not.
    void endsWhole(const Case &at, const QString &url, const TransferOptions &options, const QByteArray &final,
                   qint64 from)
    {
        auto engine = engineFor(at);
        Trail seen(*engine);
        const std::optional<DownloadResult> ended = run(*engine, url, at.target, options);
        QVERIFY(ended);
        QVERIFY2(ended->complete(), qPrintable(ended->error));
        QCOMPARE(seen.joined(), from > 0 ? Continued : Plain);
        QCOMPARE(readFile(at.target), final);
        QCOMPARE(ended->bytes, qint64(final.size()));
        QCOMPARE(ended->resumedFrom, from);
        QCOMPARE(seen.resumed, from > 0 ? (QList<qint64>{from, final.size()}) : QList<qint64>());
        QVERIFY(seen.firstProgress.first() > from && seen.firstProgress.first() <= from + Cls_DownLoad::ChunkSize);
        QCOMPARE(seen.lastSize, qint64(final.size()));
        QVERIFY(!at.hasRecord());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_server.start();
    }

    // A transfer cut short keeps its temporary file and a record; the next
    // one into the same target asks for the rest and ends with the server's
    // file, or starts over when the server or the record says so. Files that
    // lie where a kept file would, but are not the one this engine kept, are
    // neither opened nor removed: the transfer starts over in a file of its own.
    void continueOrStartOver_data()
    {
        QTest::addColumn<QByteArray>("etag");
        QTest::addColumn<QByteArray>("lastModified");
        QTest::addColumn<QString>("then");       // what changes before the second transfer
        QTest::addColumn<QByteArray>("ifRange"); // sent with "bytes=3000-" first; empty: no range asked
        const QByteArray v1 = "\"v1\"", lm = "Wed, 09 Dec 2026 10:00:00 GMT", none;
        QTest::newRow("206 continues, ETag preferred") << v1 << lm << "nothing" << v1;
        QTest::newRow("206 continues (Last-Modified)") << none << lm << "nothing" << lm;
        QTest::newRow("200: starts over") << v1 << none << "ignore ranges" << v1;
        QTest::newRow("changed ETag: the new file") << v1 << none << "new version" << v1;
        QTest::newRow("416: asks again for all") << v1 << none << "shrunk" << v1;
        QTest::newRow("weak ETag only: nothing kept") << QByteArray("W/\"v1\"") << none << "nothing" << none;
        QTest::newRow("another address: kept file dropped") << v1 << none << "other address" << none;
        QTest::newRow("resume off: kept file not used, then dropped") << v1 << none << "resume off" << none;
        QTest::newRow("a .part without a record") << v1 << none << "no record" << none;
        QTest::newRow("a record naming another file") << v1 << none << "other inode" << none;
        QTest::newRow("a record naming a symbolic link") << v1 << none << "symlink" << none;
        QTest::newRow("the kept file has a second link") << v1 << none << "hard link" << none;
        QTest::newRow("a record naming a file elsewhere") << v1 << none << "elsewhere" << none;
    }
    void continueOrStartOver()
    {
        QFETCH(QByteArray, etag);
        QFETCH(QByteArray, lastModified);
        QFETCH(QString, then);
        QFETCH(QByteArray, ifRange);
        const Case at = freshCase();
        auto served = route(at.path, etag, lastModified, 3000, 1);
        keepPart(at, 3000);
        const bool keeps = !KeptPartial::validator(etag, lastModified).isEmpty();
        QCOMPARE(at.hasRecord(), keeps);
        QCOMPARE(filesIn(at.folder).size(), keeps ? 2 : 1);
        QCOMPARE(readFile(at.part()), keeps ? m_body.left(3000) : QByteArray());
        QCOMPARE(readFile(at.target), m_earlier); // only a complete file replaces it

        // "shrunk": the same version, as the server says, but shorter than what was kept.
        const QByteArray final =
            then == "new version" ? patterned(40000, 77) : (then == "shrunk" ? m_body.left(2000) : m_body);
        QString url = m_server.url(at.path);
        QString watched; // a file that is not ours: it must stay as it is
        std::optional<KeptPartial> kept = KeptPartial::load(at.records, at.target);
        if (then == "ignore ranges") {
            served->change([](RangeAnswers &answers) { answers.honourRanges = false; });
        } else if (then == "new version" || then == "shrunk") {
            served->change([&](RangeAnswers &answers) {
                answers.body = final;
                if (then == "new version")
                    answers.etag = "\"v2\"";
            });
        } else if (then == "other address") {
            served = route(at.path + "-elsewhere", etag, lastModified);
            url = m_server.url(at.path + "-elsewhere");
        } else if (then == "no record") {
            QVERIFY(QFile::remove(KeptPartial::recordPath(at.records, at.target)));
            watched = at.part();
        } else if (then == "other inode") { // the kept file stays elsewhere, so its inode is not reused
            QVERIFY(QFile::rename(at.part(), at.folder + "-aside"));
            plant(watched = at.part(), "planted, not ours");
        } else if (then == "symlink") {
            plant(watched = at.folder + "-aim", "planted, not ours");
            QVERIFY(QFile::remove(at.part()) && QFile::link(watched, at.part()));
            struct stat info {};
            QCOMPARE(::lstat(QFile::encodeName(at.part()).constData(), &info), 0);
            kept->device = info.st_dev;
            kept->inode = info.st_ino;
            QVERIFY(kept->save(at.records));
        } else if (then == "hard link") {
            watched = at.folder + "-link";
            QCOMPARE(::link(QFile::encodeName(at.part()).constData(), QFile::encodeName(watched).constData()), 0);
        } else if (then == "elsewhere") {
            QVERIFY(QFile::rename(at.part(), watched = at.folder + "-elsewhere.part"));
            kept->temp = watched;
            QVERIFY(kept->save(at.records));
        }
        const QByteArray watchedBytes = readFile(watched);
        QCOMPARE(watchedBytes.isEmpty(), watched.isEmpty());
        const int before = served->requests().size();

        const qint64 from = ifRange.isEmpty() || then != "nothing" ? 0 : 3000;
        endsWhole(at, url, resuming(then != "resume off"), final, from);
        QList<QByteArray> asked{ifRange.isEmpty() ? QByteArray("Range=;If-Range=")
                                                  : "Range=bytes=3000-;If-Range=" + ifRange};
        if (then == "shrunk") // the answer to the range is not heard of; the second request asks for all
            asked << "Range=;If-Range=";
        QCOMPARE(served->requests().mid(before), asked);
        // Nothing is left behind but the target: a complete transfer that
        // started over drops the kept file it made worthless.
        if (watched.isEmpty())
            QCOMPARE(filesIn(at.folder), QStringList{"song.mp3"});
        else
            QCOMPARE(readFile(watched), watchedBytes);
    }

    // Stopped (while receiving, or while waiting to try again: then at
    // once), or abandoned with the engine, a transfer keeps what it had (with
    // resume on); the next one continues it and ends with the server's file.
    void stopOrAbandonThenContinue_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("trail"); // of the first transfer
        QTest::addColumn<bool>("resume");
        QTest::newRow("stopped") << "stop" << "1,2,3,4,P,5,6" << true;
        QTest::newRow("engine destroyed") << "abandon" << "1,2,3,4,P" << true;
        QTest::newRow("stopped during the backoff") << "backoff" << "1,2,3,4,P,T,5,6" << true;
        QTest::newRow("stopped during the backoff, resume off") << "backoff" << "1,2,3,4,P,T,5,6" << false;
    }
    void stopOrAbandonThenContinue()
    {
        QFETCH(QString, how);
        QFETCH(QString, trail);
        QFETCH(bool, resume);
        const Case at = freshCase();
        const QByteArray body = patterned(3 << 20, 9);
        m_server.serveRanges(at.path, RangeAnswers{body, "\"big\"", {}, true, 3000, how == "backoff", {}});
        qint64 kept = 0;
        {
            auto engine = engineFor(at);
            engine->setRetryDelayUnit(20000);
            Trail seen(*engine);
            seen.onRetry = [&](int) { engine->DLFileStop(); };
            bool asked = false;
            connect(engine.get(), &Cls_DownLoad::DLFileDowning, this, [&](const QString &, qint64 done, qint64) {
                kept = done;
                if (done >= 100000 && !std::exchange(asked, true))
                    how == "abandon" ? engine.release()->deleteLater() : engine->DLFileStop();
            });
            if (how == "abandon") {
                QVERIFY(engine->DLFile(m_server.url(at.path), at.target, resuming(true, 3)));
                QTRY_VERIFY_WITH_TIMEOUT(asked, 10000);
                QTest::qWait(50);
            } else {
                QElapsedTimer clock;
                clock.start();
                const auto first = run(*engine, m_server.url(at.path), at.target, resuming(resume, 3));
                QVERIFY(first);
                QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
                QCOMPARE(first->ending, DownloadResult::Ending::Stopped);
                QCOMPARE(first->retried, int(how == "backoff"));
                QCOMPARE(first->keptFile, resume ? at.part() : QString());
                QVERIFY(!engine->stopPending());
            }
            QCOMPARE(seen.joined(), trail);
        }
        QVERIFY(how == "backoff" ? kept == 3000 : kept >= 100000 && kept < body.size());
        QCOMPARE(readFile(at.part()), body.left(resume ? kept : 0));
        QCOMPARE(at.hasRecord(), resume);
        QCOMPARE(readFile(at.target), m_earlier);

        endsWhole(at, m_server.url(at.path), resuming(), body, resume ? kept : 0);
        QCOMPARE(filesIn(at.folder), QStringList{"song.mp3"});
    }

    // Two transfers into one target at once: only one of them continues the
    // kept file, the other writes a file of its own; both end whole.
    void twoTransfersIntoOneTarget()
    {
        const Case at = freshCase();
        route(at.path, "\"v1\"", {}, 3000, 1);
        keepPart(at, 3000);
        std::unique_ptr<Cls_DownLoad> engines[] = {engineFor(at), engineFor(at)};
        Trail one(*engines[0]), two(*engines[1]);
        QList<DownloadResult> ended;
        for (const auto &engine : engines) {
            connect(engine.get(), &Cls_DownLoad::DLFileFinished, this, [&](const DownloadResult &r) { ended << r; });
            QVERIFY(engine->DLFile(m_server.url(at.path), at.target, resuming()));
        }
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 2, 10000);
        QVERIFY(ended[0].complete() && ended[1].complete());
        QCOMPARE(int(one.joined().contains('R')) + int(two.joined().contains('R')), 1);
        QCOMPARE(readFile(at.target), m_body);
        QCOMPARE(filesIn(at.folder), QStringList{"song.mp3"});
    }

    // Transient failures are tried again after 1, 2, 4 delay units (10 ms
    // here) or what Retry-After asks; ending statuses come for the last
    // attempt only, and a retry continues from the bytes received.
    void retries_data()
    {
        QTest::addColumn<RetryCase>("c");
        const QString once = "1,2,3,4,P,T,3,4,P,9,6", twice = "1,2,3,4,P,T,3,4,P,T,3,4,P,9,6";
        const QStringList one{""}, two{"", ""}, three{"", "", ""};
        QTest::newRow("503 with Retry-After") << RetryCase{3, {503}, "3", 0, true, once, {"1/3 30"}, 200, two};
        QTest::newRow("Retry-After as a date far ahead: not waited for")
            << RetryCase{3, {429}, "Fri, 01 Jan 2100 00:00:00 GMT", 0, true, Plain, {}, 429, one};
        QTest::newRow("429 twice, backoff doubles")
            << RetryCase{3, {429, 429}, {}, 0, true, twice, {"1/3 10", "2/3 20"}, 200, three};
        QTest::newRow("404: never retried") << RetryCase{3, {404}, {}, 0, true, Plain, {}, 404, one};
        QTest::newRow("retries off") << RetryCase{0, {503}, {}, 0, true, Plain, {}, 503, one};
        QTest::newRow("out of retries")
            << RetryCase{2, {500, 502, 503}, {}, 0, true, twice, {"1/2 10", "2/2 20"}, 503, three};
        QTest::newRow("cut short, continued")
            << RetryCase{3, {}, {}, 3000, true, "1,2,3,4,P,T,3,R,4,P,9,6", {"1/3 10"}, 200, {"", "bytes=3000-"}};
        QTest::newRow("cut short without validator: all again")
            << RetryCase{3, {}, {}, 3000, false, once, {"1/3 10"}, 200, two};
        QTest::newRow("error page between: continued still")
            << RetryCase{3, {}, {}, 3000, true, "1,2,3,4,P,T,3,4,P,T,3,R,4,P,9,6", {"1/3 10", "2/3 20"}, 200,
                         {"", "bytes=3000-", "bytes=3000-"}};
    }
    void retries()
    {
        QFETCH(RetryCase, c);
        const Case at = freshCase();
        const auto served = route(at.path, c.etag ? "\"v1\"" : "", {}, c.cutAfter, c.cutAfter > 0 ? 1 : 0);
        served->change([&](RangeAnswers &answers) {
            for (const int status : c.failures)
                answers.failures << qMakePair(status, c.retryAfter);
        });
        auto engine = engineFor(at);
        Trail seen(*engine);
        if (QByteArray(QTest::currentDataTag()).startsWith("error page")) // after the cut, the next answer is one
            seen.onRetry = [&](int attempt) {
                if (attempt == 1)
                    served->change([](RangeAnswers &answers) { answers.failures << qMakePair(503, QByteArray()); });
            };
        const auto ended = run(*engine, m_server.url(at.path), at.target, resuming(false, c.retries));
        QVERIFY(ended);
        QCOMPARE(seen.joined(), c.trail);
        QCOMPARE(seen.retrying, c.retrying);
        QCOMPARE(ended->retried, int(c.retrying.size()));
        QCOMPARE(ended->httpStatus, c.httpStatus == 200 && c.trail.contains('R') ? 206 : c.httpStatus);
        QCOMPARE(ended->complete(), c.httpStatus == 200);
        QCOMPARE(readFile(at.target), c.httpStatus == 200 ? m_body : m_earlier);
        if (c.httpStatus == 200)
            QCOMPARE(ended->bytes, qint64(m_body.size()));
        QStringList asked;
        for (const QByteArray &request : served->requests())
            asked << QString::fromLatin1(request.mid(6, request.indexOf(';') - 6));
        QCOMPARE(asked, c.ranges);
        for (const QString &reason : seen.reasons)
            QVERIFY2(reason.contains(QLatin1String("HTTP 5")) || reason.contains(QLatin1String("HTTP 429"))
                         || reason.contains(QLatin1String("37000 bytes")),
                     qPrintable(reason));
        QCOMPARE(filesIn(at.folder), QStringList{"song.mp3"}); // resume off: nothing kept
    }

    // A refused connection is tried again; here the server starts listening
    // on the refused port before the third attempt. A bad address is not.
    void refusedTwiceThenServed()
    {
        const Case at = freshCase();
        const int port = TestServer::refusingPort();
        TestServer late;
        late.serveRanges("/late.mp3", RangeAnswers{m_body, {}, {}, true, 0, 0, {}});
        auto engine = engineFor(at);
        Trail seen(*engine);
        seen.onRetry = [&](int attempt) {
            if (attempt == 2)
                late.startOn(port);
        };
        const std::optional<DownloadResult> ended =
            run(*engine, QStringLiteral("http://127.0.0.1:%1/late.mp3").arg(port), at.target, resuming(false, 3));
        QVERIFY(ended && ended->complete());
        QCOMPARE(seen.joined(), QStringLiteral("1,2,T,T,3,4,P,9,6"));
        QCOMPARE(seen.retrying, (QStringList{"1/3 10", "2/3 20"}));
        QCOMPARE(ended->retried, 2);
        QCOMPARE(readFile(at.target), m_body);

        for (const QString &url : {QStringLiteral("ftp://127.0.0.1/song.mp3"), QStringLiteral("http://song.invalid/a")}) {
            seen.marks.clear();
            const std::optional<DownloadResult> refused = run(*engine, url, at.target, resuming(false, 3));
            QVERIFY(refused);
            QCOMPARE(refused->ending, DownloadResult::Ending::AddressRefused);
            QCOMPARE(refused->retried, 0);
            QCOMPARE(seen.joined(), QStringLiteral("1,2,8,6"));
        }
    }

    // The step before the rename sees the whole temporary file; what it
    // writes there is what the target gets; a failure there ends the
    // transfer as a file error, the temporary file gone, the target as it was.
    void beforeCommit_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::newRow("succeeds") << QString();
        QTest::newRow("fails") << QStringLiteral("cannot write the tags");
    }
    void beforeCommit()
    {
        QFETCH(QString, answer);
        const Case at = freshCase();
        route(at.path, "\"v1\"");
        QByteArray seenThere;
        QString tempPath;
        TransferOptions options = resuming();
        options.beforeCommit = [&](const QString &temp) {
            tempPath = temp;
            seenThere = readFile(temp);
            QFile file(temp);
            if (file.open(QIODevice::Append))
                file.write("TAG");
            return answer;
        };
        auto engine = engineFor(at);
        Trail seen(*engine);
        const std::optional<DownloadResult> ended = run(*engine, m_server.url(at.path), at.target, options);
        QVERIFY(ended);
        QCOMPARE(seenThere, m_body);
        QVERIFY(tempPath != at.target && QFileInfo(tempPath).absolutePath() == at.folder);
        QCOMPARE(filesIn(at.folder), QStringList{"song.mp3"}); // the temporary file is gone
        QVERIFY(!at.hasRecord());
        QCOMPARE(ended->complete(), answer.isEmpty());
        QCOMPARE(seen.joined(), answer.isEmpty() ? Plain : QStringLiteral("1,2,3,4,P"));
        QCOMPARE(readFile(at.target), answer.isEmpty() ? m_body + "TAG" : m_earlier);
        if (!answer.isEmpty()) {
            QCOMPARE(ended->ending, DownloadResult::Ending::FileError);
            QCOMPARE(ended->error, answer);
            QCOMPARE(ended->bytes, qint64(0));
        }
    }

    // Records are matched to their target and keep numbers whole.
    void recordsRoundTrip()
    {
        const QString folder = m_dir.filePath("records");
        KeptPartial kept;
        kept.target = m_dir.filePath("a/song.mp3");
        kept.temp = m_dir.filePath("a/song.mp3.part");
        kept.url = "http://127.0.0.1:1/x";
        kept.etag = "\"e\"";
        kept.length = Q_INT64_C(5) << 32;
        kept.device = Q_UINT64_C(0xfedcba9876543210);
        kept.inode = Q_UINT64_C(18446744073709551557);
        QVERIFY(kept.save(folder));
        QCOMPARE(QFileInfo(folder).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup),
                 QFileDevice::Permissions());
        const std::optional<KeptPartial> back = KeptPartial::load(folder, kept.target);
        QVERIFY(back);
        QCOMPARE(back->length, kept.length);
        QCOMPARE(back->device, kept.device);
        QCOMPARE(back->inode, kept.inode);
        QCOMPARE(back->etag, kept.etag);
        const QString other = m_dir.filePath("a/other.mp3");
        QVERIFY(!KeptPartial::load(folder, other));
        // A record copied to another target's name is not that target's.
        QVERIFY(QFile::copy(KeptPartial::recordPath(folder, kept.target), KeptPartial::recordPath(folder, other)));
        QVERIFY(!KeptPartial::load(folder, other));
    }
};

KELVARO_TEST_MAIN(DownloadResumeTest)
#include "tst_download_resume.moc"
