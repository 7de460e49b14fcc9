#pragma once

class QApplication;
class QIcon;

// The program's look before any skin: the Fusion style and a font that
// renders Simplified Chinese (the design font first, then fallbacks that a
// Linux desktop has).
// Also makes applicationIcon() the icon of every window.
void applyAppearance(QApplication &app);

// The program's icon: the one the desktop's icon theme has installed under
// the program's id, else the copy compiled into the program.
QIcon applicationIcon();

// Qt's own texts (Yes/No, OK/Cancel, the file dialog, a text field's context
// menu) in Simplified Chinese, from the Qt translations the system has.
// Returns false when they are not installed; those texts then stay English.
bool loadQtTranslations(QApplication &app);
