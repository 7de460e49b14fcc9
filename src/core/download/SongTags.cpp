#include "core/download/SongTags.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <attachedpictureframe.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <textidentificationframe.h>
#include <urllinkframe.h>

#include <memory>

namespace {

TagLib::String text(const QString &value)
{
    return TagLib::String(value.toStdString(), TagLib::String::UTF8);
}

TagLib::ByteVector bytes(const QByteArray &value)
{
    return TagLib::ByteVector(value.constData(), static_cast<unsigned int>(value.size()));
}

// Removes every frame `matches` accepts from the tag (the tag owns and
// deletes them).
template <typename Frame, typename Match>
void removeFrames(TagLib::ID3v2::Tag &tag, const char *id, Match matches)
{
    const TagLib::ID3v2::FrameList frames = tag.frameListMap()[id];
    for (TagLib::ID3v2::Frame *frame : frames) {
        auto *typed = dynamic_cast<Frame *>(frame);
        if (typed && matches(*typed))
            tag.removeFrame(frame);
    }
}

void setTextFrame(TagLib::ID3v2::Tag &tag, const char *id, const QString &value)
{
    tag.removeFrames(id);
    auto frame = std::make_unique<TagLib::ID3v2::TextIdentificationFrame>(TagLib::ByteVector(id),
                                                                            TagLib::String::UTF8);
    frame->setText(text(value));
    tag.addFrame(frame.release());
}

void setCover(TagLib::ID3v2::Tag &tag, const QByteArray &picture, const QByteArray &mimeType)
{
    removeFrames<TagLib::ID3v2::AttachedPictureFrame>(tag, "APIC", [](const auto &frame) {
        return frame.type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover;
    });
    auto frame = std::make_unique<TagLib::ID3v2::AttachedPictureFrame>();
    frame->setTextEncoding(TagLib::String::UTF8);
    frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    frame->setMimeType(TagLib::String(mimeType.toStdString(), TagLib::String::Latin1));
    frame->setPicture(bytes(picture));
    tag.addFrame(frame.release());
}

void setSourcePage(TagLib::ID3v2::Tag &tag, const QString &address)
{
    tag.removeFrames("WOAS");
    // URL frames hold ISO-8859-1 only: the address goes in percent-encoded.
    const QByteArray encoded = QUrl(address).toEncoded();
    auto frame = std::make_unique<TagLib::ID3v2::UrlLinkFrame>(TagLib::ByteVector("WOAS"));
    frame->setUrl(TagLib::String(encoded.toStdString(), TagLib::String::Latin1));
    tag.addFrame(frame.release());
}

void setUserText(TagLib::ID3v2::Tag &tag, const QString &description, const QString &value)
{
    const TagLib::String key = text(description);
    removeFrames<TagLib::ID3v2::UserTextIdentificationFrame>(
        tag, "TXXX", [&key](const auto &frame) { return frame.description() == key; });
    auto frame = std::make_unique<TagLib::ID3v2::UserTextIdentificationFrame>(key, TagLib::StringList(text(value)),
                                                                               TagLib::String::UTF8);
    tag.addFrame(frame.release());
}

} // namespace

QByteArray pictureMimeType(const QByteArray &picture)
{
    if (picture.startsWith("\xFF\xD8\xFF"))
        return "image/jpeg";
    if (picture.startsWith("\x89PNG\r\n\x1A\n"))
        return "image/png";
    if (picture.startsWith("GIF87a") || picture.startsWith("GIF89a"))
        return "image/gif";
    if (picture.size() >= 12 && picture.startsWith("RIFF") && picture.mid(8, 4) == "WEBP")
        return "image/webp";
    return {};
}

QString writeSongTags(const QString &path, const SongTags &tags)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return QStringLiteral("no such file: %1").arg(path);
    // TagLib opens the file itself; it must not follow a link a stranger put
    // in its place, and the caller's temporary file is never one.
    if (info.isSymLink())
        return QStringLiteral("not a regular file: %1").arg(path);

    const QByteArray name = QFile::encodeName(path);
    TagLib::MPEG::File file(name.constData(), false);
    if (!file.isOpen() || file.readOnly())
        return QStringLiteral("cannot open %1 for tagging").arg(path);

    // Bytes that are no MPEG audio (an error page saved under a song's name,
    // a test file) are left exactly as they came: no player would read a tag
    // on them.
    if (file.firstFrameOffset() < 0)
        return {};

    // ID3v2Tag(true) reads the tag the server sent, or makes an empty one.
    TagLib::ID3v2::Tag &tag = *file.ID3v2Tag(true);
    if (!tags.title.isEmpty())
        setTextFrame(tag, "TIT2", tags.title);
    if (!tags.artist.isEmpty())
        setTextFrame(tag, "TPE1", tags.artist);
    const QByteArray mimeType = pictureMimeType(tags.cover);
    if (!mimeType.isEmpty())
        setCover(tag, tags.cover, mimeType);
    if (!tags.sourcePage.isEmpty())
        setSourcePage(tag, tags.sourcePage);
    if (!tags.workId.isEmpty())
        setUserText(tag, SongTags::WorkIdDescription, tags.workId);

    // Only the ID3v2 tag is written: an ID3v1 or APE tag at the end stays as
    // it came, and nothing is copied into them, so the bytes after the head
    // tag are the server's.
    if (!file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v4,
                   TagLib::File::DoNotDuplicate))
        return QStringLiteral("cannot write the tags into %1").arg(path);
    return {};
}

QString savedWorkId(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.isSymLink())
        return {};
    TagLib::MPEG::File file(QFile::encodeName(path).constData(), false);
    if (!file.isValid() || !file.hasID3v2Tag())
        return {};
    const auto *frame = TagLib::ID3v2::UserTextIdentificationFrame::find(file.ID3v2Tag(), text(SongTags::WorkIdDescription));
    if (!frame || frame->fieldList().size() < 2)
        return {};
    return QString::fromStdString(frame->fieldList().back().to8Bit(true));
}
