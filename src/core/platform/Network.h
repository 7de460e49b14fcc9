#pragma once

class QNetworkAccessManager;
class QNetworkReply;

// How a request ended, judged the same way by the page fetch and the
// download engine, whatever network library each runs on.
enum class NetworkOutcome {
    Answered, // the server answered with an HTTP status and its data came whole
    NoAnswer, // no status arrived: no connection, unknown host, silence
    Refused,  // a proxy turned the request away (407) before any server was asked
    Broken,   // the answer began and the transfer broke off before its end
};

// `httpStatus` is the status that arrived, 0 when none did; `transferFailed`
// says that the connection failed or was cut, before or after the status.
// A 407 is the proxy's answer, not the server's: the request never got
// further, so it counts as refused, not as an error page.
NetworkOutcome judgeNetworkEnd(int httpStatus, bool transferFailed);

// The same judgement of a finished reply of the network manager.
NetworkOutcome judgeReply(const QNetworkReply &reply);

// The process's one network manager, created on first use with the system's
// proxy configuration in force (http_proxy and no_proxy on Linux). It belongs
// to the application object and goes with it.
QNetworkAccessManager &networkManager();
