// kelvaro download URL [-o FILE]: the desktop program's download engine,
// with a progress bar on stderr and an exit status a script can trust.
#include "cli/Commands.h"

#include "download/Cls_DownLoad.h"
#include "download/DownloadPanelLogic.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QUrl>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr char DownloadUsage[] = "Usage: kelvaro download URL [-o FILE]\n"
                                 "\n"
                                 "Saves the resource at URL to FILE, or to the last part of the address\n"
                                 "in the current folder. Only a complete download replaces an existing\n"
                                 "FILE; Ctrl-C stops the transfer and leaves it as it was.\n";

constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;
constexpr int ExitStopped = 130; // as a shell reports a Ctrl-C

void say(const QString &text)
{
    std::fprintf(stderr, "kelvaro: %s\n", qPrintable(text));
}

QString humanBytes(qint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 B").arg(bytes);
    static const char *const units[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = double(bytes) / 1024.0;
    int unit = 0;
    while (value >= 1024.0 && unit < 3) {
        value /= 1024.0;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(value, 0, 'f', 1).arg(QLatin1String(units[unit]));
}

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

// One line on stderr, redrawn in place a few times a second.
class ProgressLine {
public:
    void start() { m_clock.start(); }

    void update(qint64 done, qint64 total, bool force)
    {
        if (!force && m_drawn && m_lastDraw.elapsed() < 200)
            return;
        m_lastDraw.start();
        m_drawn = true;
        const double seconds = std::max(0.001, double(m_clock.elapsed()) / 1000.0);
        const QString speed = humanBytes(qint64(double(done) / seconds)) + QStringLiteral("/s");
        QString line;
        if (total > 0) {
            const qint64 percent = std::min<qint64>(100, done * 100 / total);
            const int filled = int(percent * Width / 100);
            line = QStringLiteral("[%1%2] %3%  %4 of %5  %6")
                       .arg(QString(filled, QLatin1Char('#')), QString(Width - filled, QLatin1Char('-')))
                       .arg(percent, 3)
                       .arg(humanBytes(done), humanBytes(total), speed);
        } else {
            line = QStringLiteral("%1  %2").arg(humanBytes(done), speed);
        }
        const qsizetype width = line.size();
        line = line.leftJustified(std::max(width, m_width));
        m_width = width;
        std::fprintf(stderr, "\r%s", qPrintable(line));
        std::fflush(stderr);
    }

    void end()
    {
        if (m_drawn)
            std::fputc('\n', stderr);
        m_drawn = false;
    }

private:
    static constexpr int Width = 30;
    QElapsedTimer m_clock;
    QElapsedTimer m_lastDraw;
    bool m_drawn = false;
    qsizetype m_width = 0;
};

// Ctrl-C reaches the event loop through a pipe: the handler only writes one
// byte, the loop does the rest between chunks.
int interruptPipe[2] = {-1, -1};

extern "C" void onInterrupt(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(interruptPipe[1], &byte, 1);
}

class InterruptWatch {
public:
    template<typename Slot>
    explicit InterruptWatch(Slot onInterrupted)
    {
        if (::pipe2(interruptPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        m_notifier = std::make_unique<QSocketNotifier>(interruptPipe[0], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this, onInterrupted] {
            char drained[16];
            while (::read(interruptPipe[0], drained, sizeof drained) > 0) {
            }
            // A second Ctrl-C ends the program the ordinary way, for when the
            // server has gone quiet and the stop waits for its next chunk.
            std::signal(SIGINT, SIG_DFL);
            onInterrupted();
        });
        struct sigaction action{};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, &m_previous);
    }

    ~InterruptWatch()
    {
        if (!m_notifier)
            return;
        sigaction(SIGINT, &m_previous, nullptr);
        m_notifier.reset();
        ::close(interruptPipe[0]);
        ::close(interruptPipe[1]);
        interruptPipe[0] = interruptPipe[1] = -1;
    }

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
    struct sigaction m_previous{};
};

} // namespace

int runDownload(const QStringList &args)
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
    const QString target = QFileInfo(output).absoluteFilePath();

    Cls_DownLoad engine;
    ProgressLine progress;
    qint64 lastDone = 0;
    qint64 lastTotal = 0;
    QObject::connect(&engine, &Cls_DownLoad::DLFileStatus, [&](int state) {
        if (state == 4)
            progress.start();
    });
    QObject::connect(&engine, &Cls_DownLoad::DLFileDowning,
                     [&](const QString &, qint64 done, qint64 total, qint64) {
                         lastDone = done;
                         lastTotal = total;
                         progress.update(done, total, false);
                     });
    bool interrupted = false;
    const InterruptWatch watch([&] {
        interrupted = true;
        engine.DLFileStop();
    });

    const DownloadResult result = engine.DLFile(url, target, 10000);
    if (lastDone > 0)
        progress.update(lastDone, lastTotal, true);
    progress.end();

    using Ending = DownloadResult::Ending;
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
        say(QStringLiteral("stopped after %1 bytes; %2 was left as it was").arg(result.bytes).arg(target));
        return interrupted ? ExitStopped : ExitFailed;
    case Ending::Finished:
        break;
    }
    if (result.shortTransfer) {
        say(QStringLiteral("the transfer ended short (%1) after %2 bytes; %3 was left as it was")
                .arg(result.error)
                .arg(result.bytes)
                .arg(target));
        return ExitFailed;
    }
    if (result.httpStatus / 100 != 2) {
        say(QStringLiteral("the server answered with status %1; %2 was left as it was")
                .arg(result.httpStatus)
                .arg(target));
        return ExitFailed;
    }
    if (!result.complete()) {
        say(QStringLiteral("the server sent no data; %1 was left as it was").arg(target));
        return ExitFailed;
    }
    std::printf("Saved %s (%lld bytes)\n", qPrintable(target), static_cast<long long>(result.bytes));
    return 0;
}
