#include "cli/Commands.h"

#include <QApplication>
#include <QStringList>

#include <cstdio>

namespace {

constexpr char Usage[] =
    "Usage: kelvaro COMMAND [ARGS]\n"
    "\n"
    "The command-line companion of Kelvaro Helper.\n"
    "\n"
    "Commands:\n"
    "  lookup URL [URL...]      look up recording pages, one JSON line each\n"
    "  download URL [-o FILE]   save an address to a file, with progress\n"
    "  help                     show this text\n";

int usage(FILE *stream, int status)
{
    std::fputs(Usage, stream);
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    // Pictures are decoded and the network runs on the Qt event loop, so a
    // GUI application object is needed even without a window.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments().mid(1);
    if (args.isEmpty())
        return usage(stderr, 2);
    const QString command = args.first();
    if (command == QLatin1String("help") || command == QLatin1String("--help") || command == QLatin1String("-h"))
        return usage(stdout, 0);
    if (command == QLatin1String("lookup"))
        return runLookup(args.mid(1));
    if (command == QLatin1String("download"))
        return runDownload(args.mid(1));
    std::fprintf(stderr, "kelvaro: unknown command '%s'\n\n", qPrintable(command));
    return usage(stderr, 2);
}
