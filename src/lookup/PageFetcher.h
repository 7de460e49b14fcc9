#pragma once
#include <QString>
#include <optional>

// Time limits of one page fetch. The connect limit runs until the request has
// been sent; the idle limit runs while no byte arrives.
struct FetchLimits {
    int connectMs = 15000;
    int idleMs = 60000;
};

// One HTTP GET of `url`, returning the whole body as text whatever the status
// (an error page is text like any other), or nothing when no answer arrived.
// The only header added is "If-Modified-Since: 0". It waits in a nested event
// loop: the window keeps handling every event meanwhile, and a fetch started
// from inside that wait runs to its end before this one returns.
std::optional<QString> GetBody(const QString &url, const FetchLimits &limits = {});
