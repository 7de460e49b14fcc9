#include "app/SkinnedFrame.h"

#include "app/Form1.h"
#include "playback/MediaCommands.h"
#include "playback/MediaControl.h"

#include <QCursor>
#include <QMouseEvent>
#include <QWindow>

SkinnedFrame::SkinnedFrame(Form1 &form, MediaControl &media, std::function<void()> endProgram,
                           std::function<bool()> mayEnd)
    : m_form(form), m_media(media), m_endProgram(std::move(endProgram)), m_mayEnd(std::move(mayEnd))
{
    m_form.setMouseTracking(true); // hover looks need moves without a button held
    m_form.installEventFilter(this);
}

bool SkinnedFrame::inMinimise(double X, double Y) const
{
    const int SW = m_form.width();
    return SW - 80 <= X && X <= SW - 51 && 2 <= Y && Y <= 22;
}

bool SkinnedFrame::inClose(double X, double Y) const
{
    const int SW = m_form.width();
    return SW - 51 <= X && X <= SW - 10 && 2 <= Y && Y <= 22;
}

void SkinnedFrame::Form_MouseDown(int button, double X, double Y)
{
    using Look = Form1::ButtonLook;
    if (button != 1 || Y > 68)
        return;
    // The minimise button is tested first, so it wins on the column both share.
    if (inMinimise(X, Y))
        m_form.drawTitleButtons(Look::Pressed, m_form.closeLook());
    else if (inClose(X, Y))
        m_form.drawTitleButtons(m_form.minimiseLook(), Look::Pressed);
    else
        startDrag();
}

void SkinnedFrame::Form_MouseMove(int, double X, double Y)
{
    using Look = Form1::ButtonLook;
    const int SW = m_form.width();
    if (Y < 2 || Y > 22)
        m_form.drawTitleButtons(Look::Normal, Look::Normal);
    else if (SW - 80 <= X && X <= SW - 51)
        m_form.drawTitleButtons(Look::Hover, Look::Normal);
    else if (SW - 51 <= X && X <= SW - 10)
        m_form.drawTitleButtons(Look::Normal, Look::Hover);
    else
        m_form.drawTitleButtons(Look::Normal, Look::Normal);
}

void SkinnedFrame::Form_MouseUp(int, double X, double Y)
{
    if (Y < 2 || Y > 22)
        return;
    if (inMinimise(X, Y)) {
        m_form.setWindowState(m_form.windowState() | Qt::WindowMinimized);
    } else if (inClose(X, Y)) {
        if (m_mayEnd && !m_mayEnd())
            return;
        m_media.send(MediaCommands::closeAll());
        m_endProgram(); // at once: the window's close path does not run
    }
}

void SkinnedFrame::startDrag()
{
    // The window manager moves the window when it can; without one, follow
    // the mouse ourselves until the button is released.
    if (QWindow *window = m_form.windowHandle(); window && window->startSystemMove())
        return;
    m_dragging = true;
    m_dragOffset = QCursor::pos() - m_form.pos();
}

bool SkinnedFrame::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != &m_form)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        Form_MouseDown(int(mouse->button()), mouse->position().x(), mouse->position().y());
        return true;
    }
    case QEvent::MouseMove: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (m_dragging)
            m_form.move(mouse->globalPosition().toPoint() - m_dragOffset);
        Form_MouseMove(int(mouse->buttons()), mouse->position().x(), mouse->position().y());
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        m_dragging = false;
        Form_MouseUp(int(mouse->button()), mouse->position().x(), mouse->position().y());
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}
