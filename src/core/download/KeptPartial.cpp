#include "core/download/KeptPartial.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QString absoluteTarget(const QString &target)
{
    return QFileInfo(target).absoluteFilePath();
}

} // namespace

QByteArray KeptPartial::validator(const QByteArray &etag, const QByteArray &lastModified)
{
    // A weak ETag may not be used in If-Range; the server would send it all.
    if (!etag.isEmpty() && !etag.startsWith("W/"))
        return etag;
    return lastModified;
}

QString KeptPartial::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/kelvaro/partial");
}

QString KeptPartial::recordPath(const QString &folder, const QString &target)
{
    const QByteArray hash =
        QCryptographicHash::hash(QFile::encodeName(absoluteTarget(target)), QCryptographicHash::Sha1).toHex();
    return folder + QLatin1Char('/') + QString::fromLatin1(hash);
}

std::optional<KeptPartial> KeptPartial::load(const QString &folder, const QString &target)
{
    QFile file(recordPath(folder, target));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject json = QJsonDocument::fromJson(file.read(64 * 1024)).object();
    KeptPartial kept;
    kept.target = json.value(QLatin1String("target")).toString();
    kept.temp = json.value(QLatin1String("temp")).toString();
    kept.url = json.value(QLatin1String("url")).toString();
    kept.etag = json.value(QLatin1String("etag")).toString().toLatin1();
    kept.lastModified = json.value(QLatin1String("lastModified")).toString().toLatin1();
    kept.length = json.value(QLatin1String("length")).toString().toLongLong();
    kept.device = json.value(QLatin1String("device")).toString().toULongLong();
    kept.inode = json.value(QLatin1String("inode")).toString().toULongLong();
    // Two targets whose hashes meet, or a record copied in: not this one's.
    if (kept.target != absoluteTarget(target) || kept.temp.isEmpty())
        return std::nullopt;
    return kept;
}

bool KeptPartial::save(const QString &folder) const
{
    if (!QDir().mkpath(folder))
        return false;
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QJsonObject json;
    json.insert(QLatin1String("target"), absoluteTarget(target));
    json.insert(QLatin1String("temp"), temp);
    json.insert(QLatin1String("url"), url);
    json.insert(QLatin1String("etag"), QString::fromLatin1(etag));
    json.insert(QLatin1String("lastModified"), QString::fromLatin1(lastModified));
    // As text: a JSON number would lose the last digits of big inodes.
    json.insert(QLatin1String("length"), QString::number(length));
    json.insert(QLatin1String("device"), QString::number(device));
    json.insert(QLatin1String("inode"), QString::number(inode));
    QSaveFile file(recordPath(folder, target));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(json).toJson(QJsonDocument::Compact));
    return file.commit();
}

void KeptPartial::remove(const QString &folder, const QString &target)
{
    QFile::remove(recordPath(folder, target));
}

KeptPartial::Check KeptPartial::check(const QString &address, qint64 *size) const
{
    *size = 0;
    if (QFileInfo(temp).absolutePath() != QFileInfo(absoluteTarget(target)).absolutePath())
        return Check::NotOurs;
    struct stat info {};
    if (::lstat(QFile::encodeName(temp).constData(), &info) != 0)
        return Check::NotOurs;
    const bool ours = S_ISREG(info.st_mode) && info.st_uid == ::getuid() && quint64(info.st_dev) == device
                   && quint64(info.st_ino) == inode && info.st_nlink == 1;
    if (!ours)
        return Check::NotOurs;
    *size = qint64(info.st_size);
    if (address != url || validator().isEmpty() || *size <= 0 || (length > 0 && *size > length))
        return Check::Stale;
    return Check::Usable;
}
