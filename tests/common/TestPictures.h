#pragma once
// A small picture file, as the community's servers would send it.
#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>

// An 8 x 6 PNG of one colour.
inline QByteArray pngBytes(const QColor &colour)
{
    QImage image(8, 6, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}
