#pragma once
#include <QString>

class QApplication;

// The program's skin: a Qt style sheet kept in a file beside the program,
// plus a hue/saturation/brightness shift of the application palette. A
// missing or unreadable skin file changes nothing.
class SkinLayer {
public:
    enum Result { Ok = 0, FileMissing = 1, FileUnreadable = 2 };

    explicit SkinLayer(QApplication &app) : m_app(app) {}

    // Loads the style sheet at `path` and applies it to the whole program.
    int attachEx(const QString &path);

    // Turns every colour of the application palette by `hue` degrees and
    // moves its saturation and brightness by the given amounts (-255..255).
    // Grey colours have no hue and keep it.
    int adjustHsv(int hue, int saturation, int brightness);

private:
    QApplication &m_app;
};
