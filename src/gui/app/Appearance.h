#pragma once
#include <QStringList>

class QApplication;
class QIcon;
class QPixmap;

// The program's look before any skin: the Fusion style and a font that
// renders Simplified Chinese (ProgramFont.h). The window puts on the icon
// itself (Program::Form_Load).
void applyAppearance(QApplication &app);

// A PNG picture compiled into the program (":/name.png"); a null pixmap
// when there is none. Read as PNG without asking the image format plugins
// whether they know the file better, which would load every one of them
// (and the JPEG library) before the window could show.
// Call on the application's thread.
QPixmap bundledPicture(const QString &path);

// Starts decoding the given bundled pictures, in that order, on a thread of
// their own, so that the window's thread can measure its texts meanwhile;
// bundledPicture() then takes each one from there, waiting for it if it is
// not decoded yet. Call once the application object exists; a second call
// does nothing.
void preloadBundledPictures(const QStringList &paths);

// The program's icon as compiled into the program, and the files it is made of.
QIcon builtInIcon();
QStringList builtInIconFiles();

// The built-in icon in the sizes a task bar shows (48 and 128 pixels), which
// the window wears when it first shows. The largest size, for task switchers
// on dense screens, is a quarter megabyte the window would otherwise hand to
// the display before it could show; it follows once the window is painted.
QIcon startIcon();

// The program's icon: the one the desktop's icon theme has installed under
// the program's id, else builtInIcon(). Asking the theme reads its index,
// which for a large theme takes longer than showing the window: the window
// comes up with startIcon() and asks the theme once it is painted.
QIcon applicationIcon();

// Qt's own texts (Yes/No, OK/Cancel, the file dialog, a text field's context
// menu) in Simplified Chinese, from the Qt translations the system has.
// Returns false when they are not installed; those texts then stay English.
bool loadQtTranslations(QApplication &app);
