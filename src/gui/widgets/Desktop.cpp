#include "gui/widgets/Desktop.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

bool SystemDesktop::openAddress(const QString &address)
{
    const QUrl url = QFileInfo::exists(address) ? QUrl::fromLocalFile(QFileInfo(address).absoluteFilePath())
                                                : QUrl(address);
    return QDesktopServices::openUrl(url);
}

bool SystemDesktop::showInFileManager(const QString &filePath)
{
    const QFileInfo info(filePath);
    const QUrl fileUrl = QUrl::fromLocalFile(info.absoluteFilePath());
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{fileUrl.toString()} << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(info.absolutePath()));
}
