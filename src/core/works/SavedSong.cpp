#include "core/works/SavedSong.h"

#include "core/download/SongTags.h"

#include <QFile>
#include <QFileInfo>

#include <id3v2tag.h>
#include <mpegfile.h>
#include <textidentificationframe.h>

QString savedWorkId(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.isSymLink())
        return {};
    TagLib::MPEG::File file(QFile::encodeName(path).constData(), false);
    if (!file.isValid() || !file.hasID3v2Tag())
        return {};
    const auto *frame = TagLib::ID3v2::UserTextIdentificationFrame::find(
        file.ID3v2Tag(), TagLib::String(SongTags::WorkIdDescription.toStdString(), TagLib::String::UTF8));
    if (!frame || frame->fieldList().size() < 2)
        return {};
    return QString::fromStdString(frame->fieldList().back().to8Bit(true));
}
