// The play/stop button, the "can't play?" fallback, the volume slider and the
// rebuilt audio address, against a recording media control.
#include "app/Endpoints.h"
#include "app/Form1.h"
#include "common/Fakes.h"
#include "common/TestEnvironment.h"
#include "lookup/SongState.h"
#include "playback/AudioAddress.h"
#include "playback/PlayCommands.h"

#include <QWheelEvent>
#include <QtTest>

namespace {

const QString Tail = QString::fromUtf8(Endpoints::MediaHostTail);
const QString Play = QStringLiteral("在线播放");
const QString Stop = QStringLiteral("停止播放");
const QString LookUpFirst = QStringLiteral("请先进行解析..");
const QString Playing = QStringLiteral("正在进行在线试播放..");
const QString Rebuilt = QStringLiteral("为您重新解析后,正在进行在线试播放..");
const QString Untouched = QStringLiteral("(status before the click)");

// An audio address as the recording page gives it: piece 5 names the host.
const QString PageAddress = QStringLiteral("http://cdn.kelvaro.com/m/2019/a115/1234567.mp3");

QStringList playCommands(const QString &address, int volume)
{
    return {QStringLiteral("close OpenFile"), QStringLiteral("open ") + address + QStringLiteral(" alias OpenFile type MPEGVideo"),
            QStringLiteral("play OpenFile"), QStringLiteral("setaudio OpenFile volume to %1").arg(volume)};
}

QString media(const QString &hostNumber, const QString &workId)
{
    return QStringLiteral("http://a") + hostNumber + Tail + QStringLiteral("/userdata/userwork/") + workId.right(3)
           + QStringLiteral("/") + workId + QStringLiteral(".mp3");
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
        m_commands = std::make_unique<PlayCommands>(
            m_form->Command7, m_form->Command16, m_form->Slider1,
            [form = m_form.get()](const QString &text) { form->setStatus(text); }, m_state, m_media);
        m_form->Slider1->setValue(1000); // as at start-up
        m_form->setStatus(Untouched);
    }
    void cleanup()
    {
        m_commands.reset();
        m_form.reset();
    }

    void startUpVolumeSendsNothing()
    {
        m_form->Slider1->setValue(0);
        m_form->Slider1->setValue(1000);
        QVERIFY(m_media.commands.isEmpty());
    }

    void playSendsFourCommandsInOrder_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("volume");
        QTest::newRow("full volume") << PageAddress << 1000;
        QTest::newRow("silent") << PageAddress << 0;
        QTest::newRow("in between") << PageAddress << 370;
        QTest::newRow("blank in address") << QStringLiteral("http://127.0.0.1/a song.mp3") << 1000;
        QTest::newRow("empty address") << QString() << 500;
    }
    void playSendsFourCommandsInOrder()
    {
        QFETCH(QString, address);
        QFETCH(int, volume);
        m_form->Slider1->setValue(volume);
        m_commands->play(address);
        QCOMPARE(m_media.commands, playCommands(address, volume));
    }

    void playIgnoresFailures()
    {
        m_media.answer = 5; // every command fails
        m_state.MusicUrl = PageAddress;
        m_form->Command7->click();
        QCOMPARE(m_media.commands, playCommands(PageAddress, 1000));
        QCOMPARE(m_form->Command7->text(), Stop);
        QCOMPARE(m_form->status(), Playing);
    }

    void sliderKeysSendTheNewValue_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("expected");
        QTest::newRow("left") << 1000 << int(Qt::Key_Left) << 990;
        QTest::newRow("right") << 500 << int(Qt::Key_Right) << 510;
        QTest::newRow("page down") << 500 << int(Qt::Key_PageDown) << 400;
        QTest::newRow("home: lowest") << 500 << int(Qt::Key_Home) << 0;
        QTest::newRow("end: highest") << 500 << int(Qt::Key_End) << 1000;
        QTest::newRow("left at the bottom") << 0 << int(Qt::Key_Left) << 0;
    }
    void sliderKeysSendTheNewValue()
    {
        QFETCH(int, start);
        QFETCH(int, key);
        QFETCH(int, expected);
        m_form->Slider1->setValue(start);
        QTest::keyClick(m_form->Slider1, Qt::Key(key));
        QCOMPARE(m_form->Slider1->value(), expected);
        QCOMPARE(m_media.commands, QStringList{QStringLiteral("setaudio OpenFile volume to %1").arg(expected)});
    }

    void sliderDragSendsEveryPosition()
    {
        // What a mouse drag does: the slider is down and its position follows the pointer.
        QSlider *slider = m_form->Slider1;
        slider->setSliderDown(true);
        for (const int position : {990, 700, 700, 20, 0, 350})
            slider->setSliderPosition(position);
        slider->setSliderDown(false);
        QCOMPARE(m_media.commands, QStringList({"setaudio OpenFile volume to 990", "setaudio OpenFile volume to 700",
                                                 "setaudio OpenFile volume to 20", "setaudio OpenFile volume to 0",
                                                 "setaudio OpenFile volume to 350"}));
        QCOMPARE(slider->value(), 350);
    }

    void sliderWheelSendsOneCommandPerStep()
    {
        QSlider *slider = m_form->Slider1;
        slider->setValue(500);
        const QPointF centre = QRectF(slider->rect()).center();
        QWheelEvent wheel(centre, slider->mapToGlobal(centre), {}, {0, -120}, Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(slider, &wheel);
        QVERIFY(slider->value() != 500);
        QCOMPARE(m_media.commands, QStringList{QStringLiteral("setaudio OpenFile volume to %1").arg(slider->value())});
    }

    void playUsesTheSliderAsItIsNow()
    {
        m_state.MusicUrl = PageAddress;
        QTest::keyClick(m_form->Slider1, Qt::Key_Home);
        m_media.commands.clear();
        m_form->Command7->click();
        QCOMPARE(m_media.commands, playCommands(PageAddress, 0));
    }

    void stateTable_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("musicUrl");
        QTest::addColumn<QString>("workId");
        QTest::addColumn<int>("button"); // 7 or 16
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<QString>("nextCaption");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("nextMusicUrl");

        const QString workId = QStringLiteral("1234567");
        const QString rebuilt = media(QStringLiteral("7"), workId);
        QTest::newRow("play, nothing looked up")
            << Play << QString() << workId << 7 << QStringList() << Play << LookUpFirst << QString();
        QTest::newRow("play") << Play << PageAddress << workId << 7 << playCommands(PageAddress, 1000) << Stop << Playing
                              << PageAddress;
        QTest::newRow("stop") << Stop << PageAddress << workId << 7 << QStringList{"close all"} << Play << Untouched
                              << PageAddress;
        QTest::newRow("stop, nothing looked up")
            << Stop << QString() << workId << 7 << QStringList() << Stop << LookUpFirst << QString();
        QTest::newRow("other caption") << QStringLiteral("播放") << PageAddress << workId << 7 << QStringList()
                                       << QStringLiteral("播放") << Untouched << PageAddress;
        QTest::newRow("rebuild while stopped")
            << Play << PageAddress << workId << 16 << playCommands(rebuilt, 1000) << Stop << Rebuilt << rebuilt;
        QTest::newRow("rebuild while playing")
            << Stop << PageAddress << workId << 16 << playCommands(rebuilt, 1000) << Stop << Rebuilt << rebuilt;
        // Too few pieces to rebuild from: refused, nothing changes but the status.
        QTest::newRow("rebuild, nothing looked up")
            << Play << QString() << workId << 16 << QStringList() << Play << LookUpFirst << QString();
        QTest::newRow("rebuild, five pieces while stopped")
            << Play << QStringLiteral("http://h/m/1234567.mp3") << workId << 16 << QStringList() << Play << LookUpFirst
            << QStringLiteral("http://h/m/1234567.mp3");
        QTest::newRow("rebuild, five pieces while playing")
            << Stop << QStringLiteral("http://h/m/1234567.mp3") << workId << 16 << QStringList() << Stop << LookUpFirst
            << QStringLiteral("http://h/m/1234567.mp3");
    }
    void stateTable()
    {
        QFETCH(QString, caption);
        QFETCH(QString, musicUrl);
        QFETCH(QString, workId);
        QFETCH(int, button);
        QFETCH(QStringList, commands);
        QFETCH(QString, nextCaption);
        QFETCH(QString, status);
        QFETCH(QString, nextMusicUrl);

        m_form->Command7->setText(caption);
        m_state.MusicUrl = musicUrl;
        m_state.WorkId = workId;
        (button == 7 ? m_form->Command7 : m_form->Command16)->click();
        QCOMPARE(m_media.commands, commands);
        QCOMPARE(m_form->Command7->text(), nextCaption);
        QCOMPARE(m_form->status(), status);
        QCOMPARE(m_state.MusicUrl, nextMusicUrl);
        QCOMPARE(m_form->Command16->text(), QStringLiteral("无法播放?"));
    }

    void playThenStopKeepsTheStatus()
    {
        m_state.MusicUrl = PageAddress;
        m_form->Command7->click();
        m_form->Command7->click();
        QCOMPARE(m_form->Command7->text(), Play);
        QCOMPARE(m_form->status(), Playing);
        QCOMPARE(m_media.commands, playCommands(PageAddress, 1000) << QStringLiteral("close all"));
    }

    void rebuildTwiceWorksOnTheFirstResult()
    {
        m_state.MusicUrl = PageAddress;
        m_state.WorkId = QStringLiteral("1234567");
        m_form->Command16->click();
        const QString first = media(QStringLiteral("7"), m_state.WorkId);
        QCOMPARE(m_state.MusicUrl, first);
        m_media.commands.clear();
        // Piece 5 is now the folder "567": 567 - 108.
        m_form->Command16->click();
        const QString second = media(QStringLiteral("459"), m_state.WorkId);
        QCOMPARE(m_state.MusicUrl, second);
        QCOMPARE(m_media.commands, playCommands(second, 1000));
        // After a stop the play button plays the rebuilt address.
        m_form->Command7->click();
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
        QTest::newRow("a100") << "a100" << "-8";
        QTest::newRow("leading zeros") << "a0115" << "7";
        QTest::newRow("every a removed") << "a1a1a5" << "7";
        QTest::newRow("fraction") << "115.5" << "7.5";
        QTest::newRow("fraction after a") << "a115.25" << "7.25";
        QTest::newRow("fraction zeros dropped") << "115.50" << "7.5";
        QTest::newRow("zero fraction") << "108.000" << "0";
        QTest::newRow("fraction below") << "100.5" << "-7.5";
        QTest::newRow("just below zero") << "107.75" << "-0.25";
        QTest::newRow("tenths exact") << "115.1" << "7.1";
        QTest::newRow("point first") << ".5" << "-107.5";
        QTest::newRow("second point stops") << "1.2.3" << "-106.8";
        QTest::newRow("capital A kept, stops reading") << "A115" << "-108";
        QTest::newRow("capital A after removal") << "aA115" << "-108";
        QTest::newRow("blanks skipped") << "  115" << "7";
        QTest::newRow("tab skipped") << "\t115" << "7";
        QTest::newRow("plus") << "+120" << "12";
        QTest::newRow("minus") << "-5" << "-113";
        QTest::newRow("minus fraction") << "-.5" << "-108.5";
        QTest::newRow("minus zero") << "-0" << "-108";
        QTest::newRow("blank after sign stops") << "- 5" << "-108";
        QTest::newRow("stops at letter") << "115abc" << "7";
        QTest::newRow("no exponent") << "1e3" << "-107";
        QTest::newRow("inner minus stops") << "5-3" << "-103";
        QTest::newRow("no digits") << "xyz" << "-108";
        QTest::newRow("only a") << "aaa" << "-108";
        QTest::newRow("empty") << "" << "-108";
        QTest::newRow("the folder piece") << "567" << "459";
        QTest::newRow("longer than any machine number") << "12345678901234567890123" << "12345678901234567890015";
        QTest::newRow("long fraction") << "108.000000000000000000001" << "0.000000000000000000001";
        QTest::newRow("big negative") << "-99999999999999999999" << "-100000000000000000107";
    }
    void hostNumber()
    {
        QFETCH(QString, piece);
        QFETCH(QString, expected);
        QCOMPARE(AudioAddress::hostNumber(piece), expected);
    }

    void leadingNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "42" << "42";
        QTest::newRow("signed fraction with rest") << "  -0012.50x" << "-12.5";
        QTest::newRow("minus zero") << "-0.0" << "0";
        QTest::newRow("trailing point") << "5." << "5";
        QTest::newRow("nothing") << "." << "0";
        QTest::newRow("sign only") << "+" << "0";
    }
    void leadingNumber()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(AudioAddress::leadingNumber(text), expected);
    }

    void rebuild_data()
    {
        QTest::addColumn<QString>("musicUrl");
        QTest::addColumn<QString>("workId");
        QTest::addColumn<QString>("expected"); // empty: refused
        QTest::newRow("page address") << PageAddress << "1234567" << media("7", "1234567");
        QTest::newRow("two-character work id") << PageAddress << "42"
                                               << QStringLiteral("http://a7") + Tail + "/userdata/userwork/42/42.mp3";
        QTest::newRow("empty work id") << PageAddress << "" << QStringLiteral("http://a7") + Tail + "/userdata/userwork//.mp3";
        QTest::newRow("host 108") << "http://h/x/y/108/z.mp3" << "1234567" << media("0", "1234567");
        QTest::newRow("host 100, minus after http://a") << "http://h/x/y/100/z.mp3" << "1234567"
                                                        << QStringLiteral("http://a-8") + Tail
                                                               + "/userdata/userwork/567/1234567.mp3";
        QTest::newRow("exactly six pieces") << "http://h/x/y/a115" << "1234567" << media("7", "1234567");
        QTest::newRow("empty pieces count") << "//////" << "1234567" << media("-108", "1234567");
        QTest::newRow("five pieces") << "http://h/x/a115" << "1234567" << QString();
        QTest::newRow("empty address") << "" << "1234567" << QString();
        QTest::newRow("backslashes are no pieces") << "http:\\\\h\\x\\y\\a115\\z.mp3" << "1234567" << QString();
    }
    void rebuild()
    {
        QFETCH(QString, musicUrl);
        QFETCH(QString, workId);
        QFETCH(QString, expected);
        const std::optional<QString> rebuilt = AudioAddress::rebuild(musicUrl, workId, Tail);
        QCOMPARE(rebuilt.has_value(), !expected.isEmpty());
        if (rebuilt)
            QCOMPARE(*rebuilt, expected);
    }
};

KELVARO_TEST_MAIN(PlayCommandsTest)
#include "tst_playcommands.moc"
