// How long after "play OpenFile" the first sound reaches the sink, over
// loopback HTTP, through libmpv into a private PulseAudio null sink.
//
//   bench_play_latency [runs]      (default 7)
//
// Two cases, each run `runs` times, medians printed:
//   cold  - the program's own sequence: close, open, play, volume sent back to
//           back, so the time includes fetching and decoding the address;
//   warm  - the address is already open (loaded, paused) when play is sent.
// The time is wall-clock time from sending play until the recorder (parec,
// 10 ms fragments) received the first non-silent sample of the sink's output.
// The very first play of the process, which also connects to the sound
// server, is reported on its own and left out of the medians.
#include "SoundServer.h"
#include "ToneMp3.h"
#include "common/TestEnvironment.h"
#include "common/TestServer.h"
#include "core/playback/MediaCommandLayer.h"
#include "core/playback/MediaCommands.h"
#include "core/playback/MpvBackend.h"

#include "shared/Median.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

constexpr int Quiet = 16; // a sample above this is sound

template <typename Done> bool spinUntil(Done done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QTimer tick; // wakes the loop even when nothing else happens
    tick.start(5);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    prepareTestEnvironment();
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 7;

    NullSinkServer sound;
    QString whyNot;
    if (!sound.start(&whyNot)) {
        std::fprintf(stderr, "no sound server: %s\n", qPrintable(whyNot));
        return 77;
    }
    qputenv("PULSE_SERVER", sound.address().toLocal8Bit());
    SinkRecorder recorder(sound);
    if (!recorder.start(&whyNot)) {
        std::fprintf(stderr, "no recorder: %s\n", qPrintable(whyNot));
        return 77;
    }

    TestServer web;
    web.serve(QStringLiteral("/tone.mp3"), ToneMp3::encode(440, 4), "audio/mpeg");
    web.start();
    const QString address = web.url(QStringLiteral("/tone.mp3"));

    auto owned = std::make_unique<MpvBackend>(MpvBackend::Options{{"ao", "pulse"}});
    MpvBackend *backend = owned.get();
    MediaCommandLayer media(std::move(owned));
    bool loaded = false;
    QObject::connect(backend, &MpvBackend::loaded, [&loaded] { loaded = true; });

    const auto quiet = [&recorder] {
        return recorder.sampleCount() > SinkRecorder::samples(300)
               && recorder.recentPeak(SinkRecorder::samples(300)) <= Quiet;
    };

    const auto measure = [&](bool warm) -> std::optional<double> {
        if (!spinUntil(quiet, 10000))
            return std::nullopt;
        if (warm) {
            loaded = false;
            media.send(MediaCommands::closeDevice());
            media.send(MediaCommands::open(address));
            if (!spinUntil([&] { return loaded && backend->position() >= 0; }, 10000))
                return std::nullopt;
        }
        QElapsedTimer clock;
        qsizetype mark = 0;
        double arrivalMs = -1;
        const QMetaObject::Connection watch = QObject::connect(&recorder, &SinkRecorder::samplesArrived, [&] {
            if (arrivalMs < 0 && recorder.firstAbove(Quiet, mark) >= 0)
                arrivalMs = double(clock.nsecsElapsed()) / 1e6;
        });
        if (!warm) {
            media.send(MediaCommands::closeDevice());
            media.send(MediaCommands::open(address));
        }
        mark = recorder.sampleCount();
        clock.start();
        media.send(MediaCommands::play());
        media.send(MediaCommands::setVolume(1000));
        const bool heard = spinUntil([&] { return arrivalMs >= 0; }, 10000);
        QObject::disconnect(watch);
        media.send(MediaCommands::closeAll());
        if (!heard)
            return std::nullopt;
        return arrivalMs;
    };

    int status = 0;
    if (const std::optional<double> first = measure(false)) {
        std::printf("first play of the process (cold, connects to the sound server): %.1f ms\n", *first);
    } else {
        std::printf("first play of the process: no sound within 10 s\n");
        status = 1;
    }
    for (const bool warm : {false, true}) {
        std::vector<double> wall;
        std::printf("%s (%s):\n", warm ? "warm" : "cold",
                    warm ? "already open and loaded, then play" : "close, open, play, volume back to back");
        for (int run = 1; run <= runs; ++run) {
            const std::optional<double> ms = measure(warm);
            if (!ms) {
                std::printf("  run %d: no sound within 10 s\n", run);
                status = 1;
                continue;
            }
            wall.push_back(*ms);
            std::printf("  run %d: %6.1f ms\n", run, *ms);
        }
        if (!wall.empty())
            std::printf("  median of %zu: %.1f ms (min %.1f, max %.1f)\n", wall.size(), median(wall),
                        *std::min_element(wall.begin(), wall.end()), *std::max_element(wall.begin(), wall.end()));
    }
    return status;
}
