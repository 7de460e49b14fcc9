#pragma once
// Waiting for the download engine in tests: it starts a transfer and
// reports its end from the event loop.
#include "core/download/Cls_DownLoad.h"

#include <QTest>

#include <optional>

// Starts a transfer on `engine` and runs the event loop until it has ended.
// Nothing when the engine refused to start or the end did not come in time.
inline std::optional<DownloadResult> transferred(Cls_DownLoad &engine, const QString &url, const QString &path,
                                                 int timeoutMs = 30000)
{
    std::optional<DownloadResult> ended;
    const QMetaObject::Connection connection = QObject::connect(
        &engine, &Cls_DownLoad::DLFileFinished, &engine, [&ended](const DownloadResult &result) { ended = result; });
    if (engine.DLFile(url, path))
        (void)QTest::qWaitFor([&ended] { return ended.has_value(); }, timeoutMs);
    QObject::disconnect(connection);
    return ended;
}
