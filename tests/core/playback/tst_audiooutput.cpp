// Real sound: the program's play button and volume slider driving libmpv into
// a private PulseAudio server whose only output is a null sink, recorded from
// the sink's monitor. Skipped, saying why, where no sound server can start.
#include "SoundServer.h"
#include "ToneMp3.h"
#include "common/TestEnvironment.h"
#include "common/TestServer.h"
#include "core/lookup/SongState.h"
#include "core/playback/MediaCommandLayer.h"
#include "core/playback/MediaCommands.h"
#include "core/playback/MpvBackend.h"
#include "gui/playback/PlayCommands.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QtTest>

namespace {

constexpr double ToneAmplitude = 0.5;  // of full scale
constexpr int Loud = 4000;             // the tone at full volume peaks near 16400
constexpr int Quiet = 16;              // silence is zeros; leave room for rounding

} // namespace

class AudioOutputTest : public QObject {
    Q_OBJECT

    NullSinkServer m_sound;
    std::unique_ptr<SinkRecorder> m_recorder;
    TestServer m_web;
    QString m_address;

    MpvBackend *m_backend = nullptr; // owned by m_media
    std::unique_ptr<MediaCommandLayer> m_media;
    SongState m_state;
    std::unique_ptr<QWidget> m_panel;
    QPushButton *m_command7 = nullptr;
    QPushButton *m_command16 = nullptr;
    QSlider *m_slider1 = nullptr;
    std::unique_ptr<PlayCommands> m_commands;

    SinkRecorder &recorder() { return *m_recorder; }

    // Waits until `milliseconds` more of the sink's output have been recorded
    // and returns the loudest sample among them.
    int peakOfNext(int milliseconds)
    {
        const qsizetype from = recorder().sampleCount();
        const qsizetype until = from + SinkRecorder::samples(milliseconds);
        if (!QTest::qWaitFor([&] { return recorder().sampleCount() >= until; }, milliseconds + 5000))
            return -1;
        return recorder().peak(from, until);
    }
    bool quietNow() { return recorder().sampleCount() > SinkRecorder::samples(300) && recorder().recentPeak(SinkRecorder::samples(300)) <= Quiet; }

private slots:
    void initTestCase()
    {
        // Where sound is required (the CI machine), not hearing anything is a failure, not a skip.
        const bool required = qEnvironmentVariableIntValue("KELVARO_REQUIRE_SOUND") != 0;
        QString whyNot;
        if (!m_sound.start(&whyNot)) {
            const QString message = QStringLiteral("no sound server could be started: ") + whyNot;
            if (required)
                QFAIL(qPrintable(message));
            QSKIP(qPrintable(message));
        }
        m_recorder = std::make_unique<SinkRecorder>(m_sound);
        if (!m_recorder->start(&whyNot)) {
            const QString message = QStringLiteral("cannot record the sound server: ") + whyNot;
            if (required)
                QFAIL(qPrintable(message));
            QSKIP(qPrintable(message));
        }
        // libmpv's sound output talks to our server only.
        qputenv("PULSE_SERVER", m_sound.address().toLocal8Bit());

        const QByteArray tone = ToneMp3::encode(440, 12, ToneAmplitude);
        QVERIFY(!tone.isEmpty());
        m_web.serve(QStringLiteral("/tone.mp3"), tone, "audio/mpeg");
        m_web.start();
        m_address = m_web.url(QStringLiteral("/tone.mp3"));

        auto backend = std::make_unique<MpvBackend>(MpvBackend::Options{{"ao", "pulse"}});
        QVERIFY(backend->isAvailable());
        m_backend = backend.get();
        m_media = std::make_unique<MediaCommandLayer>(std::move(backend));

        m_panel = std::make_unique<QWidget>();
        m_command7 = new QPushButton(QStringLiteral("在线播放"), m_panel.get());
        m_command16 = new QPushButton(QStringLiteral("无法播放?"), m_panel.get());
        m_slider1 = new QSlider(Qt::Horizontal, m_panel.get());
        m_slider1->setRange(0, 1000);
        m_slider1->setValue(1000);
        m_commands = std::make_unique<PlayCommands>(PlayCommands::Controls{.Command7 = m_command7,
                                                                           .Command16 = m_command16,
                                                                           .Slider1 = m_slider1,
                                                                           .setStatus = [](const QString &) {}},
                                                    m_state, *m_media);
        m_state.MusicUrl = m_address;

        // Nothing plays yet: the recording itself must read as silence.
        QTRY_VERIFY_WITH_TIMEOUT(recorder().sampleCount() > SinkRecorder::samples(500), 10000);
        QVERIFY(quietNow());
    }

    void cleanupTestCase()
    {
        m_commands.reset();
        m_media.reset();
        m_recorder.reset();
        m_sound.stop();
    }

    void init()
    {
        m_slider1->setValue(1000);
        QTRY_VERIFY_WITH_TIMEOUT(quietNow(), 10000);
    }

    void cleanup()
    {
        m_commands->stop(); // "close all", and the play button offers to play again
    }

    void playsUntilStopped()
    {
        QSignalSpy failed(m_backend, &MpvBackend::failed);
        const qsizetype start = recorder().sampleCount();
        m_command7->click(); // play: returns at once
        QCOMPARE(m_command7->text(), QStringLiteral("停止播放"));
        QTRY_VERIFY_WITH_TIMEOUT(recorder().firstAbove(Loud, start) >= 0, 10000);
        // It goes on playing while the window is idle.
        QVERIFY(peakOfNext(1000) > Loud);

        m_command7->click(); // stop: "close all"
        QCOMPARE(m_command7->text(), QStringLiteral("在线播放"));
        QTRY_VERIFY_WITH_TIMEOUT(quietNow(), 5000);
        // And stays silent though the tone would go on for seconds.
        QCOMPARE(peakOfNext(1500), 0);
        QVERIFY(failed.isEmpty());
    }

    void volumeIsLinearInAmplitude()
    {
        m_command7->click();
        QTRY_VERIFY_WITH_TIMEOUT(recorder().recentPeak(SinkRecorder::samples(100)) > Loud, 10000);
        const int full = peakOfNext(500);
        QVERIFY2(full > 0.8 * ToneAmplitude * 32767, qPrintable(QString::number(full)));

        QVERIFY(m_media->send(MediaCommands::setVolume(250)) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(recorder().recentPeak(SinkRecorder::samples(100)) < full * 6 / 10, 5000);
        const int quarter = peakOfNext(500);
        const double ratio = double(quarter) / full;
        qInfo("peak at full volume %d, at a quarter %d: ratio %.3f", full, quarter, ratio);
        QVERIFY2(ratio > 0.22 && ratio < 0.28, qPrintable(QStringLiteral("quarter volume gave %1 of full").arg(ratio)));

        // The user drags the slider to the bottom: silence while the tone plays on.
        m_slider1->setSliderDown(true);
        m_slider1->setSliderPosition(0);
        m_slider1->setSliderDown(false);
        QTRY_VERIFY_WITH_TIMEOUT(quietNow(), 5000);
        const double position = m_backend->position();
        QCOMPARE(peakOfNext(1000), 0);
        QVERIFY2(m_backend->position() > position + 0.5, "still playing while silent");

        QTest::keyClick(m_slider1, Qt::Key_End);
        QTRY_VERIFY_WITH_TIMEOUT(recorder().recentPeak(SinkRecorder::samples(100)) > Loud, 5000);
    }

    void startsSilentAtVolumeZero()
    {
        m_slider1->setValue(0);
        const qsizetype start = recorder().sampleCount();
        m_command7->click(); // the volume command follows the play command
        QTRY_VERIFY_WITH_TIMEOUT(m_backend->position() > 1.5, 10000);
        QCOMPARE(recorder().peak(start), 0);

        QTest::keyClick(m_slider1, Qt::Key_End);
        QTRY_VERIFY_WITH_TIMEOUT(recorder().recentPeak(SinkRecorder::samples(100)) > Loud, 5000);
    }

    void secondPlayReplacesTheFirst()
    {
        m_command7->click();
        QTRY_VERIFY_WITH_TIMEOUT(recorder().recentPeak(SinkRecorder::samples(100)) > Loud, 10000);
        // Playing again from the start: the old device is closed first, so one tone, never two at once.
        m_commands->play(m_address);
        QTRY_VERIFY_WITH_TIMEOUT(m_backend->position() >= 0 && m_backend->position() < 1.0, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(m_backend->position() > 1.5, 10000);
        const int peak = peakOfNext(1000);
        QVERIFY2(peak > Loud && peak < 0.6 * 32767, qPrintable(QString::number(peak)));
    }
};

KELVARO_TEST_MAIN(AudioOutputTest)
#include "tst_audiooutput.moc"
