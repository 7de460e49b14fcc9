#include "ToneMp3.h"

#include <lame/lame.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

namespace ToneMp3 {

QByteArray encode(double frequencyHz, double seconds, double amplitude)
{
    constexpr int Rate = 44100;
    const std::unique_ptr<lame_global_flags, int (*)(lame_global_flags *)> flags(lame_init(), lame_close);
    if (!flags)
        return {};
    lame_set_num_channels(flags.get(), 1);
    lame_set_in_samplerate(flags.get(), Rate);
    lame_set_out_samplerate(flags.get(), Rate);
    lame_set_mode(flags.get(), MONO);
    lame_set_VBR(flags.get(), vbr_off);
    lame_set_brate(flags.get(), 128);
    lame_set_bWriteVbrTag(flags.get(), 1);
    lame_set_quality(flags.get(), 5);
    if (lame_init_params(flags.get()) < 0)
        return {};

    const int count = int(std::lround(seconds * Rate));
    std::vector<short> pcm(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        pcm[size_t(i)] = short(std::lround(amplitude * 32767.0 * std::sin(2 * std::numbers::pi * frequencyHz * i / Rate)));

    std::vector<unsigned char> out(size_t(count) * 5 / 4 + 7200 + 8192);
    int written = lame_encode_buffer(flags.get(), pcm.data(), pcm.data(), count, out.data(), int(out.size()));
    if (written < 0)
        return {};
    const int flushed = lame_encode_flush(flags.get(), out.data() + written, int(out.size()) - written);
    if (flushed < 0)
        return {};
    written += flushed;
    QByteArray mp3(reinterpret_cast<const char *>(out.data()), written);

    // The first frame was kept free for the tag, which only now knows the
    // stream's length and the delay to skip.
    unsigned char tag[4096];
    const size_t tagSize = lame_get_lametag_frame(flags.get(), tag, sizeof tag);
    if (tagSize > 0 && tagSize <= size_t(mp3.size()) && tagSize <= sizeof tag)
        mp3.replace(0, qsizetype(tagSize), QByteArray(reinterpret_cast<const char *>(tag), qsizetype(tagSize)));
    return mp3;
}

} // namespace ToneMp3
