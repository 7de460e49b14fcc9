// The media command layer: which texts it takes, what each does to the
// backend, and which error code everything else gets.
#include "common/TestEnvironment.h"
#include "core/playback/MediaCommandLayer.h"

#include <QtTest>

namespace {

// Writes down what it is asked to do, in a log that outlives it; refuses the
// edl:// pseudo-protocol as the real backend does. end() stands for the
// device stopping by itself.
struct RecordingBackend final : MediaBackend {
    void end() const { reportPlaybackEnd(PlaybackEnd::Finished); }
    std::shared_ptr<QStringList> log = std::make_shared<QStringList>();
    bool open(const QString &address) override
    {
        *log << "open " + address;
        return !address.startsWith("edl://");
    }
    void play() override { *log << "play"; }
    void pause() override { *log << "pause"; }
    void setVolume(int volume) override { *log << QStringLiteral("volume %1").arg(volume); }
    void close() override { *log << "close"; }
};

const QString Open = QStringLiteral("open http://h/a.mp3 alias OpenFile type MPEGVideo");

} // namespace

class MediaCommandsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<MediaCommandLayer> m_layer;
    std::shared_ptr<QStringList> m_calls;
    RecordingBackend *m_backend = nullptr;

private slots:
    void init()
    {
        auto backend = std::make_unique<RecordingBackend>();
        m_calls = backend->log;
        m_backend = backend.get();
        m_layer = std::make_unique<MediaCommandLayer>(std::move(backend));
        m_layer->onPlaybackEnd([calls = m_calls](PlaybackEnd) { *calls << "<ended>"; });
    }

    // Commands sent in order ("<destroy>" drops the layer, "<end>" has the
    // backend report the device's end), the codes they answer and the backend
    // calls they make ("<ended>": the end reached the program).
    void scripts_data()
    {
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<QList<int>>("codes");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("lifecycle") << QStringList{Open, "play OpenFile", "setaudio OpenFile volume to 1000",
                                                  "setaudio OpenFile volume to 0", "close OpenFile"}
                                   << QList<int>{0, 0, 0, 0, 0}
                                   << QStringList{"open http://h/a.mp3", "play", "volume 1000", "volume 0", "close"};
        QTest::newRow("pause and resume") << QStringList{"pause OpenFile", Open, "play OpenFile", "pause OpenFile",
                                                         "play OpenFile", "close OpenFile", "pause OpenFile"}
                                          << QList<int>{2, 0, 0, 0, 0, 0, 2}
                                          << QStringList{"open http://h/a.mp3", "play", "pause", "play", "close"};
        QTest::newRow("address verbatim: blanks, quotes, the suffix inside")
            << QStringList{"open  \"http://h/my song alias OpenFile type MPEGVideo/歌.mp3\"  alias OpenFile type MPEGVideo"}
            << QList<int>{0} << QStringList{"open  \"http://h/my song alias OpenFile type MPEGVideo/歌.mp3\" "};
        QTest::newRow("empty address opens nothing")
            << QStringList{"open  alias OpenFile type MPEGVideo", "play OpenFile", "setaudio OpenFile volume to 9"}
            << QList<int>{5, 2, 2} << QStringList{};
        QTest::newRow("refused address opens nothing")
            << QStringList{"open edl://x alias OpenFile type MPEGVideo", "close OpenFile"} << QList<int>{5, 2}
            << QStringList{"open edl://x"};
        QTest::newRow("the alias needs an open device")
            << QStringList{"close OpenFile", "play OpenFile", "setaudio OpenFile volume to 1000"}
            << QList<int>{2, 2, 2} << QStringList{};
        QTest::newRow("a bad volume is reported before the missing device")
            << QStringList{"setaudio OpenFile volume to 2000", "setaudio OpenFile volume to 500"} << QList<int>{4, 2}
            << QStringList{};
        QTest::newRow("close all, with or without a device")
            << QStringList{"close all", Open, "close all", "close all"} << QList<int>{0, 0, 0, 0}
            << QStringList{"open http://h/a.mp3", "close"};
        QTest::newRow("a second open keeps the first device")
            << QStringList{Open, "open http://h/b.mp3 alias OpenFile type MPEGVideo", "play OpenFile"}
            << QList<int>{0, 3, 0} << QStringList{"open http://h/a.mp3", "play"};
        QTest::newRow("destroyed while open: closed")
            << QStringList{Open, "play OpenFile", "<destroy>"} << QList<int>{0, 0, 0}
            << QStringList{"open http://h/a.mp3", "play", "close"};
        QTest::newRow("destroyed after close all: not closed again")
            << QStringList{Open, "close all", "<destroy>"} << QList<int>{0, 0, 0}
            << QStringList{"open http://h/a.mp3", "close"};
        QTest::newRow("the end of the open device goes on")
            << QStringList{Open, "play OpenFile", "<end>"} << QList<int>{0, 0, 0}
            << QStringList{"open http://h/a.mp3", "play", "<ended>"};
        QTest::newRow("no end heard once closed")
            << QStringList{Open, "close all", "<end>"} << QList<int>{0, 0, 0}
            << QStringList{"open http://h/a.mp3", "close"};
    }
    void scripts()
    {
        QFETCH(QStringList, commands);
        QFETCH(QList<int>, codes);
        QFETCH(QStringList, calls);
        QList<int> answered;
        for (const QString &command : commands) {
            if (command == "<destroy>") {
                m_layer.reset();
                answered << 0;
            } else if (command == "<end>") {
                m_backend->end();
                answered << 0;
            } else {
                answered << m_layer->send(command);
            }
        }
        QCOMPARE(answered, codes);
        QCOMPARE(*m_calls, calls);
    }

    void malformedCommandsChangeNothing_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("empty") << QString();
        QTest::newRow("other alias") << "play Other";
        QTest::newRow("upper case") << "PLAY OpenFile";
        QTest::newRow("trailing blank") << "play OpenFile ";
        QTest::newRow("open without suffix") << "open http://h/x.mp3";
        QTest::newRow("open other type") << "open http://h/x.mp3 alias OpenFile type waveaudio";
        QTest::newRow("open suffix, then a blank") << "open http://h/x.mp3 alias OpenFile type MPEGVideo ";
        // "open" and the suffix share the blank: too short to hold both.
        QTest::newRow("open overlapping") << "open alias OpenFile type MPEGVideo";
        QTest::newRow("volume other alias") << "setaudio Other volume to 5";
    }
    void malformedCommandsChangeNothing()
    {
        QFETCH(QString, command);
        QCOMPARE(m_layer->send(Open), 0);
        QCOMPARE(m_layer->send(command), int(MediaError::UnknownCommand));
        QCOMPARE(*m_calls, QStringList{"open http://h/a.mp3"});
        QVERIFY(m_layer->isOpen());
    }

    void volumeBounds_data()
    {
        QTest::addColumn<QString>("number");
        QTest::addColumn<int>("volume"); // what the backend gets; -1: refused as a bad volume
        QTest::newRow("lowest") << "0" << 0;
        QTest::newRow("leading zeros") << "0050" << 50;
        QTest::newRow("minus zero") << "-0" << 0;
        QTest::newRow("highest") << "1000" << 1000;
        QTest::newRow("just above") << "1001" << -1;
        QTest::newRow("just below") << "-1" << -1;
        QTest::newRow("beyond any machine number") << "99999999999999999999999" << -1;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("plus sign") << "+5" << -1;
        QTest::newRow("blank after") << "5 " << -1;
        QTest::newRow("fraction") << "5.5" << -1;
        QTest::newRow("arabic-indic digit") << QStringLiteral("٥") << -1;
    }
    void volumeBounds()
    {
        QFETCH(QString, number);
        QFETCH(int, volume);
        QCOMPARE(m_layer->send(Open), 0);
        QCOMPARE(m_layer->send("setaudio OpenFile volume to " + number), volume < 0 ? int(MediaError::BadVolume) : 0);
        QCOMPARE(m_calls->mid(1), volume < 0 ? QStringList() : QStringList{QStringLiteral("volume %1").arg(volume)});
    }
};

KELVARO_TEST_MAIN(MediaCommandsTest)
#include "tst_mediacommands.moc"
