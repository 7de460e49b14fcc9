#include "core/lookup/PictureLoader.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QNetworkRequest>
#include <QUrl>

namespace {

constexpr qint64 MaxPictureFileBytes = 64 * 1024 * 1024;

struct FilePicture {
    QImage picture;
    QByteArray bytes;
};

// The second loader: a local picture file, or nothing. The file is read
// once, and the picture decoded from those bytes.
std::optional<FilePicture> loadFromFile(const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile() || !info.isReadable() || info.size() > MaxPictureFileBytes)
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.read(MaxPictureFileBytes + 1);
    if (bytes.size() > MaxPictureFileBytes)
        return std::nullopt;
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer, info.suffix().toLatin1()); // the name's hint, then the content
    QImage picture = reader.read();
    if (picture.isNull())
        return std::nullopt;
    return FilePicture{std::move(picture), std::move(bytes)};
}

} // namespace

FetchHandle LoadPictureWithBytes(QString path, PictureBytesDone done, const FetchLimits &limits)
{
    // The first loader, when it takes the path.
    const QUrl url = requestUrl(path);
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) {
        if (!url.isValid() || url.host().isEmpty())
            return answerLater([done = std::move(done)] { done(QImage(), QByteArray()); });
        FetchLimits pictureLimits = limits;
        pictureLimits.maxBytes = std::min(limits.maxBytes, MaxPictureFileBytes);
        return fetchHttp(QNetworkRequest(url), pictureLimits, [done = std::move(done)](std::optional<HttpAnswer> answer) {
            QImage picture = answer ? QImage::fromData(answer->body) : QImage();
            done(picture, picture.isNull() ? QByteArray() : answer->body);
        });
    }
    return answerLater([done = std::move(done), loaded = loadFromFile(path)] {
        if (loaded)
            done(loaded->picture, loaded->bytes);
        else
            done(std::nullopt, QByteArray());
    });
}

FetchHandle LoadPicture(QString path, PictureDone done, const FetchLimits &limits)
{
    return LoadPictureWithBytes(
        std::move(path), [done = std::move(done)](std::optional<QImage> picture, QByteArray) { done(std::move(picture)); },
        limits);
}
