#pragma once
#include <QObject>

#include <functional>

class Form1;
class QTreeWidget;

// The main window's keyboard, on top of the mouse handlers of the parts:
// Enter in the address fields runs their buttons, Enter on a works row
// opens it as a double-click does, Escape closes the download panel, and
// Ctrl+L / Ctrl+Q reach the address field and the exit button. Every key
// goes through the same control or handler the mouse uses.
class WindowKeys : public QObject {
    Q_OBJECT
public:
    struct Actions {
        std::function<void()> openWorkRow;     // the works table's double-click
        std::function<bool()> transferRunning; // the download panel keeps its place meanwhile
    };

    WindowKeys(Form1 &form, Actions actions);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void closeDownloadPanel();

    Form1 &m_form;
    // The works table, kept apart from m_form: the filter still sees the
    // table's last events while ~QWidget deletes it, when the window is no
    // longer a Form1 and its members must not be read.
    QTreeWidget *const m_worksList;
    const Actions m_actions;
};
