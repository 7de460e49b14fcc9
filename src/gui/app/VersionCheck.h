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

// The start-up version check `gx`: fetch, judge, and act on the window once
// the version file is in.
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

    // Starts the check and returns at once; the verdict is acted on when the
    // version file (or the news that none came) is in. Destroying the check
    // drops a check still waiting.
    void gx();

private:
    void act(const VersionVerdict &verdict);

    Controls m_controls;
    DialogService &m_dialogs;
    Desktop &m_desktop;
    std::function<void()> m_endProgram;
    PageFetch m_fetch;
    FetchHandle m_pending;
};
