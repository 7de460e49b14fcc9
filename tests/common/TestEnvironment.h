#pragma once
#include <QByteArray>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtGlobal>
#include <QApplication>
#include <QFile>
#include <QTest>

#include "gui/app/Appearance.h"

// Call at the top of a test's main (see KELVARO_TEST_MAIN): no display, a
// private runtime folder, a private configuration folder (what the program
// remembers of its user starts afresh in every test run and never reaches the
// real one), a private cache folder (kept partial downloads and their records
// stay there), no proxy from the caller's environment, so that traffic to the
// local test server goes straight to 127.0.0.1.
inline void prepareTestEnvironment()
{
    static QTemporaryDir config(QDir::tempPath() + QStringLiteral("/kelvaro-test-config-XXXXXX"));
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    static QTemporaryDir cache(QDir::tempPath() + QStringLiteral("/kelvaro-test-cache-XXXXXX"));
    qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QString runtime = QDir::tempPath() + QStringLiteral("/kelvaro-test-runtime");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
    for (const char *name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        qunsetenv(name);
}

// QTEST_MAIN with the environment above.
#define KELVARO_TEST_MAIN(TestClass)                                                                       \
    int main(int argc, char *argv[])                                                                       \
    {                                                                                                      \
        prepareTestEnvironment();                                                                          \
        QApplication app(argc, argv);                                                                      \
        applyAppearance(app);                                                                              \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                           \
        TestClass test;                                                                                    \
        QTEST_SET_MAIN_SOURCE_PATH                                                                         \
        return QTest::qExec(&test, argc, argv);                                                            \
    }
