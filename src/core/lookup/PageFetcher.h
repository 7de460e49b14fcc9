#pragma once
#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <optional>

class QNetworkReply;
class QNetworkRequest;
class QTimer;
class QUrl;

// An address as a request object reads it: blanks and control characters
// around it are ignored, so " http://host/s/x" (as a user may paste it)
// reaches the same page as the address without the blank.
QUrl requestUrl(const QString &address);

// Something started that answers later: a page or picture fetch, or an answer
// already known that is handed over on the next turn of the event loop.
// cancel() stops it for good: whatever it would still report is dropped, and
// the object goes away by itself.
class PendingFetch : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual void cancel();
    bool cancelled() const { return m_cancelled; }

protected:
    bool m_cancelled = false;
};

// The caller's hold on a PendingFetch. Destroying the handle (or cancel())
// cancels what is still pending: its callback is then never called. Once the
// answer is in, the handle holds nothing any more.
class FetchHandle {
public:
    FetchHandle() = default;
    explicit FetchHandle(PendingFetch *pending) : m_pending(pending) {}
    FetchHandle(FetchHandle &&other) noexcept : m_pending(std::exchange(other.m_pending, nullptr)) {}
    FetchHandle &operator=(FetchHandle &&other) noexcept
    {
        if (this != &other) {
            cancel();
            m_pending = std::exchange(other.m_pending, nullptr);
        }
        return *this;
    }
    FetchHandle(const FetchHandle &) = delete;
    FetchHandle &operator=(const FetchHandle &) = delete;
    ~FetchHandle() { cancel(); }

    void cancel()
    {
        if (PendingFetch *pending = m_pending.data(); pending && !pending->cancelled())
            pending->cancel();
        m_pending = nullptr;
    }
    // Whether an answer is still to come.
    bool pending() const { return m_pending && !m_pending->cancelled(); }

private:
    QPointer<PendingFetch> m_pending;
};

// Calls `deliver` on the next turn of the event loop, unless the handle is
// cancelled first: for an answer known at once, which must still not come
// from inside the call that asked for it.
FetchHandle answerLater(std::function<void()> deliver);

// A page as every part that reads pages receives it: the body as text,
// nothing when no page came.
using PageDone = std::function<void(std::optional<QString> page)>;

// One page fetch, as every part that reads pages is given it (GetBody,
// GetPage or a test's stand-in): it starts the fetch of `address` and returns
// at once; `done` is called exactly once, later (never from inside this
// call), unless the returned handle is cancelled or destroyed first.
using PageFetch = std::function<FetchHandle(const QString &address, PageDone done)>;

// Time limits of one fetch. The connect limit runs until the request has been
// sent; the idle limit runs whenever no byte arrives; the overall limit runs
// from the start to the last byte, so a server that dribbles a byte now and
// then cannot hold the fetch for ever. The size limit guards memory against
// an answer that never ends.
struct FetchLimits {
    int connectMs = 15000;
    int idleMs = 60000;
    qint64 maxBytes = 256 * 1024 * 1024;
    int totalMs = 90000;
};

// What the server answered to one request.
struct HttpAnswer {
    int status = 0;
    QByteArray contentType;
    QByteArray body;
};

using AnswerDone = std::function<void(std::optional<HttpAnswer> answer)>;

// One GET under way. It starts when made and emits finished() once, with
// nothing when no complete answer arrived: no connection, no status, a time
// limit or the size limit hit, the connection dropped before the announced
// end of the body, or any other transfer error after the status, such as a
// body that cannot be unpacked (a truncated page is not the page). Any status
// counts as an answer: a 404 page is text like any other. It deletes itself
// once it has reported; destroying or cancelling it earlier aborts the
// request, and finished() then never comes.
class HttpFetch final : public PendingFetch {
    Q_OBJECT
public:
    HttpFetch(const QNetworkRequest &request, const FetchLimits &limits, QObject *parent = nullptr);
    ~HttpFetch() override;
    void cancel() override;

signals:
    void finished(std::optional<HttpAnswer> answer);

private:
    void replyFinished();
    void report(std::optional<HttpAnswer> answer);
    // Ends the request without a word to anyone.
    void dropReply();

    QNetworkReply *m_reply = nullptr;
    QTimer *m_connectLimit = nullptr;
    QTimer *m_overallLimit = nullptr;
    bool m_tooLarge = false;
};

// Starts an HttpFetch of `request` and hands its answer to `done`.
FetchHandle fetchHttp(const QNetworkRequest &request, const FetchLimits &limits, AnswerDone done);

// Ends every fetch now waiting, and every later one at once, with no page:
// for a command-line program that has been asked to stop.
void cancelPageFetches();

// The body as text: decoded by the charset the answer names, UTF-8 when it
// names none or one this system does not know.
QString decodeBody(const QByteArray &body, const QByteArray &contentType);

// One HTTP GET of `url` as GetBody sends it, with the answer's status and
// type: for a reader that must tell an error page from a page.
FetchHandle fetchPage(const QString &url, AnswerDone done, const FetchLimits &limits = {});

// One HTTP GET of `url`, giving the whole body as text whatever the status,
// or nothing when no complete answer arrived (see HttpFetch). The only header
// added is "If-Modified-Since: 0"; no cookies are kept.
FetchHandle GetBody(const QString &url, PageDone done, const FetchLimits &limits = {});

// GetBody for a recording page, which the lookup must not take from an error
// page: an answer with an HTTP error status (400 and up) is no page either.
FetchHandle GetPage(const QString &url, PageDone done, const FetchLimits &limits = {});
