// kelvaro-demo-site: the local Kelvaro community as a standalone proxy.
// Prints one line with its address, then serves until SIGINT or SIGTERM.

#include "DemoSite.h"

#include <QCommandLineParser>
#include <QGuiApplication>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <pthread.h>

int main(int argc, char *argv[])
{
    // The server's threads must leave the stop signals to sigwait below, so
    // they are blocked before any thread exists.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    // A GUI application for the pictures' lettering, never shown anywhere.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("kelvaro-demo-site"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The local Kelvaro community: an HTTP proxy on 127.0.0.1 that answers for the community's "
                       "and the publisher's hosts. Run the program with http_proxy=http://127.0.0.1:PORT."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Port on 127.0.0.1 (0: any free port)."),
                                        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption versionOption(QStringLiteral("version-text"),
                                           QStringLiteral("Whole body of the version file."), QStringLiteral("TEXT"),
                                           QString::fromUtf8(demo::DefaultVersionText.data(),
                                                             qsizetype(demo::DefaultVersionText.size())));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"),
                                           QStringLiteral("Log every request on standard error."));
    const QCommandLineOption brokenOption(QStringLiteral("broken-audio"),
                                          QStringLiteral("The recording of this work id breaks off halfway "
                                                         "(may be repeated)."),
                                          QStringLiteral("ID"));
    const QCommandLineOption pauseOption(QStringLiteral("audio-pause"),
                                         QStringLiteral("Pause between 4 KiB pieces of a recording, in ms."),
                                         QStringLiteral("MS"), QStringLiteral("0"));
    parser.addOptions({portOption, versionOption, verboseOption, brokenOption, pauseOption});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "kelvaro-demo-site: unexpected argument '%s'\n",
                     qPrintable(parser.positionalArguments().first()));
        return 2;
    }
    bool portIsNumber = false;
    const int port = parser.value(portOption).toInt(&portIsNumber);
    if (!portIsNumber || port < 0 || port > 65535) {
        std::fprintf(stderr, "kelvaro-demo-site: --port wants a number from 0 to 65535\n");
        return 2;
    }

    demo::DemoSiteOptions options;
    options.versionText = parser.value(versionOption).toStdString();
    options.logRequests = parser.isSet(verboseOption);
    for (const QString &id : parser.values(brokenOption))
        options.brokenAudio.insert(id.toStdString());
    options.audioPauseMs = std::max(0, parser.value(pauseOption).toInt());
    demo::DemoSite site(options);
    if (!site.start(port)) {
        std::fprintf(stderr, "kelvaro-demo-site: cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    std::printf("kelvaro-demo-site: listening on 127.0.0.1:%d\n", site.port());
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    site.stop();
    return 0;
}
