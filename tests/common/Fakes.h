#pragma once
#include "gui/widgets/Desktop.h"
#include "gui/widgets/Dialogs.h"
#include "core/playback/MediaControl.h"

#include <QList>
#include <QStringList>
#include <deque>
#include <functional>

// Answers the program's dialogs from a script and records what was shown.
class ScriptedDialogs final : public DialogService {
public:
    struct Shown {
        QString text;
        QString title;
        MessageIcon icon;
        MessageButtons buttons;
    };
    struct SaveAsked {
        QString title;
        QString typeDescription;
        QString pattern;
        QString startFolder;
        QString suggestedName;
    };

    struct Report {
        QString title;
        QString heading;
        QString text;
    };

    QList<Shown> shown;
    QList<SaveAsked> saves;
    QList<Report> reports;
    std::deque<MessageAnswer> answers;           // used in order; Ok / Yes when empty
    std::deque<std::optional<QString>> saveAnswers; // nothing = cancelled; cancelled when empty
    std::function<void()> whileShown;            // runs while a message box is "open"
    std::function<void()> whileChoosing;         // runs while the save dialog is "open"

    MessageAnswer messageBox(QWidget *, const QString &text, const QString &title, MessageIcon icon,
                             MessageButtons buttons) override
    {
        shown.append({text, title, icon, buttons});
        if (whileShown)
            whileShown();
        if (answers.empty())
            return buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Yes;
        const MessageAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }

    std::optional<QString> saveFileName(QWidget *, const QString &title, const QString &typeDescription,
                                        const QString &pattern, const QString &startFolder,
                                        const QString &suggestedName) override
    {
        saves.append({title, typeDescription, pattern, startFolder, suggestedName});
        if (whileChoosing)
            whileChoosing();
        if (saveAnswers.empty())
            return std::nullopt;
        const bool chosen = saveAnswers.front().has_value();
        const QString path = chosen ? *saveAnswers.front() : QString();
        saveAnswers.pop_front();
        return chosen ? std::optional<QString>(path) : std::nullopt;
    }

    void textReport(QWidget *, const QString &title, const QString &heading, const QString &text) override
    {
        reports.append({title, heading, text});
    }
};

// Records what the program asked the desktop to open.
class RecordingDesktop final : public Desktop {
public:
    QStringList opened;
    QStringList shownInFileManager;
    bool openAddress(const QString &address) override
    {
        opened.append(address);
        return true;
    }
    bool showInFileManager(const QString &filePath) override
    {
        shownInFileManager.append(filePath);
        return true;
    }
};

// Records media commands and answers each with a fixed code; end() stands
// for the open device stopping by itself.
class RecordingMediaControl final : public MediaControl {
public:
    QStringList commands;
    int answer = 0;
    int send(const QString &command) override
    {
        commands.append(command);
        return answer;
    }
    void end(PlaybackEnd how) const { reportPlaybackEnd(how); }
};
