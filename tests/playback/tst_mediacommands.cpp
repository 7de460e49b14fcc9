// The media command layer: which texts it takes, what each does to the
// backend, and which error code everything else gets.
#include "RecordingBackend.h"
#include "common/TestEnvironment.h"
#include "playback/MediaCommandLayer.h"
#include "playback/MediaCommands.h"

#include <QtTest>

namespace {
constexpr int Ok = int(MediaError::None);
}

class MediaCommandsTest : public QObject {
    Q_OBJECT

    RecordingBackend *m_backend = nullptr; // owned by m_layer
    std::unique_ptr<MediaCommandLayer> m_layer;

    int send(const QString &command) { return m_layer->send(command); }
    void openDevice(const QString &address = QStringLiteral("http://127.0.0.1/a.mp3"))
    {
        QCOMPARE(send(MediaCommands::open(address)), Ok);
        m_backend->calls.clear();
    }

private slots:
    void init()
    {
        auto backend = std::make_unique<RecordingBackend>();
        m_backend = backend.get();
        m_layer = std::make_unique<MediaCommandLayer>(std::move(backend));
    }
    void cleanup() { m_layer.reset(); }

    void fullLifecycle()
    {
        QCOMPARE(send(QStringLiteral("open http://127.0.0.1:8080/s.mp3 alias OpenFile type MPEGVideo")), Ok);
        QVERIFY(m_layer->isOpen());
        QCOMPARE(send(QStringLiteral("play OpenFile")), Ok);
        QCOMPARE(send(QStringLiteral("setaudio OpenFile volume to 1000")), Ok);
        QCOMPARE(send(QStringLiteral("setaudio OpenFile volume to 0")), Ok);
        QCOMPARE(send(QStringLiteral("close OpenFile")), Ok);
        QVERIFY(!m_layer->isOpen());
        QCOMPARE(m_backend->calls, QStringList({"open http://127.0.0.1:8080/s.mp3", "play", "volume 1000", "volume 0",
                                                 "close"}));
    }

    void openTakesTheAddressVerbatim_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("plain") << QStringLiteral("http://a7.stream.kelvaro.com/userdata/userwork/567/1234567.mp3");
        QTest::newRow("blanks inside") << QStringLiteral("http://127.0.0.1/my song.mp3");
        QTest::newRow("blanks at the ends") << QStringLiteral("  http://127.0.0.1/x.mp3 ");
        QTest::newRow("quotes") << QStringLiteral("\"http://127.0.0.1/x.mp3\"");
        QTest::newRow("suffix inside") << QStringLiteral("http://h/x alias OpenFile type MPEGVideo/y.mp3");
        QTest::newRow("suffix at its end") << QStringLiteral("http://h/x.mp3 alias OpenFile type MPEGVideo");
        QTest::newRow("just a blank") << QStringLiteral(" ");
        QTest::newRow("chinese") << QStringLiteral("http://127.0.0.1/歌曲.mp3");
    }
    void openTakesTheAddressVerbatim()
    {
        QFETCH(QString, address);
        QCOMPARE(send(QStringLiteral("open ") + address + QStringLiteral(" alias OpenFile type MPEGVideo")), Ok);
        QCOMPARE(m_backend->calls, QStringList{QStringLiteral("open ") + address});
    }

    void emptyAddressOpensNothing()
    {
        QCOMPARE(send(QStringLiteral("open  alias OpenFile type MPEGVideo")), int(MediaError::CannotOpen));
        QVERIFY(!m_layer->isOpen());
        QVERIFY(m_backend->calls.isEmpty());
        // The rest of what play() sends then fails quietly too.
        QCOMPARE(send(MediaCommands::play()), int(MediaError::NotOpen));
        QCOMPARE(send(MediaCommands::setVolume(1000)), int(MediaError::NotOpen));
        QVERIFY(m_backend->calls.isEmpty());
    }

    void refusedAddressOpensNothing()
    {
        m_backend->acceptOpen = false;
        QCOMPARE(send(MediaCommands::open(QStringLiteral("edl://x"))), int(MediaError::CannotOpen));
        QVERIFY(!m_layer->isOpen());
        QCOMPARE(send(MediaCommands::closeDevice()), int(MediaError::NotOpen));
        QCOMPARE(m_backend->calls, QStringList{"open edl://x"}); // no close for a device that never was
    }

    void malformedCommandsChangeNothing_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("empty") << QString();
        QTest::newRow("blank") << QStringLiteral(" ");
        QTest::newRow("other alias") << QStringLiteral("play Other");
        QTest::newRow("upper case") << QStringLiteral("PLAY OpenFile");
        QTest::newRow("alias case") << QStringLiteral("play openfile");
        QTest::newRow("trailing blank") << QStringLiteral("play OpenFile ");
        QTest::newRow("leading blank") << QStringLiteral(" close all");
        QTest::newRow("play from") << QStringLiteral("play OpenFile from 0");
        QTest::newRow("close other") << QStringLiteral("close Other");
        QTest::newRow("stop") << QStringLiteral("stop OpenFile");
        QTest::newRow("open without suffix") << QStringLiteral("open http://h/x.mp3");
        QTest::newRow("open other type") << QStringLiteral("open http://h/x.mp3 alias OpenFile type waveaudio");
        QTest::newRow("open other alias") << QStringLiteral("open http://h/x.mp3 alias Other type MPEGVideo");
        QTest::newRow("open suffix twice spaced")
            << QStringLiteral("open http://h/x.mp3 alias OpenFile type MPEGVideo ");
        // "open" and the suffix share the blank: too short to hold both.
        QTest::newRow("open overlapping") << QStringLiteral("open alias OpenFile type MPEGVideo");
        QTest::newRow("suffix alone") << QStringLiteral(" alias OpenFile type MPEGVideo");
        QTest::newRow("volume other alias") << QStringLiteral("setaudio Other volume to 5");
        QTest::newRow("volume without number") << QStringLiteral("setaudio OpenFile volume to");
    }
    void malformedCommandsChangeNothing()
    {
        QFETCH(QString, command);
        openDevice();
        QCOMPARE(send(command), int(MediaError::UnknownCommand));
        QVERIFY(m_backend->calls.isEmpty());
        QVERIFY(m_layer->isOpen());
    }

    void volumeBounds_data()
    {
        QTest::addColumn<QString>("number");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("volume"); // what the backend gets when accepted
        QTest::newRow("lowest") << "0" << Ok << 0;
        QTest::newRow("highest") << "1000" << Ok << 1000;
        QTest::newRow("middle") << "437" << Ok << 437;
        QTest::newRow("leading zeros") << "0050" << Ok << 50;
        QTest::newRow("minus zero") << "-0" << Ok << 0;
        const int bad = int(MediaError::BadVolume);
        QTest::newRow("just above") << "1001" << bad << -1;
        QTest::newRow("negative") << "-1" << bad << -1;
        QTest::newRow("huge") << "99999999999999999999999" << bad << -1;
        QTest::newRow("empty") << "" << bad << -1;
        QTest::newRow("plus sign") << "+5" << bad << -1;
        QTest::newRow("blank before") << " 5" << bad << -1;
        QTest::newRow("blank after") << "5 " << bad << -1;
        QTest::newRow("fraction") << "5.5" << bad << -1;
        QTest::newRow("exponent") << "1e3" << bad << -1;
        QTest::newRow("hex") << "0x10" << bad << -1;
        QTest::newRow("letters") << "loud" << bad << -1;
        QTest::newRow("minus alone") << "-" << bad << -1;
        QTest::newRow("arabic-indic digits") << QStringLiteral("٥") << bad << -1;
    }
    void volumeBounds()
    {
        QFETCH(QString, number);
        QFETCH(int, code);
        QFETCH(int, volume);
        openDevice();
        QCOMPARE(send(QStringLiteral("setaudio OpenFile volume to ") + number), code);
        QCOMPARE(m_backend->calls, volume < 0 ? QStringList() : QStringList{QStringLiteral("volume %1").arg(volume)});
    }

    void badVolumeIsReportedEvenWithoutDevice()
    {
        QCOMPARE(send(MediaCommands::setVolume(2000)), int(MediaError::BadVolume));
        QCOMPARE(send(MediaCommands::setVolume(500)), int(MediaError::NotOpen));
        QVERIFY(m_backend->calls.isEmpty());
    }

    void commandsForTheAliasNeedAnOpenDevice()
    {
        QCOMPARE(send(MediaCommands::closeDevice()), int(MediaError::NotOpen));
        QCOMPARE(send(MediaCommands::play()), int(MediaError::NotOpen));
        QCOMPARE(send(MediaCommands::setVolume(1000)), int(MediaError::NotOpen));
        QVERIFY(m_backend->calls.isEmpty());
    }

    void closeAllSucceedsWithOrWithoutDevice()
    {
        QCOMPARE(send(MediaCommands::closeAll()), Ok);
        QVERIFY(m_backend->calls.isEmpty());
        openDevice();
        QCOMPARE(send(MediaCommands::closeAll()), Ok);
        QCOMPARE(m_backend->calls, QStringList{"close"});
        QVERIFY(!m_layer->isOpen());
        QCOMPARE(send(MediaCommands::closeAll()), Ok);
        QCOMPARE(m_backend->calls, QStringList{"close"});
    }

    void secondOpenKeepsTheFirstDevice()
    {
        openDevice(QStringLiteral("http://h/first.mp3"));
        QCOMPARE(send(MediaCommands::open(QStringLiteral("http://h/second.mp3"))), int(MediaError::AliasInUse));
        QVERIFY(m_backend->calls.isEmpty());
        QCOMPARE(send(MediaCommands::play()), Ok); // still the first one
        QCOMPARE(m_backend->calls, QStringList{"play"});
    }

    void twoPlaysInARowOnlyKeepTheSecond()
    {
        // What play() sends twice: the first device is closed before the second opens.
        for (const QString &address : {QStringLiteral("http://h/1.mp3"), QStringLiteral("http://h/2.mp3")}) {
            send(MediaCommands::closeDevice());
            QCOMPARE(send(MediaCommands::open(address)), Ok);
            QCOMPARE(send(MediaCommands::play()), Ok);
            QCOMPARE(send(MediaCommands::setVolume(1000)), Ok);
        }
        QCOMPARE(m_backend->calls, QStringList({"open http://h/1.mp3", "play", "volume 1000", "close",
                                                 "open http://h/2.mp3", "play", "volume 1000"}));
    }

    void destroyingTheLayerClosesItsDevice()
    {
        // A backend whose log outlives the layer that owns it.
        struct Logging final : MediaBackend {
            std::shared_ptr<QStringList> log;
            bool open(const QString &) override { return true; }
            void play() override { log->append(QStringLiteral("play")); }
            void setVolume(int) override {}
            void close() override { log->append(QStringLiteral("close")); }
        };
        const auto log = std::make_shared<QStringList>();
        const auto run = [&log](const QStringList &commands) {
            auto backend = std::make_unique<Logging>();
            backend->log = log;
            MediaCommandLayer layer(std::move(backend));
            for (const QString &command : commands)
                layer.send(command);
        };
        run({MediaCommands::open(QStringLiteral("http://h/x.mp3")), MediaCommands::play()});
        QCOMPARE(*log, QStringList({"play", "close"}));
        log->clear();
        run({MediaCommands::open(QStringLiteral("http://h/x.mp3")), MediaCommands::closeAll()});
        QCOMPARE(*log, QStringList{"close"}); // closed once, not again on the way out
        log->clear();
        run({});
        QVERIFY(log->isEmpty());
    }
};

KELVARO_TEST_MAIN(MediaCommandsTest)
#include "tst_mediacommands.moc"
