// kelvaro download URL [-o FILE]: the desktop program's download engine,
// with a progress bar on stderr and an exit status a script can trust.
#include "cli/Commands.h"
#include "cli/Terminal.h"

#include "core/download/Cls_DownLoad.h"
#include "core/download/DownloadPanelLogic.h"
#include "core/download/DownloadStatus.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <cstdio>
#include <memory>
#include <optional>

namespace {

constexpr char DownloadUsage[] =
    "Usage: kelvaro download URL [-o FILE] [--no-continue] [--retries N]\n"
    "\n"
    "Saves the resource at URL to FILE, or to the last part of the address\n"
    "in the current folder. Only a complete download replaces an existing\n"
    "FILE; Ctrl-C stops the transfer and leaves it as it was. A web page\n"
    "(text/html) is not saved as an .mp3: 'kelvaro get' reads recording pages.\n"
    "Progress goes to stderr: redrawn in place on a terminal, otherwise one\n"
    "line when the data starts and one when it ends.\n"
    "\n"
    "A transfer that is cut short or stopped keeps what it received beside\n"
    "FILE (FILE.part); the next download to FILE continues from there when the\n"
    "server still has the same file (\"resuming at N bytes\"), and starts\n"
    "over otherwise.\n"
    "  -o, --output FILE  where to save (a folder: the address's name in it)\n"
    "  --no-continue      start over, whatever an earlier transfer kept\n"
    "  --retries N        try a transient failure again up to N times, after\n"
    "                     1, 2, 4 s (0 to 10; default 3; 0: never)\n"
    "  --no-tags          accepted so that scripts may pass what they pass to\n"
    "                     'kelvaro get': download knows only an address, not\n"
    "                     the song, and never writes tags\n";

// The last segment of the address's path, made safe to use as a file name in
// the current folder: no leading dots (so neither ".." nor a hidden file),
// then the download panel's rules (no separators or control characters, not
// too long); "download" when nothing usable is left.
QString fileNameFor(const QUrl &address)
{
    QString name = address.path(QUrl::FullyDecoded);
    name = name.section(QLatin1Char('/'), -1).section(QLatin1Char('\\'), -1).trimmed();
    while (name.startsWith(QLatin1Char('.')))
        name.remove(0, 1);
    return name.isEmpty() ? QStringLiteral("download") : safeFileName(name);
}

// A web page where a recording was asked for: an HTML answer to a target
// named as an MP3 (most likely a recording page's address, which `get` reads).
bool looksLikeWebPage(const DownloadResult &answer, const QString &target)
{
    const QByteArray mediaType = answer.contentType.split(';').value(0).trimmed().toLower();
    return answer.httpStatus / 100 == 2 && mediaType == "text/html"
        && target.endsWith(QLatin1String(".mp3"), Qt::CaseInsensitive);
}

// The arguments, or the exit status when there is nothing to download.
struct DownloadArgs {
    QString url;
    QString target;
    std::optional<int> status;
    bool resume = true;
    int retries = DefaultRetries;
};

DownloadArgs parseDownloadArgs(const QStringList &args)
{
    const auto ending = [](int status) {
        DownloadArgs stop;
        stop.status = status;
        return stop;
    };
    QString url;
    QString output;
    bool resume = true;
    int retries = DefaultRetries;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            std::fputs(DownloadUsage, stdout);
            return ending(0);
        }
        if (arg == QLatin1String("-o") || arg == QLatin1String("--output")) {
            if (++i == args.size()) {
                say(QStringLiteral("%1 needs a file name").arg(arg));
                return ending(ExitUsage);
            }
            output = args.at(i);
        } else if (arg == QLatin1String("--no-continue")) {
            resume = false;
        } else if (arg == QLatin1String("--no-tags")) {
            // Nothing to turn off: see the usage text.
        } else if (arg == QLatin1String("--retries")) {
            const std::optional<int> value = ++i < args.size() ? boundedNumber(args.at(i), 0, MostRetries) : std::nullopt;
            if (!value) {
                say(QStringLiteral("--retries needs a number from 0 to %1").arg(MostRetries));
                return ending(ExitUsage);
            }
            retries = *value;
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            say(QStringLiteral("unknown option '%1'").arg(arg));
            std::fputs(DownloadUsage, stderr);
            return ending(ExitUsage);
        } else if (url.isEmpty()) {
            url = arg;
        } else {
            say(QStringLiteral("one address at a time ('%1' is extra)").arg(arg));
            return ending(ExitUsage);
        }
    }
    if (url.isEmpty()) {
        std::fputs(DownloadUsage, stderr);
        return ending(ExitUsage);
    }

    const QString name = fileNameFor(QUrl(url));
    if (output.isEmpty())
        output = name;
    else if (QFileInfo(output).isDir())
        output = QDir(output).filePath(name);
    else // the same rule for a name given as for one taken from the address
        output = QFileInfo(output).dir().filePath(safeFileName(QFileInfo(output).fileName()));
    const QString target = QFileInfo(output).absoluteFilePath();

    DownloadArgs parsed;
    parsed.url = url;
    parsed.target = target;
    parsed.resume = resume;
    parsed.retries = retries;
    return parsed;
}

// One `kelvaro download`: the engine, its progress line and the stop signals,
// for as long as the transfer runs.
struct DownloadRun {
    QString url;
    QString target;
    QString leftAlone; // what an unsuccessful ending says about the target
    Cls_DownLoad engine;
    ProgressLine progress;
    std::unique_ptr<InterruptWatch> watch;
    bool interrupted = false;
    // A web page is not saved as the MP3: the transfer stops as soon as the
    // answer's headers show it, so its ".part" never replaces anything.
    bool webPage = false;

    // The message for the ending and the exit status.
    int report(const DownloadResult &result) const;
    // "; N bytes kept in NAME.part for the next download", when the engine
    // kept them there; empty otherwise.
    static QString keptNote(const DownloadResult &result);
};

QString DownloadRun::keptNote(const DownloadResult &result)
{
    if (result.keptFile.isEmpty())
        return {};
    return QStringLiteral("; %1 bytes kept in %2 for the next download")
        .arg(result.bytes)
        .arg(QFileInfo(result.keptFile).fileName());
}

int DownloadRun::report(const DownloadResult &result) const
{
    const DownloadClass ending = classifyDownload(result);
    if (webPage && !interrupted && ending == DownloadClass::Stopped) {
        say(QStringLiteral("%1 looks like a web page (text/html), not an audio file; for a recording page use "
                           "'kelvaro get %1'; %2")
                .arg(url, leftAlone));
        return ExitFailed;
    }
    switch (ending) {
    case DownloadClass::Refused:
        if (result.ending == DownloadResult::Ending::NoSession)
            say(result.error);
        else
            say(QStringLiteral("could not reach %1: %2").arg(url, result.error));
        return ExitFailed;
    case DownloadClass::FileError:
        say(result.error);
        return ExitFailed;
    case DownloadClass::Stopped:
        say(QStringLiteral("stopped after %1 bytes; %2%3").arg(result.bytes).arg(leftAlone, keptNote(result)));
        return interrupted ? watch->exitStatus() : ExitFailed;
    case DownloadClass::HttpError:
        say(QStringLiteral("the server answered with status %1; %2").arg(result.httpStatus).arg(leftAlone));
        return ExitFailed;
    case DownloadClass::CutShort:
        say(QStringLiteral("the transfer ended short (%1) after %2 bytes; %3%4")
                .arg(result.error)
                .arg(result.bytes)
                .arg(leftAlone, keptNote(result)));
        return ExitFailed;
    case DownloadClass::Empty:
        say(QStringLiteral("the server sent no data; %1").arg(leftAlone));
        return ExitFailed;
    case DownloadClass::Complete:
        break;
    }
    std::printf("Saved %s (%lld bytes)\n", qPrintable(target), static_cast<long long>(result.bytes));
    std::fflush(stdout);
    return 0;
}

} // namespace

void startDownload(const QStringList &args, CommandDone done)
{
    const DownloadArgs parsed = parseDownloadArgs(args);
    if (parsed.status)
        return done(*parsed.status);

    auto *run = new DownloadRun;
    run->url = parsed.url;
    run->target = parsed.target;
    run->leftAlone = QFileInfo::exists(run->target) ? QStringLiteral("%1 was left as it was").arg(run->target)
                                                    : QStringLiteral("nothing saved");
    run->progress.follow(run->engine);
    run->watch = std::make_unique<InterruptWatch>([run] {
        run->interrupted = true;
        run->engine.DLFileStop();
    });
    QObject::connect(&run->engine, &Cls_DownLoad::DLFileStatus, [run](int state) {
        if (state == DownloadStatus::Answered && looksLikeWebPage(run->engine.answer(), run->target)) {
            run->webPage = true;
            run->progress.hide();
            run->engine.DLFileStop();
        }
    });
    QObject::connect(&run->engine, &Cls_DownLoad::DLFileResuming, [run](qint64 from, qint64) {
        run->progress.note(QStringLiteral("resuming at %1 bytes").arg(from));
    });
    QObject::connect(&run->engine, &Cls_DownLoad::DLFileRetrying,
                     [run](int attempt, int retries, int delayMs, const QString &reason) {
                         run->progress.note(retryText(attempt, retries, delayMs, reason));
                     });
    QObject::connect(&run->engine, &Cls_DownLoad::DLFileFinished, [run, done](const DownloadResult &result) {
        run->progress.finish();
        const int status = run->report(result);
        endCommandLater(run, done, status);
    });
    TransferOptions options;
    options.resume = parsed.resume;
    options.retries = parsed.retries;
    run->engine.DLFile(run->url, run->target, options);
}
