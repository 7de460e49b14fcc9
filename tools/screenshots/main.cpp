// screenshots OUTDIR: runs the window under X with a scripted community and
// saves busy.png (a lookup waiting for its page, busy pointer), elided.png
// (a long song name cut, its tip open) and focus.png (the round lookup
// button reached by Tab). The pictures are the X server's own screen with the
// pointer as the server draws it, which a plain screen grab leaves out.
#include "gui/app/Appearance.h"
#include "gui/app/Program.h"
#include "core/lookup/PageFetcher.h"
#include "core/lookup/SongExtraction.h"
#include "gui/widgets/Desktop.h"
#include "gui/widgets/Dialogs.h"
#include "core/playback/MediaControl.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <QToolTip>
#include <cstdio>

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

namespace {

class NoDialogs final : public DialogService {
public:
    MessageAnswer messageBox(QWidget *, const QString &, const QString &, MessageIcon, MessageButtons) override
    {
        return MessageAnswer::Ok;
    }
    std::optional<QString> saveFileName(QWidget *, const QString &, const QString &, const QString &,
                                        const QString &, const QString &) override
    {
        return std::nullopt;
    }
    void textReport(QWidget *, const QString &, const QString &, const QString &) override {}
};
class NoDesktop final : public Desktop {
public:
    bool openAddress(const QString &) override { return true; }
    bool showInFileManager(const QString &) override { return true; }
};
class Silent final : public MediaControl {
public:
    int send(const QString &) override { return 0; }
};

void settle()
{
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
        QTest::qWait(25);
    }
}

// The screen around the window, with the pointer drawn where the server has it.
bool shoot(const QWidget &window, const QString &path)
{
    settle();
    QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (XFixesCursorImage *cursor = x11 ? XFixesGetCursorImage(x11->display()) : nullptr) {
        QImage pointer(cursor->width, cursor->height, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < cursor->height; ++y)
            for (int x = 0; x < cursor->width; ++x)
                pointer.setPixel(x, y, QRgb(cursor->pixels[y * cursor->width + x]));
        QPainter(&screen).drawImage(cursor->x - cursor->xhot, cursor->y - cursor->yhot, pointer);
        XFree(cursor);
    }
    return screen.copy(window.frameGeometry().adjusted(-8, -8, 8, 8)).save(path);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    applyAppearance(app);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();

    const QString songName = QStringLiteral("一首名字非常非常长的歌曲：在遥远的地方有一位好姑娘，人们走过她的帐房都要回头留恋地张望（现场版）");
    const QString page = QStringLiteral("<title>") + songName
        + QStringLiteral(" - 小明Kelvaro - 歌曲</title><div class=\"pcsong_title\" >一段很长很长的其他信息，"
                         "讲述了这首歌的由来、演唱者的心情、录制的地点和时间，以及许许多多听众留下的话语，"
                         "多到一个小小的信息栏放不下它们全部的内容，再加上歌词的片段和翻唱的版本说明，还有更多更多的文字，以及最后这一段怎么也放不下的话</div>mp3:\"http://a1.kelvaro.net/x/1/2/3/4/123.mp3\"");
    bool shotBusy = false;
    Program *running = nullptr;
    // Pages answer from the event loop, as the network would; the busy
    // picture is taken while the lookup's page is still on its way.
    const PageFetch fetch = [&](const QString &url, PageDone done) -> FetchHandle {
        if (url.endsWith(QStringLiteral("main.txt")))
            return answerLater([done] { done(QStringLiteral("kv:V3.0.83|")); });
        return answerLater([&, done] {
            if (running && !shotBusy)
                shotBusy = shoot(running->form(), out + QStringLiteral("/busy.png"));
            done(page);
        });
    };
    NoDialogs dialogs;
    NoDesktop desktop;
    Silent media;
    Program program(app, ProgramServices{dialogs, desktop, media, [] {}, fetch,
                                         QCoreApplication::applicationDirPath() + QStringLiteral("/../src")});
    running = &program;
    program.Form_Load();
    Form1 &f = program.form();
    f.move(40, 40);
    f.activateWindow();
    settle();

    // A lookup by Enter, the pointer resting on the window.
    f.Text1->setText(recordingPagePrefix() + QStringLiteral("kQ7mX2pA"));
    QCursor::setPos(f.mapToGlobal(QPoint(260, 150)));
    f.Text1->setFocus();
    QTest::keyClick(f.Text1, Qt::Key_Return);

    // The cut song name with its tip (which follows the caption once it is painted).
    settle();
    QCursor::setPos(f.Label2->mapToGlobal(f.Label2->rect().center()));
    QTest::qWait(1500); // the tip comes after the pointer rests
    const bool shotElided = QToolTip::isVisible() && shoot(f, out + QStringLiteral("/elided.png"));
    QToolTip::hideText();

    // Tab from the paste button.
    QCursor::setPos(f.mapToGlobal(QPoint(900, 300)));
    f.Command9->setFocus();
    QTest::keyClick(f.Command9, Qt::Key_Tab);
    const bool shotFocus = f.aicAlphaImage3->hasFocus() && shoot(f, out + QStringLiteral("/focus.png"));

    std::printf("busy %d elided %d focus %d\n", shotBusy, shotElided, shotFocus);
    return shotBusy && shotElided && shotFocus ? 0 : 1;
}
