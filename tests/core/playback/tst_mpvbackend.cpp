// The libmpv backend on its own, without a sound server (audio goes to libmpv's
// null output): what it takes, that it waits paused, and that a failure is
// reported for its own address only, never for the one that replaced it.
#include "ToneMp3.h"
#include "common/TestEnvironment.h"
#include "common/TestServer.h"
#include "core/playback/MpvBackend.h"

#include <QSignalSpy>
#include <QtTest>

class MpvBackendTest : public QObject {
    Q_OBJECT

    TestServer m_server;
    QByteArray m_tone;

    static MpvBackend::Options silentOutput() { return {{"ao", "null"}}; }

    // What the backend reported towards the command layer, in order.
    static std::shared_ptr<QList<PlaybackEnd>> listen(MpvBackend &backend)
    {
        auto ends = std::make_shared<QList<PlaybackEnd>>();
        backend.onPlaybackEnd([ends](PlaybackEnd end) { ends->append(end); });
        return ends;
    }

private slots:
    void initTestCase()
    {
        m_tone = ToneMp3::encode(440, 0.6);
        QVERIFY(m_tone.size() > 1000);
        m_server.serve(QStringLiteral("/tone.mp3"), m_tone, "audio/mpeg");
        m_server.serve(QStringLiteral("/other.mp3"), m_tone, "audio/mpeg");
        m_server.serve(QStringLiteral("/missing.mp3"), "<html>not here</html>", "text/html", 404);
        m_server.serveSilence(QStringLiteral("/silent.mp3"));
        m_server.start();
    }

    void acceptsAddress_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("http") << "http://127.0.0.1/a.mp3" << true;
        QTest::newRow("file") << "file:///tmp/a.mp3" << true;
        QTest::newRow("path with blank and ://") << "/tmp/a b://c.mp3" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("edl") << "edl://http://127.0.0.1/a.mp3" << false;
        QTest::newRow("ftp") << "ftp://127.0.0.1/a.mp3" << false;
    }
    void acceptsAddress()
    {
        QFETCH(QString, address);
        QFETCH(bool, accepted);
        QCOMPARE(MpvBackend::acceptsAddress(address), accepted);
        MpvBackend backend(silentOutput());
        QVERIFY(backend.isAvailable());
        QCOMPARE(backend.open(address), accepted);
        QCOMPARE(backend.address(), accepted ? address : QString());
    }

    // Loaded paused at the start; plays only when asked, and from the start
    // again once it has reached its end.
    void opensPausedAndPlaysOnlyWhenAsked()
    {
        MpvBackend backend(silentOutput());
        QSignalSpy loaded(&backend, &MpvBackend::loaded);
        QSignalSpy ended(&backend, &MpvBackend::reachedEnd);
        const auto reported = listen(backend);
        const QString address = m_server.url(QStringLiteral("/tone.mp3"));
        QVERIFY(backend.open(address));
        QVERIFY(loaded.wait(10000));
        QCOMPARE(loaded.first().first().toString(), address);
        QTRY_VERIFY(backend.position() >= 0);
        QVERIFY(!ended.wait(1000)); // a second of waiting moves nothing
        QVERIFY2(qAbs(backend.position()) < 0.01, qPrintable(QString::number(backend.position())));
        backend.play();
        QVERIFY(ended.wait(10000));
        backend.play();
        QTRY_VERIFY_WITH_TIMEOUT(backend.position() < 0.5, 5000);
        QVERIFY(ended.wait(10000));
        QCOMPARE(ended.size(), 2);
        QCOMPARE(*reported, QList<PlaybackEnd>({PlaybackEnd::Finished, PlaybackEnd::Finished}));
    }

    void failuresAreReportedForTheirAddress_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("connection refused")
            << QStringLiteral("http://127.0.0.1:%1/x.mp3").arg(TestServer::refusingPort());
        QTest::newRow("404") << QStringLiteral("/missing.mp3");
    }
    void failuresAreReportedForTheirAddress()
    {
        QFETCH(QString, address);
        if (address.startsWith(u'/'))
            address = m_server.url(address);
        MpvBackend backend(silentOutput());
        QSignalSpy failed(&backend, &MpvBackend::failed);
        QSignalSpy loaded(&backend, &MpvBackend::loaded);
        const auto reported = listen(backend);
        QVERIFY(backend.open(address)); // taken at once; the failure comes later
        QVERIFY(failed.wait(10000));
        QCOMPARE(failed.size(), 1);
        QCOMPARE(*reported, QList<PlaybackEnd>{PlaybackEnd::CannotOpen});
        QCOMPARE(failed.first().at(0).toString(), address);
        QVERIFY(!failed.first().at(1).toString().isEmpty());
        QVERIFY(loaded.isEmpty());
        // The backend is still usable afterwards.
        backend.close();
        QVERIFY(backend.open(m_server.url(QStringLiteral("/tone.mp3"))));
        QVERIFY(loaded.wait(10000));
        QCOMPARE(failed.size(), 1);
    }

    void aReplacedAddressFailsQuietly()
    {
        // The first address hangs until the network time-out; it is closed and
        // replaced long before, and its end must not count against the second.
        MpvBackend backend(silentOutput());
        QSignalSpy failed(&backend, &MpvBackend::failed);
        QSignalSpy loaded(&backend, &MpvBackend::loaded);
        const auto reported = listen(backend);
        QVERIFY(backend.open(m_server.url(QStringLiteral("/silent.mp3"))));
        backend.play();
        backend.close();
        const QString second = m_server.url(QStringLiteral("/other.mp3"));
        QVERIFY(backend.open(second));
        QVERIFY(loaded.wait(10000));
        QCOMPARE(loaded.size(), 1);
        QCOMPARE(loaded.first().first().toString(), second);
        QVERIFY(failed.isEmpty());
        QVERIFY(reported->isEmpty());
    }

    // No sound server to play to: the audio is read, then no output opens;
    // that is reported as an address that cannot be played.
    void noSoundOutputCannotOpen()
    {
        const QByteArray pulseServer = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", "unix:/nonexistent/kelvaro-test/pulse.sock");
        MpvBackend backend(MpvBackend::Options{{"ao", "pulse"}});
        QSignalSpy failed(&backend, &MpvBackend::failed);
        const auto reported = listen(backend);
        QVERIFY(backend.open(m_server.url(QStringLiteral("/tone.mp3"))));
        backend.play();
        const bool failedInTime = failed.wait(10000);
        if (pulseServer.isEmpty())
            qunsetenv("PULSE_SERVER");
        else
            qputenv("PULSE_SERVER", pulseServer);
        QVERIFY(failedInTime);
        QCOMPARE(*reported, QList<PlaybackEnd>{PlaybackEnd::CannotOpen});
    }

    void destroyingWhileLoadingIsSafe()
    {
        // Wake-ups from libmpv's threads must not reach a destroyed backend.
        for (int round = 0; round < 5; ++round) {
            auto backend = std::make_unique<MpvBackend>(silentOutput());
            QVERIFY(backend->open(m_server.url(QStringLiteral("/tone.mp3"))));
            backend->play();
            QTest::qWait(round * 20);
            backend.reset();
        }
        QTest::qWait(100); // let any stray queued call run into nothing
    }
};

KELVARO_TEST_MAIN(MpvBackendTest)
#include "tst_mpvbackend.moc"
