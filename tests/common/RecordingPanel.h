#pragma once
// A song panel that records what a lookup does to it, in order.
#include "core/lookup/SongExtraction.h"

#include <QStringList>
#include <functional>

class RecordingSongPanel final : public SongPanelOutput {
public:
    QStringList calls;
    QString status;
    QString userName;
    SongDetails shown;
    std::function<void(PictureSource, const QString &)> whilePictureLoads;

    void setStatus(const QString &text) override
    {
        status = text;
        calls << QStringLiteral("status ") + text;
    }
    void showDetails(const QString &name, const SongDetails &details) override
    {
        userName = name;
        shown = details;
        calls << QStringLiteral("details ") + details.songName;
    }
    void showDefaultPicture() override { calls << QStringLiteral("default picture"); }
    void showPicture(PictureSource source, QString path, const std::function<bool()> &superseded) override
    {
        calls << (source == PictureSource::HeaderPicture ? QStringLiteral("head picture ") : QStringLiteral("photo "))
                + path;
        if (whilePictureLoads)
            whilePictureLoads(source, path);
        if (superseded())
            calls << QStringLiteral("picture dropped");
    }
    void placeBadgeAfterSongName() override { calls << QStringLiteral("place badge"); }
    void setBadgeVisible(bool visible) override
    {
        calls << (visible ? QStringLiteral("show badge") : QStringLiteral("hide badge"));
    }
};
