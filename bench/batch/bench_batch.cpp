// `kelvaro get` on a singer of 40 works behind a local community whose every
// answer comes 200 ms late, as a far server's would: one work at a time
// against four at once, and against a shell loop of curl over the same 40
// recordings through the same proxy. The whole command is timed.
//
//   bench_batch KELVARO [--works N] [--delay MS] [--runs N] [--bytes N]
#include "BatchCommunity.h"

#include "shared/TimedCommand.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: bench_batch KELVARO [--works N] [--delay MS] [--runs N] [--bytes N]\n");
        return 2;
    }
    const QString kelvaro = args.takeFirst();
    BatchCommunity::Options options;
    options.works = 40;
    options.delayMs = 200;
    options.audioBytes = 512 * 1024;
    int runs = 3;
    for (qsizetype i = 0; i + 1 < args.size(); i += 2) {
        const int value = args.at(i + 1).toInt();
        if (args.at(i) == QLatin1String("--works"))
            options.works = value;
        else if (args.at(i) == QLatin1String("--delay"))
            options.delayMs = value;
        else if (args.at(i) == QLatin1String("--runs"))
            runs = value;
        else if (args.at(i) == QLatin1String("--bytes"))
            options.audioBytes = value;
    }
    BatchCommunity community(options);
    QTemporaryDir dir;
    std::printf("%d works of %d KiB, every answer %d ms late, median of %d runs\n", options.works,
                options.audioBytes / 1024, options.delayMs, runs);

    // The curl loop: one recording after another, as a script would fetch
    // the addresses it already has (no pages, no service, no tags).
    QString loop = QStringLiteral("set -e; cd \"$1\"; for i in $(seq 1 %1); do curl -sf -o \"w$i.mp3\" "
                                  "\"http://media.kelvaro.test/w/$((5000000 + i)).mp3\"; done")
                       .arg(options.works);
    std::vector<double> jobs1, jobs4, curl;
    for (int run = 0; run < runs; ++run) {
        const auto folder = [&](const QString &name) {
            const QString path = dir.filePath(QStringLiteral("%1-%2").arg(name).arg(run));
            QDir().mkpath(path);
            return path;
        };
        jobs1.push_back(timedCommand(kelvaro, {QStringLiteral("get"), BatchCommunity::singerAddress(), QStringLiteral("-d"),
                                        folder(QStringLiteral("jobs1")), QStringLiteral("--jobs"), QStringLiteral("1")},
                              community.proxy()));
        jobs4.push_back(timedCommand(kelvaro, {QStringLiteral("get"), BatchCommunity::singerAddress(), QStringLiteral("-d"),
                                        folder(QStringLiteral("jobs4")), QStringLiteral("--jobs"), QStringLiteral("4")},
                              community.proxy()));
        curl.push_back(timedCommand(QStringLiteral("sh"), {QStringLiteral("-c"), loop, QStringLiteral("sh"), folder(QStringLiteral("curl"))},
                             community.proxy()));
        if (jobs1.back() < 0 || jobs4.back() < 0 || curl.back() < 0) {
            std::fprintf(stderr, "bench_batch: a run failed (jobs 1: %.2f, jobs 4: %.2f, curl: %.2f)\n", jobs1.back(),
                         jobs4.back(), curl.back());
            return 1;
        }
        std::printf("  run %d: --jobs 1 %.2f s, --jobs 4 %.2f s, curl loop %.2f s\n", run + 1, jobs1.back(),
                    jobs4.back(), curl.back());
    }
    const double one = median(jobs1), four = median(jobs4), loopTime = median(curl);
    std::printf("kelvaro get --jobs 1   %6.2f s\n", one);
    std::printf("kelvaro get --jobs 4   %6.2f s   %.2f of --jobs 1 (goal <= 0.35)\n", four, four / one);
    std::printf("curl loop              %6.2f s   --jobs 4 takes %.2f of it (goal < 1)\n", loopTime, four / loopTime);
    std::printf("most answers at once at the server: %d (recordings: %d)\n", community.mostAtOnce(),
                community.mostAudioAtOnce());
    return 0;
}
