#pragma once
#include <QStringList>

// The companion's commands. Each takes the arguments after its own name and
// returns the process's exit status.

// lookup URL [URL...]: looks the addresses up one after another, as successive
// lookups in the window would, printing one JSON line per address.
int runLookup(const QStringList &args);

// download URL [-o FILE]: saves an address to a file with a progress bar.
int runDownload(const QStringList &args);
