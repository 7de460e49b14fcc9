// Measures, on an X display, how long a program takes from its start to its
// main window being mapped, and how much memory it holds once idle.
//
//   startup_bench RUNS WIDTH HEIGHT IDLE_MS -- BASELINE [ARGS...] -- PROGRAM [ARGS...]
//
// For each run it starts the baseline and then the program: forks and
// executes each, waits for its first window of WIDTH x HEIGHT to be mapped
// (the X server reports it), waits IDLE_MS, reads its resident memory, and
// ends it. Prints each run, the medians, and the median of the per-run ratios.
#include "shared/Median.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

long residentKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return -1;
}

// Waits for a MapNotify of a WIDTH x HEIGHT window; returns false after 30 s.
bool waitForMap(xcb_connection_t *connection, int width, int height)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        xcb_generic_event_t *event = xcb_poll_for_event(connection);
        if (!event) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            continue;
        }
        bool found = false;
        if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY) {
            const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(event);
            xcb_get_geometry_reply_t *geometry =
                xcb_get_geometry_reply(connection, xcb_get_geometry(connection, map->window), nullptr);
            found = geometry && geometry->width == width && geometry->height == height;
            free(geometry);
        }
        free(event);
        if (found)
            return true;
    }
    return false;
}

struct Sample {
    double shownMs = 0;
    double rssMiB = 0;
};

// One start of the program: fork, exec, wait for its window, let it idle,
// read its memory, end it.
bool measure(char **program, int width, int height, int idleMs, Sample &sample)
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "startup_bench: no X display\n");
        return false;
    }
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, screen->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection);

    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(program[0], program);
        _exit(127);
    }
    const bool mapped = waitForMap(connection, width, height);
    const auto shown = std::chrono::steady_clock::now();
    xcb_disconnect(connection);
    if (!mapped) {
        std::fprintf(stderr, "startup_bench: no window of %s appeared\n", program[0]);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(idleMs));
    const long rss = residentKiB(pid);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    sample.shownMs = std::chrono::duration<double, std::milli>(shown - start).count();
    sample.rssMiB = rss / 1024.0;
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    // startup_bench RUNS WIDTH HEIGHT IDLE_MS -- BASELINE [ARGS...] -- PROGRAM [ARGS...]
    std::vector<char *> baseline, program;
    int separators = 0;
    for (int i = 5; i < argc; ++i) {
        if (std::string(argv[i]) == "--") {
            ++separators;
            continue;
        }
        (separators == 1 ? baseline : program).push_back(argv[i]);
    }
    if (argc < 9 || separators != 2 || baseline.empty() || program.empty()) {
        std::fprintf(stderr, "usage: %s RUNS WIDTH HEIGHT IDLE_MS -- BASELINE [ARGS...] -- PROGRAM [ARGS...]\n", argv[0]);
        return 2;
    }
    baseline.push_back(nullptr);
    program.push_back(nullptr);
    const int runs = std::atoi(argv[1]);
    const int width = std::atoi(argv[2]);
    const int height = std::atoi(argv[3]);
    const int idleMs = std::atoi(argv[4]);

    // The two alternate, so that whatever else the machine does weighs on both.
    std::vector<double> baseShown, progShown, baseRss, progRss, ratios;
    for (int run = 0; run < runs; ++run) {
        Sample base, prog;
        if (!measure(baseline.data(), width, height, idleMs, base) || !measure(program.data(), width, height, idleMs, prog))
            return 1;
        baseShown.push_back(base.shownMs);
        progShown.push_back(prog.shownMs);
        baseRss.push_back(base.rssMiB);
        progRss.push_back(prog.rssMiB);
        ratios.push_back(prog.shownMs / base.shownMs);
        std::printf("run %2d: baseline %.1f ms %.1f MiB | program %.1f ms %.1f MiB | ratio %.2f\n", run + 1,
                    base.shownMs, base.rssMiB, prog.shownMs, prog.rssMiB, ratios.back());
    }
    std::printf("median: baseline shown after %.1f ms, idle RSS %.1f MiB\n", median(baseShown), median(baseRss));
    std::printf("median: program  shown after %.1f ms, idle RSS %.1f MiB\n", median(progShown), median(progRss));
    std::printf("median of the per-run ratios program/baseline: %.2f\n", median(ratios));
    return 0;
}
