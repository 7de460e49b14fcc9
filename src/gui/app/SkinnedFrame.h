#pragma once
#include <QObject>
#include <QPoint>
#include <functional>

class Form1;
class MediaControl;

// The mouse side of the window's painted frame: hover and pressed looks of
// the two title buttons, minimising, closing, and dragging the window by its
// title band. Only presses on the window's own background reach it; the
// controls keep theirs.
class SkinnedFrame : public QObject {
    Q_OBJECT
public:
    // Mouse buttons as a bit set: 1 left, 2 right, 4 middle.
    // `mayEnd` is asked before the close button ends the program; false
    // leaves everything running.
    SkinnedFrame(Form1 &form, MediaControl &media, std::function<void()> endProgram,
                 std::function<bool()> mayEnd = {});

    void Form_MouseDown(int button, double X, double Y);
    void Form_MouseMove(int button, double X, double Y);
    void Form_MouseUp(int button, double X, double Y);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool inMinimise(double X, double Y) const;
    bool inClose(double X, double Y) const;
    void startDrag();

    Form1 &m_form;
    MediaControl &m_media;
    std::function<void()> m_endProgram;
    std::function<bool()> m_mayEnd;
    // Moving by hand, where no window manager moves the window for us.
    bool m_dragging = false;
    QPoint m_dragOffset;
};
