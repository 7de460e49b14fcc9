#pragma once
#include "core/lookup/StatusLine.h"

#include <QObject>
#include <QPointer>
#include <functional>

#include "gui/mv/Form2.h"

class Desktop;
class DialogService;
struct SongState;

// The "获取MV" button: writes video.htm into its folder (beside the program,
// or the data folder of an installed one) for the current music video and
// shows the dialog that opens it.
class MusicVideo : public QObject {
    Q_OBJECT
public:
    struct Controls {
        QWidget *window;      // parent of the dialog and the message boxes
        StatusLine setStatus; // writes the status line
    };

    MusicVideo(const Controls &controls, const SongState &song, DialogService &dialogs, Desktop &desktop,
               QString folder, QString folderNote = QString());

    void Command8_Click();

    // The line last written, without its line break.
    const QString &mvHtml() const { return MvHtml; }
    QString videoPagePath() const;
    // The dialog while it is open; null before its first use and after it was closed.
    Form2 *dialog() const { return m_form2; }

    // Said in the dialog when the address is not the community's player.
    inline static const QString InvalidAddress = QStringLiteral("视频地址无效,无法生成视频页面..");

signals:
    // Raised once the dialog is filled, just before it is shown modally.
    void dialogReady(Form2 *dialog);

private:
    void Form2_Command1_Click();
    // Fills the dialog (created on first use) and shows it modally; with a
    // `refusal` its note says that and its button stays off.
    void showDialog(const QString &html, const QString &refusal);

    QWidget *m_window;
    StatusLine m_setStatus;
    const SongState &m_song;
    DialogService &m_dialogs;
    Desktop &m_desktop;
    QString m_folder;
    // The dialog's note on where the page is; empty keeps its own text.
    QString m_folderNote;
    QString MvHtml;
    QPointer<Form2> m_form2;
};
