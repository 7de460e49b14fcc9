#pragma once
// The ID3v2 frames of a saved song's tag, as a player reads them: "TIT2",
// "TPE1", "WOAS", "TXXX:<description>" with their text, "APIC" with the
// picture's bytes. Empty when the file has no tag.
#include <QFile>
#include <QMap>
#include <QString>

#include <attachedpictureframe.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <textidentificationframe.h>

inline QMap<QString, QByteArray> tagFrames(const QString &path)
{
    QMap<QString, QByteArray> frames;
    TagLib::MPEG::File file(QFile::encodeName(path).constData(), false);
    TagLib::ID3v2::Tag *tag = file.isValid() ? file.ID3v2Tag(false) : nullptr;
    if (!tag)
        return frames;
    const auto utf8 = [](const TagLib::String &text) { return QByteArray::fromStdString(text.to8Bit(true)); };
    for (TagLib::ID3v2::Frame *frame : tag->frameList()) {
        const QString id = QString::fromLatin1(frame->frameID().data(), 4);
        if (auto *user = dynamic_cast<TagLib::ID3v2::UserTextIdentificationFrame *>(frame))
            frames.insert(id + ":" + QString::fromUtf8(utf8(user->description())), utf8(user->fieldList().back()));
        else if (auto *picture = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame *>(frame))
            frames.insert(id, QByteArray(picture->picture().data(), qsizetype(picture->picture().size())));
        else
            frames.insert(id, utf8(frame->toString()));
    }
    return frames;
}
