#pragma once
// The community's pictures and recordings, generated here rather than shipped:
// every work gets its own little tune and every singer a picture of their own.

#include "Catalogue.h"

#include <string>
#include <vector>

namespace demo {

inline constexpr int SampleRate = 44100;

// A few seconds (3 to 6) of a short tune, 44.1 kHz mono, 16-bit. The same seed
// always gives the same tune; different seeds give different ones.
std::vector<short> synthesizeMelody(unsigned seed);

// The samples as an MP3 file (constant bit rate, mono), headed by an ID3 tag
// naming the title and the singer. Empty when the encoder refuses.
std::string encodeMp3(const std::vector<short> &samples, const std::string &title, const std::string &artist);

// PNG pictures. Lettering needs a QGuiApplication (fonts); without one the
// pictures are drawn without it.
std::string avatarPicture(const Singer &singer);              // 200 x 200, the name's first letter
std::string headPicture(const Work &work, int size);          // size x size, the song's title

} // namespace demo
