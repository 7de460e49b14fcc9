// `kelvaro lookup`: the window's parse action, run for each address in turn
// with the state carried from one lookup to the next, reported as JSON lines.
//
// Each line shows the state after that lookup: the status line, the detail
// values as the panel shows them now (every page is read from a clean slate;
// a lookup that was refused or got no page leaves the previous values
// showing, and they are printed again), the
// current-song state, and what this lookup did to the picture and the badge
// ("unchanged" when it did not touch them).
#include "cli/Commands.h"

#include "core/lookup/PictureLoader.h"
#include "core/lookup/SongExtraction.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

// The song panel as the command line sees it: the values shown, and what the
// last lookup did to the picture and the badge. Pictures are loaded exactly as
// the window loads them, since whether a load can be attempted decides
// whether the picture changes.
class RecordingPanel final : public SongPanelOutput {
public:
    QString status;
    QString userName;
    SongDetails shown;
    QString picture;
    QString badge;

    void startLookup()
    {
        picture = QStringLiteral("unchanged");
        badge = QStringLiteral("unchanged");
    }

    void setStatus(const QString &text) override { status = text; }
    void showDetails(const QString &name, const SongDetails &details) override
    {
        userName = name;
        shown = details;
    }
    void showDefaultPicture() override { picture = QStringLiteral("default"); }
    void showPicture(PictureSource source, QString path, const std::function<bool()> &superseded) override
    {
        if (LoadPicture(std::move(path)) && !superseded())
            picture = source == PictureSource::HeaderPicture ? QStringLiteral("head") : QStringLiteral("photo");
    }
    void placeBadgeAfterSongName() override {}
    void setBadgeVisible(bool visible) override { badge = visible ? QStringLiteral("shown") : QStringLiteral("hidden"); }
};

QByteArray reportLine(const RecordingPanel &panel, const SongState &state)
{
    const QJsonObject line{
        {QStringLiteral("status"), panel.status},
        {QStringLiteral("userName"), panel.userName},
        {QStringLiteral("fans"), panel.shown.fans},
        {QStringLiteral("otherInfo"), panel.shown.otherInfo},
        {QStringLiteral("songName"), panel.shown.songName},
        {QStringLiteral("playCount"), panel.shown.playCount},
        {QStringLiteral("giftCount"), panel.shown.giftCount},
        {QStringLiteral("forwardCount"), panel.shown.forwardCount},
        {QStringLiteral("commentCount"), panel.shown.commentCount},
        {QStringLiteral("photoUrl"), panel.shown.photoUrl},
        {QStringLiteral("musicUrl"), state.MusicUrl},
        {QStringLiteral("workId"), state.WorkId},
        {QStringLiteral("mvUrl"), state.MvUrl},
        {QStringLiteral("headBgUrl"), state.HeadBgUrl},
        {QStringLiteral("headPicUrl"), state.HeadPicUrl},
        {QStringLiteral("badge"), panel.badge},
        {QStringLiteral("picture"), panel.picture},
    };
    return QJsonDocument(line).toJson(QJsonDocument::Compact);
}

} // namespace

static int runLookup(const QStringList &args)
{
    if (args.isEmpty()) {
        std::fputs("Usage: kelvaro lookup URL [URL...]\n", stderr);
        return 2;
    }
    SongState state;
    ExtractionPieces pieces;
    RecordingPanel panel;
    const PageFetch fetch = [](const QString &url) { return GetPage(url); };
    int status = 0;
    for (const QString &address : args) {
        panel.startLookup();
        switch (runParseAction(address, state, pieces, panel, fetch)) {
        case LookupOutcome::Refused:
            status = 2;
            break;
        case LookupOutcome::NoPage:
        case LookupOutcome::Superseded:
            status = qMax(status, 1);
            break;
        case LookupOutcome::PageTaken:
            break;
        }
        const QByteArray line = reportLine(panel, state);
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    // 0: every address gave a page; 1: a fetch failed; 2: an address was refused.
    return status;
}

// Still waits on its own stack until the command is event-driven.
void startLookup(const QStringList &args, CommandDone done)
{
    done(runLookup(args));
}
