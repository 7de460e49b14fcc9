// How the download engine compares with curl on one large file over loopback,
// what it costs in CPU and memory, and whether the event loop stays live
// while it runs.
//
//   bench_download [--size-mib N] [--runs N]
//
// A local server (its own thread, reading the file from disk) serves the
// same file to both; the runs alternate and the report gives medians.
#include "core/download/Cls_DownLoad.h"

#include "shared/Median.h"

#include <httplib.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int TickMs = 10;

double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM").
qint64 statusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Starts the peak (VmHWM) afresh at the current resident size.
bool resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

bool writeSource(const QString &path, qint64 bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qint64 done = 0; done < bytes; done += block.size()) {
        for (int i = 0; i < block.size(); ++i)
            block[i] = char(((done + i) * 7 + ((done + i) >> 12)) & 0xff);
        if (file.write(block.constData(), std::min<qint64>(block.size(), bytes - done)) < 0)
            return false;
    }
    return true;
}

bool sameContent(const QString &a, const QString &b)
{
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    if (fa.size() == 0)
        return true;
    uchar *ma = fa.map(0, fa.size());
    uchar *mb = fb.map(0, fb.size());
    return ma && mb && std::memcmp(ma, mb, size_t(fa.size())) == 0;
}

// Serves `path` at /file from its own thread, reading the disk in 64 KiB pieces.
class FileServer {
public:
    explicit FileServer(const QString &path) : m_fd(::open(path.toLocal8Bit().constData(), O_RDONLY))
    {
        m_size = ::lseek(m_fd, 0, SEEK_END);
        m_server.set_keep_alive_max_count(1);
        m_server.set_socket_options([](socket_t sock) {
            int yes = 1;
            setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
            setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        });
        m_server.Get("/file", [this](const httplib::Request &, httplib::Response &res) {
            res.set_content_provider(size_t(m_size), "application/octet-stream",
                                     [this](size_t offset, size_t length, httplib::DataSink &sink) {
                                         char piece[64 * 1024];
                                         const ssize_t got = ::pread(m_fd, piece, std::min(length, sizeof piece),
                                                                     off_t(offset));
                                         return got > 0 && sink.write(piece, size_t(got));
                                     });
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~FileServer()
    {
        m_server.stop();
        m_thread.join();
        ::close(m_fd);
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/file").arg(m_port); }

private:
    int m_fd;
    off_t m_size = 0;
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
};

struct OurRun {
    double wall;
    double cpuProcess; // every thread: ours, libcurl's resolver and the server's
    double cpuThread;  // the GUI thread alone
    double rssGrowthMiB;
    double worstLateMs;
    bool ok;
};

OurRun runEngine(const QString &url, const QString &target, const QString &source)
{
    Cls_DownLoad engine;
    QElapsedTimer ticking;
    double worstLate = 0;
    qint64 lastTick = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(TickMs);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = ticking.nsecsElapsed();
        worstLate = std::max(worstLate, double(now - lastTick) / 1e6 - TickMs);
        lastTick = now;
    });

    const bool peakReset = resetPeak();
    const qint64 rssBefore = peakReset ? statusKiB("VmRSS") : statusKiB("VmHWM");
    const double processBefore = cpuSeconds(RUSAGE_SELF);
    const double threadBefore = cpuSeconds(RUSAGE_THREAD);
    QElapsedTimer wall;
    wall.start();
    ticking.start();
    tick.start();
    // The engine reports from the event loop; the bench runs it until the end.
    DownloadResult result;
    QEventLoop loop;
    QObject::connect(&engine, &Cls_DownLoad::DLFileFinished, &loop, [&](const DownloadResult &ended) {
        result = ended;
        loop.quit();
    });
    if (engine.DLFile(url, target))
        loop.exec();
    tick.stop();
    // The stretch after the last tick counts too.
    worstLate = std::max(worstLate, double(ticking.nsecsElapsed() - lastTick) / 1e6 - TickMs);
    OurRun run{};
    run.wall = double(wall.nsecsElapsed()) / 1e9;
    run.cpuProcess = cpuSeconds(RUSAGE_SELF) - processBefore;
    run.cpuThread = cpuSeconds(RUSAGE_THREAD) - threadBefore;
    run.rssGrowthMiB = double(statusKiB("VmHWM") - rssBefore) / 1024.0;
    run.worstLateMs = worstLate;
    run.ok = result.complete() && sameContent(source, target);
    QFile::remove(target);
    return run;
}

double runCurl(const QString &url, const QString &target, const QString &source, bool *ok)
{
    QProcess curl;
    QElapsedTimer wall;
    wall.start();
    curl.start(QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("-o"), target, url});
    const bool finished = curl.waitForStarted() && curl.waitForFinished(-1);
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    *ok = finished && curl.exitCode() == 0 && sameContent(source, target);
    QFile::remove(target);
    return seconds;
}

} // namespace

int main(int argc, char *argv[])
{
    // Straight to 127.0.0.1, for us and for curl.
    for (const char *name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        qunsetenv(name);
    QCoreApplication app(argc, argv);
    qint64 sizeMiB = 256;
    int runs = 5;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--size-mib"))
            sizeMiB = args[i + 1].toLongLong();
        else if (args[i] == QLatin1String("--runs"))
            runs = args[i + 1].toInt();
    }
    if (sizeMiB <= 0 || runs <= 0) {
        std::fprintf(stderr, "usage: bench_download [--size-mib N] [--runs N]\n");
        return 2;
    }

    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source.bin"));
    const QString target = dir.filePath(QStringLiteral("target.bin"));
    if (!dir.isValid() || !writeSource(source, sizeMiB << 20)) {
        std::fprintf(stderr, "bench_download: cannot write the source file\n");
        return 1;
    }
    FileServer server(source);
    std::printf("download of %lld MiB over loopback, %d runs each (engine, then curl -s -o)\n",
                static_cast<long long>(sizeMiB), runs);

    std::vector<double> ours, curls, ratios, cpuProcess, cpuThread, rss, late;
    bool allOk = true;
    for (int i = 0; i < runs; ++i) {
        const OurRun run = runEngine(server.url(), target, source);
        bool curlOk = false;
        const double curlWall = runCurl(server.url(), target, source, &curlOk);
        allOk = allOk && run.ok && curlOk;
        ours.push_back(run.wall);
        curls.push_back(curlWall);
        ratios.push_back(run.wall / curlWall);
        cpuProcess.push_back(run.cpuProcess);
        cpuThread.push_back(run.cpuThread);
        rss.push_back(run.rssGrowthMiB);
        late.push_back(run.worstLateMs);
        std::printf("run %d: engine %.3f s (%.0f MiB/s)%s, curl %.3f s (%.0f MiB/s)%s, ratio %.2f, "
                    "cpu %.3f s (gui thread %.3f s), peak rss +%.1f MiB, worst tick lateness %.1f ms\n",
                    i + 1, run.wall, double(sizeMiB) / run.wall, run.ok ? "" : " WRONG BYTES", curlWall,
                    double(sizeMiB) / curlWall, curlOk ? "" : " FAILED", run.wall / curlWall, run.cpuProcess,
                    run.cpuThread, run.rssGrowthMiB, run.worstLateMs);
    }

    const double ratio = median(ratios);
    const double growth = median(rss);
    const double worstLate = *std::max_element(late.begin(), late.end());
    std::printf("\nmedian wall: engine %.3f s, curl %.3f s\n", median(ours), median(curls));
    std::printf("median ratio engine/curl: %.2f (goal <= 1.5: %s)\n", ratio, ratio <= 1.5 ? "met" : "MISSED");
    std::printf("median engine cpu: %.3f s for the process, %.3f s on the gui thread\n", median(cpuProcess),
                median(cpuThread));
    std::printf("median peak rss growth: %.1f MiB (goal < 32 MiB: %s)\n", growth, growth < 32 ? "met" : "MISSED");
    std::printf("worst 10 ms tick lateness over all runs: %.1f ms (goal <= 50 ms: %s)\n", worstLate,
                worstLate <= 50 ? "met" : "MISSED");
    if (!allOk) {
        std::printf("some transfers did not deliver the file intact\n");
        return 1;
    }
    return 0;
}
