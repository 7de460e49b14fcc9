#pragma once

class QApplication;
class QIcon;
class QPixmap;
class QString;

// The program's look before any skin: the Fusion style and a font that
// renders Simplified Chinese (ProgramFont.h).
// Also makes builtInIcon() the icon of every window.
void applyAppearance(QApplication &app);

// A PNG picture compiled into the program (":/name.png"); a null pixmap
// when there is none. Read as PNG without asking the image format plugins
// whether they know the file better, which would load every one of them
// (and the JPEG library) before the window could show.
QPixmap bundledPicture(const QString &path);

// The program's icon as compiled into the program.
QIcon builtInIcon();

// The program's icon: the one the desktop's icon theme has installed under
// the program's id, else builtInIcon(). Asking the theme reads its index,
// which for a large theme takes longer than showing the window: the window
// comes up with the built-in icon and asks the theme once it is painted.
QIcon applicationIcon();

// Qt's own texts (Yes/No, OK/Cancel, the file dialog, a text field's context
// menu) in Simplified Chinese, from the Qt translations the system has.
// Returns false when they are not installed; those texts then stay English.
bool loadQtTranslations(QApplication &app);
