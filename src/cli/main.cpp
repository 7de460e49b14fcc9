#include "cli/Commands.h"

#include <QApplication>
#include <QStringList>

#include <cstdio>
#include <memory>

namespace {

constexpr char Usage[] =
    "Usage: kelvaro COMMAND [ARGS]\n"
    "\n"
    "The command-line companion of Kelvaro Helper.\n"
    "\n"
    "Commands:\n"
    "  lookup URL [URL...]      look up recording pages, one JSON line each\n"
    "  download URL [-o FILE]   save an address to a file, with progress\n"
    "  works URL                list a singer's works, one tab-separated row per line\n"
    "  get URL... [-d DIR]      save recordings, or all works of a singer, as MP3 files\n"
    "  help                     show this text\n";

int usage(FILE *stream, int status)
{
    std::fputs(Usage, stream);
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    // The works commands need no GUI: without one the program starts in a
    // fraction of the time, which a listing of a singer's works is mostly.
    const bool withoutGui = argc > 1 && (qstrcmp(argv[1], "works") == 0 || qstrcmp(argv[1], "get") == 0);
    // Pictures are decoded and the network runs on the Qt event loop, so the
    // other commands need a GUI application object even without a window.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::unique_ptr<QCoreApplication> app =
        withoutGui ? std::make_unique<QCoreApplication>(argc, argv) : std::make_unique<QApplication>(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty())
        return usage(stderr, 2);
    const QString command = args.first();
    if (command == QLatin1String("help") || command == QLatin1String("--help") || command == QLatin1String("-h"))
        return usage(stdout, 0);
    if (command == QLatin1String("lookup"))
        return runLookup(args.mid(1));
    if (command == QLatin1String("download"))
        return runDownload(args.mid(1));
    if (command == QLatin1String("works"))
        return runWorks(args.mid(1));
    if (command == QLatin1String("get"))
        return runGet(args.mid(1));
    std::fprintf(stderr, "kelvaro: unknown command '%s'\n\n", qPrintable(command));
    return usage(stderr, 2);
}
