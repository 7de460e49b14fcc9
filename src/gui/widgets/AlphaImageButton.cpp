#include "gui/widgets/AlphaImageButton.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

AlphaImageButton::AlphaImageButton(const QPixmap &picture, QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setCursor(Qt::PointingHandCursor);
    setPicture(picture);
}

void AlphaImageButton::setPicture(const QPixmap &picture)
{
    m_picture = picture;
    resize(m_picture.deviceIndependentSize().toSize());
    update();
}

void AlphaImageButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // A light touch of feedback: slightly faded while pressed, full while hovered.
    painter.setOpacity(m_pressed ? 0.7 : (m_hovered ? 1.0 : 0.92));
    painter.drawPixmap(rect(), m_picture);
    if (hasFocus()) {
        // The pictures are round: the ring follows their outline, a dark
        // line with a light one inside, seen on any picture colour.
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setOpacity(1.0);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(palette().color(QPalette::WindowText), 2));
        painter.drawEllipse(QRectF(rect()).adjusted(1, 1, -1, -1));
        painter.setPen(QPen(palette().color(QPalette::Base), 1.5));
        painter.drawEllipse(QRectF(rect()).adjusted(2.75, 2.75, -2.75, -2.75));
    }
}

void AlphaImageButton::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!event->isAutoRepeat())
            click();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void AlphaImageButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_pressed = true;
        update();
    }
}

void AlphaImageButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_pressed)
        return;
    m_pressed = false;
    update();
    if (rect().contains(event->position().toPoint()))
        emit clicked();
}

void AlphaImageButton::enterEvent(QEnterEvent *)
{
    m_hovered = true;
    update();
}

void AlphaImageButton::leaveEvent(QEvent *)
{
    m_hovered = false;
    update();
}
