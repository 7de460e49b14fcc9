// The window from the keyboard: Enter in the address fields and on a works
// row, Escape, the Tab order and the shortcuts, and that focus shows; and the
// busy cursor and status line while the window waits on the network.
#include "gui/app/Program.h"
#include "gui/app/WindowKeys.h"
#include "common/Fakes.h"
#include "common/TestEnvironment.h"
#include "common/Waiting.h"
#include "core/lookup/SongExtraction.h"
#include "core/works/WorksCrawl.h"

#include <QtTest>

namespace {

// The window with the keyboard wired to counters instead of the handlers.
struct KeyedWindow {
    Form1 form;
    QStringList ran;
    bool transferRunning = false;
    WindowKeys keys{form, {[this] { ran << "open row"; }, [this] { return transferRunning; }}};

    KeyedWindow()
    {
        for (QWidget *w : std::initializer_list<QWidget *>{form.Text1, form.Text2, form.Command10, form.Command12})
            w->setEnabled(true); // as after the version check
        QObject::connect(form.aicAlphaImage3, &AlphaImageButton::clicked, [this] { ran << "lookup"; });
        QObject::connect(form.Command10, &QPushButton::clicked, [this] { ran << "crawl"; });
        QObject::connect(form.Command5, &QPushButton::clicked, [this] { ran << "exit"; });
        QObject::connect(form.aicAlphaImage4, &AlphaImageButton::clicked, [this] {
            ran << "close panel";
            form.Picture3->hide();
        });
        auto *row = new QTreeWidgetItem(QStringList{"1", "11", "Song", playServiceAddress("11")});
        form.ListView1->addTopLevelItem(row);
    }
    bool activate()
    {
        form.show();
        form.activateWindow();
        return QTest::qWaitForWindowActive(&form);
    }
};

} // namespace

class KeyboardTest : public QObject {
    Q_OBJECT

private slots:
    void keys_data()
    {
        QTest::addColumn<QString>("focus"); // object name of the focused control
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QStringList>("ran");
        const int none = Qt::NoModifier;
        QTest::newRow("Enter in Text1 looks up") << "Text1" << int(Qt::Key_Return) << none << "" << QStringList{"lookup"};
        QTest::newRow("keypad Enter in Text1") << "Text1" << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << ""
                                               << QStringList{"lookup"};
        QTest::newRow("Enter in Text2 crawls") << "Text2" << int(Qt::Key_Return) << none << "" << QStringList{"crawl"};
        QTest::newRow("not while the crawl button is off") << "Text2" << int(Qt::Key_Return) << none << "crawling"
                                                           << QStringList{};
        QTest::newRow("Space on the round button") << "aicAlphaImage3" << int(Qt::Key_Space) << none << ""
                                                   << QStringList{"lookup"};
        QTest::newRow("Enter on the round button") << "aicAlphaImage3" << int(Qt::Key_Return) << none << ""
                                                   << QStringList{"lookup"};
        QTest::newRow("Enter on a row") << "ListView1" << int(Qt::Key_Return) << none << "select"
                                        << QStringList{"open row"};
        QTest::newRow("Enter with no row selected") << "ListView1" << int(Qt::Key_Return) << none << ""
                                                    << QStringList{};
        QTest::newRow("Escape closes the panel") << "Text1" << int(Qt::Key_Escape) << none << "panel"
                                                 << QStringList{"close panel"};
        QTest::newRow("Escape leaves it during a transfer") << "Command6" << int(Qt::Key_Escape) << none
                                                            << "panel transfer" << QStringList{};
        QTest::newRow("Escape with the panel closed") << "Text1" << int(Qt::Key_Escape) << none << ""
                                                      << QStringList{};
        QTest::newRow("Ctrl+Q exits") << "ListView1" << int(Qt::Key_Q) << int(Qt::ControlModifier) << ""
                                      << QStringList{"exit"};
    }
    void keys()
    {
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, setup);
        QFETCH(QStringList, ran);
        KeyedWindow w;
        if (setup.contains("crawling"))
            w.form.Command10->setEnabled(false);
        if (setup.contains("select"))
            w.form.ListView1->topLevelItem(0)->setSelected(true);
        if (setup.contains("panel"))
            w.form.Picture3->show();
        w.transferRunning = setup.contains("transfer");
        QVERIFY(w.activate());
        auto *target = w.form.findChild<QWidget *>(focus);
        QVERIFY(target);
        target->setFocus();
        QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(w.ran, ran);
        QCOMPARE(w.form.Picture3->isVisible(), setup.contains("panel") && !ran.contains("close panel"));
    }

    void ctrlLFocusesTheAddress()
    {
        KeyedWindow w;
        QVERIFY(w.activate());
        w.form.Text1->setText("http://old");
        w.form.ListView1->setFocus();
        QTest::keyClick(w.form.ListView1, Qt::Key_L, Qt::ControlModifier);
        QVERIFY(w.form.Text1->hasFocus());
        QCOMPARE(w.form.Text1->selectedText(), QStringLiteral("http://old"));
    }

    // Tab from the paste button reaches the round button next, then goes on.
    void tabOrder()
    {
        KeyedWindow w;
        QVERIFY(w.activate());
        w.form.Text1->setFocus();
        QStringList order;
        for (int step = 0; step < 3; ++step) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(order.mid(0, 2), (QStringList{"Command9", "aicAlphaImage3"}));
        QVERIFY(order[2] != "aicAlphaImage3");
    }

    // Every control the keyboard reaches looks different while it has the focus.
    void focusShows()
    {
        Program program(*qApp, ProgramServices{m_dialogs, m_desktop, m_media, [] {},
                                               laterPages([](const QString &) { return std::optional<QString>("kv:V3.0.83|"); }),
                                               QStringLiteral(KELVARO_SOURCE_DIR "/assets")});
        program.Form_Load(); // with the skin
        Form1 &f = program.form();
        QTRY_VERIFY(f.Text1->isEnabled()); // the version check let the user in
        f.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        f.Command5->setFocus(); // the focus parks where no candidate is
        int checked = 0;
        for (QWidget *w : f.findChildren<QWidget *>()) {
            if (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisible() || !w->isEnabled() || w == f.Command5)
                continue;
            const QImage before = w->grab().toImage();
            w->setFocus(Qt::TabFocusReason);
            QVERIFY(w->hasFocus());
            QVERIFY2(w->grab().toImage() != before, qPrintable(w->objectName()));
            f.Command5->setFocus();
            ++checked;
        }
        QVERIFY(checked >= 15);
        qApp->setStyleSheet(QString());
        qApp->setPalette(QPalette());
    }

    // While the window waits for a page the cursor is busy and the status line
    // says what is awaited; afterwards the cursor is back and a lookup leaves
    // the status it found.
    void busyWhileWaiting_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("waitingStatus");
        QTest::addColumn<QString>("statusAfter");
        QTest::newRow("lookup") << "lookup" << "正在获取歌曲信息.." << "歌曲信息获取完毕..";
        QTest::newRow("crawl") << "crawl" << "正在进行获取.." << "获取失败,请您稍后再试..";
        QTest::newRow("works row") << "row" << "正在获取作品地址.." << "请输入Kelvaro网页地址 ";
    }
    void busyWhileWaiting()
    {
        QFETCH(QString, action);
        QFETCH(QString, waitingStatus);
        QFETCH(QString, statusAfter);
        QStringList seen; // cursor shape and status at each wait
        Program program(*qApp, ProgramServices{m_dialogs, m_desktop, m_media, [] {},
                                               laterPages([&](const QString &url) -> std::optional<QString> {
                                                   if (url.endsWith("main.txt"))
                                                       return QStringLiteral("kv:V3.0.83|");
                                                   const QCursor *cursor = QGuiApplication::overrideCursor();
                                                   seen << QString::number(cursor ? cursor->shape() : -1)
                                                        << program.form().status();
                                                   // Recording pages come; the others fail.
                                                   if (url.contains("/s/"))
                                                       return QStringLiteral("<title>Song - A Kelvaro - x</title>mp3:\"http://a1.m.net/u/w/1/2/123.mp3\"");
                                                   return std::nullopt;
                                               }),
                                               QString()});
        program.Form_Load();
        Form1 &f = program.form();
        QTRY_VERIFY(f.Text1->isEnabled());
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        f.Text1->setText(recordingPagePrefix() + "abc");
        f.Text2->setText(singerAddressMarker() + "1");
        f.ListView1->addTopLevelItem(new QTreeWidgetItem(QStringList{"1", "11", "Song", playServiceAddress("11")}));
        f.ListView1->topLevelItem(0)->setSelected(true);
        if (action == "lookup")
            QTest::keyClick(f.Text1, Qt::Key_Return);
        else if (action == "crawl")
            QTest::keyClick(f.Text2, Qt::Key_Return);
        else
            QTest::keyClick(f.ListView1, Qt::Key_Return);
        QCOMPARE(seen.mid(0, 2), (QStringList{QString::number(Qt::WaitCursor), waitingStatus}));
        QTRY_COMPARE(QGuiApplication::overrideCursor(), nullptr);
        QTRY_COMPARE(f.status(), statusAfter);
    }

    // A lookup clicked while another waits, and a refusal clicked after it:
    // the busy cursor stays while either waits, the refusal shows at once
    // and is not replaced by the text that stood before the wait. When the
    // newer lookup takes its page the older one goes with its wait: its page
    // never shows.
    void newerLookupWhileWaiting()
    {
        QList<QPointer<HeldDelivery>> held;
        Program program(*qApp, ProgramServices{m_dialogs, m_desktop, m_media, [] {},
                                               [&](const QString &url, PageDone done) {
                                                   if (url.endsWith("main.txt"))
                                                       return answerLater([done] { done(QStringLiteral("kv:V3.0.83|")); });
                                                   const QString song = held.isEmpty() ? "Older" : "Newer";
                                                   auto *answer = new HeldDelivery([done, song] {
                                                       done("<title>" + song + " - A Kelvaro - x</title>mp3:\"http://a1.m.net/u/w/1/2/123.mp3\"");
                                                   });
                                                   held << answer;
                                                   return FetchHandle(answer);
                                               },
                                               QString()});
        program.Form_Load();
        Form1 &f = program.form();
        QTRY_VERIFY(f.Text1->isEnabled());
        f.Text1->setText(recordingPagePrefix() + "abc");
        f.aicAlphaImage3->click();
        f.aicAlphaImage3->click(); // a second lookup of the same address
        QCOMPARE(held.size(), 2);
        QCOMPARE(f.status(), QStringLiteral("正在获取歌曲信息.."));
        f.Text1->setText("https://elsewhere");
        f.aicAlphaImage3->click(); // refused at once
        QCOMPARE(held.size(), 2);
        QCOMPARE(f.status(), QStringLiteral("地址错误,请您检查 .."));
        QVERIFY(QGuiApplication::overrideCursor());

        QVERIFY(HeldDelivery::deliver(held[1])); // the newer page comes first
        QCOMPARE(f.Label2->text(), QStringLiteral("演唱歌曲：Newer"));
        QCOMPARE(f.status(), QStringLiteral("歌曲信息获取完毕..")); // the newer lookup's own verdict
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        QVERIFY(!HeldDelivery::deliver(held[0])); // the older fetch was cancelled
        QCOMPARE(f.Label2->text(), QStringLiteral("演唱歌曲：Newer"));
    }

private:
    ScriptedDialogs m_dialogs;
    RecordingDesktop m_desktop;
    RecordingMediaControl m_media;
};

KELVARO_TEST_MAIN(KeyboardTest)
#include "tst_keyboard.moc"
