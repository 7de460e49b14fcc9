#pragma once
#include <QString>

class QLineEdit;

// The two paste buttons and the copy button: plain text on the system
// clipboard.

// Replaces the field's text with the clipboard's. setText works on a
// disabled field too, so an address can be pasted before the version check
// has enabled the field.
void pasteInto(QLineEdit *field);

// Empties the clipboard, then puts `text` on it.
void copyToClipboard(const QString &text);
