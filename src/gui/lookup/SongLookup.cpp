#include "gui/lookup/SongLookup.h"
#include "core/lookup/StatusLine.h"

#include "gui/widgets/AlphaImageButton.h"
#include "gui/widgets/BusyCursor.h"
#include "gui/widgets/Clipboard.h"

#include <QLineEdit>
#include <QPushButton>

#include <memory>

SongLookup::SongLookup(const Controls &controls, SongState &state, PageFetch fetch, FetchLimits limits,
                       QObject *parent)
    : QObject(parent), m_Text1(controls.Text1), m_setStatus(controls.setStatus), m_state(state),
      m_panel(controls.Label1, controls.Label4, controls.Label10, controls.Label2, controls.Label5, controls.Label6,
              controls.Label7, controls.Label9, controls.Image1, controls.Image2, controls.aicAlphaImage2,
              controls.setStatus, limits),
      m_lookups(state, m_panel, fetch ? std::move(fetch) : PageFetch([limits](const QString &url, PageDone done) {
                    return GetPage(url, std::move(done), limits);
                }))
{
    m_panel.keepPictureBytes([this](const QByteArray &bytes) { m_state.PictureBytes = bytes; });
    connect(&m_lookups, &SongLookups::finished, this, &SongLookup::lookupEnded);
    if (controls.aicAlphaImage3)
        connect(controls.aicAlphaImage3, &AlphaImageButton::clicked, this, &SongLookup::aicAlphaImage3_Click);
    if (controls.Command13)
        connect(controls.Command13, &QPushButton::clicked, this, &SongLookup::Command13_Click);
    if (controls.Command9)
        connect(controls.Command9, &QPushButton::clicked, this, &SongLookup::Command9_Click);
}

SongLookup::~SongLookup() = default;

bool SongLookup::lookUp(SongLookups::Done done)
{
    // The page and then the picture keep the user waiting; the cursor goes
    // with the lookup's end, also when a newer lookup supersedes it or the
    // window drops it.
    auto busy = std::make_shared<BusyCursor>();
    return m_lookups.start(m_Text1 ? m_Text1->text() : QString(),
                           [busy, done = std::move(done)](LookupOutcome outcome) mutable {
                               busy.reset();
                               if (done)
                                   done(outcome);
                           });
}

void SongLookup::aicAlphaImage3_Click()
{
    lookUp();
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
