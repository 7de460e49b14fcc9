#include "core/platform/Network.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkProxyFactory>

NetworkOutcome judgeNetworkEnd(int httpStatus, bool transferFailed)
{
    constexpr int ProxyAuthenticationRequired = 407;
    if (httpStatus == ProxyAuthenticationRequired)
        return NetworkOutcome::Refused;
    if (httpStatus == 0)
        return NetworkOutcome::NoAnswer;
    return transferFailed ? NetworkOutcome::Broken : NetworkOutcome::Answered;
}

NetworkOutcome judgeReply(const QNetworkReply &reply)
{
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = reply.error();
    const int httpStatus = status.isValid() ? status.toInt() : 0;
    // Errors below ContentAccessDenied (connection, time limits, proxy) and
    // protocol failures are the transfer's own; the others name an HTTP
    // status the server chose. Below 400 the server chose no error, so any
    // error there is the transfer's own too, such as a body that cannot be
    // unpacked (reported as UnknownContentError). After a status has arrived
    // the transfer's own can only mean the body was cut short.
    const bool transferFailed = (error > QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied) ||
                                error == QNetworkReply::ProtocolFailure ||
                                (error != QNetworkReply::NoError && httpStatus < 400);
    return judgeNetworkEnd(httpStatus, transferFailed);
}

QNetworkAccessManager &networkManager()
{
    static QNetworkAccessManager *manager = [] {
        QNetworkProxyFactory::setUseSystemConfiguration(true);
        // No cache is set; requests opt out of cookies themselves.
        return new QNetworkAccessManager(QCoreApplication::instance());
    }();
    return *manager;
}
