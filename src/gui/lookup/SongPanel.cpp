#include "gui/lookup/SongPanel.h"

#include "core/lookup/PictureLoader.h"
#include "gui/widgets/AlphaImageButton.h"
#include "gui/widgets/AutoSizeLabel.h"

#include <QLabel>

SongPanel::SongPanel(QLabel *Label1, QLabel *Label4, QLabel *Label10, AutoSizeLabel *Label2, QLabel *Label5,
                     QLabel *Label6, QLabel *Label7, QLabel *Label9, QLabel *Image1, QLabel *Image2,
                     AlphaImageButton *aicAlphaImage2, StatusLine setStatus, FetchLimits pictureLimits)
    : m_Label1(Label1), m_Label4(Label4), m_Label10(Label10), m_Label2(Label2), m_Label5(Label5),
      m_Label6(Label6), m_Label7(Label7), m_Label9(Label9), m_Image1(Image1), m_Image2(Image2),
      m_aicAlphaImage2(aicAlphaImage2), m_setStatus(std::move(setStatus)), m_pictureLimits(pictureLimits)
{
}

void SongPanel::setStatus(const QString &text)
{
    m_setStatus(text);
}

void SongPanel::showDetails(const QString &userName, const SongDetails &details)
{
    // The download panel reads the song name back by removing "演唱歌曲：",
    // so the prefixes are part of the program's interface.
    m_Label1->setText(QStringLiteral("用户名：") + userName);
    m_Label4->setText(QStringLiteral("粉丝数：") + details.fans);
    m_Label10->setText(details.otherInfo);
    m_Label2->setText(QStringLiteral("演唱歌曲：") + details.songName);
    m_Label5->setText(QStringLiteral("播放次数：") + details.playCount + QStringLiteral("次"));
    m_Label6->setText(QStringLiteral("收到礼物：") + details.giftCount + QStringLiteral("个"));
    m_Label7->setText(QStringLiteral("转发次数：") + details.forwardCount + QStringLiteral("次"));
    m_Label9->setText(QStringLiteral("评论数量：") + details.commentCount + QStringLiteral("次"));
}

void SongPanel::showDefaultPicture()
{
    m_Image1->setPixmap(m_Image2->pixmap());
    keep({}); // the program's own picture is no cover for the song
}

FetchHandle SongPanel::showPicture(PictureSource, QString path, std::function<void()> shown)
{
    // Whatever shows until the load is over belongs to an earlier song.
    keep({});
    return LoadPictureWithBytes(
        std::move(path),
        [this, shown = std::move(shown)](std::optional<QImage> picture, QByteArray bytes) {
            if (picture) {
                m_Image1->setPixmap(QPixmap::fromImage(*picture)); // an empty picture leaves it blank
                keep(bytes);
            }
            shown();
        },
        m_pictureLimits);
}

void SongPanel::placeBadgeAfterSongName()
{
    m_aicAlphaImage2->setLeft(m_Label2->x() + m_Label2->width());
}

void SongPanel::setBadgeVisible(bool visible)
{
    m_aicAlphaImage2->setVisible(visible);
}
