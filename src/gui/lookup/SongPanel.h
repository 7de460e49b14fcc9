#pragma once
#include "core/lookup/PageFetcher.h"
#include "core/lookup/SongExtraction.h"
#include "core/lookup/StatusLine.h"

#include <QPointer>
#include <functional>

class AlphaImageButton;
class AutoSizeLabel;
class QLabel;

// The song panel of the main window: the detail captions, the singer picture
// and the music video badge, as a lookup sets them.
class SongPanel final : public SongPanelOutput {
public:
    SongPanel(QLabel *Label1, QLabel *Label4, QLabel *Label10, AutoSizeLabel *Label2, QLabel *Label5,
              QLabel *Label6, QLabel *Label7, QLabel *Label9, QLabel *Image1, QLabel *Image2,
              AlphaImageButton *aicAlphaImage2, StatusLine setStatus, FetchLimits pictureLimits = {});

    void setStatus(const QString &text) override;
    void showDetails(const QString &userName, const SongDetails &details) override;
    void showDefaultPicture() override;
    void showPicture(PictureSource source, QString path, const std::function<bool()> &superseded) override;
    void placeBadgeAfterSongName() override;
    void setBadgeVisible(bool visible) override;

private:
    // Guarded: a picture load waits with the window live, and the window may
    // be going away meanwhile.
    QPointer<QLabel> m_Label1;           // user name
    QPointer<QLabel> m_Label4;           // fans
    QPointer<QLabel> m_Label10;          // other information
    QPointer<AutoSizeLabel> m_Label2;    // song name, sized to its caption
    QPointer<QLabel> m_Label5;           // play count
    QPointer<QLabel> m_Label6;           // gift count
    QPointer<QLabel> m_Label7;           // forward count
    QPointer<QLabel> m_Label9;           // comment count
    QPointer<QLabel> m_Image1;           // singer picture
    QPointer<QLabel> m_Image2;           // holds the default picture
    QPointer<AlphaImageButton> m_aicAlphaImage2; // music video badge
    StatusLine m_setStatus;
    FetchLimits m_pictureLimits;
};
