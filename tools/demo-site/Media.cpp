#include "Media.h"

#include <QBuffer>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <lame/lame.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <numbers>
#include <random>

namespace demo {

namespace {

constexpr double Pi = std::numbers::pi;

// One plucked-then-held note: a sine with a little triangle for colour,
// shaped by attack, decay to a sustain level and a release at its end.
void addNote(std::vector<double> &mix, std::size_t start, std::size_t length, double frequency, double level)
{
    const std::size_t attack = SampleRate / 100;  // 10 ms
    const std::size_t decay = SampleRate / 12;    // ~80 ms
    const std::size_t release = SampleRate / 10;  // 100 ms
    for (std::size_t i = 0; i < length && start + i < mix.size(); ++i) {
        double envelope = 0.7;
        if (i < attack)
            envelope = double(i) / attack;
        else if (i < attack + decay)
            envelope = 1.0 - 0.3 * double(i - attack) / decay;
        if (i + release > length)
            envelope *= double(length - i) / release;
        const double phase = std::fmod(frequency * double(i) / SampleRate, 1.0);
        const double sine = std::sin(2 * Pi * phase);
        const double triangle = 4 * std::abs(phase - 0.5) - 1;
        mix[start + i] += level * envelope * (0.75 * sine + 0.25 * triangle);
    }
}

double noteFrequency(int semitonesFromA4)
{
    return 440.0 * std::pow(2.0, semitonesFromA4 / 12.0);
}

void appendBigEndian(std::string &out, std::uint32_t value, bool syncSafe)
{
    for (int shift = 3; shift >= 0; --shift)
        out += char(syncSafe ? (value >> (7 * shift)) & 0x7f : (value >> (8 * shift)) & 0xff);
}

// An ID3v2.3 text frame in UTF-16 with byte order mark.
std::string id3TextFrame(const char id[4], const std::string &utf8)
{
    std::string payload("\x01\xff\xfe", 3);
    for (const char16_t unit : QString::fromStdString(utf8).toStdU16String()) {
        payload += char(unit & 0xff);
        payload += char(unit >> 8);
    }
    std::string frame(id, 4);
    appendBigEndian(frame, std::uint32_t(payload.size()), false);
    frame += std::string(2, '\0'); // flags
    return frame + payload;
}

std::string id3Tag(const std::string &title, const std::string &artist)
{
    const std::string frames = id3TextFrame("TIT2", title) + id3TextFrame("TPE1", artist);
    std::string tag("ID3\x03\x00\x00", 6);
    appendBigEndian(tag, std::uint32_t(frames.size()), true);
    return tag + frames;
}

QColor fromRgb(unsigned rgb)
{
    return QColor(int((rgb >> 16) & 0xff), int((rgb >> 8) & 0xff), int(rgb & 0xff));
}

bool canLetter()
{
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr;
}

QFont letteringFont(int pixelSize)
{
    QFont font;
    font.setFamilies({QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("DejaVu Sans")});
    font.setPixelSize(std::max(pixelSize, 6));
    font.setBold(true);
    return font;
}

std::string png(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

} // namespace

std::vector<short> synthesizeMelody(unsigned seed)
{
    std::mt19937 random(seed * 2654435761u + 97);
    // A major pentatonic scale over an octave and a half, from a root that
    // differs between tunes.
    constexpr std::array<int, 8> scale{0, 2, 4, 7, 9, 12, 14, 16};
    const int root = -14 + int(random() % 8);                  // from G3 up to D4
    const std::size_t noteLength = SampleRate * (40 + random() % 16) / 100; // 0.40 .. 0.55 s
    constexpr int noteCount = 8;

    std::vector<double> mix(noteLength * noteCount + SampleRate / 4, 0.0);
    int step = int(random() % 4);
    for (int n = 0; n < noteCount; ++n) {
        // Mostly small steps, now and then a leap, ending on the root.
        if (n == noteCount - 1)
            step = 0;
        else if (n > 0)
            step = std::clamp(step + int(random() % 5) - 2 + (random() % 6 == 0 ? 3 : 0), 0, int(scale.size()) - 1);
        const std::size_t start = noteLength * std::size_t(n);
        const std::size_t length = n == noteCount - 1 ? noteLength + SampleRate / 4 : noteLength;
        addNote(mix, start, length, noteFrequency(root + scale[std::size_t(step)]), 0.45);
        if (n % 4 == 0) // a low note under the first beat of each bar
            addNote(mix, start, noteLength * 4, noteFrequency(root - 12), 0.18);
    }

    std::vector<short> samples(mix.size());
    std::transform(mix.begin(), mix.end(), samples.begin(),
                   [](double value) { return short(std::lround(std::clamp(value, -1.0, 1.0) * 32000)); });
    return samples;
}

std::string encodeMp3(const std::vector<short> &samples, const std::string &title, const std::string &artist)
{
    const std::unique_ptr<lame_global_flags, int (*)(lame_global_flags *)> encoder(lame_init(), lame_close);
    if (!encoder)
        return {};
    lame_set_in_samplerate(encoder.get(), SampleRate);
    lame_set_num_channels(encoder.get(), 1);
    lame_set_mode(encoder.get(), MONO);
    lame_set_brate(encoder.get(), 96);
    lame_set_quality(encoder.get(), 5);
    // No Xing/Info frame: written into a buffer it would stay a blank placeholder.
    lame_set_bWriteVbrTag(encoder.get(), 0);
    if (lame_init_params(encoder.get()) < 0)
        return {};

    std::vector<unsigned char> out(samples.size() * 5 / 4 + 7200);
    const int encoded = lame_encode_buffer(encoder.get(), samples.data(), samples.data(), int(samples.size()),
                                           out.data(), int(out.size()));
    if (encoded < 0)
        return {};
    const int flushed = lame_encode_flush(encoder.get(), out.data() + encoded, int(out.size()) - encoded);
    if (flushed < 0)
        return {};
    return id3Tag(title, artist) + std::string(reinterpret_cast<const char *>(out.data()), std::size_t(encoded + flushed));
}

std::string avatarPicture(const Singer &singer)
{
    constexpr int Size = 200;
    QImage image(Size, Size, QImage::Format_RGB32);
    const QColor colour = fromRgb(singer.colour);
    image.fill(colour.darker(160));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(10, 10, Size - 20, Size - 20));
    if (canLetter()) {
        painter.setPen(Qt::white);
        painter.setFont(letteringFont(96));
        const QString name = QString::fromUtf8(singer.name.data(), qsizetype(singer.name.size()));
        painter.drawText(QRect(0, 0, Size, Size), Qt::AlignCenter, name.left(1).toUpper());
    }
    painter.end();
    return png(image);
}

std::string headPicture(const Work &work, int size)
{
    QImage image(size, size, QImage::Format_RGB32);
    const QColor colour = fromRgb(singerOf(work).colour);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, size, size);
    gradient.setColorAt(0, colour.lighter(140));
    gradient.setColorAt(1, colour.darker(220));
    painter.fillRect(image.rect(), gradient);

    // A sound wave across the middle, its shape taken from the work id.
    const unsigned seed = unsigned(std::stoul(std::string(work.id)));
    QPainterPath wave;
    for (int x = 0; x <= size; ++x) {
        const double t = double(x) / size;
        const double y = size * (0.5 + 0.18 * std::sin(2 * Pi * (t * (2 + seed % 3) + (seed % 7) / 7.0))
                                     * std::sin(Pi * t));
        if (x == 0)
            wave.moveTo(x, y);
        else
            wave.lineTo(x, y);
    }
    painter.setPen(QPen(QColor(255, 255, 255, 170), std::max(1.0, size / 80.0)));
    painter.drawPath(wave);

    if (canLetter()) {
        painter.setPen(Qt::white);
        painter.setFont(letteringFont(size / 9));
        const QRect band(size / 16, size * 3 / 4, size - size / 8, size / 5);
        painter.drawText(band, Qt::AlignLeft | Qt::AlignVCenter,
                         QString::fromUtf8(work.title.data(), qsizetype(work.title.size())));
        if (work.layout == PageLayout::MusicVideo) {
            painter.setFont(letteringFont(size / 10));
            painter.drawText(QRect(0, size / 20, size - size / 20, size / 6), Qt::AlignRight | Qt::AlignTop,
                             QStringLiteral("MV"));
        }
    }
    painter.end();
    return png(image);
}

} // namespace demo
