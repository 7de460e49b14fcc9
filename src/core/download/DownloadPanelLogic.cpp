#include "core/download/DownloadPanelLogic.h"
#include "core/download/DownloadStatus.h"

#include <QByteArray>

#include <algorithm>
#include <cmath>

namespace {

// The longest file name the usual Linux file systems accept is 255 bytes;
// the download's temporary file adds ".part" to the name, and both must fit.
constexpr qsizetype MaxFileNameBytes = 255 - 5;
// A longer tail after the last dot is not an extension worth keeping whole.
constexpr qsizetype MaxExtensionChars = 16;

qsizetype utf8Size(const QString &text)
{
    return text.toUtf8().size();
}

// Drops the last character, both halves of it when it is a surrogate pair.
void chopCharacter(QString &text)
{
    const qsizetype size = text.size();
    const bool pair = size >= 2 && text.at(size - 1).isLowSurrogate() && text.at(size - 2).isHighSurrogate();
    text.chop(pair ? 2 : 1);
}

} // namespace

QString downloadTitle(const QString &songName)
{
    QString title = songName;
    return title.remove(QStringLiteral("演唱歌曲："));
}

QString safeFileName(const QString &name)
{
    QString safe;
    safe.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name.at(i);
        if (c.isHighSurrogate() && i + 1 < name.size() && name.at(i + 1).isLowSurrogate()) {
            safe += c;
            safe += name.at(++i);
        } else if (c == QLatin1Char('/') || c.category() == QChar::Other_Control || c.isSurrogate()) {
            safe += QLatin1Char('_');
        } else {
            safe += c;
        }
    }
    if (safe.isEmpty() || safe == QLatin1String(".") || safe == QLatin1String(".."))
        return QString(std::max<qsizetype>(safe.size(), 1), QLatin1Char('_'));
    if (utf8Size(safe) <= MaxFileNameBytes)
        return safe;

    const qsizetype dot = safe.lastIndexOf(QLatin1Char('.'));
    const bool keepExtension = dot > 0 && safe.size() - dot <= MaxExtensionChars;
    const QString extension = keepExtension ? safe.mid(dot) : QString();
    QString stem = keepExtension ? safe.left(dot) : safe;
    const qsizetype room = MaxFileNameBytes - utf8Size(extension);
    while (!stem.isEmpty() && utf8Size(stem) > room)
        chopCharacter(stem);
    return stem + extension;
}

QString suggestedFileName(const QString &title, const QString &userName)
{
    return safeFileName(title + QStringLiteral(" - ") + userName + QStringLiteral(".mp3"));
}

QString defaultDownloadPath(const QString &musicFolder, const QString &title, const QString &userName)
{
    return musicFolder + QLatin1Char('/') + suggestedFileName(title, userName);
}

int progressPercentage(qint64 downloaded, qint64 filesize)
{
    if (filesize <= 0)
        return 0;
    // nearbyint rounds in the default mode: to nearest, halves to even.
    const double percent = std::nearbyint(double(downloaded) / double(filesize) * 100.0);
    return int(std::clamp(percent, 0.0, 100.0));
}

QString downloadStatusText(int state)
{
    switch (state) {
    case DownloadStatus::Connecting:
        return QStringLiteral("正在连接服务器...");
    case DownloadStatus::SessionOpen:
        return QStringLiteral("正在发送请求...");
    case DownloadStatus::Answered:
        return QStringLiteral("获取远程文件信息...");
    case DownloadStatus::Receiving:
        return QStringLiteral("正在下载音乐数据...");
    case DownloadStatus::StoppedOnRequest:
        return QStringLiteral("停止音乐下载");
    case DownloadStatus::HandlesClosed:
        return QStringLiteral("音乐下载完成");
    case DownloadStatus::NoSession:
        return QStringLiteral("抱歉!连接服务器失败..");
    case DownloadStatus::NoAnswer:
        return QStringLiteral("抱歉!发送请求失败..");
    case DownloadStatus::DataEnded:
        return QStringLiteral("正在连接服务器..");
    default:
        return {};
    }
}

void TransferRate::start(qint64 bytes, qint64 nowMs)
{
    m_windowBytes = bytes;
    m_windowStart = nowMs;
    m_speed = -1;
}

void TransferRate::sample(qint64 bytes, qint64 nowMs)
{
    const qint64 elapsed = nowMs - m_windowStart;
    if (elapsed < WindowMs)
        return;
    const double windowSpeed = double(std::max<qint64>(bytes - m_windowBytes, 0)) * 1000.0 / double(elapsed);
    m_speed = m_speed < 0 ? windowSpeed : NewWeight * windowSpeed + (1.0 - NewWeight) * m_speed;
    m_windowBytes = bytes;
    m_windowStart = nowMs;
}

qint64 secondsLeft(qint64 bytes, qint64 total, double bytesPerSecond)
{
    if (total <= 0)
        return -1;
    if (bytes >= total)
        return 0;
    if (bytesPerSecond <= 0)
        return -1; // nothing came for a whole window, or no speed yet: no telling
    return qint64(std::ceil(double(total - bytes) / bytesPerSecond));
}

namespace {

constexpr double KiB = 1024.0;
constexpr double MiB = 1024.0 * 1024.0;

QString inUnit(qint64 bytes, double unit)
{
    if (unit == 1.0)
        return QString::number(bytes);
    return QString::number(double(bytes) / unit, 'f', unit == MiB ? 1 : 0);
}

} // namespace

QString progressSizeText(qint64 bytes, qint64 total)
{
    const qint64 scale = std::max(total > 0 ? total : bytes, qint64(0));
    const double unit = scale >= MiB ? MiB : scale >= KiB ? KiB : 1.0;
    const QString name = unit == MiB ? QStringLiteral(" MB") : unit == KiB ? QStringLiteral(" KB") : QStringLiteral(" B");
    if (total <= 0)
        return inUnit(bytes, unit) + name;
    return inUnit(bytes, unit) + QLatin1Char('/') + inUnit(total, unit) + name;
}

QString speedText(double bytesPerSecond)
{
    const qint64 speed = qint64(std::llround(std::max(bytesPerSecond, 0.0)));
    if (speed >= MiB)
        return QString::number(double(speed) / MiB, 'f', 1) + QStringLiteral(" MB/s");
    if (speed >= KiB)
        return QString::number(double(speed) / KiB, 'f', 0) + QStringLiteral(" KB/s");
    return QString::number(speed) + QStringLiteral(" B/s");
}

QString timeLeftText(qint64 seconds)
{
    seconds = std::max<qint64>(seconds, 0);
    if (seconds < 60)
        return QStringLiteral("%1 秒").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 分 %2 秒").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 小时 %2 分").arg(seconds / 3600).arg(seconds % 3600 / 60);
}

QString progressText(qint64 bytes, qint64 total, double bytesPerSecond)
{
    QString text = progressSizeText(bytes, total);
    if (bytesPerSecond < 0)
        return text;
    text += QStringLiteral(" · ") + speedText(bytesPerSecond);
    const qint64 left = secondsLeft(bytes, total, bytesPerSecond);
    if (left >= 0)
        text += QStringLiteral(" · 剩余 ") + timeLeftText(left);
    return text;
}
