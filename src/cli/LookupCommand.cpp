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
#include <QTimer>

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
    FetchHandle showPicture(PictureSource source, QString path, std::function<void()> shown) override
    {
        return LoadPicture(std::move(path), [this, source, shown = std::move(shown)](std::optional<QImage> loaded) {
            if (loaded)
                picture = source == PictureSource::HeaderPicture ? QStringLiteral("head") : QStringLiteral("photo");
            shown();
        });
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

namespace {

// The addresses looked up one after another on the event loop, each one
// starting once the one before has ended.
class LookupCommand {
public:
    LookupCommand(QStringList addresses, CommandDone done)
        : m_addresses(std::move(addresses)), m_done(std::move(done)),
          m_lookups(m_state, m_panel, [](const QString &url, PageDone pageDone) {
              return GetPage(url, std::move(pageDone));
          })
    {
    }

    // Starts the next lookup; a refused address is reported at once and the
    // next one follows in this same call.
    void next()
    {
        while (m_position < m_addresses.size()) {
            m_panel.startLookup();
            if (m_lookups.start(m_addresses.at(m_position++), [this](LookupOutcome outcome) { ended(outcome); }))
                return;
            report(LookupOutcome::Refused);
        }
        // 0: every address gave a page; 1: a fetch failed; 2: an address was refused.
        const CommandDone done = m_done;
        const int status = m_status;
        delete this;
        done(status);
    }

private:
    void ended(LookupOutcome outcome)
    {
        report(outcome);
        // Not from inside the lookup's own report.
        QTimer::singleShot(0, [this] { next(); });
    }

    void report(LookupOutcome outcome)
    {
        switch (outcome) {
        case LookupOutcome::Refused:
            m_status = 2;
            break;
        case LookupOutcome::NoPage:
        case LookupOutcome::Superseded:
            m_status = qMax(m_status, 1);
            break;
        case LookupOutcome::PageTaken:
            break;
        }
        const QByteArray line = reportLine(m_panel, m_state);
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }

    const QStringList m_addresses;
    const CommandDone m_done;
    SongState m_state;
    RecordingPanel m_panel;
    SongLookups m_lookups;
    qsizetype m_position = 0;
    int m_status = 0;
};

} // namespace

void startLookup(const QStringList &args, CommandDone done)
{
    if (args.isEmpty()) {
        std::fputs("Usage: kelvaro lookup URL [URL...]\n", stderr);
        done(2);
        return;
    }
    // It deletes itself once the last address is reported.
    (new LookupCommand(args, std::move(done)))->next();
}
