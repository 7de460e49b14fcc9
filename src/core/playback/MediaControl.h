#pragma once
#include "core/playback/PlaybackEnd.h"

#include <QString>

// The media command interface: one command text in, an error code out (0 for
// success). The program sends exactly these texts:
//   "close OpenFile"
//   "open " + address + " alias OpenFile type MPEGVideo"
//   "play OpenFile"
//   "pause OpenFile"   (only from the desktop's player controls)
//   "setaudio OpenFile volume to " + 0..1000
//   "close all"
// The play button reads the open command's result, and hears when the open
// device stops by itself, so that its caption never claims a playback that
// has ended.
class MediaControl : public PlaybackEndReporter {
public:
    virtual ~MediaControl() = default;
    virtual int send(const QString &command) = 0;
};
