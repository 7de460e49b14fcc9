#include "gui/desktopbus/DesktopNotifier.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QWidget>

DesktopNotifier::DesktopNotifier(QWidget *window, QDBusConnection bus, QObject *parent)
    : QObject(parent), m_window(window), m_bus(std::move(bus))
{
}

bool DesktopNotifier::notify(const QString &summary, const QString &body)
{
    if (m_window->isActiveWindow() || !m_bus.isConnected())
        return false;
    // Asking the bus is quick and local; calling a name nobody owns would
    // start nothing and only leave an error reply.
    const QDBusConnectionInterface *names = m_bus.interface();
    if (!names || !names->isServiceRegistered(Service).value())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(Service, QStringLiteral("/org/freedesktop/Notifications"),
                                                       Service, QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), IconName}};
    call << AppName << quint32(0) << IconName << summary << body << QStringList() << hints << qint32(-1);
    // The answer (the notification's id) is not needed: no waiting for it.
    call.setAutoStartService(false);
    return m_bus.send(call);
}
