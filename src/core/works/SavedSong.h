#pragma once
#include <QString>

// The work id a saved song's tag names (TXXX "KELVARO_WORK_ID"), empty when
// the file has none or is no MP3. Tags are written only into complete
// transfers, before they take their final name: a file that names a work
// holds that work's whole recording.
QString savedWorkId(const QString &path);
