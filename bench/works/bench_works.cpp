// Works crawl benchmark: the scan and the row building on singer pages with
// 100, 1000 and 10000 works, against the steps read literally (the whole page
// split again for every step of every row) in the same run. The literal
// reading is quadratic, so it runs on the two smaller pages only.
//
// Usage: bench_works [Google Benchmark options]
#include "WorksPages.h"

#include <benchmark/benchmark.h>

#include <map>

namespace {

const QString &pageWithWorks(int works)
{
    static std::map<int, QString> pages;
    auto found = pages.find(works);
    if (found == pages.end())
        found = pages.emplace(works, singerPage(ordinaryRows(works))).first;
    return found->second;
}

template <typename Build>
void crawl(benchmark::State &bench, Build build)
{
    const QString &page = pageWithWorks(int(bench.range(0)));
    for (auto _ : bench) {
        WorksCrawlState state;
        state.Seg[0] = page;
        countWorkRows(state);
        benchmark::DoNotOptimize(build(state));
    }
    bench.counters["chars"] = double(page.size());
}

void rows(benchmark::State &bench)
{
    crawl(bench, [](WorksCrawlState &state) { return buildWorkRows(state); });
}

void literalRows(benchmark::State &bench)
{
    crawl(bench, [](WorksCrawlState &state) { return buildWorkRowsLiterally(state); });
}

} // namespace

BENCHMARK(rows)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(literalRows)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
