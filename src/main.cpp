#include "app/Appearance.h"
#include "app/Program.h"
#include "lookup/PageFetcher.h"
#include "platform/Desktop.h"
#include "platform/Dialogs.h"
#include "playback/MediaCommandLayer.h"
#include "playback/MpvBackend.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kelvaro-helper"));
    applyAppearance(app);
    if (!loadQtTranslations(app))
        qWarning("kelvaro-helper: Qt's Chinese translations (qtbase_zh_CN) are not installed");

    QtDialogService dialogs;
    SystemDesktop desktop;
    // The audio backend needs the application object to exist first.
    MediaCommandLayer media(std::make_unique<MpvBackend>());

    Program program(app, ProgramServices{
                             dialogs,
                             desktop,
                             media,
                             [] { QCoreApplication::exit(0); },
                             [](const QString &url) { return GetBody(url); },
                             QCoreApplication::applicationDirPath(),
                             [](const QString &url) { return GetPage(url); },
                         });
    // Start-up runs inside the event loop, so that ending the program at
    // once (the version check's update path) simply leaves that loop.
    QTimer::singleShot(0, &program, &Program::Form_Load);
    return QApplication::exec();
}
