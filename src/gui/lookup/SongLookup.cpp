#include "gui/lookup/SongLookup.h"
#include "core/lookup/StatusLine.h"

#include "gui/widgets/AlphaImageButton.h"
#include "gui/widgets/BusyCursor.h"
#include "gui/widgets/Clipboard.h"

#include <QLineEdit>
#include <QPushButton>

SongLookup::SongLookup(const Controls &controls, SongState &state, PageFetch fetch, FetchLimits limits,
                       QObject *parent)
    : QObject(parent), m_Text1(controls.Text1), m_setStatus(controls.setStatus), m_state(state),
      m_panel(controls.Label1, controls.Label4, controls.Label10, controls.Label2, controls.Label5, controls.Label6,
              controls.Label7, controls.Label9, controls.Image1, controls.Image2, controls.aicAlphaImage2,
              controls.setStatus, limits),
      m_fetch(fetch ? std::move(fetch) : PageFetch([limits](const QString &url) { return GetPage(url, limits); }))
{
    if (controls.aicAlphaImage3)
        connect(controls.aicAlphaImage3, &AlphaImageButton::clicked, this, &SongLookup::aicAlphaImage3_Click);
    if (controls.Command13)
        connect(controls.Command13, &QPushButton::clicked, this, &SongLookup::Command13_Click);
    if (controls.Command9)
        connect(controls.Command9, &QPushButton::clicked, this, &SongLookup::Command9_Click);
}

void SongLookup::aicAlphaImage3_Click()
{
    // The address is read once, before the page is fetched: editing Text1
    // during the wait changes nothing for this lookup.
    const BusyCursor busy; // the page and then the picture keep the user waiting
    runParseAction(m_Text1 ? m_Text1->text() : QString(), m_state, m_pieces, m_panel, m_fetch);
}

void SongLookup::Command13_Click()
{
    if (m_state.MusicUrl.isEmpty()) {
        m_setStatus(StatusTexts::LookUpFirst);
        return;
    }
    copyToClipboard(m_state.MusicUrl);
    m_setStatus(QStringLiteral("音乐地址已复制.."));
}

void SongLookup::Command9_Click()
{
    pasteInto(m_Text1);
}
