#pragma once

class QApplication;

// The program's look before any skin: the Fusion style and a font that
// renders Simplified Chinese (the design font first, then fallbacks that a
// Linux desktop has).
void applyAppearance(QApplication &app);
