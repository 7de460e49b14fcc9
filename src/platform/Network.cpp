#include "platform/Network.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
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

QNetworkAccessManager &networkManager()
{
    static QNetworkAccessManager *manager = [] {
        QNetworkProxyFactory::setUseSystemConfiguration(true);
        // No cache is set; requests opt out of cookies themselves.
        return new QNetworkAccessManager(QCoreApplication::instance());
    }();
    return *manager;
}
