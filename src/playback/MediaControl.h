#pragma once
#include <QString>

// The media command interface: one command text in, an error code out (0 for
// success). The program sends exactly these texts:
//   "close OpenFile"
//   "open " + address + " alias OpenFile type MPEGVideo"
//   "play OpenFile"
//   "setaudio OpenFile volume to " + 0..1000
//   "close all"
// and never reads the result.
class MediaControl {
public:
    virtual ~MediaControl() = default;
    virtual int send(const QString &command) = 0;
};
