// Song lookup benchmarks.
//
// 1. The whole extraction (the parse action once the page is in, with the
//    event loop turn that hands the page over) on recording
//    pages of 100 kB, 1 MB and 10 MB, realistic markup padded with song lists
//    before the player script, against one std::string_view::find pass over
//    the same page (a marker that is not there) measured in the same run,
//    and against the literal reading of the rules (a list split per step).
// 2. The CPU time the process spends while a GetBody fetch is under way for
//    5 s on a server that accepts the connection and never answers.
//
// Usage: bench_lookup [--skip-wait] [Google Benchmark options]
#include "LiteralExtraction.h"
#include "SongPages.h"
#include "core/lookup/PageFetcher.h"
#include "core/lookup/SongExtraction.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <arpa/inet.h>
#include <cstdio>
#include <map>
#include <netinet/in.h>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

class SilentPanel final : public SongPanelOutput {
public:
    void setStatus(const QString &) override {}
    void showDetails(const QString &, const SongDetails &details) override { benchmark::DoNotOptimize(details); }
    void showDefaultPicture() override {}
    FetchHandle showPicture(PictureSource, QString, std::function<void()> shown) override
    {
        return answerLater(std::move(shown));
    }
    void placeBadgeAfterSongName() override {}
    void setBadgeVisible(bool) override {}
};

const QString &pageOfSize(qsizetype bytes)
{
    static std::map<qsizetype, QString> pages;
    auto found = pages.find(bytes);
    if (found == pages.end()) {
        SongPageFields fields;
        const qsizetype bare = songPage(fields).toUtf8().size();
        QString page = songPage(fields, std::max<qsizetype>(0, bytes - bare));
        found = pages.emplace(bytes, std::move(page)).first;
    }
    return found->second;
}

const std::string &utf8PageOfSize(qsizetype bytes)
{
    static std::map<qsizetype, std::string> pages;
    auto found = pages.find(bytes);
    if (found == pages.end())
        found = pages.emplace(bytes, pageOfSize(bytes).toStdString()).first;
    return found->second;
}

void extraction(benchmark::State &run)
{
    const QString &page = pageOfSize(run.range(0));
    const QString address = recordingPagePrefix() + QStringLiteral("w1");
    SongState state;
    SilentPanel panel;
    SongLookups lookups(state, panel, [&page](const QString &, PageDone done) {
        return answerLater([&page, done = std::move(done)] { done(page); });
    });
    QEventLoop loop;
    for (auto _ : run) {
        lookups.start(address, [&loop](LookupOutcome) { loop.quit(); });
        loop.exec();
        benchmark::DoNotOptimize(state.MusicUrl);
    }
    if (state.MusicUrl != SongPageFields{}.audio)
        run.SkipWithError("the extraction found the wrong audio address");
    run.SetBytesProcessed(int64_t(run.iterations()) * int64_t(utf8PageOfSize(run.range(0)).size()));
}

void literalExtraction(benchmark::State &run)
{
    const QString &page = pageOfSize(run.range(0));
    const QString address = recordingPagePrefix() + QStringLiteral("w1");
    literal::Window window;
    for (auto _ : run) {
        window.calls.clear();
        literal::lookUp(window, address, page);
        benchmark::DoNotOptimize(window.song.MusicUrl);
    }
    run.SetBytesProcessed(int64_t(run.iterations()) * int64_t(utf8PageOfSize(run.range(0)).size()));
}

void findPass(benchmark::State &run)
{
    const std::string &page = utf8PageOfSize(run.range(0));
    const std::string_view view(page);
    for (auto _ : run) {
        std::size_t found = view.find("pcsong_nowhere\">");
        benchmark::DoNotOptimize(found);
    }
    run.SetBytesProcessed(int64_t(run.iterations()) * int64_t(page.size()));
}

constexpr int64_t Sizes[] = {100 * 1000, 1000 * 1000, 10 * 1000 * 1000};

// Collects the time per iteration of every run to print the ratios at the end.
class RatioReporter final : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> seconds;

    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                seconds[run.benchmark_name()] = run.real_accumulated_time / double(run.iterations);
        ConsoleReporter::ReportRuns(runs);
    }
};

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto toSeconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
}

// A listener that completes connections in the kernel and never reads or
// answers: the request goes out and nothing ever comes back.
int silentListener(int &port)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length);
    ::listen(listener, 16);
    port = ntohs(address.sin_port);
    return listener;
}

void measureIdleWait()
{
    int port = 0;
    const int listener = silentListener(port);
    const QString url = QStringLiteral("http://127.0.0.1:%1/s/never").arg(port);
    QElapsedTimer clock;
    const double cpuBefore = cpuSeconds();
    clock.start();
    std::optional<QString> body;
    QEventLoop loop;
    const FetchHandle fetch = GetBody(
        url,
        [&body, &loop](std::optional<QString> page) {
            body = std::move(page);
            loop.quit();
        },
        FetchLimits{15000, 5000});
    loop.exec();
    const double wall = double(clock.elapsed()) / 1000.0;
    const double cpu = cpuSeconds() - cpuBefore;
    ::close(listener);
    std::printf("\nA GetBody fetch under way on a server that never answers (idle limit 5 s):\n"
                "  wall %.3f s, CPU (user+system) %.4f s, result: %s\n",
                wall, cpu, body ? "a body (unexpected)" : "no answer, as expected");
}

} // namespace

BENCHMARK(extraction)->Arg(Sizes[0])->Arg(Sizes[1])->Arg(Sizes[2])->Unit(benchmark::kMicrosecond);
BENCHMARK(literalExtraction)->Arg(Sizes[0])->Arg(Sizes[1])->Arg(Sizes[2])->Unit(benchmark::kMicrosecond);
BENCHMARK(findPass)->Arg(Sizes[0])->Arg(Sizes[1])->Arg(Sizes[2])->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    bool skipWait = false;
    std::vector<char *> arguments;
    for (int i = 0; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--skip-wait")
            skipWait = true;
        else
            arguments.push_back(argv[i]);
    }
    int count = int(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\nExtraction time per page against one find pass over the same page:\n");
    for (const int64_t size : Sizes) {
        const std::string suffix = "/" + std::to_string(size);
        const auto extract = reporter.seconds.find("extraction" + suffix);
        const auto literal = reporter.seconds.find("literalExtraction" + suffix);
        const auto find = reporter.seconds.find("findPass" + suffix);
        if (extract == reporter.seconds.end() || find == reporter.seconds.end())
            continue;
        std::printf("  %9lld bytes: extraction %10.1f us, find pass %9.1f us, ratio %6.2f", static_cast<long long>(size),
                    extract->second * 1e6, find->second * 1e6, extract->second / find->second);
        if (literal != reporter.seconds.end())
            std::printf("; literal splits %10.1f us, ratio %7.2f", literal->second * 1e6, literal->second / find->second);
        std::printf("\n");
    }
    if (!skipWait)
        measureIdleWait();
    benchmark::Shutdown();
    return 0;
}
