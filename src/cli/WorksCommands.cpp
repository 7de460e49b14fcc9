// `kelvaro works URL`: the works table of a singer home page on stdout.
// `kelvaro get URL... [-d DIR]`: every work of a singer, or single recording
// pages, saved as the download panel would save them.
#include "cli/BatchDisplay.h"
#include "cli/Commands.h"
#include "cli/Terminal.h"

#include "core/download/Cls_DownLoad.h"
#include "core/download/DownloadPanelLogic.h"
#include "core/lookup/PageFetcher.h"
#include "core/platform/FileLocations.h"
#include "core/works/WorkBatch.h"
#include "core/works/WorksCrawl.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

constexpr char WorksUsage[] = "Usage: kelvaro works URL\n"
                              "\n"
                              "Reads a singer home page once and prints the works table the window would\n"
                              "show for it: one line per row, the number, the work id, the title and the\n"
                              "play-address service address, separated by tabs. A tab, line break or\n"
                              "backslash inside a value is written as \\t, \\n, \\r or \\\\.\n"
                              "Exit status: 0 the page was read (also without works), 1 it could not be\n"
                              "fetched, 2 usage or a wrong address.\n";

constexpr char GetUsage[] =
    "Usage: kelvaro get URL... [-d DIR] [--jobs N] [--retries N] [--no-continue] [--no-tags]\n"
    "\n"
    "Saves recordings as MP3 files named as the download panel names them.\n"
    "URL is a recording page (.../s/...) or a singer home page (.../u/...): for a\n"
    "singer, every work the window's table lists. DIR defaults to the Music\n"
    "folder the download panel uses. A file that is already complete is skipped.\n"
    "\n"
    "  --jobs N       save up to N works at once, 1 to 8 (default 3)\n"
    "  --retries N    try a transfer that failed on the way (refused, cut, stalled,\n"
    "                 a server error) up to N more times, 0 to 10 (default 3; 0: never)\n"
    "  --no-continue  start every transfer from the beginning, even where an earlier\n"
    "                 one was cut and its part is kept\n"
    "  --no-tags      save the bare audio: no title, singer, cover, page or work id tags\n"
    "\n"
    "On a terminal the works and one line per running transfer are redrawn in\n"
    "place; elsewhere each event is one line naming its work as [N/M].\n"
    "Ctrl-C stops; completed files stay.\n"
    "Exit status: 0 all saved or skipped, 1 some failed, 2 usage, 130 stopped.\n";

constexpr int DefaultJobs = 3;

bool isHelp(const QString &arg)
{
    return arg == QLatin1String("-h") || arg == QLatin1String("--help");
}

// One value of a line: nothing in it may end the value or the line early.
QByteArray tableField(const QString &value)
{
    QByteArray out = value.toUtf8();
    if (out.contains('\\'))
        out.replace("\\", "\\\\");
    if (out.contains('\t'))
        out.replace("\t", "\\t");
    if (out.contains('\n'))
        out.replace("\n", "\\n");
    if (out.contains('\r'))
        out.replace("\r", "\\r");
    return out;
}

void writeRows(const QList<WorkRow> &rows)
{
    QByteArray out;
    out.reserve(rows.size() * 120);
    for (const WorkRow &row : rows) {
        out += QByteArray::number(row.number);
        out += '\t';
        out += tableField(row.id);
        out += '\t';
        out += tableField(row.title);
        out += '\t';
        out += tableField(row.serviceAddress);
        out += '\n';
    }
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    std::fflush(stdout);
}

// The crawl of one singer page as the window runs it: the page, or the status
// text the window would show when there is none.
struct Crawl {
    bool fetched = false;
    QList<WorkRow> rows;
    QString status;
};

Crawl crawlOf(const std::optional<QString> &page)
{
    Crawl result;
    if (!page || page->isEmpty()) {
        result.status = WorksCrawlTexts::FetchFailed;
        return result;
    }
    result.fetched = true;
    WorksCrawlState state;
    result.rows = crawlSingerPage(*page, state);
    // One marker lists no row but is not "no works": the window says it is done.
    result.status = state.Hits[0] == 0 ? WorksCrawlTexts::NoWorks : WorksCrawlTexts::Done;
    return result;
}

QString describeFailure(const BatchOutcome &outcome)
{
    using Failure = BatchOutcome::Failure;
    switch (outcome.failure) {
    case Failure::ServiceUnanswered:
        return QStringLiteral("the play-address service did not answer (%1)").arg(outcome.detail);
    case Failure::NotRecordingPage:
        return QStringLiteral("the play-address service's answer is not a recording page (%1)").arg(outcome.detail);
    case Failure::PageUnanswered:
        return QStringLiteral("the recording page could not be read (%1)").arg(outcome.detail);
    case Failure::PageError:
        if (outcome.httpStatus == 404 || outcome.httpStatus == 410)
            return QStringLiteral("the recording page was not found (HTTP %1: %2)")
                .arg(outcome.httpStatus)
                .arg(outcome.detail);
        return QStringLiteral("the recording page was answered with an error (HTTP %1: %2)")
            .arg(outcome.httpStatus)
            .arg(outcome.detail);
    case Failure::NoAudioAddress:
        return QStringLiteral("the recording page names no audio file (%1)").arg(outcome.detail);
    case Failure::Transfer:
        return QStringLiteral("the audio could not be downloaded (%1)").arg(outcome.detail);
    case Failure::FileError:
    case Failure::None:
        break;
    }
    return outcome.detail;
}

// One `kelvaro get`: the engine, the batch on it, the progress line and the
// stop signals, for as long as the batch runs.
struct GetRun {
    explicit GetRun(QString into) : folder(std::move(into)) {}

    // The summary on stdout and the exit status.
    int report(const QList<BatchOutcome> &outcomes);

    const QString folder;
    Cls_DownLoad engine;
    WorkBatch batch{engine};
    BatchDisplay display{::isatty(STDERR_FILENO) == 1};
    std::unique_ptr<InterruptWatch> watch;
    bool interrupted = false;
    QStringList failures;
};

QString outcomeLine(const BatchOutcome &outcome)
{
    switch (outcome.kind) {
    case BatchOutcome::Kind::Downloaded:
        return QStringLiteral("downloaded (%1 bytes)").arg(outcome.bytes);
    case BatchOutcome::Kind::Skipped:
        return QStringLiteral("skipped: already complete (%1 bytes)").arg(outcome.bytes);
    case BatchOutcome::Kind::Failed:
        return QStringLiteral("failed: ") + describeFailure(outcome);
    case BatchOutcome::Kind::Stopped:
        break;
    }
    return QStringLiteral("stopped");
}

int GetRun::report(const QList<BatchOutcome> &outcomes)
{
    int downloaded = 0;
    int skipped = 0;
    for (const BatchOutcome &outcome : outcomes) {
        if (outcome.kind == BatchOutcome::Kind::Downloaded)
            ++downloaded;
        else if (outcome.kind == BatchOutcome::Kind::Skipped)
            ++skipped;
        else if (outcome.kind == BatchOutcome::Kind::Failed)
            failures.append(outcome.work.label() + QStringLiteral(": ") + describeFailure(outcome));
    }
    std::printf("Downloaded %d, skipped %d, failed %d%s\n", downloaded, skipped, int(failures.size()),
                interrupted ? " (stopped by Ctrl-C)" : "");
    for (const QString &failure : failures)
        std::printf("  failed: %s\n", qPrintable(failure));
    std::printf("Folder: %s\n", qPrintable(folder));
    std::fflush(stdout);
    if (interrupted)
        return watch->exitStatus();
    return failures.isEmpty() ? 0 : ExitFailed;
}

// `get` reads its singer pages one after another, queueing their rows and
// the recording pages given as they stand; `then` follows the last one.
void queueWorks(GetRun *run, QStringList addresses, const std::shared_ptr<FetchHandle> &singerPage,
                const std::function<void()> &then);
// Runs the batch over what was queued and reports it.
void saveQueued(GetRun *run, const QString &folder, const CommandDone &done);

} // namespace

void startWorks(const QStringList &args, CommandDone done)
{
    if (args.size() == 1 && isHelp(args.first())) {
        std::fputs(WorksUsage, stdout);
        done(0);
        return;
    }
    if (args.size() != 1) {
        std::fputs(WorksUsage, stderr);
        done(ExitUsage);
        return;
    }
    const QString &address = args.first();
    if (const QString refusal = singerAddressRefusal(address); !refusal.isEmpty()) {
        say(refusal);
        done(ExitUsage);
        return;
    }
    // The fetch is held until its answer is in: dropping the handle would
    // cancel it.
    auto page = std::make_shared<FetchHandle>();
    *page = GetBody(address, [page, done = std::move(done)](std::optional<QString> body) {
        const Crawl result = crawlOf(body);
        say(result.status);
        if (!result.fetched) {
            done(ExitFailed);
            return;
        }
        writeRows(result.rows);
        done(0);
    });
}

namespace {

// What `get` was asked for.
struct GetOptions {
    bool valid = true;
    bool help = false;
    QStringList addresses;
    QString folder;
    int jobs = DefaultJobs;
    int retries = DefaultRetries;
    bool resume = true;
    bool tags = true;
};

GetOptions parseGetOptions(const QStringList &args, QString *error)
{
    GetOptions options;
    const auto fail = [&](const QString &why) {
        options.valid = false;
        if (error)
            *error = why;
        return options;
    };
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (isHelp(arg)) {
            options.help = true;
            return options;
        }
        if (arg == QLatin1String("--no-tags")) {
            options.tags = false;
        } else if (arg == QLatin1String("--no-continue")) {
            options.resume = false;
        } else if (arg == QLatin1String("-d") || arg == QLatin1String("--dir") || arg == QLatin1String("--jobs")
                   || arg == QLatin1String("--retries")) {
            if (++i == args.size())
                return fail(QStringLiteral("%1 needs a value").arg(arg));
            const QString &value = args.at(i);
            if (arg == QLatin1String("--jobs")) {
                const std::optional<int> jobs = boundedNumber(value, 1, WorkBatch::MaxJobs);
                if (!jobs)
                    return fail(QStringLiteral("--jobs takes a number of works at once from 1 to %1, not '%2'")
                                    .arg(WorkBatch::MaxJobs)
                                    .arg(value));
                options.jobs = *jobs;
            } else if (arg == QLatin1String("--retries")) {
                const std::optional<int> retries = boundedNumber(value, 0, MostRetries);
                if (!retries)
                    return fail(QStringLiteral("--retries takes a number from 0 to %1, not '%2'")
                                    .arg(MostRetries)
                                    .arg(value));
                options.retries = *retries;
            } else {
                options.folder = value;
            }
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            return fail(QStringLiteral("unknown option '%1'").arg(arg));
        } else {
            options.addresses.append(arg);
        }
    }
    return options;
}

} // namespace

void startGet(const QStringList &args, CommandDone done)
{
    QString error;
    const GetOptions options = parseGetOptions(args, &error);
    if (options.help) {
        std::fputs(GetUsage, stdout);
        return done(0);
    }
    if (!options.valid) {
        say(error);
        std::fputs(GetUsage, stderr);
        return done(ExitUsage);
    }
    const QStringList &addresses = options.addresses;
    QString folder = options.folder;
    if (addresses.isEmpty()) {
        std::fputs(GetUsage, stderr);
        return done(ExitUsage);
    }
    for (const QString &address : addresses) {
        if (!address.contains(recordingPagePrefix()) && !singerAddressRefusal(address).isEmpty()) {
            say(QStringLiteral("'%1' is neither a recording page (%2...) nor a singer home page (%3...)")
                    .arg(address, recordingPagePrefix(), singerAddressMarker()));
            return done(ExitUsage);
        }
    }

    // The folder the download panel saves into: beside the desktop program,
    // or the user's music folder when the program is installed.
    if (folder.isEmpty())
        folder = FileLocations::forProgramFolder(QCoreApplication::applicationDirPath()).musicFolder;
    folder = QFileInfo(folder).absoluteFilePath();
    if (!QDir().mkpath(folder)) {
        say(QStringLiteral("cannot create the folder %1").arg(folder));
        return done(ExitFailed);
    }

    auto *run = new GetRun(folder);
    run->batch.setJobs(options.jobs);
    run->batch.setRetries(options.retries);
    run->batch.setResume(options.resume);
    run->batch.setTags(options.tags);
    run->watch = std::make_unique<InterruptWatch>([run] {
        run->interrupted = true;
        run->batch.stop();
        cancelPageFetches(); // a page that is being waited for ends now too
    });

    queueWorks(run, addresses, std::make_shared<FetchHandle>(), [run, folder, done] { saveQueued(run, folder, done); });
}

namespace {

void queueWorks(GetRun *run, QStringList addresses, const std::shared_ptr<FetchHandle> &singerPage,
                const std::function<void()> &then)
{
    while (!addresses.isEmpty() && !run->interrupted) {
        const QString address = addresses.takeFirst();
        if (address.contains(recordingPagePrefix())) {
            run->batch.enqueue({BatchWork::fromPage(address)});
            continue;
        }
        *singerPage = GetBody(address, [run, address, addresses, singerPage, then](std::optional<QString> body) {
            const Crawl result = crawlOf(body);
            say(QStringLiteral("%1: %2 (%3 works)").arg(address, result.status).arg(result.rows.size()));
            if (!result.fetched)
                run->failures.append(QStringLiteral("%1: the singer page could not be read").arg(address));
            QList<BatchWork> works;
            for (const WorkRow &row : result.rows)
                works.append(BatchWork::fromRow(row));
            run->batch.enqueue(works);
            queueWorks(run, addresses, singerPage, then);
        });
        return;
    }
    then();
}

void saveQueued(GetRun *run, const QString &folder, const CommandDone &done)
{
    run->display.follow(run->batch, outcomeLine);
    const auto end = [run, done](const QList<BatchOutcome> &outcomes) {
        run->display.close();
        const int status = run->report(outcomes);
        endCommandLater(run, done, status);
    };
    QObject::connect(&run->batch, &WorkBatch::finished, end);
    if (run->interrupted) // stopped while the singer pages were read: nothing to save
        return end({});
    run->batch.run(folder);
}

} // namespace
