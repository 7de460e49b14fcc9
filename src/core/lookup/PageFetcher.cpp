#include "core/lookup/PageFetcher.h"

#include "core/platform/Network.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QTimer>

#include <QList>
#include <QScopeGuard>

#include <memory>

namespace {

// The fetches now waiting, innermost last, and whether the program has
// given up fetching (cancelPageFetches).
QList<QNetworkReply *> waitingFetches;
bool fetchesCancelled = false;

} // namespace

void cancelPageFetches()
{
    fetchesCancelled = true;
    for (QNetworkReply *reply : std::as_const(waitingFetches))
        reply->abort();
}

QUrl requestUrl(const QString &address)
{
    qsizetype begin = 0;
    qsizetype end = address.size();
    while (begin < end && address.at(begin).unicode() <= 0x20)
        ++begin;
    while (end > begin && address.at(end - 1).unicode() <= 0x20)
        --end;
    return QUrl(address.sliced(begin, end - begin));
}

std::optional<HttpAnswer> fetchHttp(const QNetworkRequest &request, const FetchLimits &limits)
{
    if (fetchesCancelled)
        return std::nullopt;
    QNetworkRequest limited(request);
    limited.setTransferTimeout(limits.idleMs);
    const std::unique_ptr<QNetworkReply> reply(networkManager().get(limited));

    waitingFetches.append(reply.get());
    const auto notWaiting = qScopeGuard([&reply] { waitingFetches.removeOne(reply.get()); });

    QEventLoop loop;
    QTimer connectLimit;
    connectLimit.setSingleShot(true);
    QTimer overallLimit;
    overallLimit.setSingleShot(true);
    QObject::connect(&overallLimit, &QTimer::timeout, reply.get(), &QNetworkReply::abort);
    bool tooLarge = false;
    QObject::connect(&connectLimit, &QTimer::timeout, reply.get(), &QNetworkReply::abort);
    QObject::connect(reply.get(), &QNetworkReply::requestSent, &connectLimit, &QTimer::stop);
    QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, &connectLimit, &QTimer::stop);
    QObject::connect(reply.get(), &QNetworkReply::downloadProgress, reply.get(),
                     [&tooLarge, &reply, limits](qint64 received, qint64 total) {
                         if (received > limits.maxBytes || total > limits.maxBytes) {
                             tooLarge = true;
                             reply->abort();
                         }
                     });
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    connectLimit.start(limits.connectMs);
    overallLimit.start(limits.totalMs);
    if (!reply->isFinished())
        loop.exec();

    // The loop also ends when the application quits; the request is then
    // dropped unfinished.
    if (!reply->isFinished()) {
        reply->abort();
        return std::nullopt;
    }
    if (tooLarge || judgeReply(*reply) != NetworkOutcome::Answered)
        return std::nullopt;
    const int httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return HttpAnswer{httpStatus, reply->rawHeader("Content-Type"), reply->readAll()};
}

QString decodeBody(const QByteArray &body, const QByteArray &contentType)
{
    QByteArray charset;
    for (const QByteArray &parameter : contentType.split(';')) {
        const qsizetype equals = parameter.indexOf('=');
        if (equals < 0 || parameter.left(equals).trimmed().toLower() != "charset")
            continue;
        charset = parameter.mid(equals + 1).trimmed();
        if (charset.size() >= 2 && (charset.startsWith('"') || charset.startsWith('\'')))
            charset = charset.mid(1, charset.size() - 2);
    }
    if (!charset.isEmpty()) {
        QStringDecoder decoder(charset.constData());
        if (decoder.isValid())
            return decoder.decode(body);
    }
    return QStringDecoder(QStringDecoder::Utf8).decode(body);
}

std::optional<HttpAnswer> fetchPage(const QString &url, const FetchLimits &limits)
{
    QNetworkRequest request{requestUrl(url)};
    request.setRawHeader("If-Modified-Since", "0");
    // No cookie store: each fetch stands alone.
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);

    return fetchHttp(request, limits);
}

std::optional<QString> GetBody(const QString &url, const FetchLimits &limits)
{
    const std::optional<HttpAnswer> answer = fetchPage(url, limits);
    if (!answer)
        return std::nullopt;
    return decodeBody(answer->body, answer->contentType);
}

std::optional<QString> GetPage(const QString &url, const FetchLimits &limits)
{
    const std::optional<HttpAnswer> answer = fetchPage(url, limits);
    if (!answer || answer->status >= 400)
        return std::nullopt;
    return decodeBody(answer->body, answer->contentType);
}
