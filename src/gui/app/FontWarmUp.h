#pragma once
#include <thread>

// Fontconfig's set-up on a thread of its own. The first text the window
// measures makes fontconfig read its configuration files and font caches,
// the largest single piece of showing the window; started at the top of
// main, that runs while the application connects to the display and makes
// the window's controls, on another core. wait() (or the destructor) joins
// it; call it before the first text is measured, so that the window's
// thread finds fontconfig ready instead of setting it up a second time.
class FontWarmUp {
public:
    FontWarmUp();
    ~FontWarmUp();
    FontWarmUp(const FontWarmUp &) = delete;
    FontWarmUp &operator=(const FontWarmUp &) = delete;

    void wait();

private:
    std::thread m_thread;
};
