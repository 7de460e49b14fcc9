#pragma once
#include "core/lookup/PageFetcher.h"
#include "core/lookup/StatusLine.h"
#include "core/version/VersionVerdict.h"

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
        StatusLine setStatus;
    };

    VersionCheck(Controls controls, DialogService &dialogs, Desktop &desktop, std::function<void()> endProgram,
                 PageFetch fetch);

    // Runs the whole check. Returns the verdict it acted on; on Update the
    // program has been told to end.
    VersionVerdict gx();

private:
    Controls m_controls;
    DialogService &m_dialogs;
    Desktop &m_desktop;
    std::function<void()> m_endProgram;
    PageFetch m_fetch;
};
