#include "core/download/Cls_DownLoad.h"
#include "core/download/DownloadStatus.h"
#include "core/download/KeptPartial.h"
#include "core/platform/Network.h"

#include <curl/curl.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <QPointer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <map>
#include <set>
#include <memory>
#include <vector>

namespace {

using namespace DownloadStatus;

// What libcurl reads from the socket at once.
constexpr long ReceiveBufferBytes = 64 * 1024;

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
                // Held while it is written: another engine never continues it meanwhile.
                ::flock(fd, LOCK_EX | LOCK_NB);
                m_fd = fd;
                m_part = encoded;
                m_size = 0;
                return true;
            }
            if (errno != EEXIST)
                return failWith(errno);
        }
        return failWith(EEXIST);
    }

    // Takes over a temporary file an earlier transfer kept, to write on at
    // its end: only the very file that was kept (device and inode), a
    // regular file of this user with no other link, never through a link.
    bool adopt(const QString &temp, quint64 device, quint64 inode)
    {
        const QByteArray encoded = QFile::encodeName(temp);
        const int fd = ::open(encoded.constData(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            return failWith(errno);
        struct stat info {};
        const bool same = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::getuid()
                       && quint64(info.st_dev) == device && quint64(info.st_ino) == inode && info.st_nlink == 1;
        // Another transfer into the same target may be writing on it already.
        const bool free = same && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (!free || ::lseek(fd, 0, SEEK_END) != info.st_size) {
            ::close(fd);
            return failWith(EEXIST);
        }
        m_fd = fd;
        m_part = encoded;
        m_size = qint64(info.st_size);
        return true;
    }

    // Empties the file to start over in it.
    bool truncate()
    {
        m_pending = 0;
        if (::ftruncate(m_fd, 0) != 0 || ::lseek(m_fd, 0, SEEK_SET) != 0)
            return failWith(errno);
        m_size = 0;
        return true;
    }

    bool append(const char *data, qint64 size)
    {
        if (m_pending + size > qint64(sizeof m_batch) && !flush())
            return false;
        std::memcpy(m_batch + m_pending, data, size_t(size));
        m_pending += size;
        m_size += size;
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

    // Writes out and closes the finished file, ready for commit().
    bool close()
    {
        if (!flush())
            return false;
        // Some file systems report a full disk only when the file is closed.
        const int fd = std::exchange(m_fd, -1);
        if (::close(fd) != 0)
            return failWith(errno);
        return true;
    }

    // Moves the closed file over the target in one step: whoever looks
    // sees the old file or the new one, never a part of either.
    bool commit()
    {
        if (std::rename(m_part.constData(), QFile::encodeName(m_target).constData()) != 0)
            return failWith(errno);
        m_committed = true;
        return true;
    }

    // Writes out and closes the file and leaves it in place for a later
    // transfer to continue; `device` and `inode` say which file it is.
    bool keep(quint64 *device, quint64 *inode)
    {
        struct stat info {};
        if (m_fd < 0 || !flush() || ::fstat(m_fd, &info) != 0)
            return false;
        if (::close(std::exchange(m_fd, -1)) != 0)
            return false;
        *device = quint64(info.st_dev);
        *inode = quint64(info.st_ino);
        m_committed = true; // not removed when this goes
        return true;
    }
    // A kept file that could not be recorded goes after all.
    void unkeep()
    {
        if (!m_part.isEmpty())
            ::unlink(m_part.constData());
        m_part.clear();
    }

    QString path() const { return QFile::decodeName(m_part); }
    // Bytes written so far, those still in the batch included.
    qint64 size() const { return m_size; }

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
    qint64 m_size = 0;
    char m_batch[16 * 1024];
    qint64 m_pending = 0;
};

class CurlTransfer;

// The thread's one libcurl multi handle, driven by its event loop: libcurl
// says which sockets to watch and when to call it back, socket notifiers and
// a timer do so. Every transfer of every engine runs on it, so connections
// a server keeps open (and resolved names) are reused from one transfer to
// the next. It belongs to the application object and goes with it.
class CurlMulti : public QObject {
public:
    // Nothing when there is no application object or libcurl cannot start.
    static CurlMulti *instance();
    ~CurlMulti() override;

    bool add(CurlTransfer *transfer, CURL *easy, QString *why);
    void remove(CurlTransfer *transfer, CURL *easy);
    // Hands every ended transfer's result to its owner.
    void collectDone();

private:
    explicit CurlMulti(QObject *parent);

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

    void act(curl_socket_t socket, int events);
    void watch(curl_socket_t socket, int what);
    static int onSocket(CURL *, curl_socket_t socket, int what, void *self, void *)
    {
        static_cast<CurlMulti *>(self)->watch(socket, what);
        return 0;
    }
    static int onTimer(CURLM *, long timeoutMs, void *self)
    {
        QTimer &timer = static_cast<CurlMulti *>(self)->m_timer;
        if (timeoutMs < 0)
            timer.stop();
        else
            timer.start(int(std::min<long>(timeoutMs, 24L * 3600 * 1000)));
        return 0;
    }

    CURLM *m_multi = nullptr;
    QTimer m_timer;
    std::map<curl_socket_t, Watch> m_watches;
    std::set<CurlTransfer *> m_transfers;
};

// One libcurl transfer on the shared multi handle. What arrives is held
// until the engine takes it in chunks; while too much is held the transfer
// is paused, so libcurl stops reading and the server waits. Unlike a reply
// that keeps a bounded read buffer on another thread, nothing received is
// ever dropped when the server closes the connection early. Whatever
// happens (the answer, data, the end, a stall) is announced through `news`,
// which is called from inside libcurl and must only take note.
class CurlTransfer {
public:
    CurlTransfer(CurlMulti &multi, int stallLimitMs, std::function<void()> news)
        : m_multi(&multi), m_easy(curl_easy_init()), m_stallLimitMs(stallLimitMs), m_news(std::move(news))
    {
        m_errorText[0] = '\0';
        m_stall.setSingleShot(true);
        QObject::connect(&m_stall, &QTimer::timeout, &m_stall, [this] {
            m_stalled = true;
            m_news();
        });
    }
    ~CurlTransfer() { close(); }
    CurlTransfer(const CurlTransfer &) = delete;
    CurlTransfer &operator=(const CurlTransfer &) = delete;

    bool ready() const { return m_easy != nullptr; }

    // Sets the transfer up and hands it to libcurl. False, with
    // setupError() saying why, when any option could not be set: above all
    // the restriction to http and https, without which nothing is fetched.
    bool start(const QByteArray &url, const QList<QByteArray> &extraHeaders = {})
    {
        QList<QByteArray> headers{"Cache-Control: no-cache", "Pragma: no-cache", "Accept-Encoding: identity"};
        headers += extraHeaders;
        for (const QByteArray &header : std::as_const(headers)) {
            curl_slist *const grown = curl_slist_append(m_headers, header.constData());
            if (!grown)
                return setupFailed("HTTPHEADER", "out of memory");
            m_headers = grown;
        }
        const auto easy = [&](CURLoption option, const char *name, auto value) {
            const CURLcode code = curl_easy_setopt(m_easy, option, value);
            return code == CURLE_OK || setupFailed(name, curl_easy_strerror(code));
        };
        const bool set = easy(CURLOPT_URL, "URL", url.constData())
                      && easy(CURLOPT_PRIVATE, "PRIVATE", static_cast<void *>(this))
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
        if (!m_multi || !m_multi->add(this, m_easy, &m_setupError))
            return false;
        m_added = true;
        m_stall.start(m_stallLimitMs);
        return true;
    }
    QString setupError() const { return m_setupError; }

    // A redirect to an address of another kind (file:, ftp:, ...) that was
    // refused; empty when none was.
    const QString &refusedRedirect() const { return m_refusedRedirect; }

    // Lets go of the handle; a connection the server keeps open stays with
    // the multi handle for the next transfer. Safe to repeat.
    void close()
    {
        if (m_added && m_multi)
            m_multi->remove(this, m_easy);
        m_added = false;
        if (m_easy)
            curl_easy_cleanup(std::exchange(m_easy, nullptr));
        curl_slist_free_all(std::exchange(m_headers, nullptr));
        m_stall.stop();
    }

    // The multi handle is going away: the transfer ends as failed.
    void detach()
    {
        if (m_added && m_multi)
            m_multi->remove(this, m_easy);
        m_added = false;
        m_multi = nullptr;
        std::snprintf(m_errorText, sizeof m_errorText, "%s", "the application is closing");
        fail(CURLE_ABORTED_BY_CALLBACK);
    }

    // libcurl's end of the transfer, through the multi handle.
    void completed(CURLcode result)
    {
        m_done = true;
        m_result = result;
        // A redirect to an address that is not http or https is refused,
        // not taken for the answer.
        if (!m_answered && m_location && m_result == CURLE_UNSUPPORTED_PROTOCOL)
            m_refusedRedirect = QString::fromUtf8(m_locationValue);
        // A redirect libcurl would not follow (too many) is the answer.
        if (!m_answered && m_refusedRedirect.isEmpty()) {
            long status = 0;
            curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &status);
            if (status > 0) {
                m_answered = true;
                m_httpStatus = status;
            }
        }
        m_stall.stop();
        m_news();
    }

    // Ends the transfer with `code` as its result, as libcurl would.
    void fail(CURLcode code)
    {
        if (m_done)
            return;
        m_done = true;
        m_result = code;
        m_stall.stop();
        m_news();
    }
    char *errorBuffer() { return m_errorText; }

    bool answered() const { return m_answered; }
    long httpStatus() const { return m_httpStatus; }
    const QByteArray &contentLength() const { return m_contentLength; }
    const QByteArray &contentType() const { return m_contentType; }
    const QByteArray &etag() const { return m_etag; }
    const QByteArray &lastModified() const { return m_lastModified; }
    const QByteArray &contentRange() const { return m_contentRange; }
    const QByteArray &retryAfter() const { return m_retryAfter; }
    bool done() const { return m_done; }
    // The transfer failed the way a busy or briefly unreachable server makes
    // one fail (refused, reset, nothing answered, timed out, cut short): the
    // same request may well succeed a moment later. A bad address, a
    // protocol that is not allowed or a failed setup would not.
    bool failedTransiently() const
    {
        switch (m_result) {
        case CURLE_COULDNT_CONNECT:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_PARTIAL_FILE:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
            return m_done;
        default:
            return false;
        }
    }
    bool failed() const { return m_done && m_result != CURLE_OK; }
    // Nothing has arrived for the stall limit.
    bool stalled() const { return m_stalled; }
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
    // Everything held has been taken: let libcurl go on reading. The time
    // the transfer stood paused does not count as a stall.
    void resume()
    {
        if (!m_paused || !m_easy)
            return;
        m_paused = false;
        if (!m_done)
            arrived();
        // May hand over what it kept at once.
        if (const CURLcode code = curl_easy_pause(m_easy, CURLPAUSE_CONT); code != CURLE_OK)
            fail(code);
        if (m_multi)
            m_multi->collectDone();
    }

private:
    // Something came: the stall limit starts again.
    void arrived()
    {
        m_stalled = false;
        m_stall.start(m_stallLimitMs);
    }

    // A header line of the answer. The final answer's headers end with an
    // empty line; answers that only lead to another (1xx, a redirect that
    // libcurl follows) are not the answer.
    void header(const QByteArray &line)
    {
        arrived();
        if (m_answered)
            return; // trailers of a chunked body
        if (line.startsWith("HTTP/")) {
            m_location = false;
            m_contentLength.clear();
            m_contentType.clear();
            m_etag.clear();
            m_lastModified.clear();
            m_contentRange.clear();
            m_retryAfter.clear();
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
            m_news();
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
        else if (name == "etag")
            m_etag = value;
        else if (name == "last-modified")
            m_lastModified = value;
        else if (name == "content-range")
            m_contentRange = value;
        else if (name == "retry-after")
            m_retryAfter = value;
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
        arrived();
        m_news();
        return size;
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

    QPointer<CurlMulti> m_multi;
    CURL *m_easy = nullptr;
    curl_slist *m_headers = nullptr;
    bool m_added = false;
    char m_errorText[CURL_ERROR_SIZE];
    const int m_stallLimitMs;
    const std::function<void()> m_news;
    QTimer m_stall;
    bool m_stalled = false;

    bool m_answered = false;
    long m_httpStatus = 0;
    bool m_location = false;
    QByteArray m_locationValue;
    QByteArray m_contentLength;
    QByteArray m_contentType;
    QByteArray m_etag;
    QByteArray m_lastModified;
    QByteArray m_contentRange;
    QByteArray m_retryAfter;
    bool m_done = false;
    CURLcode m_result = CURLE_OK;
    QString m_setupError;
    QString m_refusedRedirect;

    std::vector<char> m_held;
    size_t m_readAt = 0;
    bool m_paused = false;
};

CurlMulti *CurlMulti::instance()
{
    static QPointer<CurlMulti> shared;
    if (!shared && QCoreApplication::instance() && curlReady()) {
        auto *made = new CurlMulti(QCoreApplication::instance());
        if (made->m_multi)
            shared = made;
        else
            delete made;
    }
    return shared.data();
}

CurlMulti::CurlMulti(QObject *parent) : QObject(parent), m_multi(curl_multi_init())
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
    if (!m_multi)
        return;
    const bool set = curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &CurlMulti::onSocket) == CURLM_OK
                  && curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, static_cast<void *>(this)) == CURLM_OK
                  && curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &CurlMulti::onTimer) == CURLM_OK
                  && curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, static_cast<void *>(this)) == CURLM_OK;
    if (!set)
        curl_multi_cleanup(std::exchange(m_multi, nullptr));
}

CurlMulti::~CurlMulti()
{
    // Transfers that outlive the application end as failed; their owners
    // let go of them later.
    for (CurlTransfer *transfer : std::set<CurlTransfer *>(m_transfers))
        transfer->detach();
    m_timer.stop();
    m_watches.clear(); // not from inside a notifier's signal: gone at once
    if (m_multi)
        curl_multi_cleanup(m_multi);
}

bool CurlMulti::add(CurlTransfer *transfer, CURL *easy, QString *why)
{
    if (const CURLMcode code = curl_multi_add_handle(m_multi, easy); code != CURLM_OK) {
        *why = QStringLiteral("cannot set up the transfer (add_handle: %1)")
                   .arg(QString::fromUtf8(curl_multi_strerror(code)));
        return false;
    }
    m_transfers.insert(transfer);
    return true;
}

void CurlMulti::remove(CurlTransfer *transfer, CURL *easy)
{
    if (m_transfers.erase(transfer) > 0)
        curl_multi_remove_handle(m_multi, easy);
}

void CurlMulti::act(curl_socket_t socket, int events)
{
    int running = 0;
    if (const CURLMcode code = curl_multi_socket_action(m_multi, socket, events, &running); code != CURLM_OK) {
        // The multi handle itself failed: no transfer on it can go on.
        for (CurlTransfer *transfer : std::set<CurlTransfer *>(m_transfers)) {
            std::snprintf(transfer->errorBuffer(), CURL_ERROR_SIZE, "%s", curl_multi_strerror(code));
            transfer->fail(CURLE_RECV_ERROR);
        }
    }
    collectDone();
}

void CurlMulti::collectDone()
{
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(m_multi, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        char *owner = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &owner);
        auto *transfer = reinterpret_cast<CurlTransfer *>(owner);
        if (transfer && m_transfers.count(transfer))
            transfer->completed(message->data.result);
    }
}

void CurlMulti::watch(curl_socket_t socket, int what)
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
            connect(notifier.get(), &QSocketNotifier::activated, this, [this, socket, event] { act(socket, event); });
        }
        if (notifier)
            notifier->setEnabled(wanted);
    };
    need(watched.read, QSocketNotifier::Read, what & CURL_POLL_IN, CURL_CSELECT_IN);
    need(watched.write, QSocketNotifier::Write, what & CURL_POLL_OUT, CURL_CSELECT_OUT);
}

// Where a "206 Partial Content" answer's bytes start, read from its
// Content-Range ("bytes 100-199/5000"); -1 when it cannot be read. `total`
// gets the whole size, 0 when the server gave "*".
qint64 contentRangeStart(const QByteArray &range, qint64 *total)
{
    *total = 0;
    const QByteArray text = range.trimmed();
    if (!text.startsWith("bytes "))
        return -1;
    const qsizetype dash = text.indexOf('-');
    const qsizetype slash = text.indexOf('/');
    if (dash < 0 || slash < dash)
        return -1;
    bool ok = false;
    const qint64 start = text.mid(6, dash - 6).trimmed().toLongLong(&ok);
    if (!ok || start < 0)
        return -1;
    const QByteArray whole = text.mid(slash + 1).trimmed();
    if (whole != "*") {
        *total = whole.toLongLong(&ok);
        if (!ok || *total <= start)
            return -1;
    }
    return start;
}

// Retry-After, as seconds or as an HTTP date, in milliseconds from now; -1
// when absent or unreadable.
qint64 retryAfterMs(const QByteArray &value)
{
    const QByteArray text = value.trimmed();
    if (text.isEmpty())
        return -1;
    bool ok = false;
    const qint64 seconds = text.toLongLong(&ok);
    if (ok)
        return seconds >= 0 ? seconds * 1000 : -1;
    // An HTTP date: "Wed, 09 Dec 2026 10:00:00 GMT", always in GMT.
    QDateTime when = QLocale::c().toDateTime(QString::fromLatin1(text), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"));
    if (!when.isValid())
        return -1;
    when.setTimeSpec(Qt::UTC);
    return std::max<qint64>(0, QDateTime::currentDateTimeUtc().msecsTo(when));
}

} // namespace

bool DownloadResult::complete() const
{
    return classifyDownload(*this) == DownloadClass::Complete;
}

DownloadClass classifyDownload(const DownloadResult &result)
{
    using Ending = DownloadResult::Ending;
    switch (result.ending) {
    case Ending::Stopped:
        return DownloadClass::Stopped;
    case Ending::NoSession:
    case Ending::AddressRefused:
        return DownloadClass::Refused;
    case Ending::FileError:
        return DownloadClass::FileError;
    case Ending::Finished:
        break;
    }
    if (result.httpStatus / 100 != 2)
        return DownloadClass::HttpError;
    if (result.shortTransfer)
        return DownloadClass::CutShort;
    if (result.bytes <= 0)
        return DownloadClass::Empty;
    return DownloadClass::Complete;
}

// One transfer from DLFile to its end: one attempt, or several when a
// transient failure is tried again.
struct Cls_DownLoad::Run {
    enum class Step { Starting, AwaitingAnswer, Receiving, Waiting };
    Step step = Step::Starting;
    TransferOptions options;
    QString url;
    QString path;
    QString stallMessage;
    QString resumeFolder;
    int retryUnitMs = 1000;
    std::unique_ptr<CurlTransfer> net;
    // After `net`: the ".part" goes first. `file` holds the body of a 2xx
    // answer and lasts from one attempt to the next; an error page that
    // comes while it holds bytes worth continuing goes to `errorBody`.
    std::unique_ptr<TargetFile> file;
    std::unique_ptr<TargetFile> errorBody;
    TargetFile *sink = nullptr;
    DownloadResult result;
    qint64 downloaded = 0;
    // `file` holds the first bytes of the answer described below, which had
    // a validator: a later attempt may ask for the rest.
    bool continuable = false;
    QByteArray etag;
    QByteArray lastModified;
    qint64 length = 0;
    // This attempt asked for the bytes from here on (0: all of them).
    qint64 rangeFrom = 0;
    qint64 resumedFrom = 0;
    // A kept file was looked for: its record is settled when the transfer ends.
    bool recordLooked = false;
    int retried = 0;
    QTimer backoff;
};

Cls_DownLoad::Cls_DownLoad(QObject *parent) : QObject(parent), m_session(applicationSession)
{
    qRegisterMetaType<DownloadResult>();
}

// A transfer still running ends here without another event: its ".part"
// is removed and an earlier target stays; with `resume` the ".part" is
// kept for the next transfer when it can be continued.
Cls_DownLoad::~Cls_DownLoad()
{
    if (m_run)
        keepOrDrop(true);
}

QString Cls_DownLoad::resumeFolder() const
{
    return m_resumeFolder.isEmpty() ? KeptPartial::defaultFolder() : m_resumeFolder;
}

void Cls_DownLoad::DLFileStop()
{
    m_bStop = true;
    if (m_running) {
        m_stopWhileRunning = true;
        post(); // a transfer that waits for the server acts on it at once
    }
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



bool Cls_DownLoad::DLFile(const QString &sRemoteURL, const QString &sLocalFilePath, const TransferOptions &options)
{
    // One transfer per engine: a second one would share its events and its
    // stop request. The caller waits for DLFileFinished, or uses another engine.
    if (m_running)
        return false;
    m_running = true;
    m_stopWhileRunning = false;
    m_answer = {};
    m_run = std::make_unique<Run>();
    m_run->options = options;
    m_run->options.retries = std::max(0, options.retries);
    m_run->url = sRemoteURL;
    m_run->path = sLocalFilePath;
    m_run->stallMessage = QStringLiteral("nothing received for %1 s").arg(m_stallLimitMs / 1000.0);
    m_run->resumeFolder = resumeFolder();
    m_run->retryUnitMs = std::max(0, m_retryUnitMs);
    m_run->backoff.setSingleShot(true);
    connect(&m_run->backoff, &QTimer::timeout, this, &Cls_DownLoad::post);
    post();
    return true;
}

void Cls_DownLoad::post()
{
    if (m_advancePosted)
        return;
    m_advancePosted = true;
    QMetaObject::invokeMethod(this, &Cls_DownLoad::advance, Qt::QueuedConnection);
}

// One round: the transfer goes as far as what has arrived lets it. A handler
// of its events that runs an event loop of its own (a modal dialog) may let
// another round come due meanwhile: that one is held until this one is over,
// so rounds never run inside each other.
void Cls_DownLoad::advance()
{
    m_advancePosted = false;
    if (m_advancing) {
        m_advanceWanted = true;
        return;
    }
    m_advancing = true;
    m_advanceWanted = false;
    if (m_run) {
        switch (m_run->step) {
        case Run::Step::Starting:
            begin();
            break;
        case Run::Step::AwaitingAnswer:
            awaitAnswer();
            break;
        case Run::Step::Receiving:
            receive();
            break;
        case Run::Step::Waiting:
            if (m_stopWhileRunning) { // a stop during the pause ends the transfer at once
                m_bStop = false;
                m_stopWhileRunning = false;
                DownloadResult result = m_run->result;
                result.ending = DownloadResult::Ending::Stopped;
                result.bytes = m_run->file && m_run->continuable ? m_run->file->size() : 0;
                result.shortTransfer = false;
                result.error.clear();
                finish(result, {StoppedOnRequest, HandlesClosed}, true);
            } else if (!m_run->backoff.isActive()) {
                startAttempt();
            }
            break;
        }
    }
    m_advancing = false;
    // The end is announced outside the round: its handlers may start the
    // next transfer on this engine, or let go of it.
    if (std::optional<DownloadResult> ended = std::exchange(m_finished, std::nullopt)) {
        emit DLFileFinished(*ended);
        return;
    }
    if (m_advanceWanted && m_run)
        post();
}

void Cls_DownLoad::begin()
{
    Run &run = *m_run;
    emit DLFileStatus(Connecting);

    // The session stands for the platform's root handle: without an
    // application object to run the event loop there is none.
    CurlMulti *const multi = m_session && m_session() ? CurlMulti::instance() : nullptr;
    if (multi)
        run.net = std::make_unique<CurlTransfer>(*multi, m_stallLimitMs, [this] { post(); });
    if (!run.net || !run.net->ready()) {
        DownloadResult result;
        result.ending = DownloadResult::Ending::NoSession;
        result.error = QStringLiteral("no network session");
        finish(result, {NoSession});
        return;
    }
    emit DLFileStatus(SessionOpen);

    if (run.options.resume)
        pickUpKeptFile();
    const QUrl address(run.url);
    const QString scheme = address.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return refuse(QStringLiteral("not an http address: %1").arg(run.url));
    if (isReservedInvalidHost(address))
        return refuse(QStringLiteral("Host %1 not found").arg(address.host()));
    startAttempt();
}

// Takes over the temporary file an earlier transfer into this target kept,
// when its record still describes that very file, for this address, with a
// validator to ask the server with. A file that is not the one recorded is
// neither opened nor removed; one of ours that cannot be continued goes.
void Cls_DownLoad::pickUpKeptFile()
{
    Run &run = *m_run;
    run.recordLooked = true;
    const std::optional<KeptPartial> kept = KeptPartial::load(run.resumeFolder, run.path);
    if (!kept)
        return;
    qint64 size = 0;
    switch (kept->check(run.url, &size)) {
    case KeptPartial::Check::Usable: {
        auto file = std::make_unique<TargetFile>(run.path);
        if (file->adopt(kept->temp, kept->device, kept->inode)) {
            run.file = std::move(file);
            run.continuable = true;
            run.etag = kept->etag;
            run.lastModified = kept->lastModified;
            run.length = kept->length;
            return; // the record is settled when the transfer ends
        }
        break;
    }
    case KeptPartial::Check::Stale:
        ::unlink(QFile::encodeName(kept->temp).constData());
        break;
    case KeptPartial::Check::NotOurs:
        break;
    }
    KeptPartial::remove(run.resumeFolder, run.path);
}

// Asks the server, for all of the file or, when bytes of it are at hand
// already, for the rest on condition that it is still the same file.
void Cls_DownLoad::startAttempt()
{
    Run &run = *m_run;
    run.step = Run::Step::Starting;
    run.sink = nullptr;
    run.errorBody.reset();
    // The first attempt asks on the handle begin() opened the session with;
    // every later one on a fresh handle.
    if (!run.net) {
        CurlMulti *const multi = CurlMulti::instance();
        if (!multi)
            return refuse(QStringLiteral("no network session"));
        run.net = std::make_unique<CurlTransfer>(*multi, m_stallLimitMs, [this] { post(); });
        if (!run.net->ready())
            return refuse(QStringLiteral("no network session"));
    }

    run.rangeFrom = 0;
    QList<QByteArray> headers;
    if (run.file && run.continuable) {
        if (!run.file->flush()) {
            run.sink = run.file.get();
            return fileFailed();
        }
        run.rangeFrom = run.file->size();
    }
    if (run.rangeFrom > 0) {
        headers << "Range: bytes=" + QByteArray::number(run.rangeFrom) + '-'
                << "If-Range: " + KeptPartial::validator(run.etag, run.lastModified);
    }
    if (!run.net->start(QUrl(run.url).toEncoded(), headers))
        return refuse(run.net->setupError());
    run.step = Run::Step::AwaitingAnswer;
    awaitAnswer();
}

void Cls_DownLoad::awaitAnswer()
{
    Run &run = *m_run;
    CurlTransfer &net = *run.net;
    if (!net.answered() && !net.done()) {
        if (m_stopWhileRunning) { // acted on at once while waiting for the server
            m_bStop = false;
            m_stopWhileRunning = false;
            DownloadResult result;
            result.ending = DownloadResult::Ending::Stopped;
            finish(result, {StoppedOnRequest, HandlesClosed}, true);
        } else if (net.stalled()) {
            refuse(QStringLiteral("no answer: ") + run.stallMessage, true);
        }
        return;
    }
    if (!net.refusedRedirect().isEmpty())
        return refuse(QStringLiteral("refused a redirect to %1: only http and https are followed")
                          .arg(net.refusedRedirect()));
    if (!net.answered())
        return refuse(net.errorText(), net.failedTransiently());
    if (judgeNetworkEnd(int(net.httpStatus()), false) == NetworkOutcome::Refused)
        return refuse(QStringLiteral("the proxy refused the request (%1)").arg(net.httpStatus()));
    const int status = int(net.httpStatus());
    qint64 total = 0;
    if (run.rangeFrom > 0 && (status == 416 || status == 206)) {
        // The server cannot give the rest (416), or gave something else than
        // asked for: the kept bytes go, and the whole file is asked for,
        // before anyone hears of this answer.
        if (status == 416 || contentRangeStart(net.contentRange(), &total) != run.rangeFrom) {
            run.file.reset();
            run.continuable = false;
            run.net.reset();
            return startAttempt();
        }
    }
    const bool continuing = run.rangeFrom > 0 && status == 206;
    run.result = {};
    run.result.httpStatus = status;
    run.result.contentType = net.contentType();
    m_answer = run.result;
    emit DLFileStatus(Answered);

    const qint64 announced = announcedSize(net.contentLength());
    if (continuing)
        run.result.announced = total > 0 ? total : (announced > 0 ? run.rangeFrom + announced : 0);
    else
        run.result.announced = announced;
    if (continuing)
        emit DLFileResuming(run.rangeFrom, run.result.announced);
    emit DLFileStatus(Receiving);

    if (status / 100 == 2) {
        if (continuing) {
            run.downloaded = run.rangeFrom;
            run.resumedFrom = run.rangeFrom;
        } else {
            // All of it: whatever was kept starts over.
            run.downloaded = 0;
            run.resumedFrom = 0;
            if (run.file && !run.file->truncate()) {
                run.sink = run.file.get();
                return fileFailed();
            }
            if (!run.file) {
                run.file = std::make_unique<TargetFile>(run.path);
                if (!run.file->open()) {
                    run.sink = run.file.get();
                    return fileFailed();
                }
            }
            run.etag = net.etag();
            run.lastModified = net.lastModified();
        }
        run.length = run.result.announced;
        run.continuable = !KeptPartial::validator(run.etag, run.lastModified).isEmpty();
        run.sink = run.file.get();
    } else {
        // An error page: bytes kept from an earlier answer stay as they are.
        run.downloaded = 0;
        const bool keepFile = run.file && run.continuable && run.file->size() > 0;
        std::unique_ptr<TargetFile> &holder = keepFile ? run.errorBody : run.file;
        if (!keepFile)
            run.continuable = false;
        holder = std::make_unique<TargetFile>(run.path);
        run.sink = holder.get();
        if (!holder->open())
            return fileFailed();
    }
    run.step = Run::Step::Receiving;
    receive();
}

void Cls_DownLoad::receive()
{
    Run &run = *m_run;
    CurlTransfer &net = *run.net;
    TargetFile &file = *run.sink;
    char chunk[ChunkSize];
    qint64 handed = 0;
    for (;;) {
        if (net.available() <= 0) {
            if (!file.flush())
                return fileFailed();
            net.resume();
            if (net.available() > 0)
                continue;
            // The end, a stop or a stall is decided in a round of its own:
            // what the last chunks' handlers asked for comes first.
            if (handed > 0)
                return post();
            if (net.done())
                return endTransfer(DataEnded, net.failed(), net.failed() ? net.errorText() : QString());
            if (m_stopWhileRunning)
                return endTransfer(StoppedOnRequest, false, {});
            if (net.stalled())
                return endTransfer(DataEnded, true, run.stallMessage);
            return; // waits for news
        }
        if (handed >= RoundBytes)
            return post(); // the event loop's turn; the rest in the next round
        const qint64 got = net.take(chunk, ChunkSize);
        if (!file.append(chunk, got))
            return fileFailed();
        run.downloaded += got;
        handed += got;
        emit DLFileDowning(run.url, run.downloaded, run.result.announced);
        if (m_bStop)
            return endTransfer(StoppedOnRequest, false, {});
    }
}

// Arranges the next attempt after a transient failure, when any are left:
// after 1, 2, 4... delay units, or after what the server asked for.
bool Cls_DownLoad::retryLater(const QString &reason, int retryAfterMs)
{
    Run &run = *m_run;
    if (run.retried >= run.options.retries)
        return false;
    const int delay = retryAfterMs >= 0 ? retryAfterMs : run.retryUnitMs * (1 << std::min(run.retried, 6));
    ++run.retried;
    run.net.reset();
    run.errorBody.reset();
    run.sink = nullptr;
    if (run.file && !run.continuable)
        run.file.reset(); // bytes that cannot be continued are fetched again
    run.step = Run::Step::Waiting;
    run.backoff.start(delay);
    emit DLFileRetrying(run.retried, run.options.retries, delay, reason);
    return true;
}

void Cls_DownLoad::refuse(const QString &why, bool transient)
{
    if (transient && retryLater(why, -1))
        return;
    DownloadResult result;
    result.ending = DownloadResult::Ending::AddressRefused;
    result.error = why;
    finish(result, {NoAnswer, HandlesClosed}, transient);
}

void Cls_DownLoad::fileFailed()
{
    Run &run = *m_run;
    const TargetFile *file = run.sink ? run.sink : run.file.get();
    fileFailed(QStringLiteral("cannot write %1: %2").arg(run.path, file ? file->errorString() : QString()),
               file ? file->errorCode() : 0);
}

void Cls_DownLoad::fileFailed(const QString &why, int systemError)
{
    // The connection and the ".part" go with the transfer; no status follows.
    Run &run = *m_run;
    DownloadResult result = run.result;
    result.ending = DownloadResult::Ending::FileError;
    result.bytes = 0;
    result.error = why;
    result.systemError = systemError;
    finish(result, {});
}

void Cls_DownLoad::endTransfer(int finalStatus, bool readFailed, const QString &readError)
{
    Run &run = *m_run;
    run.net->close();
    if (finalStatus == StoppedOnRequest) {
        m_bStop = false;
        m_stopWhileRunning = false;
    }
    DownloadResult result = run.result;
    result.bytes = run.downloaded;
    result.ending = finalStatus == StoppedOnRequest ? DownloadResult::Ending::Stopped : DownloadResult::Ending::Finished;
    if (finalStatus == DataEnded && judgeNetworkEnd(result.httpStatus, readFailed) == NetworkOutcome::Broken) {
        result.shortTransfer = true;
        result.error = readError;
    } else if (finalStatus == DataEnded && result.announced > 0 && run.downloaded < result.announced) {
        result.shortTransfer = true;
        result.error = QStringLiteral("received %1 of %2 bytes").arg(run.downloaded).arg(result.announced);
    }
    // Cut short, stalled, a server error or too many requests: a moment
    // later the same request may well succeed.
    const int status = result.httpStatus;
    bool transient = finalStatus == DataEnded
                  && ((status / 100 == 2 && result.shortTransfer) || status / 100 == 5 || status == 429);
    if (transient) {
        const qint64 afterMs = status / 100 == 2 ? -1 : retryAfterMs(run.net->retryAfter());
        // A server that asks for a long pause is not waited for.
        if (afterMs > qint64(LongestRetryAfter) * 1000) {
            transient = false;
        } else {
            const int delay = afterMs < 0 ? -1 : int(afterMs * run.retryUnitMs / 1000);
            const QString reason = status / 100 == 2 ? result.error : QStringLiteral("HTTP %1").arg(status);
            if (retryLater(reason, delay))
                return;
        }
    }
    // Only now may the old target go; anything less than a complete answer
    // leaves it, and the ".part" is removed with the file.
    if (result.complete()) {
        if (!run.file->close())
            return fileFailed();
        if (run.options.beforeCommit) {
            const QString why = run.options.beforeCommit(run.file->path());
            if (!why.isEmpty())
                return fileFailed(why, 0);
        }
        if (!run.file->commit())
            return fileFailed();
    }
    finish(result, {finalStatus, HandlesClosed}, finalStatus == StoppedOnRequest || transient);
}

// With `resume`, the temporary file of an ending that may be continued later
// is kept and recorded, when it holds the first bytes of a 2xx answer with a
// validator; every other ending removes the record (and, with the Run, the
// file). Returns the file kept, empty when none was.
QString Cls_DownLoad::keepOrDrop(bool resumable)
{
    Run &run = *m_run;
    if (!run.options.resume || !run.recordLooked)
        return {};
    run.net.reset();
    run.errorBody.reset();
    if (resumable && run.file && run.continuable && run.file->size() > 0) {
        KeptPartial kept;
        kept.target = run.path;
        kept.temp = run.file->path();
        kept.url = run.url;
        kept.etag = run.etag;
        kept.lastModified = run.lastModified;
        kept.length = run.length;
        if (run.file->keep(&kept.device, &kept.inode)) {
            if (kept.save(run.resumeFolder))
                return kept.temp;
            run.file->unkeep();
        }
    }
    KeptPartial::remove(run.resumeFolder, run.path);
    return {};
}

// A transfer that started over (resume off) and completed has made an
// older kept file of ours for the same target worthless: it goes with its
// record, unless a transfer is writing on it right now. A file that is not
// the one recorded is left alone, as always.
static void dropOlderKeptFile(const QString &folder, const QString &target)
{
    const std::optional<KeptPartial> kept = KeptPartial::load(folder, target);
    if (!kept)
        return;
    qint64 size = 0;
    if (kept->check(kept->url, &size) != KeptPartial::Check::NotOurs) {
        const QByteArray encoded = QFile::encodeName(kept->temp);
        const int fd = ::open(encoded.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            const bool inUse = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
            if (!inUse)
                ::unlink(encoded.constData());
            ::close(fd);
            if (inUse)
                return;
        }
    }
    KeptPartial::remove(folder, target);
}

void Cls_DownLoad::finish(const DownloadResult &ended, std::initializer_list<int> statuses, bool resumable)
{
    DownloadResult result = ended;
    if (m_run) {
        result.retried = m_run->retried;
        result.resumedFrom = result.ending == DownloadResult::Ending::FileError ? 0 : m_run->resumedFrom;
        result.keptFile = keepOrDrop(resumable);
        if (!m_run->options.resume && result.complete())
            dropOlderKeptFile(m_run->resumeFolder, m_run->path);
    }
    // The connection and the ".part" are gone before the last status.
    m_run.reset();
    for (const int status : statuses)
        emit DLFileStatus(status);
    m_running = false;
    // A stop asked for during this transfer belongs to it: when it came
    // too late to act on (the data had ended), it must not cut the next
    // transfer short.
    if (std::exchange(m_stopWhileRunning, false))
        m_bStop = false;
    m_finished = result;
}
