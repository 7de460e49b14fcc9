#pragma once

class QNetworkAccessManager;

// The process's one network manager, created on first use with the system's
// proxy configuration in force (http_proxy and no_proxy on Linux). It belongs
// to the application object and goes with it.
QNetworkAccessManager &networkManager();
