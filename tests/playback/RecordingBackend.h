#pragma once
#include "playback/MediaBackend.h"

#include <QStringList>

// A backend that only writes down what it was asked to do:
// "open ADDRESS", "play", "volume N", "close".
class RecordingBackend final : public MediaBackend {
public:
    QStringList calls;
    bool acceptOpen = true; // what open() answers

    bool open(const QString &address) override
    {
        calls.append(QStringLiteral("open ") + address);
        return acceptOpen;
    }
    void play() override { calls.append(QStringLiteral("play")); }
    void setVolume(int volume) override { calls.append(QStringLiteral("volume %1").arg(volume)); }
    void close() override { calls.append(QStringLiteral("close")); }
};
