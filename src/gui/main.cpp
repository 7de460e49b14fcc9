#include "gui/app/Appearance.h"
#include "gui/app/FontWarmUp.h"
#include "gui/app/Program.h"
#include "core/lookup/PageFetcher.h"
#include "gui/widgets/Desktop.h"
#include "gui/widgets/Dialogs.h"
#include "core/playback/MediaCommandLayer.h"
#include "core/playback/MpvBackend.h"

#include "core/endpoints/Endpoints.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace {

constexpr char Usage[] =
    "Usage: kelvaro-helper [--help | --version]\n"
    "\n"
    "Looks up, plays and saves recordings of the Kelvaro karaoke community in a\n"
    "window. Without options it opens the window.\n"
    "\n"
    "  -h, --help     show this text\n"
    "  --version      show the program's version\n"
    "\n"
    "See also kelvaro(1), the command-line companion.\n";

// --help and --version are answered before the application object exists:
// creating it needs a display, and these two answers must not.
// Returns the exit status, or -1 when the window is to start.
int answerWithoutWindow(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("kelvaro-helper %s\n", Endpoints::ProgramVersion);
            return 0;
        }
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (const int status = answerWithoutWindow(argc, argv); status >= 0)
        return status;
    FontWarmUp fonts;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kelvaro-helper"));
    // Decoded on another thread while the window's controls measure their
    // texts: the window's pictures in the order it puts them up, then the
    // icon it wears when it shows.
    preloadBundledPictures(QStringList{QStringLiteral(":/lookup-button.png"), QStringLiteral(":/default-singer.png"),
                                       QStringLiteral(":/picture-frame.png"), QStringLiteral(":/mv-badge.png"),
                                       QStringLiteral(":/status-strip.png"), QStringLiteral(":/panel-close.png"),
                                       QStringLiteral(":/title-banner.png"), QStringLiteral(":/title-buttons.png"),
                                       QStringLiteral(":/frame-skin.png")}
                           + builtInIconFiles());
    applyAppearance(app);
    if (!loadQtTranslations(app))
        qWarning("kelvaro-helper: Qt's Chinese translations (qtbase_zh_CN) are not installed");

    QtDialogService dialogs;
    SystemDesktop desktop;
    // The audio backend needs the application object to exist first.
    MediaCommandLayer media(std::make_unique<MpvBackend>());

    fonts.wait(); // the window's controls measure their texts
    Program program(app, ProgramServices{
                             dialogs,
                             desktop,
                             media,
                             [] { QCoreApplication::exit(0); },
                             [](const QString &url, PageDone done) { return GetBody(url, std::move(done)); },
                             QCoreApplication::applicationDirPath(),
                             [](const QString &url, PageDone done) { return GetPage(url, std::move(done)); },
                         });
    // Start-up runs inside the event loop, so that ending the program at
    // once (the version check's update path) simply leaves that loop.
    QTimer::singleShot(0, &program, &Program::Form_Load);
    return QApplication::exec();
}
