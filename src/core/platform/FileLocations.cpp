#include "core/platform/FileLocations.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

const QString SkinName = QStringLiteral("skinh.she");
// The installation's data folder below its prefix, and the user's data
// folder below XDG_DATA_HOME.
const QString DataFolderName = QStringLiteral("kelvaro-helper");

// bin/../share/kelvaro-helper/skinh.she: found wherever the prefix was
// installed (the program's own path has its links resolved).
QString skinUnderPrefix(const QString &programFolder)
{
    return QDir::cleanPath(programFolder + QStringLiteral("/../share/") + DataFolderName + QLatin1Char('/') +
                           SkinName);
}

QString skinFor(const QString &programFolder)
{
    const QString beside = programFolder + QLatin1Char('/') + SkinName;
    if (QFileInfo::exists(beside))
        return beside;
    const QString underPrefix = skinUnderPrefix(programFolder);
    return QFileInfo::exists(underPrefix) ? underPrefix : beside;
}

} // namespace

FileLocations FileLocations::forProgramFolder(const QString &programFolder)
{
    FileLocations where;
    where.skinFile = skinFor(programFolder);
    // An installation is never written into, even where its folder could be
    // (root may write /usr/bin): its skin lies under the prefix, not beside
    // the program.
    const QFileInfo folder(programFolder);
    const bool installed = where.skinFile == skinUnderPrefix(programFolder);
    where.portable = folder.isDir() && folder.isWritable() && !installed;
    if (where.portable) {
        where.musicFolder = programFolder + QStringLiteral("/Music");
        where.videoPageFolder = programFolder;
        return where;
    }
    QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (music.isEmpty())
        music = QDir::homePath() + QStringLiteral("/Music");
    where.musicFolder = music + QStringLiteral("/Kelvaro");
    where.videoPageFolder =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QLatin1Char('/') + DataFolderName;
    return where;
}

QString FileLocations::downloadExplanation() const
{
    if (portable)
        return QStringLiteral("默认路径：当前程序文件目录下“Music”文件夹中( 音乐名称自动填写 )");
    return QStringLiteral("默认路径：“") + QDir::toNativeSeparators(musicFolder) +
           QStringLiteral("”文件夹中( 音乐名称自动填写 )");
}

QString FileLocations::videoPageNote() const
{
    if (portable)
        return QString();
    return QStringLiteral("已在“") + QDir::toNativeSeparators(videoPageFolder) + QStringLiteral("”下生成名为“video.htm”");
}
