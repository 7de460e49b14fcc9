#pragma once
#include <QStringList>

// The companion's commands. Each takes the arguments after its own name and
// returns the process's exit status.

// download URL [-o FILE]: saves an address to a file with a progress bar.
int runDownload(const QStringList &args);
