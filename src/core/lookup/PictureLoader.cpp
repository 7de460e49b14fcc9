#include "core/lookup/PictureLoader.h"

#include <QFileInfo>
#include <QImageReader>
#include <QNetworkRequest>
#include <QUrl>

namespace {

constexpr qint64 MaxPictureFileBytes = 64 * 1024 * 1024;

// The first loader: nothing when it cannot take the path at all.
std::optional<QImage> loadFromAddress(const QString &path, const FetchLimits &limits)
{
    const QUrl url = requestUrl(path);
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return std::nullopt;
    if (!url.isValid() || url.host().isEmpty())
        return QImage();
    FetchLimits pictureLimits = limits;
    pictureLimits.maxBytes = std::min(limits.maxBytes, MaxPictureFileBytes);
    const std::optional<HttpAnswer> answer = fetchHttp(QNetworkRequest(url), pictureLimits);
    if (!answer)
        return QImage();
    return QImage::fromData(answer->body);
}

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

std::optional<QImage> LoadPicture(QString path, const FetchLimits &limits)
{
    if (std::optional<QImage> picture = loadFromAddress(path, limits))
        return picture;
    return loadFromFile(path);
}
