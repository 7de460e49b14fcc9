#include "platform/Network.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>

QNetworkAccessManager &networkManager()
{
    static QNetworkAccessManager *manager = [] {
        QNetworkProxyFactory::setUseSystemConfiguration(true);
        // No cache is set; requests opt out of cookies themselves.
        return new QNetworkAccessManager(QCoreApplication::instance());
    }();
    return *manager;
}
