// The play/stop button, the "can't play?" fallback, the volume slider and the
// rebuilt audio address, against a recording media control.
#include "core/endpoints/Endpoints.h"
#include "gui/app/Form1.h"
#include "gui/app/FormControls.h"
#include "common/Fakes.h"
#include "common/TestEnvironment.h"
#include "core/lookup/SongState.h"
#include "core/playback/AudioAddress.h"
#include "gui/playback/PlayCommands.h"

#include <QtTest>

namespace {

const QString Tail = QString::fromUtf8(Endpoints::MediaHostTail);
const QString Play = QStringLiteral("在线播放");
const QString Stop = QStringLiteral("停止播放");
const QString LookUpFirst = QStringLiteral("请先进行解析..");
const QString Untouched = QStringLiteral("(status before the click)");

// An audio address as the recording page gives it: piece 5 names the host.
const QString PageAddress = QStringLiteral("http://cdn.kelvaro.com/m/2019/a115/1234567.mp3");

QStringList playCommands(const QString &address, int volume)
{
    return {"close OpenFile", "open " + address + " alias OpenFile type MPEGVideo", "play OpenFile",
            QStringLiteral("setaudio OpenFile volume to %1").arg(volume)};
}

QString media(const QString &hostNumber, const QString &workId)
{
    return "http://a" + hostNumber + Tail + "/userdata/userwork/" + workId.right(3) + "/" + workId + ".mp3";
}

} // namespace

class PlayCommandsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<Form1> m_form;
    SongState m_state;
    RecordingMediaControl m_media;
    std::unique_ptr<PlayCommands> m_commands;

private slots:
    void init()
    {
        m_form = std::make_unique<Form1>();
        m_state = SongState();
        m_media = RecordingMediaControl();
        m_commands = std::make_unique<PlayCommands>(controlsOf(*m_form).playCommands, m_state, m_media);
        m_form->Slider1->setValue(1000); // as at start-up: sends nothing
        m_form->setStatus(Untouched);
    }
    void cleanup()
    {
        m_commands.reset();
        m_form.reset();
    }

    // No checks on the address, the volume sent after play, never before.
    void playSendsFourCommandsInOrder_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("volume");
        QTest::newRow("silent") << PageAddress << 0;
        QTest::newRow("blank in address") << "http://127.0.0.1/a song.mp3" << 370;
        QTest::newRow("empty address") << QString() << 1000;
    }
    void playSendsFourCommandsInOrder()
    {
        QFETCH(QString, address);
        QFETCH(int, volume);
        m_form->Slider1->setValue(volume);
        m_commands->play(address);
        QCOMPARE(m_media.commands, playCommands(address, volume));
    }

    // Setting the value sends nothing; the user's keys send one volume
    // command per press (at the end of the scale too), a drag one per new
    // position.
    void sliderSendsEveryStep()
    {
        QSlider *slider = m_form->Slider1;
        slider->setValue(0);
        slider->setValue(1000);
        QTest::keyClick(slider, Qt::Key_Left);
        QTest::keyClick(slider, Qt::Key_Home);
        QTest::keyClick(slider, Qt::Key_Left); // already at the bottom
        slider->setSliderDown(true);
        for (const int position : {990, 700, 700, 0, 350})
            slider->setSliderPosition(position);
        slider->setSliderDown(false);
        QStringList volumes;
        for (const int volume : {990, 0, 0, 990, 700, 0, 350})
            volumes << QStringLiteral("setaudio OpenFile volume to %1").arg(volume);
        QCOMPARE(m_media.commands, volumes);
        QCOMPARE(slider->value(), 350);
    }

    // Every row starts from a state (shown by its caption) and a looked-up (or not) address and
    // clicks one button. Rows marked "cannot open" have the media layer fail
    // every command: the open command's failure puts the caption back.
    void stateTable_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("musicUrl");
        QTest::addColumn<int>("button"); // 7 or 16
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<QString>("nextCaption");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("nextMusicUrl");

        const QString playing = QStringLiteral("正在进行在线试播放..");
        const QString rebuiltStatus = QStringLiteral("为您重新解析后,正在进行在线试播放..");
        const QString rebuilt = media("7", "1234567");
        const QString fivePieces = QStringLiteral("http://h/m/1234567.mp3");
        const QString cannotPlay = QStringLiteral("抱歉!无法播放该音乐,请检查网络或声音设备..");
        QTest::newRow("play, nothing looked up")
            << Play << QString() << 7 << QStringList() << Play << LookUpFirst << QString();
        QTest::newRow("play") << Play << PageAddress << 7 << playCommands(PageAddress, 1000) << Stop << playing
                              << PageAddress;
        QTest::newRow("play, cannot open") << Play << PageAddress << 7 << playCommands(PageAddress, 1000) << Play
                                           << cannotPlay << PageAddress;
        QTest::newRow("stop") << Stop << PageAddress << 7 << QStringList{"close all"} << Play << Untouched
                              << PageAddress;
        QTest::newRow("stop, nothing looked up")
            << Stop << QString() << 7 << QStringList() << Stop << LookUpFirst << QString();
        QTest::newRow("rebuild while stopped")
            << Play << PageAddress << 16 << playCommands(rebuilt, 1000) << Stop << rebuiltStatus << rebuilt;
        QTest::newRow("rebuild while playing")
            << Stop << PageAddress << 16 << playCommands(rebuilt, 1000) << Stop << rebuiltStatus << rebuilt;
        QTest::newRow("rebuild, cannot open")
            << Stop << PageAddress << 16 << playCommands(rebuilt, 1000) << Play << cannotPlay << rebuilt;
        QTest::newRow("rebuild, nothing looked up")
            << Play << QString() << 16 << QStringList() << Play << LookUpFirst << QString();
        QTest::newRow("rebuild, five pieces while stopped")
            << Play << fivePieces << 16 << QStringList() << Play << LookUpFirst << fivePieces;
        QTest::newRow("rebuild, five pieces while playing")
            << Stop << fivePieces << 16 << QStringList() << Stop << LookUpFirst << fivePieces;
    }
    void stateTable()
    {
        QFETCH(QString, caption);
        QFETCH(QString, musicUrl);
        QFETCH(int, button);
        QFETCH(QStringList, commands);
        QFETCH(QString, nextCaption);
        QFETCH(QString, status);
        QFETCH(QString, nextMusicUrl);
        if (caption == Stop) { // as after a click that started the sound
            m_state.MusicUrl = PageAddress;
            m_form->Command7->click();
            QVERIFY(m_commands->playing());
            m_media.commands.clear();
            m_form->setStatus(Untouched);
        }
        m_media.answer = QString(QTest::currentDataTag()).endsWith("cannot open") ? 5 : 0;
        m_state.MusicUrl = musicUrl;
        m_state.WorkId = QStringLiteral("1234567");
        (button == 7 ? m_form->Command7 : m_form->Command16)->click();
        QCOMPARE(m_media.commands, commands);
        QCOMPARE(m_form->Command7->text(), nextCaption);
        QCOMPARE(m_form->status(), status);
        QCOMPARE(m_state.MusicUrl, nextMusicUrl);
    }

    // The sound stops by itself: the caption goes back and the status says
    // why. Once the user (or the works table) has stopped, a late word
    // changes nothing; after the end, the button plays again from the start.
    void soundStopsByItself_data()
    {
        QTest::addColumn<int>("end"); // PlaybackEnd
        QTest::addColumn<bool>("stoppedFirst");
        QTest::addColumn<QString>("status");
        QTest::newRow("end of the track") << int(PlaybackEnd::Finished) << false << "播放结束..";
        QTest::newRow("cannot open") << int(PlaybackEnd::CannotOpen) << false
                                     << "抱歉!无法播放该音乐,请检查网络或声音设备..";
        QTest::newRow("broke off") << int(PlaybackEnd::Failed) << false << "抱歉!播放中断,请检查网络后重试..";
        QTest::newRow("end after stop") << int(PlaybackEnd::Finished) << true << Untouched;
    }
    void soundStopsByItself()
    {
        QFETCH(int, end);
        QFETCH(bool, stoppedFirst);
        QFETCH(QString, status);
        m_state.MusicUrl = PageAddress;
        m_form->Command7->click();
        QCOMPARE(m_form->Command7->text(), Stop);
        if (stoppedFirst) {
            m_form->Command7->click();
            m_form->setStatus(Untouched);
        }
        m_media.commands.clear();
        m_media.end(PlaybackEnd(end));
        QCOMPARE(m_form->Command7->text(), Play);
        QCOMPARE(m_form->status(), status);
        QVERIFY(m_media.commands.isEmpty());
        m_form->Command7->click();
        QCOMPARE(m_media.commands, playCommands(PageAddress, 1000));
        QCOMPARE(m_form->Command7->text(), Stop);
    }

    // The second rebuild reads the first one's address, whose piece 5 is the
    // folder "567"; the play button then plays what was rebuilt last.
    // Held and resumed from the desktop's player controls: the caption offers
    // "在线播放" meanwhile, and pressing it starts the song from the beginning.
    void pauseAndResume_data()
    {
        QTest::addColumn<QString>("after"); // what follows the pause
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("paused");
        QTest::newRow("resume") << "resume" << QStringList{"play OpenFile"} << Stop << PlayCommands::PlayingStatus
                                << false;
        QTest::newRow("button starts anew") << "click" << playCommands(PageAddress, 1000) << Stop
                                            << PlayCommands::PlayingStatus << false;
        QTest::newRow("stop") << "stop" << QStringList{"close all"} << Play << PlayCommands::PausedStatus << false;
        QTest::newRow("pause again") << "pause" << QStringList{} << Play << PlayCommands::PausedStatus << true;
        QTest::newRow("no end while held") << "end" << QStringList{} << Play << PlayCommands::PausedStatus << true;
    }
    void pauseAndResume()
    {
        QFETCH(QString, after);
        QFETCH(QStringList, commands);
        QFETCH(QString, caption);
        QFETCH(QString, status);
        QFETCH(bool, paused);
        m_state.MusicUrl = PageAddress;
        QVERIFY(!m_commands->pause()); // nothing plays: nothing to hold
        QVERIFY(!m_commands->resume());
        QVERIFY(m_media.commands.isEmpty());
        m_form->Command7->click();
        m_media.commands.clear();
        QVERIFY(m_commands->pause());
        QCOMPARE(m_media.commands, QStringList{"pause OpenFile"});
        QCOMPARE(m_form->Command7->text(), Play);
        QCOMPARE(m_form->status(), PlayCommands::PausedStatus);
        QVERIFY(m_commands->paused());
        m_media.commands.clear();
        if (after == "resume")
            QVERIFY(m_commands->resume());
        else if (after == "click")
            m_form->Command7->click();
        else if (after == "stop")
            m_commands->stop();
        else if (after == "pause")
            QVERIFY(!m_commands->pause());
        else
            m_media.end(PlaybackEnd::Finished);
        QCOMPARE(m_media.commands, commands);
        QCOMPARE(m_form->Command7->text(), caption);
        QCOMPARE(m_form->status(), status);
        QCOMPARE(m_commands->paused(), paused);
        QCOMPARE(m_commands->playing(), caption == Stop);
    }

    void rebuildTwice()
    {
        m_state.MusicUrl = PageAddress;
        m_state.WorkId = QStringLiteral("1234567");
        m_form->Command16->click();
        QCOMPARE(m_state.MusicUrl, media("7", m_state.WorkId));
        m_form->Command16->click();
        const QString second = media("459", m_state.WorkId);
        QCOMPARE(m_state.MusicUrl, second);
        m_form->Command7->click(); // stop
        m_media.commands.clear();
        m_form->Command7->click();
        QCOMPARE(m_media.commands, playCommands(second, 1000));
    }

    void hostNumber_data()
    {
        QTest::addColumn<QString>("piece");
        QTest::addColumn<QString>("expected");
        QTest::newRow("a115") << "a115" << "7";
        QTest::newRow("108") << "108" << "0";
        QTest::newRow("100") << "100" << "-8";
        QTest::newRow("every a removed, leading zeros") << "a0a1a15" << "7";
        QTest::newRow("fraction, its zeros dropped") << "115.50" << "7.5";
        QTest::newRow("fraction below zero") << "107.75" << "-0.25";
        QTest::newRow("capital A stops reading") << "1.2A3" << "-106.8";
        QTest::newRow("blanks skipped") << " \t115" << "7";
        QTest::newRow("minus fraction") << "-.5" << "-108.5";
        QTest::newRow("no digits") << "" << "-108";
        QTest::newRow("longer than any machine number") << "12345678901234567890123" << "12345678901234567890015";
        QTest::newRow("long fraction") << "108.000000000000000000001" << "0.000000000000000000001";
    }
    void hostNumber()
    {
        QFETCH(QString, piece);
        QFETCH(QString, expected);
        QCOMPARE(AudioAddress::hostNumber(piece), expected);
    }

    void rebuild_data()
    {
        QTest::addColumn<QString>("musicUrl");
        QTest::addColumn<QString>("workId");
        QTest::addColumn<QString>("expected"); // empty: refused
        QTest::newRow("two-character work id") << PageAddress << "42"
                                               << "http://a7" + Tail + "/userdata/userwork/42/42.mp3";
        QTest::newRow("host 100: minus after http://a") << "http://h/x/y/100/z.mp3" << "1234567"
                                                        << "http://a-8" + Tail + "/userdata/userwork/567/1234567.mp3";
        QTest::newRow("exactly six pieces") << "http://h/x/y/a115" << "1234567" << media("7", "1234567");
        QTest::newRow("empty pieces count") << "//////" << "1234567" << media("-108", "1234567");
        QTest::newRow("five pieces") << "http://h/x/a115" << "1234567" << QString();
        QTest::newRow("empty address") << "" << "1234567" << QString();
    }
    void rebuild()
    {
        QFETCH(QString, musicUrl);
        QFETCH(QString, workId);
        QFETCH(QString, expected);
        QCOMPARE(AudioAddress::rebuild(musicUrl, workId, Tail).value_or(QString()), expected);
    }
};

KELVARO_TEST_MAIN(PlayCommandsTest)
#include "tst_playcommands.moc"
