#pragma once
// What the download tests serve and read back.
#include <QByteArray>
#include <QFile>

// Bytes that do not repeat within a chunk, so a chunk written twice, out of
// order or at the wrong offset shows.
inline QByteArray patterned(int size, int seed = 0)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + (i >> 9) * 13 + seed) & 0xff);
    return bytes;
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
