// Measures, on an X display, how long a program takes from its start to its
// main window being mapped, and how much memory it holds once idle.
//
//   startup_bench RUNS WIDTH HEIGHT IDLE_MS -- PROGRAM [ARGS...]
//
// For each run it forks and executes the program, waits for the first window
// of WIDTH x HEIGHT to be mapped (the X server reports it), waits IDLE_MS,
// reads the program's resident memory, and ends it. Prints each run and the
// medians.
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

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

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

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 7 || std::string(argv[5]) != "--") {
        std::fprintf(stderr, "usage: %s RUNS WIDTH HEIGHT IDLE_MS -- PROGRAM [ARGS...]\n", argv[0]);
        return 2;
    }
    const int runs = std::atoi(argv[1]);
    const int width = std::atoi(argv[2]);
    const int height = std::atoi(argv[3]);
    const int idleMs = std::atoi(argv[4]);

    std::vector<double> shownMs;
    std::vector<double> rssMiB;
    for (int run = 0; run < runs; ++run) {
        xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection)) {
            std::fprintf(stderr, "startup_bench: no X display\n");
            return 1;
        }
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection, screen->root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection);

        const auto start = std::chrono::steady_clock::now();
        const pid_t pid = fork();
        if (pid == 0) {
            execvp(argv[6], argv + 6);
            _exit(127);
        }
        const bool mapped = waitForMap(connection, width, height);
        const auto shown = std::chrono::steady_clock::now();
        xcb_disconnect(connection);
        if (!mapped) {
            std::fprintf(stderr, "startup_bench: no window appeared\n");
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(idleMs));
        const long rss = residentKiB(pid);
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);

        shownMs.push_back(std::chrono::duration<double, std::milli>(shown - start).count());
        rssMiB.push_back(rss / 1024.0);
        std::printf("run %d: shown after %.1f ms, idle RSS %.1f MiB\n", run + 1, shownMs.back(), rssMiB.back());
    }
    std::printf("median: shown after %.1f ms, idle RSS %.1f MiB\n", median(shownMs), median(rssMiB));
    return 0;
}
