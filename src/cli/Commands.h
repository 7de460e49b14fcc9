#pragma once
#include <QStringList>

// The commands of the command-line companion. Each takes the arguments after
// its name and returns the process exit status.

// lookup URL [URL...]: looks the addresses up one after another, as successive
// lookups in the window would, printing one JSON line per address.
int runLookup(const QStringList &args);
