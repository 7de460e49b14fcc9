#pragma once
#include "core/lookup/PageFetcher.h"
#include "core/lookup/SongExtraction.h"
#include "core/lookup/StatusLine.h"

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

    // Where the bytes of the picture shown go (the current song's, for the
    // cover of a saved song): emptied when a load starts or the default
    // picture shows, set once a picture is in place.
    void keepPictureBytes(std::function<void(const QByteArray &bytes)> keep) { m_keepBytes = std::move(keep); }

    void setStatus(const QString &text) override;
    void showDetails(const QString &userName, const SongDetails &details) override;
    void showDefaultPicture() override;
    FetchHandle showPicture(PictureSource source, QString path, std::function<void()> shown) override;
    void placeBadgeAfterSongName() override;
    void setBadgeVisible(bool visible) override;

private:
    // The window's controls: the window owns them and the lookup that writes
    // them, and ends the lookup first.
    QLabel *const m_Label1;           // user name
    QLabel *const m_Label4;           // fans
    QLabel *const m_Label10;          // other information
    AutoSizeLabel *const m_Label2;    // song name, sized to its caption
    QLabel *const m_Label5;           // play count
    QLabel *const m_Label6;           // gift count
    QLabel *const m_Label7;           // forward count
    QLabel *const m_Label9;           // comment count
    QLabel *const m_Image1;           // singer picture
    QLabel *const m_Image2;           // holds the default picture
    AlphaImageButton *const m_aicAlphaImage2; // music video badge
    StatusLine m_setStatus;
    FetchLimits m_pictureLimits;
    std::function<void(const QByteArray &)> m_keepBytes;

    void keep(const QByteArray &bytes)
    {
        if (m_keepBytes)
            m_keepBytes(bytes);
    }
};
