#include "gui/app/VersionCheck.h"

#include "core/endpoints/Endpoints.h"
#include "gui/widgets/Desktop.h"
#include "gui/widgets/Dialogs.h"

#include <QLineEdit>
#include <QPushButton>

VersionCheck::VersionCheck(Controls controls, DialogService &dialogs, Desktop &desktop,
                           std::function<void()> endProgram, PageFetch fetch)
    : m_controls(std::move(controls)), m_dialogs(dialogs), m_desktop(desktop), m_endProgram(std::move(endProgram)),
      m_fetch(std::move(fetch))
{
}

void VersionCheck::gx()
{
    m_pending = m_fetch(QString::fromLatin1(Endpoints::VersionFileUrl), [this](std::optional<QString> answer) {
        act(judgeVersionFile(answer, QString::fromLatin1(Endpoints::BuildVersion)));
    });
}

void VersionCheck::act(const VersionVerdict &verdict)
{
    switch (verdict.outcome) {
    case VersionVerdict::NoAnswer:
        // The address fields stay locked and the status keeps its text.
        m_dialogs.messageBox(m_controls.window, QStringLiteral("检测更新失败!请您稍后再试,暂时使用原版"), MessageBoxTitle,
                             MessageIcon::Exclamation, MessageButtons::Ok);
        break;
    case VersionVerdict::Update:
        m_dialogs.messageBox(m_controls.window,
                             QStringLiteral("发现最新版本![") + verdict.version + QStringLiteral("]\r\n \r\n确定后自动打开官方论坛!"),
                             MessageBoxTitle, MessageIcon::Information, MessageButtons::Ok);
        m_desktop.openAddress(QString::fromLatin1(Endpoints::ForumUrl));
        m_endProgram();
        break;
    case VersionVerdict::Current:
        m_controls.setStatus(QStringLiteral("欢迎使用Ulvaren系列软件 .."));
        m_controls.Command10->setEnabled(true);
        m_controls.Command12->setEnabled(true);
        m_controls.Text1->setEnabled(true);
        m_controls.Text2->setEnabled(true);
        break;
    }
}
