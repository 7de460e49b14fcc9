// The production extraction against the literal one (LiteralExtraction.h).
// Thousands of generated pages, mutated at random with the characters and
// markers the rules react to, are looked up in sequences (so carried-over
// pieces matter), and everything a lookup leaves behind is compared.
#include "common/LiteralExtraction.h"
#include "common/RecordingPanel.h"
#include "common/SongPages.h"
#include "common/TestEnvironment.h"
#include "core/lookup/SongExtraction.h"

#include <QtTest>
#include <random>

namespace {

const QStringList Tokens = {
    "<title>", "-", "-", "Kelvaro", "K", " ", " ", "\"", "\"", "</div>", "/>", "<", "有", "src=\"", "mp3:\"",
    "pcsong_title\">", "pcsong_title\" >", "pcsong_listen_icon fl\">", "pcsong_gift_icon fl\">",
    "pcsong_forward_icon fl\">", "pcsong_comment_icon fl\">", "pcsong_photos\">",
    ".pcsong_head {background: url( \"", "100", "player", "&amp;", ".", "/", "\n", "\t", "x", "12", "歌"};

const char *const PieceNames[] = {"title",      "dash",    "fans",       "fansCut",   "other",   "otherCut",
                                  "secondTitle", "listen",  "listenCut",  "gift",      "giftCut", "forward",
                                  "forwardCut", "comment", "commentCut", "photos",    "photosCut", "source",
                                  "audio",      "audioCut", "head"};

class PageMaker {
public:
    explicit PageMaker(quint32 seed) : m_random(seed) {}

    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_random); }
    bool chance(int percent) { return below(100) < percent; }
    QString token() { return Tokens[below(int(Tokens.size()))]; }

    QString word()
    {
        QString text;
        for (int i = below(4); i >= 0; --i)
            text += token();
        return text;
    }

    QString page()
    {
        if (chance(3))
            return QString();
        if (chance(15)) { // a soup of markers
            QString text;
            for (int i = below(40); i >= 0; --i)
                text += token();
            return text;
        }
        SongPageFields f;
        if (chance(50))
            f.title = word() + " - " + word() + " Kelvaro - " + word();
        for (QString *field : {&f.fans, &f.play, &f.comment})
            if (chance(30))
                *field = word();
        if (chance(40))
            f.photoElement = photoElement((chance(50) ? "http://www.kelvaro.test/player.js?a=1&amp;b=" : "http://i/") + word());
        if (chance(30))
            f.audio = "http://a" + word() + "/" + word() + "/" + word() + "/" + word() + "/" + word() + "." + word();
        if (chance(30))
            f.headBg = "http://i/" + word() + "100" + word();
        QString text = songPage(f, below(3) * 300);
        for (int i = below(12); i > 0; --i) {
            const int at = below(int(text.size()) + 1);
            const int how = below(3);
            if (how == 0) {
                text.insert(at, token());
            } else if (how == 1) {
                text.remove(at, 1 + below(20));
            } else { // drop one occurrence of a marker
                const QString marker = token();
                if (const qsizetype found = text.indexOf(marker, at); found >= 0)
                    text.remove(found, marker.size());
            }
        }
        return text;
    }

private:
    std::mt19937 m_random;
};

// Everything a lookup leaves behind, one "name value" line each.
QStringList snapshot(const SongState &s, const QString &status, const QString &user, const SongDetails &d,
                     const QStringList &calls, const QStringList &pieces)
{
    QStringList out{"PageHtml " + s.PageHtml, "MusicUrl " + s.MusicUrl, "UserName " + s.UserName,
                    "WorkId " + s.WorkId,     "MvUrl " + s.MvUrl,       "HeadBgUrl " + s.HeadBgUrl,
                    "HeadPicUrl " + s.HeadPicUrl, "status " + status,   "shown user " + user,
                    "fans " + d.fans,         "other " + d.otherInfo,   "song " + d.songName,
                    "play " + d.playCount,    "gift " + d.giftCount,    "forward " + d.forwardCount,
                    "comment " + d.commentCount, "photo " + d.photoUrl, "calls " + calls.join(" | ")};
    for (qsizetype i = 0; i < pieces.size(); ++i)
        out << QLatin1String(PieceNames[i]) + " piece " + pieces[i];
    return out;
}

} // namespace

class ExtractionDifferentialTest : public QObject {
    Q_OBJECT

private slots:
    void productionAgreesWithTheLiteralRules()
    {
        const quint32 seed = qEnvironmentVariableIsSet("KELVARO_DIFF_SEED")
            ? quint32(qEnvironmentVariableIntValue("KELVARO_DIFF_SEED"))
            : 20240611u;
        PageMaker maker(seed);
        int lookups = 0;
        for (int sequence = 0; sequence < 2500; ++sequence) {
            SongState state;
            RecordingSongPanel panel;
            std::optional<QString> fetched;
            SongLookups window(state, panel, [&fetched](const QString &, PageDone done) {
                return FetchHandle(new LaterDelivery({}, [done = std::move(done), page = fetched] { done(page); }));
            });
            literal::Window expected;
            for (int step = 0, length = 1 + maker.below(5); step < length; ++step) {
                if (maker.chance(10)) { // the works table set the id meanwhile
                    state.WorkId = expected.song.WorkId = maker.word();
                }
                QString address = recordingPagePrefix() + QString::number(step);
                if (maker.chance(5))
                    address = maker.chance(50) ? QString() : maker.word();
                fetched = maker.chance(8) ? std::nullopt : std::optional<QString>(maker.page());

                lookUpAndWait(window, address);
                literal::lookUp(expected, address, fetched);
                ++lookups;

                const ExtractionPieces &p = window.pieces();
                QStringList produced;
                for (const TextSlice *slice :
                     {&p.titlePiece, &p.dashPiece, &p.fansPiece, &p.fansCut, &p.otherPiece, &p.otherCut,
                      &p.secondTitlePiece, &p.listenPiece, &p.listenCut, &p.giftPiece, &p.giftCut, &p.forwardPiece,
                      &p.forwardCut, &p.commentPiece, &p.commentCut, &p.photosPiece, &p.photosCut, &p.sourcePiece,
                      &p.audioPiece, &p.audioCut, &p.headPiece})
                    produced << slice->toString();
                QStringList wanted;
                for (const char *name : PieceNames)
                    wanted << expected.pieces.value(QLatin1String(name));
                const QStringList got = snapshot(state, panel.status, panel.userName, panel.shown, panel.calls, produced);
                const QStringList want = snapshot(expected.song, expected.status, expected.userNameShown,
                                                  expected.shown, expected.calls, wanted);
                for (qsizetype i = 0; i < want.size(); ++i)
                    QVERIFY2(got[i] == want[i],
                             qPrintable(QStringLiteral("seed %1, sequence %2, lookup %3, page [%4]\nexpected [%5]\ngot [%6]")
                                            .arg(seed)
                                            .arg(sequence)
                                            .arg(step)
                                            .arg(fetched.value_or("<failed>").left(400), want[i].left(300),
                                                 got[i].left(300))));
            }
        }
        QVERIFY(lookups > 5000);
    }
};

KELVARO_TEST_MAIN(ExtractionDifferentialTest)
#include "tst_extraction_differential.moc"
