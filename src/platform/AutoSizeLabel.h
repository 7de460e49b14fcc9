#pragma once
#include <QLabel>

// A label that sizes itself to its caption, as the window's auto-sizing labels
// do: the status message grows to the right, and the song name's width places
// the music video badge.
class AutoSizeLabel : public QLabel {
    Q_OBJECT
public:
    explicit AutoSizeLabel(const QString &text, QWidget *parent = nullptr) : QLabel(text, parent) { adjustSize(); }

    // Deliberately hides QLabel::setText: every caption change re-measures.
    void setText(const QString &text) {
        QLabel::setText(text);
        adjustSize();
    }
};
