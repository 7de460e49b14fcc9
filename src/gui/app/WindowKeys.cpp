#include "gui/app/WindowKeys.h"

#include "gui/app/Form1.h"

#include <QKeyEvent>
#include <QShortcut>
#include <QTreeWidget>

WindowKeys::WindowKeys(Form1 &form, Actions actions) : QObject(&form), m_form(form), m_worksList(form.ListView1), m_actions(std::move(actions))
{
    // A disabled button ignores click(), as it ignores the mouse.
    connect(form.Text1, &QLineEdit::returnPressed, form.aicAlphaImage3, &AlphaImageButton::click);
    connect(form.Text2, &QLineEdit::returnPressed, form.Command10, &QPushButton::click);
    m_worksList->installEventFilter(this);

    const auto shortcut = [&form](QKeySequence keys) {
        auto *created = new QShortcut(keys, &form);
        created->setAutoRepeat(false);
        return created;
    };
    connect(shortcut(QKeySequence(Qt::Key_Escape)), &QShortcut::activated, this, &WindowKeys::closeDownloadPanel);
    connect(shortcut(QKeySequence(Qt::CTRL | Qt::Key_L)), &QShortcut::activated, this, [&form] {
        form.Text1->setFocus(Qt::ShortcutFocusReason);
        form.Text1->selectAll(); // typing replaces the old address
    });
    connect(shortcut(QKeySequence(Qt::CTRL | Qt::Key_Q)), &QShortcut::activated, form.Command5, &QPushButton::click);
}

void WindowKeys::closeDownloadPanel()
{
    // During a transfer the panel stays: its progress is what the user watches.
    if (!m_form.Picture3->isVisible() || (m_actions.transferRunning && m_actions.transferRunning()))
        return;
    m_form.aicAlphaImage4->click();
}

bool WindowKeys::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_worksList && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !m_worksList->selectedItems().isEmpty()) {
            m_actions.openWorkRow();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
