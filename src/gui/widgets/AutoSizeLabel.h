#pragma once
#include "gui/widgets/ElidedLabel.h"

// A label that sizes itself to its caption, as the window's auto-sizing labels
// do: the status message grows to the right, and the song name's width places
// the music video badge. It grows no further than its maximum width; a longer
// caption is cut with "…" there (see ElidedLabel).
class AutoSizeLabel : public ElidedLabel {
    Q_OBJECT
public:
    explicit AutoSizeLabel(const QString &text, QWidget *parent = nullptr) : ElidedLabel(text, parent) { adjustSize(); }

    // Deliberately hides QLabel::setText: every caption change re-measures.
    void setText(const QString &text) {
        QLabel::setText(text);
        adjustSize();
    }
};
