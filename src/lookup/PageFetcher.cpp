#include "lookup/PageFetcher.h"

#include "platform/Network.h"

#include <QEventLoop>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QTimer>

namespace {

QString decodeBody(const QByteArray &body, const QString &contentType)
{
    QByteArray charset;
    for (const QString &parameter : contentType.split(QLatin1Char(';'))) {
        const QString trimmed = parameter.trimmed();
        if (trimmed.startsWith(QLatin1String("charset="), Qt::CaseInsensitive))
            charset = trimmed.mid(8).remove(QLatin1Char('"')).toLatin1();
    }
    if (!charset.isEmpty()) {
        QStringDecoder decoder(charset.constData());
        if (decoder.isValid())
            return decoder.decode(body);
    }
    return QString::fromUtf8(body);
}

} // namespace

std::optional<QString> GetBody(const QString &url, const FetchLimits &limits)
{
    QNetworkRequest request{QUrl(url)};
    request.setRawHeader("If-Modified-Since", "0");
    // No cookie store: each fetch stands alone.
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setTransferTimeout(limits.idleMs);

    std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)> reply(
        networkManager().get(request), [](QNetworkReply *r) { r->deleteLater(); });

    QEventLoop loop;
    QTimer connectLimit;
    connectLimit.setSingleShot(true);
    QObject::connect(&connectLimit, &QTimer::timeout, reply.get(), &QNetworkReply::abort);
    QObject::connect(reply.get(), &QNetworkReply::requestSent, &connectLimit, &QTimer::stop);
    QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, &connectLimit, &QTimer::stop);
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    connectLimit.start(limits.connectMs);
    if (!reply->isFinished())
        loop.exec();

    // The server answered when there is a status code; a 404 body counts.
    if (!reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
        return std::nullopt;
    const bool cutShort = reply->error() != QNetworkReply::NoError
        && reply->error() < QNetworkReply::ContentAccessDenied; // a network-level error, not an HTTP status
    if (cutShort)
        return std::nullopt;
    return decodeBody(reply->readAll(), reply->header(QNetworkRequest::ContentTypeHeader).toString());
}
