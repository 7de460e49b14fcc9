#pragma once
// A song panel that records what a lookup does to it, in order.
#include "common/Waiting.h"
#include "core/lookup/SongExtraction.h"

#include <QPointer>
#include <QStringList>
#include <functional>

class RecordingSongPanel final : public SongPanelOutput {
public:
    QStringList calls;
    QString status;
    QString userName;
    SongDetails shown;
    // Picture loads come back only on releasePictures() while this is set.
    bool holdPictures = false;
    QList<QPointer<HeldDelivery>> heldPictures;

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
    // The load ends on the next turn of the event loop, or when released.
    // A load that comes back after it was cancelled is recorded as dropped.
    FetchHandle showPicture(PictureSource source, QString path, std::function<void()> shown) override
    {
        calls << (source == PictureSource::HeaderPicture ? QStringLiteral("head picture ") : QStringLiteral("photo "))
                + path;
        if (!holdPictures)
            return FetchHandle(new LaterDelivery({}, std::move(shown), [this] { calls << QStringLiteral("picture dropped"); }));
        auto *load = new HeldDelivery(std::move(shown));
        heldPictures.append(load);
        return FetchHandle(load);
    }
    void releasePictures()
    {
        for (const QPointer<HeldDelivery> &load : std::exchange(heldPictures, {}))
            if (!HeldDelivery::deliver(load))
                calls << QStringLiteral("picture dropped");
    }
    void placeBadgeAfterSongName() override { calls << QStringLiteral("place badge"); }
    void setBadgeVisible(bool visible) override
    {
        calls << (visible ? QStringLiteral("show badge") : QStringLiteral("hide badge"));
    }
};
