#pragma once

class QApplication;

// The program's look before any skin: the Fusion style and a font that
// renders Simplified Chinese (the design font first, then fallbacks that a
// Linux desktop has).
void applyAppearance(QApplication &app);

// Qt's own texts (Yes/No, OK/Cancel, the file dialog, a text field's context
// menu) in Simplified Chinese, from the Qt translations the system has.
// Returns false when they are not installed; those texts then stay English.
bool loadQtTranslations(QApplication &app);
