// The program on a private session bus, driven as the desktop drives it:
// the media player interface against the local community, with the media
// commands recorded instead of heard; the notifications received by a
// stand-in notification server on the same bus; and the works table's
// works played one after another.
#include "Catalogue.h"
#include "DemoSite.h"
#include "gui/app/Program.h"
#include "common/Fakes.h"
#include "common/TestEnvironment.h"
#include "core/lookup/PageFetcher.h"
#include "core/platform/Network.h"
#include "core/playback/MediaCommands.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QMenu>
#include <QNetworkProxy>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

using namespace demo;

namespace {

QString q(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

const QString Path = QStringLiteral("/org/mpris/MediaPlayer2");
const QString Player = QStringLiteral("org.mpris.MediaPlayer2.Player");

// Another program on the bus: a remote control and a listener of the
// player's announcements.
class Remote : public QObject {
    Q_OBJECT
public:
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("remote"));
    QList<QVariantMap> announced; // PropertiesChanged of the player, in order

    Remote()
    {
        bus.connect(MprisService::BusName, Path, QStringLiteral("org.freedesktop.DBus.Properties"),
                    QStringLiteral("PropertiesChanged"), this,
                    SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
    }
    ~Remote() override { QDBusConnection::disconnectFromBus(QStringLiteral("remote")); }

    // Waits for the answer with the events flowing: the program answers from this thread.
    QDBusMessage call(const QString &interface, const QString &method, const QVariantList &arguments = {})
    {
        QDBusMessage message = QDBusMessage::createMethodCall(MprisService::BusName, Path, interface, method);
        message.setArguments(arguments);
        return bus.call(message, QDBus::BlockWithGui, 10000);
    }
    bool player(const QString &method) { return call(Player, method).type() == QDBusMessage::ReplyMessage; }
    QVariant property(const QString &interface, const QString &name)
    {
        const QDBusMessage reply = call(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                                        {interface, name});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return {};
        return reply.arguments().first().value<QDBusVariant>().variant();
    }
    QVariant playerProperty(const QString &name) { return property(Player, name); }
    QVariantMap metadata() { return qdbus_cast<QVariantMap>(playerProperty(QStringLiteral("Metadata"))); }
    // Whether any announcement since `from` said `name` is `value`.
    bool wasAnnounced(qsizetype from, const QString &name, const QVariant &value) const
    {
        for (qsizetype i = from; i < announced.size(); ++i) {
            if (announced[i].contains(name) && announced[i].value(name) == value)
                return true;
        }
        return false;
    }

public slots:
    void propertiesChanged(const QString &interface, const QVariantMap &changed, const QStringList &)
    {
        if (interface == Player)
            announced.append(changed);
    }
};

// A notification server that only writes down what it was asked to show.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown {
        QString appName;
        QString icon;
        QString summary;
        QString body;
    };
    QList<Shown> shown;
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("notices"));

    bool start()
    {
        return bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                  QDBusConnection::ExportAllSlots)
               && bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
    ~FakeNotifications() override { QDBusConnection::disconnectFromBus(QStringLiteral("notices")); }

public slots:
    uint Notify(const QString &appName, uint, const QString &icon, const QString &summary, const QString &body,
                const QStringList &, const QVariantMap &, int)
    {
        shown.append({appName, icon, summary, body});
        return uint(shown.size());
    }
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }
};

} // namespace

class DesktopBusTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<DemoSite> m_site;
    ScriptedDialogs m_dialogs;
    RecordingDesktop m_desktop;
    RecordingMediaControl m_media;
    std::unique_ptr<Program> m_program;

    Form1 &form() { return m_program->form(); }

    void lookUp(const Work &work)
    {
        form().Text1->setText(q(pageAddress(work)));
        emit form().aicAlphaImage3->clicked();
        QTRY_VERIFY_WITH_TIMEOUT(!m_program->songLookup().busy(), 10000);
    }

    void listWorks()
    {
        form().Text2->setText(q(homeAddress(*findSinger(ManyWorksSinger))));
        QTest::mouseClick(form().Command10, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(form().ListView1->topLevelItemCount(), 9, 10000);
    }

    // The row the works table shows selected.
    int selectedRow()
    {
        const QList<QTreeWidgetItem *> selected = form().ListView1->selectedItems();
        return selected.size() == 1 ? form().ListView1->indexOfTopLevelItem(selected.first()) : -1;
    }

private slots:
    void initTestCase()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus: run under dbus-run-session");
        QVERIFY(m_dir.isValid());
        m_site = std::make_unique<DemoSite>();
        QVERIFY(m_site->start(0));
        networkManager().setProxy(
            QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), quint16(m_site->port())));
        qputenv("http_proxy", QByteArrayLiteral("http://127.0.0.1:") + QByteArray::number(m_site->port()));
        qunsetenv("no_proxy");
    }

    void init()
    {
        m_media.commands.clear();
        m_program = std::make_unique<Program>(
            *qApp, ProgramServices{m_dialogs, m_desktop, m_media, [] {},
                                   [](const QString &url, PageDone done) { return GetBody(url, std::move(done)); },
                                   m_dir.path()});
        m_program->Form_Load();
        QTRY_VERIFY(form().Text1->isEnabled()); // the version check let the user in
        m_media.commands.clear();
    }

    void cleanup()
    {
        m_program.reset();
    }

    void nameAndIdentity()
    {
        QVERIFY(m_program->mpris().registered());
        QVERIFY(QDBusConnection::sessionBus().interface()->isServiceRegistered(
            QStringLiteral("org.mpris.MediaPlayer2.kelvaro_helper")));
        Remote remote;
        const QString root = QStringLiteral("org.mpris.MediaPlayer2");
        QCOMPARE(remote.property(root, QStringLiteral("Identity")).toString(), QStringLiteral("Kelvaro辅助工具"));
        QCOMPARE(remote.property(root, QStringLiteral("DesktopEntry")).toString(),
                 QStringLiteral("com.ulvaren.KelvaroHelper"));
        // Nothing looked up: nothing to play, pause or move through.
        QCOMPARE(remote.playerProperty(QStringLiteral("PlaybackStatus")).toString(), QStringLiteral("Stopped"));
        for (const char *can : {"CanPlay", "CanPause", "CanGoNext", "CanGoPrevious"})
            QVERIFY2(!remote.playerProperty(QString::fromLatin1(can)).toBool(), can);
        // Play with nothing looked up says what the button says.
        QVERIFY(remote.player(QStringLiteral("Play")));
        QCOMPARE(form().status(), StatusTexts::LookUpFirst);
        QVERIFY(m_media.commands.isEmpty());
    }

    // The same song started, held, resumed and stopped from the bus: the
    // button's caption, the status line and the media commands as the
    // button leaves them, and every change announced.
    void playPauseStop()
    {
        const Work &work = *findWork("3108115");
        lookUp(work);
        Remote remote;
        const QVariantMap looked = remote.metadata();
        QCOMPARE(looked.value(QStringLiteral("xesam:title")).toString(), q(work.title));
        QCOMPARE(looked.value(QStringLiteral("xesam:artist")).toStringList(), QStringList{q(singerOf(work).name)});
        QCOMPARE(looked.value(QStringLiteral("xesam:url")).toString(), q(audioAddress(work)));
        QCOMPARE(looked.value(QStringLiteral("mpris:artUrl")).toString(), q(headPictureAddress(work)));
        QCOMPARE(qdbus_cast<QDBusObjectPath>(looked.value(QStringLiteral("mpris:trackid"))).path(),
                 QStringLiteral("/com/ulvaren/KelvaroHelper/work/w3108115"));
        QVERIFY(remote.playerProperty(QStringLiteral("CanPlay")).toBool());

        // What the button does, for comparison.
        form().Command7->click();
        const QStringList buttonCommands = m_media.commands;
        const QString buttonStatus = form().status();
        form().Command7->click();
        QCOMPARE(form().Command7->text(), PlayCommands::PlayCaption);
        m_media.commands.clear();
        form().setStatus(QString());

        const qsizetype before = remote.announced.size();
        QVERIFY(remote.player(QStringLiteral("PlayPause")));
        QCOMPARE(m_media.commands, buttonCommands);
        QCOMPARE(form().Command7->text(), PlayCommands::StopCaption);
        QCOMPARE(form().status(), buttonStatus);
        QCOMPARE(remote.playerProperty(QStringLiteral("PlaybackStatus")).toString(), QStringLiteral("Playing"));
        QTRY_VERIFY(remote.wasAnnounced(before, QStringLiteral("PlaybackStatus"), QStringLiteral("Playing")));
        QVERIFY(remote.playerProperty(QStringLiteral("CanPause")).toBool());

        m_media.commands.clear();
        QVERIFY(remote.player(QStringLiteral("PlayPause")));
        QCOMPARE(m_media.commands, QStringList{QStringLiteral("pause OpenFile")});
        QCOMPARE(form().Command7->text(), PlayCommands::PlayCaption);
        QCOMPARE(form().status(), PlayCommands::PausedStatus);
        QCOMPARE(remote.playerProperty(QStringLiteral("PlaybackStatus")).toString(), QStringLiteral("Paused"));
        QTRY_VERIFY(remote.wasAnnounced(before, QStringLiteral("PlaybackStatus"), QStringLiteral("Paused")));

        // Resumed where it stopped: no new open.
        m_media.commands.clear();
        QVERIFY(remote.player(QStringLiteral("Play")));
        QCOMPARE(m_media.commands, QStringList{QStringLiteral("play OpenFile")});
        QCOMPARE(form().Command7->text(), PlayCommands::StopCaption);
        QCOMPARE(form().status(), PlayCommands::PlayingStatus);

        // Held again, the button starts the song from the beginning as always.
        QVERIFY(remote.player(QStringLiteral("Pause")));
        m_media.commands.clear();
        form().Command7->click();
        QCOMPARE(m_media.commands, buttonCommands);
        QCOMPARE(form().Command7->text(), PlayCommands::StopCaption);

        // Stop: what the button's second click sends.
        m_media.commands.clear();
        QVERIFY(remote.player(QStringLiteral("Stop")));
        QCOMPARE(m_media.commands, QStringList{QStringLiteral("close all")});
        QCOMPARE(form().Command7->text(), PlayCommands::PlayCaption);
        QCOMPARE(remote.playerProperty(QStringLiteral("PlaybackStatus")).toString(), QStringLiteral("Stopped"));
        QTRY_VERIFY(remote.wasAnnounced(before, QStringLiteral("PlaybackStatus"), QStringLiteral("Stopped")));

        // The song ends by itself: the caption goes back and the bus hears it.
        QVERIFY(remote.player(QStringLiteral("Play")));
        const qsizetype beforeEnd = remote.announced.size();
        m_media.end(PlaybackEnd::Finished);
        QCOMPARE(form().Command7->text(), PlayCommands::PlayCaption);
        QCOMPARE(form().status(), PlayCommands::FinishedStatus);
        QTRY_VERIFY(remote.wasAnnounced(beforeEnd, QStringLiteral("PlaybackStatus"), QStringLiteral("Stopped")));
    }

    void volumeBothWays()
    {
        lookUp(*findWork("3108115"));
        form().Command7->click();
        Remote remote;
        m_media.commands.clear();
        const QDBusMessage set = remote.call(
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
            {Player, QStringLiteral("Volume"), QVariant::fromValue(QDBusVariant(QVariant(0.25)))});
        QCOMPARE(set.type(), QDBusMessage::ReplyMessage);
        QCOMPARE(form().Slider1->value(), 250);
        QCOMPARE(m_media.commands, QStringList{QStringLiteral("setaudio OpenFile volume to 250")});

        // Out of range is held to the ends.
        remote.call(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
                    {Player, QStringLiteral("Volume"), QVariant::fromValue(QDBusVariant(QVariant(7.0)))});
        QCOMPARE(form().Slider1->value(), 1000);

        // The user moves the slider: the bus hears the new volume.
        const qsizetype before = remote.announced.size();
        form().Slider1->setValue(500);
        form().Slider1->triggerAction(QAbstractSlider::SliderPageStepAdd);
        QCOMPARE(form().Slider1->value(), 600);
        QCOMPARE(remote.playerProperty(QStringLiteral("Volume")).toDouble(), 0.6);
        QTRY_VERIFY(remote.wasAnnounced(before, QStringLiteral("Volume"), 0.6));
    }

    // Three works in a row from the table's menu; Next and Previous from the bus.
    void worksInARow()
    {
        listWorks();
        const std::vector<const Work *> works = worksOf(ManyWorksSinger);
        for (int row = 0; row < 7; ++row)
            QCOMPARE(form().ListView1->topLevelItem(row)->text(1), q(works[size_t(row)]->id));
        QVERIFY(works[5]->layout == PageLayout::Sparse); // a page without an audio address

        WorksTable &table = m_program->worksTable();
        QCOMPARE(table.playAllAction()->text(), QStringLiteral("播放全部作品"));
        QCOMPARE(table.playFromHereAction()->text(), QStringLiteral("从此处播放"));
        QWidget *viewport = form().ListView1->viewport();
        const auto rightClick = [&](int row) {
            const QPoint at = form().ListView1->visualItemRect(form().ListView1->topLevelItem(row)).center();
            QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
            QApplication::sendEvent(viewport, &event);
            QTRY_VERIFY(table.contextMenu()->isVisible());
            if (const QByteArray shots = qgetenv("KELVARO_SCREENSHOT_DIR"); !shots.isEmpty())
                table.contextMenu()->grab().save(QString::fromLocal8Bit(shots) + QStringLiteral("/works-play-menu.png"));
        };

        Remote remote;
        rightClick(0);
        QVERIFY(table.playAllAction()->isEnabled());
        table.playAllAction()->trigger();
        table.contextMenu()->hide();
        QTRY_COMPARE(m_program->worksRun().currentRow(), 0);
        QCOMPARE(m_program->song().MusicUrl, q(audioAddress(*works[0])));
        QCOMPARE(selectedRow(), 0);
        QCOMPARE(form().Command7->text(), PlayCommands::StopCaption);
        QVERIFY(remote.playerProperty(QStringLiteral("CanGoNext")).toBool());
        QVERIFY(!remote.playerProperty(QStringLiteral("CanGoPrevious")).toBool());

        // Work 1 ends: work 2 plays.
        m_media.commands.clear();
        m_media.end(PlaybackEnd::Finished);
        QTRY_COMPARE(m_program->worksRun().currentRow(), 1);
        QCOMPARE(selectedRow(), 1);
        QVERIFY(m_media.commands.contains(MediaCommands::open(q(audioAddress(*works[1])))));
        QCOMPARE(form().Command7->text(), PlayCommands::StopCaption);
        QCOMPARE(form().status(), PlayCommands::PlayingStatus);
        QCOMPARE(remote.metadata().value(QStringLiteral("xesam:title")).toString(), q(works[1]->title));

        // From row 4: row 5 has no audio and is skipped for row 6.
        rightClick(4);
        table.playFromHereAction()->trigger();
        table.contextMenu()->hide();
        QTRY_COMPARE(m_program->worksRun().currentRow(), 4);
        m_media.end(PlaybackEnd::Finished);
        QTRY_COMPARE(m_program->worksRun().currentRow(), 6);
        QCOMPARE(selectedRow(), 6);
        QCOMPARE(m_program->song().MusicUrl, q(audioAddress(*works[6])));
        QCOMPARE(form().status(), QStringLiteral("已跳过无法播放的作品《%1》,正在进行在线试播放..").arg(q(works[5]->title)));

        // An address that does not play is skipped as well.
        m_media.end(PlaybackEnd::CannotOpen);
        QTRY_COMPARE(m_program->worksRun().currentRow(), 7);
        QCOMPARE(form().status(), QStringLiteral("已跳过无法播放的作品《%1》,正在进行在线试播放..").arg(q(works[6]->title)));

        // The media keys: Next, and Previous over the work without audio.
        QVERIFY(remote.player(QStringLiteral("Next")));
        QTRY_COMPARE(m_program->worksRun().currentRow(), 8);
        QCOMPARE(form().Command7->text(), PlayCommands::StopCaption);
        QVERIFY(!remote.playerProperty(QStringLiteral("CanGoNext")).toBool());
        QVERIFY(remote.player(QStringLiteral("Previous")));
        QTRY_COMPARE(m_program->worksRun().currentRow(), 7);

        // Stop ends the run: Next does nothing any more.
        QVERIFY(remote.player(QStringLiteral("Stop")));
        QVERIFY(!m_program->worksRun().active());
        QCOMPARE(form().Command7->text(), PlayCommands::PlayCaption);
        m_media.commands.clear();
        QVERIFY(remote.player(QStringLiteral("Next")));
        QVERIFY(m_media.commands.isEmpty());
        QVERIFY(!remote.playerProperty(QStringLiteral("CanGoNext")).toBool());
    }

    // A download that ends while the window is active says nothing on the
    // desktop; one that ends while another window is active does.
    void notificationOnlyWhenInactive()
    {
        FakeNotifications server;
        QVERIFY(server.start());
        // Two works, so that each notice names its own file.
        const auto download = [this](const Work &work) {
            lookUp(work);
            form().Command2->click();
            const QString target = m_program->downloadPanel()->DownPath();
            form().Command6->click();
            [&] { QTRY_VERIFY_WITH_TIMEOUT(!m_program->downloadPanel()->transferRunning(), 20000); }();
            return target;
        };

        QApplication::setActiveWindow(&form());
        QTRY_VERIFY(form().isActiveWindow());
        const QString first = download(*findWork("3108115"));
        QCOMPARE(form().status(), QStringLiteral("音乐下载完成"));
        QVERIFY(QFileInfo(first).isFile());

        QWidget other;
        other.show();
        QApplication::setActiveWindow(&other);
        QTRY_VERIFY(!form().isActiveWindow());
        const QString target = download(*findWork("3109342"));
        QVERIFY(QFileInfo(target).isFile());
        QVERIFY(QFileInfo(target).fileName() != QFileInfo(first).fileName());
        // In bus order: had the first download been announced, its notice
        // would have come first.
        QTRY_VERIFY(!server.shown.isEmpty());
        QCOMPARE(server.shown.size(), 1);
        QCOMPARE(server.shown[0].appName, QStringLiteral("Kelvaro辅助工具"));
        QCOMPARE(server.shown[0].icon, QStringLiteral("com.ulvaren.KelvaroHelper"));
        QCOMPARE(server.shown[0].summary, QStringLiteral("音乐下载完成"));
        QCOMPARE(server.shown[0].body, QFileInfo(target).fileName());
    }
};

KELVARO_TEST_MAIN(DesktopBusTest)
#include "tst_desktopbus.moc"
