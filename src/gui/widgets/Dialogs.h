#pragma once
#include <QString>
#include <optional>

class QWidget;

// Every message box of the program carries this title.
inline const QString MessageBoxTitle = QStringLiteral("Ulvaren系列软件");

enum class MessageIcon { Information, Exclamation };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

// The modal dialogs the program shows, behind one interface so that tests can
// answer them without a person.
class DialogService {
public:
    virtual ~DialogService() = default;

    virtual MessageAnswer messageBox(QWidget *parent, const QString &text, const QString &title,
                                     MessageIcon icon, MessageButtons buttons) = 0;

    // A save dialog that opens in startFolder (the dialog's own choice when
    // empty) with suggestedName filled in. Returns the chosen full path, or
    // nothing when cancelled.
    virtual std::optional<QString> saveFileName(QWidget *parent, const QString &title,
                                                const QString &typeDescription, const QString &pattern,
                                                const QString &startFolder, const QString &suggestedName) = 0;

    // A report the user reads and may copy from: `heading` above `text` in a
    // read-only view whose text can be selected, with a button that copies
    // all of it and one that closes the dialog. Returns when it is closed.
    virtual void textReport(QWidget *parent, const QString &title, const QString &heading, const QString &text) = 0;
};

// The real dialogs, on QMessageBox and QFileDialog.
class QtDialogService final : public DialogService {
public:
    MessageAnswer messageBox(QWidget *parent, const QString &text, const QString &title, MessageIcon icon,
                             MessageButtons buttons) override;
    std::optional<QString> saveFileName(QWidget *parent, const QString &title, const QString &typeDescription,
                                        const QString &pattern, const QString &startFolder,
                                        const QString &suggestedName) override;
    void textReport(QWidget *parent, const QString &title, const QString &heading, const QString &text) override;
};
