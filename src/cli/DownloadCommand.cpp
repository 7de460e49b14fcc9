// kelvaro download URL [-o FILE]: the desktop program's download engine,
// with a progress bar on stderr and an exit status a script can trust.
#include "cli/Commands.h"
#include "cli/Terminal.h"

#include "core/download/Cls_DownLoad.h"
#include "core/download/DownloadPanelLogic.h"
#include "core/download/DownloadStatus.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <cstdio>

namespace {

constexpr char DownloadUsage[] = "Usage: kelvaro download URL [-o FILE]\n"
                                 "\n"
                                 "Saves the resource at URL to FILE, or to the last part of the address\n"
                                 "in the current folder. Only a complete download replaces an existing\n"
                                 "FILE; Ctrl-C stops the transfer and leaves it as it was. A web page\n"
                                 "(text/html) is not saved as an .mp3: 'kelvaro get' reads recording pages.\n"
                                 "Progress goes to stderr: redrawn in place on a terminal, otherwise one\n"
                                 "line when the data starts and one when it ends.\n";

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

} // namespace

static int runDownload(const QStringList &args)
{
    QString url;
    QString output;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            std::fputs(DownloadUsage, stdout);
            return 0;
        }
        if (arg == QLatin1String("-o") || arg == QLatin1String("--output")) {
            if (++i == args.size()) {
                say(QStringLiteral("%1 needs a file name").arg(arg));
                return ExitUsage;
            }
            output = args.at(i);
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            say(QStringLiteral("unknown option '%1'").arg(arg));
            std::fputs(DownloadUsage, stderr);
            return ExitUsage;
        } else if (url.isEmpty()) {
            url = arg;
        } else {
            say(QStringLiteral("one address at a time ('%1' is extra)").arg(arg));
            return ExitUsage;
        }
    }
    if (url.isEmpty()) {
        std::fputs(DownloadUsage, stderr);
        return ExitUsage;
    }

    const QString name = fileNameFor(QUrl(url));
    if (output.isEmpty())
        output = name;
    else if (QFileInfo(output).isDir())
        output = QDir(output).filePath(name);
    else // the same rule for a name given as for one taken from the address
        output = QFileInfo(output).dir().filePath(safeFileName(QFileInfo(output).fileName()));
    const QString target = QFileInfo(output).absoluteFilePath();

    // What an unsuccessful ending says about the target.
    const QString leftAlone = QFileInfo::exists(target) ? QStringLiteral("%1 was left as it was").arg(target)
                                                        : QStringLiteral("nothing saved");

    Cls_DownLoad engine;
    ProgressLine progress;
    progress.follow(engine);
    bool interrupted = false;
    const InterruptWatch watch([&] {
        interrupted = true;
        engine.DLFileStop();
    });
    // A web page is not saved as the MP3: the transfer stops as soon as the
    // answer's headers show it, so its ".part" never replaces anything.
    bool webPage = false;
    QObject::connect(&engine, &Cls_DownLoad::DLFileStatus, [&](int state) {
        if (state == DownloadStatus::Answered && looksLikeWebPage(engine.answer(), target)) {
            webPage = true;
            progress.hide();
            engine.DLFileStop();
        }
    });

    const DownloadResult result = engine.DLFile(url, target, 10000);
    progress.finish();

    using Ending = DownloadResult::Ending;
    if (webPage && !interrupted && result.ending == Ending::Stopped) {
        say(QStringLiteral("%1 looks like a web page (text/html), not an audio file; for a recording page use "
                           "'kelvaro get %1'; %2")
                .arg(url, leftAlone));
        return ExitFailed;
    }
    switch (result.ending) {
    case Ending::NoSession:
    case Ending::Busy:
        say(result.error);
        return ExitFailed;
    case Ending::AddressRefused:
        say(QStringLiteral("could not reach %1: %2").arg(url, result.error));
        return ExitFailed;
    case Ending::FileError:
        say(result.error);
        return ExitFailed;
    case Ending::Stopped:
        say(QStringLiteral("stopped after %1 bytes; %2").arg(result.bytes).arg(leftAlone));
        return interrupted ? watch.exitStatus() : ExitFailed;
    case Ending::Finished:
        break;
    }
    if (result.httpStatus / 100 != 2) {
        say(QStringLiteral("the server answered with status %1; %2").arg(result.httpStatus).arg(leftAlone));
        return ExitFailed;
    }
    if (result.shortTransfer) {
        say(QStringLiteral("the transfer ended short (%1) after %2 bytes; %3")
                .arg(result.error)
                .arg(result.bytes)
                .arg(leftAlone));
        return ExitFailed;
    }
    if (!result.complete()) {
        say(QStringLiteral("the server sent no data; %1").arg(leftAlone));
        return ExitFailed;
    }
    std::printf("Saved %s (%lld bytes)\n", qPrintable(target), static_cast<long long>(result.bytes));
    return 0;
}

// Still waits on its own stack until the command is event-driven.
void startDownload(const QStringList &args, CommandDone done)
{
    done(runDownload(args));
}
