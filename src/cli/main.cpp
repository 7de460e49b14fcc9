#include "cli/Commands.h"
#include "core/endpoints/Endpoints.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <optional>
#include <utility>

namespace {

constexpr char Usage[] =
    "Usage: kelvaro COMMAND [ARGS]\n"
    "\n"
    "The command-line companion of Kelvaro Helper.\n"
    "\n"
    "Commands:\n"
    "  lookup URL [URL...]      look up recording pages, one JSON line each\n"
    "  download URL [-o FILE]   save an address to a file, with progress; continues a\n"
    "                           cut transfer, retries short failures (download --help)\n"
    "  works URL                list a singer's works, one tab-separated row per line\n"
    "  get URL... [-d DIR]      save recordings, or all works of a singer, as MP3 files\n"
    "  help, --help             show this text\n"
    "  --version                show the version\n"
    "\n"
    "lookup exits 0 when every address gave a page, 1 when a fetch failed,\n"
    "2 for a usage error or a refused address.\n";

int usage(FILE *stream, int status)
{
    std::fputs(Usage, stream);
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    // No command needs a window: pictures are decoded and the network runs
    // on a plain event loop, so the companion needs no display.
    const QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty())
        return usage(stderr, 2);
    const QString command = args.first();
    if (command == QLatin1String("help") || command == QLatin1String("--help") || command == QLatin1String("-h"))
        return usage(stdout, 0);
    if (command == QLatin1String("--version")) {
        std::printf("kelvaro %s\n", Endpoints::ProgramVersion);
        return 0;
    }
    using Start = void (*)(const QStringList &, CommandDone);
    const std::pair<const char *, Start> commands[] = {
        {"lookup", startLookup}, {"download", startDownload}, {"works", startWorks}, {"get", startGet}};
    for (const auto &[name, start] : commands) {
        if (command != QLatin1String(name))
            continue;
        // The one event loop of the process: every command runs on it and
        // ends it through `done`, which may come before the loop has started.
        std::optional<int> status;
        start(args.mid(1), [&status](int result) {
            if (status)
                return;
            status = result;
            QCoreApplication::exit(result);
        });
        return status ? *status : QCoreApplication::exec();
    }
    std::fprintf(stderr, "kelvaro: unknown command '%s'\n\n", qPrintable(command));
    return usage(stderr, 2);
}
