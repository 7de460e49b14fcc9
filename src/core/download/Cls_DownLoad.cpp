#include "core/download/Cls_DownLoad.h"
#include "core/download/DownloadStatus.h"
#include "core/platform/Network.h"

#include <curl/curl.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>
#include <map>
#include <memory>
#include <vector>

namespace {

using namespace DownloadStatus;

// How often, at most, a transfer polls for window events between chunks.
constexpr qint64 FullDeliveryIntervalNs = 1000000;

// What libcurl reads from the socket at once.
constexpr long ReceiveBufferBytes = 64 * 1024;

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

bool applicationSession()
{
    return QCoreApplication::instance() != nullptr;
}

bool curlReady()
{
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
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

// The temporary file a transfer writes before it is complete: created anew
// beside the target, never an existing path opened for writing. "NAME.part"
// when that name is free; when something already lies there (a leftover,
// a link, a folder someone planted) it is left alone and another free name
// is made. Either name is shortened at a character boundary to fit the
// 255 bytes a file name may have. Chunks are handed over one by one as they
// arrive and reach the file in batches: whenever the batch is full,
// whenever nothing more has arrived for the moment, and before the final
// status. A system call per 512 bytes would cost more than everything else
// per chunk together; this way the file is current whenever the engine
// waits for the network. Only commit() puts it in the target's place; gone
// without that, it removes itself, so an earlier target stays as it was.
class TargetFile {
public:
    explicit TargetFile(const QString &target) : m_target(target) {}
    ~TargetFile() { discard(); }
    TargetFile(const TargetFile &) = delete;
    TargetFile &operator=(const TargetFile &) = delete;

    bool open()
    {
        // A folder where the file should go could never be replaced by it.
        const QFileInfo existing(m_target);
        if (existing.exists() && !existing.isFile()) {
            m_error = QStringLiteral("not a file");
            return false;
        }
        const QString folder = existing.absolutePath();
        const QString name = existing.fileName();
        static constexpr int Attempts = 16;
        for (int attempt = 0; attempt < Attempts; ++attempt) {
            const QString candidate = folder + QLatin1Char('/') + Cls_DownLoad::partName(name, attempt);
            const QByteArray encoded = QFile::encodeName(candidate);
            // O_EXCL: a name that exists in any form (a file, a folder, a
            // symbolic or hard link) is never opened; O_NOFOLLOW as well.
            const int fd = ::open(encoded.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
            if (fd >= 0) {
                m_fd = fd;
                m_part = encoded;
                return true;
            }
            if (errno != EEXIST)
                return failWith(errno);
        }
        return failWith(EEXIST);
    }

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
        qint64 at = 0;
        while (at < m_pending) {
            const ssize_t written = ::write(m_fd, m_batch + at, size_t(m_pending - at));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                m_pending = 0;
                return failWith(written < 0 ? errno : ENOSPC);
            }
            at += written;
        }
        m_pending = 0;
        return true;
    }

    // Moves the finished file over the target in one step: whoever looks
    // sees the old file or the new one, never a part of either.
    bool commit()
    {
        if (!flush())
            return false;
        // Some file systems report a full disk only when the file is closed.
        const int fd = std::exchange(m_fd, -1);
        if (::close(fd) != 0)
            return failWith(errno);
        if (std::rename(m_part.constData(), QFile::encodeName(m_target).constData()) != 0)
            return failWith(errno);
        m_committed = true;
        return true;
    }

    // Closes and removes the temporary file this transfer made; the target
    // and whatever else lies in the folder are not touched.
    void discard()
    {
        if (m_fd >= 0)
            ::close(std::exchange(m_fd, -1));
        if (!m_part.isEmpty() && !m_committed)
            ::unlink(m_part.constData());
        m_part.clear();
    }

    QString errorString() const { return m_error; }
    int errorCode() const { return m_errno; }

private:
    bool failWith(int code)
    {
        m_errno = code;
        m_error = QString::fromLocal8Bit(std::strerror(code));
        return false;
    }

    const QString m_target;
    int m_fd = -1;
    QByteArray m_part;
    QString m_error;
    int m_errno = 0;
    bool m_committed = false;
    char m_batch[16 * 1024];
    qint64 m_pending = 0;
};

// One libcurl transfer, driven by the event loop of the calling thread:
// libcurl says which sockets to watch and when to call it back, socket
// notifiers and a timer do so. What arrives is held until the engine takes
// it in chunks; while too much is held the transfer is paused, so libcurl
// stops reading and the server waits. Unlike a reply that keeps a bounded
// read buffer on another thread, nothing received is ever dropped when the
// server closes the connection early.
class CurlTransfer {
public:
    explicit CurlTransfer(int stallLimitMs) : m_stallLimitMs(stallLimitMs)
    {
        m_curlTimer.setSingleShot(true);
        QObject::connect(&m_curlTimer, &QTimer::timeout, &m_context, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
        m_multi = curl_multi_init();
        m_easy = curl_easy_init();
        m_errorText[0] = '\0';
    }
    ~CurlTransfer() { close(); }
    CurlTransfer(const CurlTransfer &) = delete;
    CurlTransfer &operator=(const CurlTransfer &) = delete;

    bool ready() const { return m_multi && m_easy; }

    // Sets the transfer up and hands it to libcurl. False, with
    // setupError() saying why, when any option could not be set: above all
    // the restriction to http and https, without which nothing is fetched.
    bool start(const QByteArray &url)
    {
        for (const char *header : {"Cache-Control: no-cache", "Pragma: no-cache", "Accept-Encoding: identity"}) {
            curl_slist *const grown = curl_slist_append(m_headers, header);
            if (!grown)
                return setupFailed("HTTPHEADER", "out of memory");
            m_headers = grown;
        }
        const auto multi = [&](CURLMoption option, const char *name, auto value) {
            const CURLMcode code = curl_multi_setopt(m_multi, option, value);
            return code == CURLM_OK || setupFailed(name, curl_multi_strerror(code));
        };
        const auto easy = [&](CURLoption option, const char *name, auto value) {
            const CURLcode code = curl_easy_setopt(m_easy, option, value);
            return code == CURLE_OK || setupFailed(name, curl_easy_strerror(code));
        };
        const bool set = multi(CURLMOPT_SOCKETFUNCTION, "SOCKETFUNCTION", &CurlTransfer::onSocket)
                      && multi(CURLMOPT_SOCKETDATA, "SOCKETDATA", static_cast<void *>(this))
                      && multi(CURLMOPT_TIMERFUNCTION, "TIMERFUNCTION", &CurlTransfer::onTimer)
                      && multi(CURLMOPT_TIMERDATA, "TIMERDATA", static_cast<void *>(this))
                      && easy(CURLOPT_URL, "URL", url.constData())
                      // Only http and https, for the address and for every redirect.
                      && easy(CURLOPT_PROTOCOLS_STR, "PROTOCOLS_STR", "http,https")
                      && easy(CURLOPT_REDIR_PROTOCOLS_STR, "REDIR_PROTOCOLS_STR", "http,https")
                      && easy(CURLOPT_FOLLOWLOCATION, "FOLLOWLOCATION", 1L)
                      && easy(CURLOPT_MAXREDIRS, "MAXREDIRS", 50L)
                      && easy(CURLOPT_USERAGENT, "USERAGENT", "VB Http")
                      // Uncached, and the body as the server has it: no compression that
                      // would change the bytes and hide the Content-Length.
                      && easy(CURLOPT_HTTPHEADER, "HTTPHEADER", m_headers)
                      && easy(CURLOPT_SUPPRESS_CONNECT_HEADERS, "SUPPRESS_CONNECT_HEADERS", 1L)
                      && easy(CURLOPT_NOSIGNAL, "NOSIGNAL", 1L)
                      && easy(CURLOPT_BUFFERSIZE, "BUFFERSIZE", ReceiveBufferBytes)
                      && easy(CURLOPT_ERRORBUFFER, "ERRORBUFFER", static_cast<char *>(m_errorText))
                      && easy(CURLOPT_HEADERFUNCTION, "HEADERFUNCTION", &CurlTransfer::onHeader)
                      && easy(CURLOPT_HEADERDATA, "HEADERDATA", static_cast<void *>(this))
                      && easy(CURLOPT_WRITEFUNCTION, "WRITEFUNCTION", &CurlTransfer::onBody)
                      && easy(CURLOPT_WRITEDATA, "WRITEDATA", static_cast<void *>(this));
        if (!set)
            return false;
        const CURLMcode added = curl_multi_add_handle(m_multi, m_easy);
        if (added != CURLM_OK)
            return setupFailed("add_handle", curl_multi_strerror(added));
        m_added = true;
        return true;
    }
    QString setupError() const { return m_setupError; }

    // A redirect to an address of another kind (file:, ftp:, ...) that was
    // refused; empty when none was.
    const QString &refusedRedirect() const { return m_refusedRedirect; }

    // Ends the current or next wait() at once, with Woken::Interrupted.
    void interrupt()
    {
        m_interrupted = true;
        news();
    }

    // Closes the connection and lets go of every handle; safe to repeat.
    void close()
    {
        if (m_added)
            curl_multi_remove_handle(m_multi, m_easy);
        m_added = false;
        if (m_easy)
            curl_easy_cleanup(std::exchange(m_easy, nullptr));
        if (m_multi)
            curl_multi_cleanup(std::exchange(m_multi, nullptr));
        curl_slist_free_all(std::exchange(m_headers, nullptr));
        m_curlTimer.stop();
        m_watches.clear(); // not from inside a notifier's signal: gone at once
    }

    enum class Woken { News, Stalled, Leaving, Interrupted };

    // Runs the event loop until the final answer, data or the end arrive,
    // or nothing has for the stall limit.
    Woken wait()
    {
        if (m_interrupted)
            return Woken::Interrupted;
        QEventLoop loop;
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        limit.start(m_stallLimitMs);
        m_loop = &loop;
        // A loop that cannot run because the application is leaving returns
        // at once with -1: give up instead of spinning.
        const int code = loop.exec();
        m_loop = nullptr;
        if (m_interrupted)
            return Woken::Interrupted;
        const bool stalled = !limit.isActive();
        if (code != 0)
            return Woken::Leaving;
        return stalled ? Woken::Stalled : Woken::News;
    }

    bool answered() const { return m_answered; }
    long httpStatus() const { return m_httpStatus; }
    const QByteArray &contentLength() const { return m_contentLength; }
    const QByteArray &contentType() const { return m_contentType; }
    bool done() const { return m_done; }
    bool failed() const { return m_done && m_result != CURLE_OK; }
    QString errorText() const
    {
        return QString::fromUtf8(m_errorText[0] ? m_errorText : curl_easy_strerror(m_result));
    }

    qint64 available() const { return qint64(m_held.size() - m_readAt); }
    qint64 take(char *into, qint64 most)
    {
        const qint64 n = std::min(most, available());
        std::memcpy(into, m_held.data() + m_readAt, size_t(n));
        m_readAt += size_t(n);
        if (m_readAt == m_held.size()) {
            m_held.clear(); // keeps its capacity
            m_readAt = 0;
        }
        return n;
    }
    // Everything held has been taken: let libcurl go on reading.
    void resume()
    {
        if (!m_paused || !m_easy)
            return;
        m_paused = false;
        // May hand over what it kept at once.
        if (const CURLcode code = curl_easy_pause(m_easy, CURLPAUSE_CONT); code != CURLE_OK)
            fail(code);
        collectDone();
    }

private:
    struct Watch {
        std::unique_ptr<QSocketNotifier> read, write;
        // Removed from inside its own signal: disabled now, deleted later.
        void forget()
        {
            for (auto *notifier : {read.release(), write.release()}) {
                if (notifier) {
                    notifier->setEnabled(false);
                    notifier->deleteLater();
                }
            }
        }
    };

    void news()
    {
        if (m_loop)
            m_loop->quit();
    }

    void act(curl_socket_t socket, int events)
    {
        if (!m_multi)
            return;
        int running = 0;
        if (const CURLMcode code = curl_multi_socket_action(m_multi, socket, events, &running); code != CURLM_OK) {
            std::snprintf(m_errorText, sizeof m_errorText, "%s", curl_multi_strerror(code));
            fail(CURLE_RECV_ERROR);
        }
        collectDone();
    }

    void collectDone()
    {
        if (!m_multi)
            return;
        int left = 0;
        while (CURLMsg *message = curl_multi_info_read(m_multi, &left)) {
            if (message->msg != CURLMSG_DONE || message->easy_handle != m_easy)
                continue;
            m_done = true;
            m_result = message->data.result;
            // A redirect to an address that is not http or https is refused,
            // not taken for the answer.
            if (!m_answered && m_location && m_result == CURLE_UNSUPPORTED_PROTOCOL) {
                m_refusedRedirect = QString::fromUtf8(m_locationValue);
            }
            // A redirect libcurl would not follow (too many) is the answer.
            if (!m_answered && m_refusedRedirect.isEmpty()) {
                long status = 0;
                curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &status);
                if (status > 0) {
                    m_answered = true;
                    m_httpStatus = status;
                }
            }
            news();
        }
    }

    void watch(curl_socket_t socket, int what)
    {
        if (what == CURL_POLL_REMOVE) {
            if (const auto found = m_watches.find(socket); found != m_watches.end()) {
                found->second.forget();
                m_watches.erase(found);
            }
            return;
        }
        Watch &watched = m_watches[socket];
        const auto need = [&](std::unique_ptr<QSocketNotifier> &notifier, QSocketNotifier::Type type, bool wanted,
                              int event) {
            if (!notifier && wanted) {
                notifier = std::make_unique<QSocketNotifier>(qintptr(socket), type);
                QObject::connect(notifier.get(), &QSocketNotifier::activated, &m_context,
                                 [this, socket, event] { act(socket, event); });
            }
            if (notifier)
                notifier->setEnabled(wanted);
        };
        need(watched.read, QSocketNotifier::Read, what & CURL_POLL_IN, CURL_CSELECT_IN);
        need(watched.write, QSocketNotifier::Write, what & CURL_POLL_OUT, CURL_CSELECT_OUT);
    }

    // A header line of the answer. The final answer's headers end with an
    // empty line; answers that only lead to another (1xx, a redirect that
    // libcurl follows) are not the answer.
    void header(const QByteArray &line)
    {
        if (m_answered)
            return; // trailers of a chunked body
        if (line.startsWith("HTTP/")) {
            m_location = false;
            m_contentLength.clear();
            m_contentType.clear();
            return;
        }
        if (line == "\r\n" || line == "\n") {
            long status = 0;
            curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &status);
            static constexpr long followed[] = {301, 302, 303, 305, 307, 308};
            const bool redirecting =
                m_location && std::find(std::begin(followed), std::end(followed), status) != std::end(followed);
            if (status < 200 || redirecting)
                return;
            m_answered = true;
            m_httpStatus = status;
            news();
            return;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "location") {
            m_location = true;
            m_locationValue = value;
        }
        else if (name == "content-length") // a repeated header is read as Qt joins them
            m_contentLength = m_contentLength.isEmpty() ? value : m_contentLength + ", " + value;
        else if (name == "content-type")
            m_contentType = value;
    }

    // Takes all of a piece or, while enough is held already, none: libcurl
    // keeps it and pauses until resume().
    size_t body(const char *data, size_t size)
    {
        if (available() > 0 && available() + qint64(size) > Cls_DownLoad::HeldBytes) {
            m_paused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        if (m_readAt > 0) {
            m_held.erase(m_held.begin(), m_held.begin() + qsizetype(m_readAt));
            m_readAt = 0;
        }
        m_held.insert(m_held.end(), data, data + size);
        news();
        return size;
    }

    static int onSocket(CURL *, curl_socket_t socket, int what, void *self, void *)
    {
        static_cast<CurlTransfer *>(self)->watch(socket, what);
        return 0;
    }
    static int onTimer(CURLM *, long timeoutMs, void *self)
    {
        QTimer &timer = static_cast<CurlTransfer *>(self)->m_curlTimer;
        if (timeoutMs < 0)
            timer.stop();
        else
            timer.start(int(std::min<long>(timeoutMs, 24L * 3600 * 1000)));
        return 0;
    }
    static size_t onHeader(char *data, size_t size, size_t count, void *self)
    {
        static_cast<CurlTransfer *>(self)->header(QByteArray(data, qsizetype(size * count)));
        return size * count;
    }
    static size_t onBody(char *data, size_t size, size_t count, void *self)
    {
        return static_cast<CurlTransfer *>(self)->body(data, size * count);
    }

    bool setupFailed(const char *option, const char *why)
    {
        m_setupError = QStringLiteral("cannot set up the transfer (%1: %2)")
                           .arg(QLatin1String(option), QString::fromUtf8(why));
        return false;
    }

    // Ends the transfer with `code` as its result, as libcurl would.
    void fail(CURLcode code)
    {
        if (m_done)
            return;
        m_done = true;
        m_result = code;
        news();
    }

    QObject m_context; // receives the notifiers' and the timer's signals
    const int m_stallLimitMs;
    CURLM *m_multi = nullptr;
    CURL *m_easy = nullptr;
    curl_slist *m_headers = nullptr;
    bool m_added = false;
    char m_errorText[CURL_ERROR_SIZE];
    QTimer m_curlTimer;
    std::map<curl_socket_t, Watch> m_watches;
    QEventLoop *m_loop = nullptr;

    bool m_answered = false;
    long m_httpStatus = 0;
    bool m_location = false;
    QByteArray m_locationValue;
    QByteArray m_contentLength;
    QByteArray m_contentType;
    bool m_done = false;
    CURLcode m_result = CURLE_OK;
    QString m_setupError;
    QString m_refusedRedirect;
    bool m_interrupted = false;

    std::vector<char> m_held;
    size_t m_readAt = 0;
    bool m_paused = false;
};

} // namespace

Cls_DownLoad::Cls_DownLoad(QObject *parent)
    : QObject(parent), m_clock(secondsSinceMidnight), m_session(applicationSession)
{
}

bool Cls_DownLoad::DLFileStop()
{
    m_bStop = true;
    if (m_running) {
        m_stopWhileRunning = true;
        if (m_wake)
            m_wake();
    }
    return false;
}

QString Cls_DownLoad::partPath(const QString &target)
{
    const QFileInfo info(target);
    return info.absolutePath() + QLatin1Char('/') + partName(info.fileName(), 0);
}

QString Cls_DownLoad::partName(const QString &name, int attempt)
{
    static constexpr qsizetype MaxNameBytes = 255;
    QString suffix = QStringLiteral(".part");
    if (attempt > 0)
        suffix.prepend(QLatin1Char('.') + QString::number(QRandomGenerator::global()->generate(), 16));
    const qsizetype room = MaxNameBytes - suffix.toUtf8().size();
    QString stem = name;
    while (!stem.isEmpty() && stem.toUtf8().size() > room) {
        const qsizetype size = stem.size();
        const bool pair = size >= 2 && stem.at(size - 1).isLowSurrogate() && stem.at(size - 2).isHighSurrogate();
        stem.chop(pair ? 2 : 1);
    }
    return stem + suffix;
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
    m_stopWhileRunning = false;
    const auto notRunning = qScopeGuard([this] {
        m_running = false;
        // A stop asked for during this transfer belongs to it: when it came
        // too late to act on (the data had ended), it must not cut the next
        // transfer short.
        if (std::exchange(m_stopWhileRunning, false))
            m_bStop = false;
    });
    return transfer(sRemoteURL, sLocalFilePath);
}

DownloadResult Cls_DownLoad::transfer(const QString &url, const QString &path)
{
    DownloadResult result;
    m_answer = {};
    emit DLFileStatus(Connecting);

    // The session stands for the platform's root handle: without an
    // application object to run the event loop there is none.
    std::unique_ptr<CurlTransfer> net;
    if (m_session && m_session() && curlReady())
        net = std::make_unique<CurlTransfer>(m_stallLimitMs);
    if (!net || !net->ready()) {
        emit DLFileStatus(NoSession);
        result.ending = DownloadResult::Ending::NoSession;
        result.error = QStringLiteral("no network session");
        return result;
    }
    emit DLFileStatus(SessionOpen);

    const QUrl address(url);
    const auto refuse = [&](const QString &why) {
        net->close();
        emit DLFileStatus(NoAnswer);
        emit DLFileStatus(HandlesClosed);
        result.ending = DownloadResult::Ending::AddressRefused;
        result.error = why;
        return result;
    };
    const QString scheme = address.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return refuse(QStringLiteral("not an http address: %1").arg(url));
    if (isReservedInvalidHost(address))
        return refuse(QStringLiteral("Host %1 not found").arg(address.host()));

    if (!net->start(address.toEncoded()))
        return refuse(net->setupError());
    m_wake = [raw = net.get()] { raw->interrupt(); };
    const auto noWake = qScopeGuard([this] { m_wake = nullptr; });
    // A stop asked for while waiting for the server is acted on at once.
    const auto stopWaiting = [&] {
        m_bStop = false;
        m_stopWhileRunning = false;
        net->close();
        emit DLFileStatus(StoppedOnRequest);
        emit DLFileStatus(HandlesClosed);
        result.ending = DownloadResult::Ending::Stopped;
        return result;
    };
    const QString stallMessage = QStringLiteral("nothing received for %1 s").arg(m_stallLimitMs / 1000.0);
    const QString leavingMessage = QStringLiteral("the application is closing");

    CurlTransfer::Woken woken = CurlTransfer::Woken::News;
    while (!net->answered() && !net->done() && woken == CurlTransfer::Woken::News)
        woken = net->wait();
    if (woken == CurlTransfer::Woken::Interrupted)
        return stopWaiting();
    if (!net->refusedRedirect().isEmpty())
        return refuse(QStringLiteral("refused a redirect to %1: only http and https are followed")
                          .arg(net->refusedRedirect()));
    if (!net->answered()) {
        const QString why = woken == CurlTransfer::Woken::Stalled ? QStringLiteral("no answer: ") + stallMessage
                          : woken == CurlTransfer::Woken::Leaving ? leavingMessage
                                                                  : net->errorText();
        return refuse(why);
    }
    if (judgeNetworkEnd(int(net->httpStatus()), false) == NetworkOutcome::Refused)
        return refuse(QStringLiteral("the proxy refused the request (%1)").arg(net->httpStatus()));
    result.httpStatus = int(net->httpStatus());
    result.contentType = net->contentType();
    m_answer = result;
    emit DLFileStatus(Answered);

    const qint64 lFilesize = announcedSize(net->contentLength());
    result.announced = lFilesize;
    char chunk[ChunkSize];
    const qint64 startSecond = qint64(roundHalfEven(m_clock()));
    emit DLFileStatus(Receiving);

    TargetFile file(path);
    const auto fileFailed = [&] {
        // The connection and the ".part" go with their owners; no status follows.
        result.ending = DownloadResult::Ending::FileError;
        result.bytes = 0;
        result.error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        result.systemError = file.errorCode();
        return result;
    };
    if (!file.open())
        return fileFailed();

    qint64 lDownLoaded = 0;
    QElapsedTimer sinceDelivery;
    sinceDelivery.start();
    int finalStatus = DataEnded;
    bool readFailed = false;
    QString readError;
    for (;;) {
        if (net->available() <= 0) {
            if (!file.flush())
                return fileFailed();
            net->resume();
            if (net->available() > 0)
                continue;
            if (net->done()) {
                readFailed = net->failed();
                if (readFailed)
                    readError = net->errorText();
                break;
            }
            woken = net->wait();
            if (woken == CurlTransfer::Woken::Interrupted) {
                m_bStop = false;
                m_stopWhileRunning = false;
                finalStatus = StoppedOnRequest;
                break;
            }
            if (woken == CurlTransfer::Woken::Stalled && net->available() <= 0 && !net->done()) {
                readFailed = true;
                readError = stallMessage;
                break;
            }
            if (woken == CurlTransfer::Woken::Leaving) {
                readFailed = true;
                readError = leavingMessage;
                break;
            }
            continue;
        }
        const qint64 got = net->take(chunk, ChunkSize);
        if (!file.append(chunk, got))
            return fileFailed();
        lDownLoaded += got;
        emit DLFileDowning(url, lDownLoaded, lFilesize, speedFor(lDownLoaded, startSecond, m_clock()));
        if (m_bStop) {
            m_bStop = false;
            m_stopWhileRunning = false;
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
    net->close();

    result.bytes = lDownLoaded;
    result.ending = finalStatus == StoppedOnRequest ? DownloadResult::Ending::Stopped : DownloadResult::Ending::Finished;
    if (finalStatus == DataEnded && judgeNetworkEnd(result.httpStatus, readFailed) == NetworkOutcome::Broken) {
        result.shortTransfer = true;
        result.error = readError;
    } else if (finalStatus == DataEnded && lFilesize > 0 && lDownLoaded < lFilesize) {
        result.shortTransfer = true;
        result.error = QStringLiteral("received %1 of %2 bytes").arg(lDownLoaded).arg(lFilesize);
    }
    // Only now may the old target go; anything less than a complete answer
    // leaves it, and the ".part" is removed with `file`.
    if (result.complete() && !file.commit())
        return fileFailed();
    file.discard();
    emit DLFileStatus(finalStatus);
    emit DLFileStatus(HandlesClosed);
    return result;
}
