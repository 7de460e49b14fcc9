#pragma once
#include <QStringList>

// The companion's commands. Each takes the arguments after its own name and
// returns the process's exit status.

// lookup URL [URL...]: looks the addresses up one after another, as successive
// lookups in the window would, printing one JSON line per address.
int runLookup(const QStringList &args);

// download URL [-o FILE]: saves an address to a file with a progress bar.
int runDownload(const QStringList &args);

// works URL: the works table of a singer home page, one tab-separated row per line.
int runWorks(const QStringList &args);

// get URL... [-d DIR]: saves recordings and whole singers' works as MP3 files.
int runGet(const QStringList &args);
