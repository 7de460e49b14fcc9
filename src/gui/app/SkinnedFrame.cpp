#include "gui/app/SkinnedFrame.h"

#include "gui/app/Form1.h"
#include "core/playback/MediaCommands.h"
#include "core/playback/MediaControl.h"

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
    return Form1::onTitleButton(Form1::minimiseButtonRect(m_form.width()), X, Y);
}

bool SkinnedFrame::inClose(double X, double Y) const
{
    return Form1::onTitleButton(Form1::closeButtonRect(m_form.width()), X, Y);
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
    if (inMinimise(X, Y))
        m_form.drawTitleButtons(Look::Hover, Look::Normal);
    else if (inClose(X, Y))
        m_form.drawTitleButtons(Look::Normal, Look::Hover);
    else
        m_form.drawTitleButtons(Look::Normal, Look::Normal);
}

void SkinnedFrame::Form_MouseUp(int, double X, double Y)
{
    if (inMinimise(X, Y)) {
        // The press drew the button pressed; the window must not come back
        // from the task bar still showing it so.
        m_form.drawTitleButtons(Form1::ButtonLook::Normal, Form1::ButtonLook::Normal);
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
