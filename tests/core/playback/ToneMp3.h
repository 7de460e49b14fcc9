#pragma once
#include <QByteArray>

// A steady sine tone as an MP3 file, made in memory: mono, 44.1 kHz, 128 kbit/s
// constant bit rate, with an Info tag so that decoders drop the encoder's delay
// and the tone starts with the first decoded sample.
namespace ToneMp3 {

QByteArray encode(double frequencyHz, double seconds, double amplitude = 0.5);

} // namespace ToneMp3
