#pragma once
#include "core/playback/PlaybackEnd.h"

#include <QString>

// What actually makes the sound behind the media command layer. One device at a
// time: the layer opens, plays, sets the volume of and closes it, and never calls
// anything but open() while no device is open. Every call returns at once; what
// the backend learns later (the end of the audio, an address that does not
// answer, data it cannot decode, no sound output) it reports as the device's end.
class MediaBackend : public PlaybackEndReporter {
public:
    virtual ~MediaBackend() = default;

    // Starts loading `address`, paused at its beginning. False when the backend
    // refuses the address outright (or has no way to play anything at all); then
    // no device exists.
    virtual bool open(const QString &address) = 0;
    // Starts or resumes the sound; from the beginning again once it played to its end.
    virtual void play() = 0;
    // Holds the sound where it is; play() goes on from there.
    virtual void pause() = 0;
    // 0 silent .. 1000 full, linear in amplitude.
    virtual void setVolume(int volume) = 0;
    // Stops the sound and forgets the address.
    virtual void close() = 0;
};
