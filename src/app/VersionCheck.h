#pragma once
#include <QString>
#include <functional>
#include <optional>

class DialogService;
class Desktop;
class QLineEdit;
class QPushButton;
class QWidget;

// What the publisher's version file says about this build.
struct VersionVerdict {
    enum Outcome { Current, Update, NoAnswer };
    Outcome outcome = NoAnswer;
    QString version; // the version the file names for this product (may be empty)
};

// Reads this product's entry out of the version file: the text after the
// first "kv:" (up to the next "kv:"), cut before its first "|". No entry, or
// an entry without its closing "|", reads as the empty version.
QString versionEntry(const QString &text);

// The verdict for a fetched version file; nothing or an empty text means the
// server did not answer.
VersionVerdict judgeVersionFile(const std::optional<QString> &text, const QString &buildVersion);

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
