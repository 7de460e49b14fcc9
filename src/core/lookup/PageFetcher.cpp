#include "core/lookup/PageFetcher.h"

#include "core/platform/Network.h"

#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QTimer>

namespace {

// The fetches now under way, and whether the program has given up fetching
// (cancelPageFetches).
QList<QNetworkReply *> waitingFetches;
bool fetchesCancelled = false;

// An answer known at once, handed over on the next turn of the event loop.
class LaterAnswer final : public PendingFetch {
public:
    explicit LaterAnswer(std::function<void()> deliver) : m_deliver(std::move(deliver))
    {
        QTimer::singleShot(0, this, [this] {
            if (m_cancelled)
                return;
            const std::function<void()> deliver = std::move(m_deliver);
            m_cancelled = true; // answered: nothing more to cancel
            deleteLater();
            if (deliver)
                deliver();
        });
    }

private:
    std::function<void()> m_deliver;
};

} // namespace

void PendingFetch::cancel()
{
    m_cancelled = true;
    disconnect(this, nullptr, nullptr, nullptr); // no signal of it reaches anyone any more
    deleteLater();
}

FetchHandle answerLater(std::function<void()> deliver)
{
    return FetchHandle(new LaterAnswer(std::move(deliver)));
}

void cancelPageFetches()
{
    fetchesCancelled = true;
    // Aborting reports at once; the list changes meanwhile.
    const QList<QNetworkReply *> waiting = waitingFetches;
    for (QNetworkReply *reply : waiting)
        if (waitingFetches.contains(reply))
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

HttpFetch::HttpFetch(const QNetworkRequest &request, const FetchLimits &limits, QObject *parent)
    : PendingFetch(parent)
{
    if (fetchesCancelled) {
        // Reported like any other answer: later, never from inside the constructor.
        QTimer::singleShot(0, this, [this] { report(std::nullopt); });
        return;
    }
    QNetworkRequest limited(request);
    limited.setTransferTimeout(limits.idleMs);
    m_reply = networkManager().get(limited);
    waitingFetches.append(m_reply);

    m_connectLimit = new QTimer(this);
    m_connectLimit->setSingleShot(true);
    m_overallLimit = new QTimer(this);
    m_overallLimit->setSingleShot(true);
    connect(m_connectLimit, &QTimer::timeout, m_reply, &QNetworkReply::abort);
    connect(m_overallLimit, &QTimer::timeout, m_reply, &QNetworkReply::abort);
    connect(m_reply, &QNetworkReply::requestSent, m_connectLimit, &QTimer::stop);
    connect(m_reply, &QNetworkReply::metaDataChanged, m_connectLimit, &QTimer::stop);
    const qint64 maxBytes = limits.maxBytes;
    connect(m_reply, &QNetworkReply::downloadProgress, this, [this, maxBytes](qint64 received, qint64 total) {
        if (received > maxBytes || total > maxBytes) {
            m_tooLarge = true;
            m_reply->abort();
        }
    });
    // Queued: a reply that finishes while it is being set up still reports
    // only once the constructor has returned.
    connect(m_reply, &QNetworkReply::finished, this, &HttpFetch::replyFinished, Qt::QueuedConnection);
    m_connectLimit->start(limits.connectMs);
    m_overallLimit->start(limits.totalMs);
}

HttpFetch::~HttpFetch()
{
    dropReply();
}

void HttpFetch::dropReply()
{
    if (!m_reply)
        return;
    QNetworkReply *reply = std::exchange(m_reply, nullptr);
    waitingFetches.removeOne(reply);
    m_connectLimit->stop();
    m_overallLimit->stop();
    reply->disconnect(this);
    if (!reply->isFinished())
        reply->abort();
    reply->deleteLater();
}

void HttpFetch::cancel()
{
    dropReply();
    PendingFetch::cancel();
}

void HttpFetch::replyFinished()
{
    if (!m_reply || m_cancelled)
        return;
    QNetworkReply &reply = *m_reply;
    std::optional<HttpAnswer> answer;
    if (!m_tooLarge && judgeReply(reply) == NetworkOutcome::Answered) {
        const int httpStatus = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        answer = HttpAnswer{httpStatus, reply.rawHeader("Content-Type"), reply.readAll()};
    }
    dropReply();
    report(std::move(answer));
}

void HttpFetch::report(std::optional<HttpAnswer> answer)
{
    if (m_cancelled)
        return;
    m_cancelled = true; // reported: nothing more to cancel
    deleteLater();
    emit finished(std::move(answer));
}

FetchHandle fetchHttp(const QNetworkRequest &request, const FetchLimits &limits, AnswerDone done)
{
    auto *fetch = new HttpFetch(request, limits);
    QObject::connect(fetch, &HttpFetch::finished, fetch,
                     [done = std::move(done)](std::optional<HttpAnswer> answer) { done(std::move(answer)); });
    return FetchHandle(fetch);
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

FetchHandle fetchPage(const QString &url, AnswerDone done, const FetchLimits &limits)
{
    QNetworkRequest request{requestUrl(url)};
    request.setRawHeader("If-Modified-Since", "0");
    // No cookie store: each fetch stands alone.
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    return fetchHttp(request, limits, std::move(done));
}

FetchHandle GetBody(const QString &url, PageDone done, const FetchLimits &limits)
{
    return fetchPage(
        url,
        [done = std::move(done)](std::optional<HttpAnswer> answer) {
            if (!answer)
                done(std::nullopt);
            else
                done(decodeBody(answer->body, answer->contentType));
        },
        limits);
}

FetchHandle GetPage(const QString &url, PageDone done, const FetchLimits &limits)
{
    return fetchPage(
        url,
        [done = std::move(done)](std::optional<HttpAnswer> answer) {
            if (!answer || answer->status >= 400)
                done(std::nullopt);
            else
                done(decodeBody(answer->body, answer->contentType));
        },
        limits);
}
