#pragma once
#include <QLabel>

// A label that never spills a long caption out of its box: what does not fit
// ends in "…" at a character boundary (a letter with its accents, a pair of
// surrogates and an emoji sequence stay whole), and the whole caption is the
// label's tip text while it is cut. text() is always the whole caption, so
// code that reads a caption back gets what was set.
//
// A one-line label cuts its single line; a word-wrapped one shows the lines
// that fit its height and cuts the last of them.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(const QString &text = {}, QWidget *parent = nullptr);

    // What the label draws: the caption itself, or its lines as cut to the box.
    QStringList displayedLines() const;
    bool isElided() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;

private:
    // The tip text follows the caption: QLabel::setText is not virtual, so
    // the label catches up whenever it paints or a tip is asked for.
    void syncToolTip();
};
