// The download engine continuing kept temporary files and trying transient
// failures again, against a local server that answers Range and If-Range:
// what is asked for, what the events say, and that the file in the end is
// the server's file byte for byte.
#include "common/EngineWait.h"
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
                             retries_ << QStringLiteral("%1/%2 %3").arg(attempt).arg(retries).arg(delayMs);
                             reasons << reason;
                             if (onRetry)
                                 onRetry(attempt);
                         });
    }
    QString joined() const { return marks.join(','); }

    QStringList marks;
    QList<qint64> resumed;
    QList<qint64> firstProgress; // lDownLoaded of the first event of each run
    qint64 lastSize = -1;
    QStringList retries_;
    QStringList reasons;
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

TransferOptions resuming(int retries = 0)
{
    TransferOptions options;
    options.resume = true;
    options.retries = retries;
    return options;
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

} // namespace

class DownloadResumeTest : public QObject {
    Q_OBJECT

    TestServer m_server;
    QTemporaryDir m_dir;
    int m_number = 0;
    const QByteArray m_body = patterned(40000, 5);
    const QByteArray m_earlier = patterned(900, 1);

    // A folder of its own for each case: a target, its records, nothing else.
    struct Case {
        QString folder;
        QString target;
        QString records;
    };
    Case freshCase()
    {
        Case made;
        made.folder = m_dir.filePath(QString::number(++m_number));
        made.records = made.folder + QStringLiteral("-records");
        QDir().mkpath(made.folder);
        made.target = made.folder + QStringLiteral("/song.mp3");
        QFile file(made.target);
        if (!file.open(QIODevice::WriteOnly) || file.write(m_earlier) != m_earlier.size())
            qFatal("cannot write %s", qPrintable(made.target));
        return made;
    }
    std::unique_ptr<Cls_DownLoad> engineFor(const Case &at)
    {
        auto engine = std::make_unique<Cls_DownLoad>();
        engine->setResumeFolder(at.records);
        engine->setRetryDelayUnit(10);
        engine->setStallLimit(2000);
        return engine;
    }
    // A route with the body, cut after `cutAfter` bytes once.
    std::shared_ptr<RangeRoute> route(const QString &path, const QByteArray &etag, const QByteArray &lastModified,
                                      int cutAfter = 0, int cuts = 0)
    {
        RangeAnswers answers;
        answers.body = m_body;
        answers.etag = etag;
        answers.lastModified = lastModified;
        answers.cutAfter = cutAfter;
        answers.cuts = cuts;
        return m_server.serveRanges(path, answers);
    }
    // Leaves a kept temporary file of `kept` bytes for the case's target.
    void keepPart(const Case &at, const QString &url, int kept)
    {
        auto engine = engineFor(at);
        const std::optional<DownloadResult> first = run(*engine, url, at.target, resuming());
        QVERIFY(first);
        QCOMPARE(classifyDownload(*first), DownloadClass::CutShort);
        QCOMPARE(first->bytes, qint64(kept));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_server.start();
    }

    // A transfer cut short keeps its temporary file and a record; the next
    // one into the same target asks for the rest and ends with the server's
    // file, or starts over when the server or the record says so.
    void continueOrStartOver_data()
    {
        QTest::addColumn<QByteArray>("etag");
        QTest::addColumn<QByteArray>("lastModified");
        QTest::addColumn<QString>("then");   // what changes before the second transfer
        QTest::addColumn<QString>("trail");  // of the second transfer
        QTest::addColumn<QByteArray>("asked"); // its first request
        QTest::addColumn<QByteArray>("final");  // what the target holds at the end
        const QByteArray lm = "Wed, 09 Dec 2026 10:00:00 GMT";
        const QByteArray changed = patterned(40000, 77);
        const QString resumedTrail = "1,2,3,R,4,P,9,6";
        const QString plainTrail = "1,2,3,4,P,9,6";
        QTest::newRow("206 continues (ETag)") << QByteArray("\"v1\"") << QByteArray() << "nothing" << resumedTrail
                                              << QByteArray("Range=bytes=3000-;If-Range=\"v1\"") << m_body;
        QTest::newRow("206 continues (Last-Modified)") << QByteArray() << lm << "nothing" << resumedTrail
                                                       << "Range=bytes=3000-;If-Range=" + lm << m_body;
        QTest::newRow("ETag preferred over Last-Modified") << QByteArray("\"v1\"") << lm << "nothing" << resumedTrail
                                                           << QByteArray("Range=bytes=3000-;If-Range=\"v1\"") << m_body;
        QTest::newRow("200: starts over") << QByteArray("\"v1\"") << QByteArray() << "ignore ranges" << plainTrail
                                          << QByteArray("Range=bytes=3000-;If-Range=\"v1\"") << m_body;
        QTest::newRow("changed ETag: the new file") << QByteArray("\"v1\"") << QByteArray() << "new version"
                                                    << plainTrail << QByteArray("Range=bytes=3000-;If-Range=\"v1\"")
                                                    << changed;
        QTest::newRow("416: asks again for all") << QByteArray("\"v1\"") << QByteArray() << "shrunk" << plainTrail
                                                 << QByteArray("Range=bytes=3000-;If-Range=\"v1\"")
                                                 << m_body.left(2000);
        QTest::newRow("weak ETag only: nothing kept") << QByteArray("W/\"v1\"") << QByteArray() << "nothing"
                                                      << plainTrail << QByteArray("Range=;If-Range=") << m_body;
        QTest::newRow("no validator: nothing kept") << QByteArray() << QByteArray() << "nothing" << plainTrail
                                                    << QByteArray("Range=;If-Range=") << m_body;
        QTest::newRow("another address: kept file dropped") << QByteArray("\"v1\"") << QByteArray() << "other address"
                                                            << plainTrail << QByteArray("Range=;If-Range=") << m_body;
        QTest::newRow("resume off: kept file not used") << QByteArray("\"v1\"") << QByteArray() << "resume off"
                                                        << plainTrail << QByteArray("Range=;If-Range=") << m_body;
    }
    void continueOrStartOver()
    {
        QFETCH(QByteArray, etag);
        QFETCH(QByteArray, lastModified);
        QFETCH(QString, then);
        QFETCH(QString, trail);
        QFETCH(QByteArray, asked);
        QFETCH(QByteArray, final);
        const Case at = freshCase();
        const QString path = QStringLiteral("/continue%1").arg(m_number);
        const auto served = route(path, etag, lastModified, 3000, 1);
        keepPart(at, m_server.url(path), 3000);
        const bool keeps = !KeptPartial::validator(etag, lastModified).isEmpty();
        QCOMPARE(QFileInfo::exists(KeptPartial::recordPath(at.records, at.target)), keeps);
        QCOMPARE(filesIn(at.folder).size(), keeps ? 2 : 1);
        QCOMPARE(readFile(at.target), m_earlier); // only a complete file replaces it
        if (keeps)
            QCOMPARE(readFile(at.folder + "/song.mp3.part"), m_body.left(3000));

        QString url = m_server.url(path);
        TransferOptions options = resuming();
        if (then == "ignore ranges")
            served->change([](RangeAnswers &answers) { answers.honourRanges = false; });
        else if (then == "new version")
            served->change([&](RangeAnswers &answers) {
                answers.etag = "\"v2\"";
                answers.body = final;
            });
        else if (then == "shrunk") // the same version, as the server says, but shorter than what was kept
            served->change([&](RangeAnswers &answers) { answers.body = final; });
        else if (then == "other address") {
            m_server.serveRanges(path + "-elsewhere", served->answers());
            url = m_server.url(path + "-elsewhere");
        } else if (then == "resume off")
            options.resume = false;
        const int before = served->requests().size();

        auto engine = engineFor(at);
        Trail seen(*engine);
        const std::optional<DownloadResult> second = run(*engine, url, at.target, options);
        QVERIFY(second);
        QCOMPARE(seen.joined(), trail);
        QVERIFY2(second->complete(), qPrintable(second->error));
        QCOMPARE(readFile(at.target), final);
        QCOMPARE(second->bytes, qint64(final.size()));
        const bool continued = trail.contains('R');
        QCOMPARE(second->resumedFrom, continued ? qint64(3000) : qint64(0));
        QCOMPARE(seen.resumed, continued ? (QList<qint64>{3000, m_body.size()}) : QList<qint64>());
        QVERIFY(seen.firstProgress.first() > (continued ? 3000 : 0));
        QVERIFY(seen.firstProgress.first() <= (continued ? 3000 : 0) + Cls_DownLoad::ChunkSize);
        QCOMPARE(seen.lastSize, qint64(final.size()));
        const QList<QByteArray> requests =
            then == "other address" ? QList<QByteArray>{asked} : served->requests().mid(before);
        QCOMPARE(requests.value(0), asked);
        if (then == "shrunk") // the answer to the range is not heard of; the second request asks for all
            QCOMPARE(requests, (QList<QByteArray>{asked, "Range=;If-Range="}));
        // Nothing is left behind but the target, except a file resume=false did not touch.
        const bool untouched = then == "resume off";
        QCOMPARE(filesIn(at.folder).size(), untouched ? 2 : 1);
        QCOMPARE(QFileInfo::exists(KeptPartial::recordPath(at.records, at.target)), untouched);
    }

    // Files that lie where a kept file would, but are not the one this
    // engine kept, are neither opened nor removed: the transfer starts over
    // in a file of its own.
    void foreignFilesAreLeftAlone_data()
    {
        QTest::addColumn<QString>("planted");
        QTest::newRow("a .part without a record") << "no record";
        QTest::newRow("a record naming another file") << "other inode";
        QTest::newRow("a record naming a symbolic link") << "symlink";
        QTest::newRow("the kept file has a second link") << "hard link";
        QTest::newRow("a record naming a file elsewhere") << "elsewhere";
    }
    void foreignFilesAreLeftAlone()
    {
        QFETCH(QString, planted);
        const Case at = freshCase();
        const QString path = QStringLiteral("/foreign%1").arg(m_number);
        route(path, "\"v1\"", {}, 3000, planted == "no record" ? 0 : 1);
        const QString part = at.folder + "/song.mp3.part";
        const QByteArray plantedBytes = "planted, not ours";
        QString watched = part; // the file that must stay as it is
        if (planted == "no record") {
            QFile file(part);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(plantedBytes) > 0);
        } else {
            keepPart(at, m_server.url(path), 3000);
            std::optional<KeptPartial> kept = KeptPartial::load(at.records, at.target);
            QVERIFY(kept);
            if (planted == "other inode") { // the kept file stays elsewhere, so its inode is not reused
                QVERIFY(QFile::rename(part, at.folder + "-aside"));
                QFile file(part);
                QVERIFY(file.open(QIODevice::WriteOnly) && file.write(plantedBytes) > 0);
            } else if (planted == "symlink") {
                const QString aim = at.folder + "-aim";
                QFile file(aim);
                QVERIFY(file.open(QIODevice::WriteOnly) && file.write(plantedBytes) > 0);
                file.close();
                QVERIFY(QFile::remove(part));
                QVERIFY(QFile::link(aim, part));
                struct stat info {};
                QCOMPARE(::lstat(QFile::encodeName(part).constData(), &info), 0);
                kept->device = info.st_dev;
                kept->inode = info.st_ino;
                QVERIFY(kept->save(at.records));
                watched = aim;
            } else if (planted == "hard link") {
                watched = at.folder + "-link";
                QCOMPARE(::link(QFile::encodeName(part).constData(), QFile::encodeName(watched).constData()), 0);
            } else if (planted == "elsewhere") {
                watched = at.folder + "-elsewhere.part";
                QVERIFY(QFile::rename(part, watched));
                kept->temp = watched;
                QVERIFY(kept->save(at.records));
            }
        }
        const QByteArray watchedBytes = readFile(watched);
        QVERIFY(!watchedBytes.isEmpty());

        auto engine = engineFor(at);
        Trail seen(*engine);
        const std::optional<DownloadResult> second = run(*engine, m_server.url(path), at.target, resuming());
        QVERIFY(second && second->complete());
        QCOMPARE(seen.joined(), QStringLiteral("1,2,3,4,P,9,6"));
        QCOMPARE(second->resumedFrom, qint64(0));
        QCOMPARE(readFile(at.target), m_body);
        QCOMPARE(readFile(watched), watchedBytes);
        QVERIFY(QFileInfo(watched).exists());
        QVERIFY(!QFileInfo::exists(KeptPartial::recordPath(at.records, at.target)));
    }

    // Stopped, or abandoned with the engine, a transfer keeps what it had;
    // the next one continues it and ends with the server's file.
    void stopOrAbandonThenContinue_data()
    {
        QTest::addColumn<bool>("abandon");
        QTest::newRow("stopped") << false;
        QTest::newRow("engine destroyed") << true;
    }
    void stopOrAbandonThenContinue()
    {
        QFETCH(bool, abandon);
        const Case at = freshCase();
        const QByteArray body = patterned(3 << 20, 9);
        RangeAnswers answers;
        answers.body = body;
        answers.etag = "\"big\"";
        const QString path = QStringLiteral("/stop%1").arg(m_number);
        m_server.serveRanges(path, answers);
        qint64 kept = 0;
        {
            auto engine = engineFor(at);
            bool asked = false;
            connect(engine.get(), &Cls_DownLoad::DLFileDowning, this, [&](const QString &, qint64 done, qint64) {
                kept = done;
                if (done >= 100000 && !asked) {
                    asked = true;
                    if (abandon)
                        engine.release()->deleteLater();
                    else
                        engine->DLFileStop();
                }
            });
            if (abandon) {
                QVERIFY(engine->DLFile(m_server.url(path), at.target, resuming()));
                QTRY_VERIFY_WITH_TIMEOUT(asked, 10000);
                QTest::qWait(50);
            } else {
                const std::optional<DownloadResult> first = run(*engine, m_server.url(path), at.target, resuming());
                QVERIFY(first);
                QCOMPARE(first->ending, DownloadResult::Ending::Stopped);
                QCOMPARE(first->bytes, kept);
            }
        }
        QVERIFY(kept >= 100000 && kept < body.size());
        QCOMPARE(QFileInfo(at.folder + "/song.mp3.part").size(), kept);
        QCOMPARE(readFile(at.target), m_earlier);

        auto engine = engineFor(at);
        Trail seen(*engine);
        const std::optional<DownloadResult> second = run(*engine, m_server.url(path), at.target, resuming());
        QVERIFY(second && second->complete());
        QCOMPARE(seen.joined(), QStringLiteral("1,2,3,R,4,P,9,6"));
        QCOMPARE(seen.resumed, (QList<qint64>{kept, body.size()}));
        QCOMPARE(second->resumedFrom, kept);
        QCOMPARE(second->bytes, qint64(body.size()));
        QVERIFY(readFile(at.target) == body);
        QCOMPARE(filesIn(at.folder), QStringList{"song.mp3"});
    }

    // Two transfers into one target at once: only one of them continues the
    // kept file, the other writes a file of its own; both end whole.
    void twoTransfersIntoOneTarget()
    {
        const Case at = freshCase();
        const QString path = QStringLiteral("/twice%1").arg(m_number);
        route(path, "\"v1\"", {}, 3000, 1);
        keepPart(at, m_server.url(path), 3000);
        auto first = engineFor(at);
        auto second = engineFor(at);
        Trail one(*first);
        Trail two(*second);
        QSignalSpy firstEnded(first.get(), &Cls_DownLoad::DLFileFinished);
        QSignalSpy secondEnded(second.get(), &Cls_DownLoad::DLFileFinished);
        QVERIFY(first->DLFile(m_server.url(path), at.target, resuming()));
        QVERIFY(second->DLFile(m_server.url(path), at.target, resuming()));
        QTRY_VERIFY_WITH_TIMEOUT(firstEnded.size() == 1 && secondEnded.size() == 1, 10000);
        QVERIFY(firstEnded.first().first().value<DownloadResult>().complete());
        QVERIFY(secondEnded.first().first().value<DownloadResult>().complete());
        QCOMPARE(int(one.joined().contains('R')) + int(two.joined().contains('R')), 1);
        QCOMPARE(readFile(at.target), m_body);
        QCOMPARE(filesIn(at.folder), QStringList{"song.mp3"});
    }

    // Transient failures are tried again after 1, 2, 4 delay units (10 ms
    // here) or what Retry-After asks; ending statuses come for the last
    // attempt only, and a retry continues from the bytes received.
    void retries_data()
    {
        QTest::addColumn<int>("retries");
        QTest::addColumn<QList<int>>("failures");  // statuses answered first
        QTest::addColumn<QByteArray>("retryAfter"); // with each of them
        QTest::addColumn<int>("cutAfter");          // then one answer cut after so many bytes (0: none)
        QTest::addColumn<QByteArray>("etag");
        QTest::addColumn<QString>("trail");
        QTest::addColumn<QStringList>("retrying"); // "attempt/retries delayMs"
        QTest::addColumn<int>("httpStatus");       // of the result; 200 means complete
        QTest::addColumn<QList<QByteArray>>("ranges"); // the Range of each request
        const QByteArray v1 = "\"v1\"";
        const QByteArray none;
        const QList<QByteArray> one{""};
        QTest::newRow("503 then ok") << 3 << QList<int>{503} << none << 0 << v1 << "1,2,3,4,P,T,3,4,P,9,6"
                                     << QStringList{"1/3 10"} << 200 << QList<QByteArray>{"", ""};
        QTest::newRow("503 with Retry-After") << 3 << QList<int>{503} << QByteArray("3") << 0 << v1
                                              << "1,2,3,4,P,T,3,4,P,9,6" << QStringList{"1/3 30"} << 200
                                              << QList<QByteArray>{"", ""};
        QTest::newRow("Retry-After as a date gone by") << 3 << QList<int>{503} << QByteArray("Wed, 09 Dec 2026 10:00:00 GMT")
                                                       << 0 << v1 << "1,2,3,4,P,T,3,4,P,9,6" << QStringList{"1/3 0"}
                                                       << 200 << QList<QByteArray>{"", ""};
        QTest::newRow("Retry-After as a date far ahead")
            << 3 << QList<int>{429} << QByteArray("Fri, 01 Jan 2100 00:00:00 GMT") << 0 << v1 << "1,2,3,4,P,9,6"
            << QStringList{} << 429 << one;
        QTest::newRow("429 twice, backoff doubles") << 3 << QList<int>{429, 429} << none << 0 << v1
                                                    << "1,2,3,4,P,T,3,4,P,T,3,4,P,9,6"
                                                    << QStringList{"1/3 10", "2/3 20"} << 200
                                                    << QList<QByteArray>{"", "", ""};
        QTest::newRow("Retry-After over a minute: not waited for")
            << 3 << QList<int>{503} << QByteArray("120") << 0 << v1 << "1,2,3,4,P,9,6" << QStringList{} << 503 << one;
        QTest::newRow("404: never retried") << 3 << QList<int>{404} << none << 0 << v1 << "1,2,3,4,P,9,6"
                                            << QStringList{} << 404 << one;
        QTest::newRow("retries off") << 0 << QList<int>{503} << none << 0 << v1 << "1,2,3,4,P,9,6" << QStringList{}
                                     << 503 << one;
        QTest::newRow("out of retries") << 2 << QList<int>{500, 502, 503} << none << 0 << v1
                                        << "1,2,3,4,P,T,3,4,P,T,3,4,P,9,6" << QStringList{"1/2 10", "2/2 20"} << 503
                                        << QList<QByteArray>{"", "", ""};
        QTest::newRow("cut short, continued") << 3 << QList<int>{} << none << 3000 << v1 << "1,2,3,4,P,T,3,R,4,P,9,6"
                                              << QStringList{"1/3 10"} << 200
                                              << QList<QByteArray>{"", "bytes=3000-"};
        QTest::newRow("cut short without validator: all again")
            << 3 << QList<int>{} << none << 3000 << none << "1,2,3,4,P,T,3,4,P,9,6" << QStringList{"1/3 10"} << 200
            << QList<QByteArray>{"", ""};
        QTest::newRow("error page between: continued still")
            << 3 << QList<int>{} << none << 3000 << v1 << "1,2,3,4,P,T,3,4,P,T,3,R,4,P,9,6"
            << QStringList{"1/3 10", "2/3 20"} << 200 << QList<QByteArray>{"", "bytes=3000-", "bytes=3000-"};
    }
    void retries()
    {
        QFETCH(int, retries);
        QFETCH(QList<int>, failures);
        QFETCH(QByteArray, retryAfter);
        QFETCH(int, cutAfter);
        QFETCH(QByteArray, etag);
        QFETCH(QString, trail);
        QFETCH(QStringList, retrying);
        QFETCH(int, httpStatus);
        QFETCH(QList<QByteArray>, ranges);
        const Case at = freshCase();
        const QString path = QStringLiteral("/retry%1").arg(m_number);
        const auto served = route(path, etag, {}, cutAfter, cutAfter > 0 ? 1 : 0);
        const bool pageBetween = QByteArray(QTest::currentDataTag()).startsWith("error page");
        served->change([&](RangeAnswers &answers) {
            for (const int status : failures)
                answers.failures << qMakePair(status, retryAfter);
        });
        auto engine = engineFor(at);
        Trail seen(*engine);
        if (pageBetween) // after the cut, the next answer is an error page
            seen.onRetry = [&](int attempt) {
                if (attempt == 1)
                    served->change([](RangeAnswers &answers) { answers.failures << qMakePair(503, QByteArray()); });
            };
        TransferOptions options;
        options.retries = retries;
        const std::optional<DownloadResult> ended = run(*engine, m_server.url(path), at.target, options);
        QVERIFY(ended);
        QCOMPARE(seen.joined(), trail);
        QCOMPARE(seen.retries_, retrying);
        QCOMPARE(ended->retried, int(retrying.size()));
        QCOMPARE(ended->httpStatus, httpStatus == 200 && trail.contains('R') ? 206 : httpStatus);
        QCOMPARE(ended->complete(), httpStatus == 200);
        QCOMPARE(readFile(at.target), httpStatus == 200 ? m_body : m_earlier);
        if (httpStatus == 200)
            QCOMPARE(ended->bytes, qint64(m_body.size()));
        QStringList asked;
        for (const QByteArray &request : served->requests())
            asked << QString::fromLatin1(request.mid(6, request.indexOf(';') - 6));
        QStringList expected;
        for (const QByteArray &range : ranges)
            expected << QString::fromLatin1(range);
        QCOMPARE(asked, expected);
        for (const QString &reason : seen.reasons)
            QVERIFY2(reason.contains(QLatin1String("HTTP 5")) || reason.contains(QLatin1String("HTTP 429"))
                         || reason.contains(QLatin1String("37000 bytes")),
                     qPrintable(reason));
        QCOMPARE(filesIn(at.folder), QStringList{"song.mp3"}); // resume off: nothing kept
    }

    // A refused connection is tried again; here the server starts listening
    // on the refused port before the third attempt.
    void refusedTwiceThenServed()
    {
        const Case at = freshCase();
        const int port = TestServer::refusingPort();
        TestServer late;
        RangeAnswers answers;
        answers.body = m_body;
        late.serveRanges("/late.mp3", answers);
        auto engine = engineFor(at);
        Trail seen(*engine);
        seen.onRetry = [&](int attempt) {
            if (attempt == 2)
                late.startOn(port);
        };
        TransferOptions options;
        options.retries = 3;
        const std::optional<DownloadResult> ended =
            run(*engine, QStringLiteral("http://127.0.0.1:%1/late.mp3").arg(port), at.target, options);
        QVERIFY(ended && ended->complete());
        QCOMPARE(seen.joined(), QStringLiteral("1,2,T,T,3,4,P,9,6"));
        QCOMPARE(seen.retries_, (QStringList{"1/3 10", "2/3 20"}));
        QCOMPARE(ended->retried, 2);
        QCOMPARE(readFile(at.target), m_body);
    }

    // Not every failure is transient: a bad address is not tried again.
    void badAddressNotRetried()
    {
        const Case at = freshCase();
        auto engine = engineFor(at);
        Trail seen(*engine);
        TransferOptions options;
        options.retries = 3;
        for (const QString &url : {QStringLiteral("ftp://127.0.0.1/song.mp3"), QStringLiteral("http://song.invalid/a")}) {
            const std::optional<DownloadResult> ended = run(*engine, url, at.target, options);
            QVERIFY(ended);
            QCOMPARE(ended->ending, DownloadResult::Ending::AddressRefused);
            QCOMPARE(ended->retried, 0);
        }
        QCOMPARE(seen.joined(), QStringLiteral("1,2,8,6,1,2,8,6"));
    }

    // A stop while waiting to try again ends the transfer at once, as
    // stopped; with resume the bytes received so far are kept.
    void stopDuringBackoff_data()
    {
        QTest::addColumn<bool>("resume");
        QTest::newRow("resume on: kept") << true;
        QTest::newRow("resume off: removed") << false;
    }
    void stopDuringBackoff()
    {
        QFETCH(bool, resume);
        const Case at = freshCase();
        const QString path = QStringLiteral("/backoff%1").arg(m_number);
        route(path, "\"v1\"", {}, 3000, 1);
        auto engine = engineFor(at);
        engine->setRetryDelayUnit(20000);
        Trail seen(*engine);
        seen.onRetry = [&](int) { engine->DLFileStop(); };
        TransferOptions options = resuming(3);
        options.resume = resume;
        QElapsedTimer clock;
        clock.start();
        const std::optional<DownloadResult> ended = run(*engine, m_server.url(path), at.target, options);
        QVERIFY(ended);
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(seen.joined(), QStringLiteral("1,2,3,4,P,T,5,6"));
        QCOMPARE(ended->ending, DownloadResult::Ending::Stopped);
        QCOMPARE(ended->retried, 1);
        QVERIFY(!engine->stopPending());
        QCOMPARE(readFile(at.target), m_earlier);
        QCOMPARE(filesIn(at.folder).size(), resume ? 2 : 1);
        QCOMPARE(QFileInfo::exists(KeptPartial::recordPath(at.records, at.target)), resume);
        if (resume)
            QCOMPARE(readFile(at.folder + "/song.mp3.part"), m_body.left(3000));
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
        const QString path = QStringLiteral("/commit%1").arg(m_number);
        route(path, "\"v1\"", {});
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
        const std::optional<DownloadResult> ended = run(*engine, m_server.url(path), at.target, options);
        QVERIFY(ended);
        QCOMPARE(seenThere, m_body);
        QVERIFY(tempPath != at.target && QFileInfo(tempPath).absolutePath() == at.folder);
        QVERIFY(!QFileInfo::exists(tempPath));
        QCOMPARE(filesIn(at.folder), QStringList{"song.mp3"});
        QVERIFY(!QFileInfo::exists(KeptPartial::recordPath(at.records, at.target)));
        if (answer.isEmpty()) {
            QVERIFY(ended->complete());
            QCOMPARE(seen.joined(), QStringLiteral("1,2,3,4,P,9,6"));
            QCOMPARE(readFile(at.target), m_body + "TAG");
        } else {
            QCOMPARE(ended->ending, DownloadResult::Ending::FileError);
            QCOMPARE(ended->error, answer);
            QCOMPARE(ended->bytes, qint64(0));
            QCOMPARE(seen.joined(), QStringLiteral("1,2,3,4,P"));
            QCOMPARE(readFile(at.target), m_earlier);
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
        QVERIFY(!KeptPartial::load(folder, m_dir.filePath("a/other.mp3")));
        // A record copied to another target's name is not that target's.
        QVERIFY(QFile::copy(KeptPartial::recordPath(folder, kept.target),
                            KeptPartial::recordPath(folder, m_dir.filePath("a/other.mp3"))));
        QVERIFY(!KeptPartial::load(folder, m_dir.filePath("a/other.mp3")));
    }
};

KELVARO_TEST_MAIN(DownloadResumeTest)
#include "tst_download_resume.moc"
