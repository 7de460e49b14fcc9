#include "core/lookup/PictureLoader.h"

#include <QFileInfo>
#include <QImageReader>
#include <QNetworkRequest>
#include <QUrl>

namespace {

constexpr qint64 MaxPictureFileBytes = 64 * 1024 * 1024;

// The second loader: a local picture file, or nothing.
std::optional<QImage> loadFromFile(const QString &path)
{
    const QFileInfo file(path);
    if (path.isEmpty() || !file.isFile() || !file.isReadable() || file.size() > MaxPictureFileBytes)
        return std::nullopt;
    QImageReader reader(path);
    QImage picture = reader.read();
    if (picture.isNull())
        return std::nullopt;
    return picture;
}

} // namespace

FetchHandle LoadPicture(QString path, PictureDone done, const FetchLimits &limits)
{
    // The first loader, when it takes the path.
    const QUrl url = requestUrl(path);
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) {
        if (!url.isValid() || url.host().isEmpty())
            return answerLater([done = std::move(done)] { done(QImage()); });
        FetchLimits pictureLimits = limits;
        pictureLimits.maxBytes = std::min(limits.maxBytes, MaxPictureFileBytes);
        return fetchHttp(QNetworkRequest(url), pictureLimits, [done = std::move(done)](std::optional<HttpAnswer> answer) {
            done(answer ? QImage::fromData(answer->body) : QImage());
        });
    }
    return answerLater([done = std::move(done), picture = loadFromFile(path)] { done(picture); });
}
