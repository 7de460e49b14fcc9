#include "gui/mv/MusicVideo.h"

#include "core/lookup/SongState.h"
#include "core/mv/VideoPage.h"
#include "gui/widgets/Desktop.h"
#include "gui/widgets/Dialogs.h"

#include <QLineEdit>
#include <QPushButton>

MusicVideo::MusicVideo(const Controls &controls, const SongState &song, DialogService &dialogs, Desktop &desktop,
                       QString folder, QString folderNote)
    : m_window(controls.window), m_setStatus(controls.setStatus), m_song(song), m_dialogs(dialogs), m_desktop(desktop),
      m_folder(std::move(folder)), m_folderNote(std::move(folderNote))
{
}

QString MusicVideo::videoPagePath() const
{
    return m_folder + QStringLiteral("/video.htm");
}

void MusicVideo::Command8_Click()
{
    if (m_song.MvUrl.isEmpty()) {
        m_dialogs.messageBox(m_window, QStringLiteral("没有发现视频文件.."), MessageBoxTitle, MessageIcon::Information,
                             MessageButtons::Ok);
        m_setStatus(QStringLiteral("没有发现视频文件.."));
        return;
    }
    if (!VideoPage::isPlayerAddress(m_song.MvUrl)) {
        // A page would run whatever script the address names: none is
        // written, and the dialog shows the address and why.
        showDialog(QString(), InvalidAddress);
        m_setStatus(InvalidAddress);
        return;
    }
    const QString line = VideoPage::html(m_song.MvUrl);
    const QString failure = VideoPage::write(videoPagePath(), line);
    if (!failure.isEmpty()) {
        // No page, no dialog: say where it could not be written.
        m_dialogs.messageBox(m_window,
                             QStringLiteral("无法生成视频页面：") + videoPagePath()
                                 + QStringLiteral("\n请检查程序所在文件夹是否可以写入!"),
                             MessageBoxTitle, MessageIcon::Exclamation, MessageButtons::Ok);
        return;
    }
    MvHtml = line;
    showDialog(MvHtml, QString());
}

void MusicVideo::showDialog(const QString &html, const QString &refusal)
{
    if (!m_form2) {
        m_form2 = new Form2(m_window);
        m_form2->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_form2->Command1, &QPushButton::clicked, this, &MusicVideo::Form2_Command1_Click);
        if (!m_folderNote.isEmpty())
            m_form2->setPageNote(m_folderNote);
    }
    m_form2->Text1->setText(m_song.MvUrl);
    m_form2->Text2->setText(html);
    // No page to play: the note says why instead of where it is.
    if (!refusal.isEmpty())
        m_form2->setPageNote(refusal);
    m_form2->Command1->setEnabled(refusal.isEmpty());
    // Both start at their beginning: the scheme and host say what the address is.
    m_form2->Text1->setCursorPosition(0);
    m_form2->Text2->setCursorPosition(0);
    emit dialogReady(m_form2);
    if (m_form2)
        m_form2->exec();
}

void MusicVideo::Form2_Command1_Click()
{
    // Handed to the user's browser; the dialog stays open.
    m_desktop.openAddress(videoPagePath());
}
