#pragma once
#include <QPixmap>
#include <QWidget>

// A picture that acts as a button: it draws its picture (with its alpha
// channel) and raises clicked() on a left click. Callers use only the click,
// its left edge, its visibility, its picture and its tip text.
class AlphaImageButton : public QWidget {
    Q_OBJECT
public:
    explicit AlphaImageButton(const QPixmap &picture, QWidget *parent = nullptr);

    const QPixmap &picture() const { return m_picture; }
    void setPicture(const QPixmap &picture);

    int Left() const { return x(); }
    void setLeft(int left) { move(left, y()); }

    // Acts as a left click would. A button given a focus policy also answers
    // Space and Enter while it has the focus, and draws a ring around itself.
    void click() { emit clicked(); }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QPixmap m_picture;
    bool m_pressed = false;
    bool m_hovered = false;
};
