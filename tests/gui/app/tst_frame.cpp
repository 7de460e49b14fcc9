// The painted frame: what it draws, the title buttons' looks, minimising,
// closing and dragging.
#include "gui/app/Form1.h"
#include "gui/app/SkinnedFrame.h"
#include "common/Fakes.h"
#include "common/TestEnvironment.h"

#include <QtTest>

namespace {

QImage sprite(const Form1 &form, QRect from)
{
    return form.Image9->pixmap().toImage().copy(from).convertToFormat(QImage::Format_RGB32);
}

QImage shown(Form1 &form, QRect at)
{
    return form.grab(at).toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

class FrameTest : public QObject {
    Q_OBJECT

    using L = Form1::ButtonLook;

    struct Setup {
        Form1 form;
        RecordingMediaControl media;
        int ended = 0;
        SkinnedFrame frame{form, media, [this] { ++ended; }};
        int SW = form.width();
    };

private slots:
    void paintsFrameAndButtons()
    {
        Setup s;
        const QImage skin = s.form.Image10->pixmap().toImage();
        const QImage window = s.form.grab().toImage();
        const int SW = s.form.width(), SH = s.form.height();
        QCOMPARE(window.pixel(2, 2), skin.pixel(2, 2));                 // top-left corner, 1:1
        QCOMPARE(window.pixel(SW - 1, 50), skin.pixel(12, 50));         // top-right corner
        QCOMPARE(window.pixel(500, 40), skin.pixel(6, 40));             // the stretched band
        QCOMPARE(window.pixel(1, 300), skin.pixel(1, 80));              // left edge
        QCOMPARE(window.pixel(SW - 1, 300), skin.pixel(12, 80));        // right edge
        QCOMPARE(window.pixel(SW / 2, SH - 1), skin.pixel(6, 100));     // bottom edge
        QCOMPARE(shown(s.form, Form1::minimiseButtonRect(SW)), sprite(s.form, {0, 0, 29, 20}));
        QCOMPARE(shown(s.form, Form1::closeButtonRect(SW)), sprite(s.form, {29, 0, 41, 20}));
        QCOMPARE(shown(s.form, {10, 16, 400, 70}),
                 s.form.Image8->pixmap().toImage().convertToFormat(QImage::Format_RGB32));
        s.form.drawTitleButtons(L::Pressed, L::Normal);
        QCOMPARE(shown(s.form, Form1::minimiseButtonRect(SW)), sprite(s.form, {0, 41, 29, 20}));
    }

    void looksFollowTheMouse_data()
    {
        QTest::addColumn<int>("dx"); // X relative to SW
        QTest::addColumn<int>("y");
        QTest::addColumn<int>("minimise");
        QTest::addColumn<int>("close");
        QTest::newRow("over minimise") << -70 << 10 << int(L::Hover) << int(L::Normal);
        QTest::newRow("shared column") << -51 << 10 << int(L::Hover) << int(L::Normal);
        QTest::newRow("close region past picture") << -10 << 22 << int(L::Normal) << int(L::Hover);
        QTest::newRow("above the buttons") << -70 << 1 << int(L::Normal) << int(L::Normal);
        QTest::newRow("below the buttons") << -30 << 23 << int(L::Normal) << int(L::Normal);
    }
    void looksFollowTheMouse()
    {
        QFETCH(int, dx);
        QFETCH(int, y);
        QFETCH(int, minimise);
        QFETCH(int, close);
        Setup s;
        s.frame.Form_MouseMove(0, s.SW + dx, y);
        QCOMPARE(QList<int>({int(s.form.minimiseLook()), int(s.form.closeLook())}), QList<int>({minimise, close}));
    }

    // A press and a release on the shown window. Minimise wins on the column
    // both share; a release over close ends at once, after "close all".
    void titleButtons_data()
    {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<int>("pressDx"); // X relative to SW, Y 10
        QTest::addColumn<int>("releaseDx");
        QTest::addColumn<int>("pressedLook"); // minimise * 10 + close, after the press
        QTest::addColumn<bool>("ends");
        QTest::addColumn<bool>("minimised");
        QTest::addColumn<int>("releasedLook"); // after the release; a restored window shows it
        QTest::newRow("left on close") << Qt::LeftButton << -30 << -30 << int(L::Pressed) << true << false
                                       << int(L::Pressed);
        QTest::newRow("right on close: only the release counts") << Qt::RightButton << -30 << -30 << 0 << true << false
                                                                 << 0;
        QTest::newRow("released elsewhere") << Qt::LeftButton << -30 << -200 << int(L::Pressed) << false << false
                                            << int(L::Pressed);
        QTest::newRow("left on the shared column") << Qt::LeftButton << -51 << -51 << int(L::Pressed) * 10 << false
                                                   << true << 0;
    }
    void titleButtons()
    {
        QFETCH(Qt::MouseButton, button);
        QFETCH(int, pressDx);
        QFETCH(int, releaseDx);
        QFETCH(int, pressedLook);
        QFETCH(bool, ends);
        QFETCH(bool, minimised);
        QFETCH(int, releasedLook);
        Setup s;
        s.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s.form));
        QTest::mousePress(&s.form, button, {}, QPoint(s.SW + pressDx, 10));
        QCOMPARE(int(s.form.minimiseLook()) * 10 + int(s.form.closeLook()), pressedLook);
        QTest::mouseRelease(&s.form, button, {}, QPoint(s.SW + releaseDx, 10));
        QCOMPARE(s.ended, ends ? 1 : 0);
        QCOMPARE(s.media.commands, ends ? QStringList{"close all"} : QStringList{});
        QCOMPARE(s.form.windowState().testFlag(Qt::WindowMinimized), minimised);
        QCOMPARE(int(s.form.minimiseLook()) * 10 + int(s.form.closeLook()), releasedLook);
    }

    // Without a window manager the window follows the mouse itself.
    void dragBand_data()
    {
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("y");
        QTest::addColumn<bool>("drags");
        QTest::newRow("y 68 outside buttons") << 500 << 68 << true;
        QTest::newRow("y 69") << 500 << 69 << false;
        QTest::newRow("y 1 over the buttons") << 1063 - 70 << 1 << true;
    }
    void dragBand()
    {
        QFETCH(int, x);
        QFETCH(int, y);
        QFETCH(bool, drags);
        Setup s;
        s.form.move(100, 100);
        s.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s.form));
        const QPoint start = s.form.pos();
        QTest::mousePress(&s.form, Qt::LeftButton, {}, QPoint(x, y));
        QCursor::setPos(QCursor::pos() + QPoint(40, 30));
        const QPoint local(x + 40, y + 30);
        QMouseEvent move(QEvent::MouseMove, QPointF(local), s.form.mapToGlobal(QPointF(local)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&s.form, &move);
        QTest::mouseRelease(&s.form, Qt::LeftButton, {}, local);
        QCOMPARE(s.form.pos() != start, drags);
        QCOMPARE(s.ended, 0);
    }

    void fullRepaintRestoresNormalLooks()
    {
        Setup s;
        s.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s.form));
        s.frame.Form_MouseMove(0, s.SW - 30, 10);
        QCOMPARE(s.form.closeLook(), L::Hover);
        s.form.repaint();
        QCOMPARE(s.form.closeLook(), L::Normal);
    }
};

KELVARO_TEST_MAIN(FrameTest)
#include "tst_frame.moc"
