#pragma once
#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

class QNetworkRequest;
class QUrl;

// An address as a request object reads it: blanks and control characters
// around it are ignored, so " http://host/s/x" (as a user may paste it)
// reaches the same page as the address without the blank.
QUrl requestUrl(const QString &address);

// One page fetch, as every part that reads pages is given it (GetBody,
// GetPage or a test's stand-in): the body as text, nothing when no page came.
using PageFetch = std::function<std::optional<QString>(const QString &address)>;

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

// Sends `request` as one GET and waits in a nested event loop until the
// answer is complete: the window keeps handling every event meanwhile, without
// spending CPU, and a fetch started from inside that wait runs to its end
// before this one returns. Nothing when no complete answer arrived: no
// connection, no status, a time limit or the size limit hit, the connection
// dropped before the announced end of the body, or any other transfer error
// after the status, such as a body that cannot be unpacked (a truncated page
// is not the page). Any status counts as an answer: a 404 page is text like any
// other.
std::optional<HttpAnswer> fetchHttp(const QNetworkRequest &request, const FetchLimits &limits);

// Ends every fetch now waiting, and every later one at once, with no page:
// for a command-line program that has been asked to stop.
void cancelPageFetches();

// The body as text: decoded by the charset the answer names, UTF-8 when it
// names none or one this system does not know.
QString decodeBody(const QByteArray &body, const QByteArray &contentType);

// One HTTP GET of `url` as GetBody sends it, with the answer's status and
// type: for a reader that must tell an error page from a page.
std::optional<HttpAnswer> fetchPage(const QString &url, const FetchLimits &limits = {});

// One HTTP GET of `url`, returning the whole body as text whatever the
// status, or nothing when no complete answer arrived (see fetchHttp). The
// only header added is "If-Modified-Since: 0"; no cookies are kept.
std::optional<QString> GetBody(const QString &url, const FetchLimits &limits = {});

// GetBody for a recording page, which the lookup must not take from an error
// page: an answer with an HTTP error status (400 and up) is no page either.
std::optional<QString> GetPage(const QString &url, const FetchLimits &limits = {});
