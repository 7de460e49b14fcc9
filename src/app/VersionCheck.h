#pragma once
#include "version/VersionVerdict.h"

#include <QString>
#include <functional>
#include <optional>

class DialogService;
class Desktop;
class QLineEdit;
class QPushButton;
class QWidget;

// The start-up version check `gx`: fetch, judge, and act on the window.
class VersionCheck {
public:
    struct Controls {
        QWidget *window;
        QLineEdit *Text1;
        QLineEdit *Text2;
        QPushButton *Command10;
        QPushButton *Command12;
        std::function<void(const QString &)> setStatus;
    };
    using Fetch = std::function<std::optional<QString>(const QString &url)>;

    VersionCheck(Controls controls, DialogService &dialogs, Desktop &desktop, std::function<void()> endProgram,
                 Fetch fetch);

    // Runs the whole check. Returns the verdict it acted on; on Update the
    // program has been told to end.
    VersionVerdict gx();

private:
    Controls m_controls;
    DialogService &m_dialogs;
    Desktop &m_desktop;
    std::function<void()> m_endProgram;
    Fetch m_fetch;
};
