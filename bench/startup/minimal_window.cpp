// The yardstick for start-up: the least a Qt Widgets program does to show a
// frameless window of the main window's size with one Chinese caption in it,
// in the font the program picks (ProgramFont.h). Finding, loading and shaping
// a Chinese font is part of showing any window of this program, so the
// yardstick pays for it too.
//
//   bench_minimal_window            shows the window until it is ended
//   bench_minimal_window --check    shows it, then says whether the caption
//                                   really came out in Chinese glyphs, and ends
//                                   (exit status 0 when it did)
#include "gui/app/ProgramFont.h"

#include <QApplication>
#include <QGlyphRun>
#include <QImage>
#include <QLabel>
#include <QRawFont>
#include <QTextLayout>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstring>

namespace {

// Whether every character of the caption gets a glyph of its own from the
// fonts its font resolves to, rather than the empty box of a missing one.
// `fonts` receives the families that drew it.
bool hasEveryGlyph(const QLabel &caption, QStringList &fonts)
{
    QTextLayout layout(caption.text(), caption.font());
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    qsizetype glyphs = 0;
    for (const QGlyphRun &run : layout.glyphRuns()) {
        fonts << run.rawFont().familyName();
        for (const quint32 index : run.glyphIndexes()) {
            if (index == 0)
                return false;
            ++glyphs;
        }
    }
    return glyphs == caption.text().size();
}

// Whether the caption as painted shows anything but its background.
bool showsInk(QLabel &caption)
{
    const QImage image = caption.grab().toImage();
    const QRgb background = image.pixel(0, 0);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != background)
                return true;
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    app.setFont(programFont(app.font()));
    QWidget window;
    window.setWindowTitle(QStringLiteral("minimal"));
    window.setWindowFlag(Qt::FramelessWindowHint);
    window.setFixedSize(1063, 575);
    QLabel caption(QStringLiteral("欢迎使用"), &window);
    caption.move(24, 104);
    caption.adjustSize();
    window.show();
    if (argc > 1 && std::strcmp(argv[1], "--check") == 0) {
        QTimer::singleShot(0, &app, [&caption] {
            QStringList fonts;
            const bool glyphs = hasEveryGlyph(caption, fonts);
            const bool ink = showsInk(caption);
            std::printf("yardstick: \"%s\" in %s: %s\n", qPrintable(caption.text()), qPrintable(fonts.join(", ")),
                        glyphs && ink ? "rendered" : (glyphs ? "nothing painted" : "missing glyphs"));
            QCoreApplication::exit(glyphs && ink ? 0 : 1);
        });
    }
    return QApplication::exec();
}
