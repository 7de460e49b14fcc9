#pragma once
#include <QStringList>

#include <functional>

// The companion's commands. Each takes the arguments after its own name,
// starts its work on the application's event loop and returns at once; it
// calls `done` exactly once, with the process's exit status, when it has
// finished (possibly before it returns, for a usage error). main() runs the
// event loop once and leaves it with that status.
using CommandDone = std::function<void(int status)>;

// lookup URL [URL...]: looks the addresses up one after another, as successive
// lookups in the window would, printing one JSON line per address.
void startLookup(const QStringList &args, CommandDone done);

// download URL [-o FILE]: saves an address to a file with a progress bar.
void startDownload(const QStringList &args, CommandDone done);

// works URL: the works table of a singer home page, one tab-separated row per line.
void startWorks(const QStringList &args, CommandDone done);

// get URL... [-d DIR]: saves recordings and whole singers' works as MP3 files.
void startGet(const QStringList &args, CommandDone done);
