// The tag a saved song gets: read back through TagLib on files shaped the
// way servers send them, with the audio bytes compared after the tag is cut
// off again.
#include "common/TestPictures.h"
#include "common/TransferBytes.h"
#include "core/download/SongTags.h"
#include "ToneMp3.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <attachedpictureframe.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <textidentificationframe.h>
#include <urllinkframe.h>

namespace {

QString qs(const TagLib::String &value)
{
    return QString::fromStdString(value.to8Bit(true));
}

// The bytes after a head ID3v2 tag (its size is syncsafe, plus a footer
// when the flags say so); the whole file when it has none.
QByteArray withoutHeadTag(const QByteArray &file)
{
    if (!file.startsWith("ID3") || file.size() < 10)
        return file;
    const auto b = [&file](int i) { return static_cast<quint8>(file.at(i)); };
    const qsizetype size = (b(6) << 21) | (b(7) << 14) | (b(8) << 7) | b(9);
    const bool footer = b(5) & 0x10;
    return file.mid(10 + size + (footer ? 10 : 0));
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// An ID3v1 tag as some servers append it: 128 bytes at the very end.
QByteArray id3v1Tail()
{
    QByteArray tail("TAG");
    tail += QByteArray("Old title").leftJustified(30, '\0');
    tail += QByteArray("Old artist").leftJustified(30, '\0');
    tail += QByteArray(30 + 4 + 30, '\0');
    tail += char(12);
    return tail;
}

// A server's own ID3v2.3 tag, with frames of ours to be replaced (not
// added to) and a comment that must survive.
void addServerTag(const QString &path)
{
    TagLib::MPEG::File file(QFile::encodeName(path).constData(), false);
    TagLib::ID3v2::Tag *tag = file.ID3v2Tag(true);
    tag->setTitle("Server title");
    tag->setArtist("Server artist");
    tag->setComment("kept by the server");
    auto *picture = new TagLib::ID3v2::AttachedPictureFrame;
    picture->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    picture->setMimeType("image/png");
    const QByteArray old = pngBytes(Qt::red);
    picture->setPicture(TagLib::ByteVector(old.constData(), static_cast<unsigned int>(old.size())));
    tag->addFrame(picture);
    tag->addFrame(new TagLib::ID3v2::UserTextIdentificationFrame("KELVARO_WORK_ID", TagLib::StringList("1"),
                                                                  TagLib::String::Latin1));
    auto *source = new TagLib::ID3v2::UrlLinkFrame("WOAS");
    source->setUrl("http://www.kelvaro.test/s/old");
    tag->addFrame(source);
    QVERIFY(file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v3));
}

QByteArray jpegBytes()
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImage::fromData(pngBytes(Qt::darkCyan)).save(&buffer, "JPEG");
    return bytes;
}

} // namespace

class TestSongTags : public QObject {
    Q_OBJECT

private slots:
    void tagsReadBack_data()
    {
        QTest::addColumn<bool>("serverTags"); // the server's ID3v2.3 tag in front, an ID3v1 tag at the end
        QTest::addColumn<QByteArray>("cover");
        QTest::addColumn<QByteArray>("coverType"); // empty: no cover frame expected
        QTest::addColumn<QString>("title");
        QTest::newRow("plain MP3, PNG photo") << false << pngBytes(Qt::blue) << QByteArray("image/png")
                                              << QStringLiteral("月亮代表我的心");
        QTest::newRow("no usable picture") << false << QByteArray("<html>not found</html>") << QByteArray()
                                           << QStringLiteral("无封面");
        QTest::newRow("server's tags: updated, ID3v1 kept") << true << jpegBytes() << QByteArray("image/jpeg")
                                                            << QStringLiteral("新标题");
    }

    void tagsReadBack()
    {
        QFETCH(bool, serverTags);
        QFETCH(QByteArray, cover);
        QFETCH(QByteArray, coverType);
        QFETCH(QString, title);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("song.mp3"));
        QVERIFY(writeFile(path, ToneMp3::encode(440, 0.5) + (serverTags ? id3v1Tail() : QByteArray())));
        if (serverTags)
            addServerTag(path);
        const QByteArray asServed = readFile(path);

        SongTags tags;
        tags.title = title;
        tags.artist = QStringLiteral("小明");
        tags.cover = cover;
        tags.sourcePage = QStringLiteral("http://www.kelvaro.test/s/AbC123?from=home");
        tags.workId = QStringLiteral("8829301");
        QCOMPARE(writeSongTags(path, tags), QString());

        const QByteArray written = readFile(path);
        QCOMPARE(withoutHeadTag(written), withoutHeadTag(asServed));

        TagLib::MPEG::File file(QFile::encodeName(path).constData(), false);
        TagLib::ID3v2::Tag *tag = file.ID3v2Tag();
        QVERIFY(tag);
        QCOMPARE(tag->header()->majorVersion(), 4u);
        QCOMPARE(qs(tag->title()), title);
        QCOMPARE(qs(tag->artist()), tags.artist);
        const auto map = tag->frameListMap();
        for (const char *id : {"TIT2", "TPE1", "WOAS", "TXXX"})
            QVERIFY2(map[id].size() == 1u, id);

        const TagLib::ID3v2::FrameList pictures = map["APIC"];
        if (coverType.isEmpty()) {
            QVERIFY(pictures.isEmpty());
        } else {
            QCOMPARE(pictures.size(), 1u);
            auto *picture = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame *>(pictures.front());
            QVERIFY(picture);
            QCOMPARE(picture->type(), TagLib::ID3v2::AttachedPictureFrame::FrontCover);
            QCOMPARE(qs(picture->mimeType()).toLatin1(), coverType);
            QCOMPARE(QByteArray(picture->picture().data(), picture->picture().size()), cover);
        }

        auto *source = dynamic_cast<TagLib::ID3v2::UrlLinkFrame *>(map["WOAS"].front());
        QVERIFY(source);
        QCOMPARE(qs(source->url()), tags.sourcePage);

        auto *workId = TagLib::ID3v2::UserTextIdentificationFrame::find(tag, "KELVARO_WORK_ID");
        QVERIFY(workId);
        QCOMPARE(qs(workId->fieldList().back()), tags.workId);

        if (serverTags) {
            QCOMPARE(qs(tag->comment()), QStringLiteral("kept by the server"));
            QCOMPARE(written.right(128), id3v1Tail());
        }
    }

    // Whatever is not MPEG audio keeps its bytes: nothing reads tags there.
    void notAudioLeftAlone()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("song.mp3"));
        QByteArray noise; // never 0xff, so no frame sync anywhere
        for (int i = 0; i < 5000; ++i)
            noise += char(i * 7 % 251);
        for (const QByteArray &served : {noise, QByteArray("<!DOCTYPE html><title>404</title>")}) {
            QVERIFY(writeFile(path, served));
            QCOMPARE(writeSongTags(path, SongTags{QStringLiteral("t"), QStringLiteral("a"), {}, {}, {}}), QString());
            QCOMPARE(readFile(path), served);
        }
    }

    void refusedFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing") << "missing";
        QTest::newRow("a folder") << "folder";
        QTest::newRow("a link") << "link";
    }

    // What cannot be tagged says so, and a link is not followed to the file
    // behind it.
    void refusedFiles()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString behind = dir.filePath(QStringLiteral("behind.mp3"));
        const QByteArray audio = ToneMp3::encode(440, 0.2);
        QVERIFY(writeFile(behind, audio));
        QString path = dir.filePath(QStringLiteral("target.mp3"));
        if (kind == QLatin1String("folder"))
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("target.mp3")));
        if (kind == QLatin1String("link"))
            QVERIFY(QFile::link(behind, path));

        const QString error = writeSongTags(path, SongTags{QStringLiteral("t"), QStringLiteral("a"), {}, {}, {}});
        QVERIFY(!error.isEmpty());
        QVERIFY(error.contains(path));
        QCOMPARE(readFile(behind), audio);
    }

    // A file saved by a batch names its work in its tag; that is how the
    // next batch knows it complete though its size is no longer the
    // server's. Anything else names no work.
    void savedWorkId_data()
    {
        QTest::addColumn<QString>("content"); // "mp3", "tagged mp3", "none"
        QTest::addColumn<QString>("workId");
        QTest::newRow("tagged recording") << "tagged mp3" << "3108115";
        QTest::newRow("recording without our tag") << "mp3" << "";
        QTest::newRow("no file") << "none" << "";
    }
    void savedWorkId()
    {
        QFETCH(QString, content);
        QFETCH(QString, workId);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("saved.mp3"));
        QFile file(path);
        if (content != QLatin1String("none"))
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(ToneMp3::encode(330, 0.3)) > 0 && file.flush());
        if (content.startsWith(QLatin1String("tagged"))) {
            SongTags tags;
            tags.title = QStringLiteral("夏夜的风");
            tags.artist = QStringLiteral("林晓雨");
            tags.workId = QStringLiteral("3108115");
            QCOMPARE(writeSongTags(path, tags), QString());
        }
        QCOMPARE(::savedWorkId(path), workId);
    }

    // Covers told by their first bytes (PNG and JPEG are read back above).
    void pictureTypes()
    {
        QCOMPARE(pictureMimeType(QByteArray("GIF89a\x01\x00\x01\x00", 10)), QByteArray("image/gif"));
        QCOMPARE(pictureMimeType(QByteArray("RIFF\x10\x00\x00\x00WEBPVP8 ", 16)), QByteArray("image/webp"));
        QCOMPARE(pictureMimeType(QByteArray("RIFF\x10\x00\x00\x00WAVEfmt ", 16)), QByteArray());
        QCOMPARE(pictureMimeType(QByteArray()), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestSongTags)
#include "tst_songtags.moc"
