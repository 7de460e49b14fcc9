#include "download/Cls_DownLoad.h"

#include "platform/Network.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QScopeGuard>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <memory>

namespace {

// How often, at most, a transfer polls for window events between chunks.
constexpr qint64 FullDeliveryIntervalNs = 1000000;

// Status codes of DLFileStatus, in the order a transfer passes them.
enum Status : int {
    Connecting = 1,     // first thing in every call
    SessionOpen = 2,    // a network session is at hand
    Answered = 3,       // the server answered with an HTTP status, whatever it was
    Receiving = 4,      // size read, about to open the target file
    StoppedOnRequest = 5,
    HandlesClosed = 6,  // last event of every call that had a session
    NoSession = 7,
    NoAnswer = 8,       // refused, unknown host, no connection, silent server
    DataEnded = 9,      // the data ended, or a read failed
};

// The reply keeps at most this much of the body that we have not read yet;
// Qt stops reading from the socket while it is full, so memory stays flat
// whatever the size of the file.
constexpr qint64 ReplyBufferBytes = 64 * 1024;

double roundHalfEven(double value)
{
    const double nearest = std::round(value); // halves away from zero
    if (std::fabs(value - std::trunc(value)) == 0.5)
        return 2.0 * std::round(value / 2.0);
    return nearest;
}

// Local time of day. The offset from UTC is looked up once per second only:
// the C library checks the time zone file on every lookup, and this runs
// once per chunk.
double secondsSinceMidnight()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    static thread_local time_t offsetFor = -1;
    static thread_local long offset = 0;
    if (now.tv_sec != offsetFor) {
        tm local{};
        localtime_r(&now.tv_sec, &local);
        offset = local.tm_gmtoff;
        offsetFor = now.tv_sec;
    }
    constexpr qint64 Day = 24 * 60 * 60;
    const qint64 ofDay = ((qint64(now.tv_sec) + offset) % Day + Day) % Day;
    return double(ofDay) + double(now.tv_nsec) / 1e9;
}

QNetworkAccessManager *applicationSession()
{
    return QCoreApplication::instance() ? &networkManager() : nullptr;
}

// Names under the reserved top-level domain "invalid" never resolve, and a
// resolver library is expected to say so without asking anyone; the system
// resolver here does ask, so we answer for it.
bool isReservedInvalidHost(const QUrl &address)
{
    QString host = address.host().toLower();
    if (host.endsWith(QLatin1Char('.')))
        host.chop(1);
    return host == QLatin1String("invalid") || host.endsWith(QLatin1String(".invalid"));
}

// Qt turns 4xx and 5xx answers into reply errors too, but those answers are
// data like any other: only a broken or abandoned transfer is a failed read.
bool isAnswerStatusError(QNetworkReply::NetworkError error)
{
    return (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError)
        || (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError)
        || error == QNetworkReply::ProxyAuthenticationRequiredError;
}

// The target file. Chunks are handed over one by one as they arrive and
// reach the file in batches: whenever the batch is full, whenever the reply
// has nothing more for the moment, and before the final status. A system
// call per 512 bytes would cost more than everything else per chunk
// together; this way the file is current whenever the engine waits for the
// network, and complete before the transfer reports its end.
class TargetFile {
public:
    explicit TargetFile(const QString &path) : m_file(path) {}

    // Emptied on opening: whatever an older, longer file held beyond what
    // this transfer writes must not survive.
    bool open() { return m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered); }

    bool append(const char *data, qint64 size)
    {
        if (m_pending + size > qint64(sizeof m_batch) && !flush())
            return false;
        std::memcpy(m_batch + m_pending, data, size_t(size));
        m_pending += size;
        return true;
    }

    bool flush()
    {
        if (m_pending == 0)
            return true;
        const qint64 written = m_file.write(m_batch, m_pending);
        m_written += std::max<qint64>(written, 0);
        const bool ok = written == m_pending;
        m_pending = 0;
        return ok;
    }

    // Bytes that reached the file.
    qint64 written() const { return m_written; }
    QString errorString() const { return m_file.errorString(); }

private:
    QFile m_file;
    char m_batch[16 * 1024];
    qint64 m_pending = 0;
    qint64 m_written = 0;
};

struct ReplyRelease {
    void operator()(QNetworkReply *reply) const
    {
        if (!reply->isFinished())
            reply->abort();
        // Not from inside one of the reply's own signals, so deleting it now
        // is safe, and the connection is gone before DLFile returns.
        delete reply;
    }
};
using ReplyHandle = std::unique_ptr<QNetworkReply, ReplyRelease>;

// Waits in an event loop until the reply has something new to say, so the
// window stays live and no CPU is spent while the server is quiet.
class ReplyWaiter {
public:
    ReplyWaiter(QNetworkReply *reply, int limitMs) : m_limitMs(limitMs)
    {
        m_limit.setSingleShot(true);
        QObject::connect(reply, &QNetworkReply::readyRead, &m_loop, &QEventLoop::quit);
        QObject::connect(reply, &QNetworkReply::metaDataChanged, &m_loop, [this] {
            m_followingRedirect = false;
            m_loop.quit();
        });
        QObject::connect(reply, &QNetworkReply::redirected, &m_loop, [this] { m_followingRedirect = true; });
        QObject::connect(reply, &QNetworkReply::finished, &m_loop, &QEventLoop::quit);
        QObject::connect(&m_limit, &QTimer::timeout, &m_loop, &QEventLoop::quit);
    }

    enum class Woken { News, Stalled, Leaving };

    Woken wait()
    {
        m_limit.start(m_limitMs);
        // A loop that cannot run because the application is leaving returns
        // at once with -1: give up instead of spinning.
        const int code = m_loop.exec();
        const bool stalled = !m_limit.isActive();
        m_limit.stop();
        if (code != 0)
            return Woken::Leaving;
        return stalled ? Woken::Stalled : Woken::News;
    }

    // Qt took the last answer's Location and asked again: the answer that
    // counts is still to come.
    bool followingRedirect() const { return m_followingRedirect; }

private:
    QEventLoop m_loop;
    QTimer m_limit;
    int m_limitMs;
    bool m_followingRedirect = false;
};

// Until the final answer is in: a redirect that Qt is about to follow is
// not an answer yet. Its headers arrive before Qt says it follows it; when
// Qt declines to (too many, or to a less safe address), the reply finishes
// with the redirect as the answer.
bool hasFinalAnswer(const QNetworkReply &reply, bool followingRedirect)
{
    if (reply.isFinished())
        return true;
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid() || followingRedirect)
        return false;
    static constexpr int followed[] = {301, 302, 303, 305, 307, 308};
    const bool redirecting = std::find(std::begin(followed), std::end(followed), status.toInt()) != std::end(followed)
        && reply.hasRawHeader("Location");
    return !redirecting;
}

QNetworkRequest requestFor(const QUrl &address)
{
    QNetworkRequest request(address);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("VB Http"));
    // From the server, never from a cache: Qt also sends "no-cache" to any
    // proxy on the way.
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    // Left alone, Qt offers gzip and unpacks the answer itself; the body we
    // get is then not the server's bytes and Content-Length is dropped, so
    // the size would read 0. Asking for the plain body keeps both.
    request.setRawHeader("Accept-Encoding", "identity");
    return request;
}

} // namespace

Cls_DownLoad::Cls_DownLoad(QObject *parent)
    : QObject(parent), m_clock(secondsSinceMidnight), m_session(applicationSession)
{
}

bool Cls_DownLoad::DLFileStop()
{
    m_bStop = true;
    return false;
}

qint64 Cls_DownLoad::speedFor(qint64 downloaded, qint64 startSecond, double now)
{
    const double elapsed = roundHalfEven(now - double(startSecond));
    if (elapsed <= 0)
        return SpeedWhileUnmeasured;
    return qint64(roundHalfEven(double(downloaded) / elapsed));
}

qint64 Cls_DownLoad::announcedSize(const QByteArray &contentLength)
{
    // A repeated header arrives joined with commas; the first one counts.
    const QByteArray digits = contentLength.split(',').value(0).trimmed();
    if (digits.isEmpty())
        return 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return 0;
    }
    bool ok = false;
    const qint64 size = digits.toLongLong(&ok);
    return ok ? size : 0;
}

DownloadResult Cls_DownLoad::DLFile(const QString &sRemoteURL, const QString &sLocalFilePath, qint32 lTimeOut)
{
    Q_UNUSED(lTimeOut)
    // A handler running inside the transfer (the window's events are
    // delivered from here) must not start a second one on this engine: it
    // would interleave with the first in the same loop and the same events.
    if (m_running) {
        DownloadResult refused;
        refused.ending = DownloadResult::Ending::Busy;
        refused.error = QStringLiteral("a download is already running");
        return refused;
    }
    m_running = true;
    const auto notRunning = qScopeGuard([this] { m_running = false; });
    return transfer(sRemoteURL, sLocalFilePath);
}

DownloadResult Cls_DownLoad::transfer(const QString &url, const QString &path)
{
    DownloadResult result;
    emit DLFileStatus(Connecting);

    // The session stands for the platform's root handle: without an
    // application object, or with a manager that belongs to another thread
    // (which this thread may not use), there is no session to open.
    QNetworkAccessManager *session = m_session ? m_session() : nullptr;
    if (!session || session->thread() != QThread::currentThread()) {
        emit DLFileStatus(NoSession);
        result.ending = DownloadResult::Ending::NoSession;
        result.error = QStringLiteral("no network session");
        return result;
    }
    emit DLFileStatus(SessionOpen);

    const QUrl address(url);
    const auto refuse = [&](const QString &why) {
        emit DLFileStatus(NoAnswer);
        emit DLFileStatus(HandlesClosed);
        result.ending = DownloadResult::Ending::AddressRefused;
        result.error = why;
        return result;
    };
    if (isReservedInvalidHost(address))
        return refuse(QStringLiteral("Host %1 not found").arg(address.host()));

    ReplyHandle reply(session->get(requestFor(address)));
    reply->setReadBufferSize(ReplyBufferBytes);
    ReplyWaiter waiter(reply.get(), m_stallLimitMs);
    const QString stallMessage = QStringLiteral("nothing received for %1 s").arg(m_stallLimitMs / 1000.0);

    ReplyWaiter::Woken woken = ReplyWaiter::Woken::News;
    while (!hasFinalAnswer(*reply, waiter.followingRedirect()) && woken == ReplyWaiter::Woken::News)
        woken = waiter.wait();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        const QString why = woken == ReplyWaiter::Woken::Stalled ? QStringLiteral("no answer: ") + stallMessage
                                                                 : reply->errorString();
        reply.reset();
        return refuse(why);
    }
    emit DLFileStatus(Answered);
    result.httpStatus = status.toInt();

    const qint64 lFilesize = announcedSize(reply->rawHeader("Content-Length"));
    result.announced = lFilesize;
    char chunk[ChunkSize];
    const qint64 startSecond = qint64(roundHalfEven(m_clock()));
    emit DLFileStatus(Receiving);

    const auto fileFailed = [&](const TargetFile &file) {
        result.ending = DownloadResult::Ending::FileError;
        result.bytes = file.written();
        result.error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return result; // the reply and the file go with their handles; no status follows
    };
    auto file = std::make_unique<TargetFile>(path);
    if (!file->open())
        return fileFailed(*file);

    qint64 lDownLoaded = 0;
    QElapsedTimer sinceDelivery;
    sinceDelivery.start();
    int finalStatus = DataEnded;
    bool readFailed = false;
    QString readError;
    for (;;) {
        if (reply->bytesAvailable() <= 0) {
            // Reading an empty reply would only ask Qt's network thread for
            // more; wait for it to deliver instead.
            if (!file->flush())
                return fileFailed(*file);
            if (reply->isFinished()) {
                readFailed = reply->error() != QNetworkReply::NoError && !isAnswerStatusError(reply->error());
                if (readFailed)
                    readError = reply->errorString();
                break;
            }
            woken = waiter.wait();
            if (woken == ReplyWaiter::Woken::Stalled && reply->bytesAvailable() <= 0 && !reply->isFinished()) {
                readFailed = true;
                readError = stallMessage;
                break;
            }
            if (woken == ReplyWaiter::Woken::Leaving) {
                readFailed = true;
                readError = QStringLiteral("the application is closing");
                break;
            }
            continue;
        }
        const qint64 got = reply->read(chunk, ChunkSize);
        if (got <= 0) {
            readFailed = got < 0;
            if (readFailed)
                readError = reply->errorString();
            break;
        }
        if (!file->append(chunk, got))
            return fileFailed(*file);
        lDownLoaded += got;
        emit DLFileDowning(url, lDownLoaded, lFilesize, speedFor(lDownLoaded, startSecond, m_clock()));
        if (m_bStop) {
            m_bStop = false;
            finalStatus = StoppedOnRequest;
            break;
        }
        // One round of event delivery after every chunk keeps the window
        // live. Events already posted (queued calls, repaint requests from
        // the progress handlers) go out after each chunk; the full round,
        // which also polls the display and the sockets, at most once a
        // millisecond: on a fast connection chunks arrive far faster than
        // anyone clicks, and one poll per chunk took most of the time.
        if (sinceDelivery.nsecsElapsed() >= FullDeliveryIntervalNs) {
            QCoreApplication::processEvents();
            sinceDelivery.restart();
        } else {
            QCoreApplication::sendPostedEvents();
        }
    }

    if (!file->flush())
        return fileFailed(*file);
    emit DLFileStatus(finalStatus);
    file.reset();
    reply.reset();
    emit DLFileStatus(HandlesClosed);

    result.bytes = lDownLoaded;
    if (finalStatus == StoppedOnRequest) {
        result.ending = DownloadResult::Ending::Stopped;
        return result;
    }
    result.ending = DownloadResult::Ending::Finished;
    if (readFailed) {
        result.shortTransfer = true;
        result.error = readError;
    } else if (lFilesize > 0 && lDownLoaded < lFilesize) {
        result.shortTransfer = true;
        result.error = QStringLiteral("received %1 of %2 bytes").arg(lDownLoaded).arg(lFilesize);
    }
    return result;
}
