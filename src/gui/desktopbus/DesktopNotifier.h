#pragma once
#include <QDBusConnection>
#include <QObject>
#include <QString>

class QWidget;

// Tells the user through the desktop's notifications
// (org.freedesktop.Notifications on the session bus) that long work ended,
// but only while the window is not the active one: whoever looks at the
// window reads it in the status line. Without a notification server nothing
// is sent and nothing waits.
class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    static inline const QString Service = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString AppName = QStringLiteral("Kelvaro辅助工具");
    static inline const QString IconName = QStringLiteral("com.ulvaren.KelvaroHelper");

    explicit DesktopNotifier(QWidget *window, QDBusConnection bus = QDBusConnection::sessionBus(),
                             QObject *parent = nullptr);

    // Sends `summary` and `body` when the window is not active and a server
    // is there; true when it was sent.
    bool notify(const QString &summary, const QString &body);

private:
    QWidget *const m_window;
    QDBusConnection m_bus;
};
