// The production extraction against a literal one written here: every step
// splits the whole text into a list and indexes it, as the rules read, with
// no searching cleverness. Thousands of generated pages, mutated at random
// with the characters and markers the rules react to, are looked up in
// sequences (so carried-over pieces matter), and every output is compared.
#include "LiteralExtraction.h"
#include "RecordingPanel.h"
#include "SongPages.h"
#include "common/TestEnvironment.h"
#include "lookup/SongExtraction.h"

#include <QtTest>
#include <random>

namespace {

const QStringList Tokens = {
    "<title>", "-", "-", "Kelvaro", "K", " ", " ", "\"", "\"", "</div>", "/>", "<", "有", "src=\"", "mp3:\"",
    "pcsong_title\">", "pcsong_title\" >", "pcsong_listen_icon fl\">", "pcsong_gift_icon fl\">",
    "pcsong_forward_icon fl\">", "pcsong_comment_icon fl\">", "pcsong_photos\">",
    ".pcsong_head {background: url( \"", "100", "player", "&amp;", ".", "/", "\n", "\t", "x", "12", "歌"};

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
        if (chance(30))
            f.fans = word();
        if (chance(30))
            f.play = word();
        if (chance(30))
            f.comment = word();
        if (chance(40))
            f.photoElement = photoElement((chance(50) ? "http://www.kelvaro.test/player.js?a=1&amp;b=" : "http://i/") + word());
        if (chance(30))
            f.audio = "http://a" + word() + "/" + word() + "/" + word() + "/" + word() + "/" + word() + "." + word();
        if (chance(30))
            f.headBg = "http://i/" + word() + "100" + word();
        QString text = songPage(f, below(3) * 300);
        for (int i = below(12); i > 0; --i)
            mutate(text);
        return text;
    }

private:
    void mutate(QString &text)
    {
        const int at = below(int(text.size()) + 1);
        switch (below(3)) {
        case 0:
            text.insert(at, token());
            break;
        case 1:
            text.remove(at, 1 + below(20));
            break;
        default: { // drop one occurrence of a marker
            const QString marker = token();
            const qsizetype found = text.indexOf(marker, at);
            if (found >= 0)
                text.remove(found, marker.size());
        }
        }
    }

    std::mt19937 m_random;
};

QString differences(const literal::Window &expected, const SongState &state, const ExtractionPieces &pieces,
                    const RecordingSongPanel &panel)
{
    QStringList out;
    auto check = [&out](const char *name, const QString &want, const QString &got) {
        if (want != got)
            out << QStringLiteral("%1: expected [%2] got [%3]").arg(QLatin1String(name), want.left(80), got.left(80));
    };
    const SongState &s = expected.song;
    check("PageHtml", s.PageHtml, state.PageHtml);
    check("MusicUrl", s.MusicUrl, state.MusicUrl);
    check("UserName", s.UserName, state.UserName);
    check("WorkId", s.WorkId, state.WorkId);
    check("MvUrl", s.MvUrl, state.MvUrl);
    check("HeadBgUrl", s.HeadBgUrl, state.HeadBgUrl);
    check("HeadPicUrl", s.HeadPicUrl, state.HeadPicUrl);
    check("status", expected.status, panel.status);
    check("shown user", expected.userNameShown, panel.userName);
    check("fans", expected.shown.fans, panel.shown.fans);
    check("other", expected.shown.otherInfo, panel.shown.otherInfo);
    check("song", expected.shown.songName, panel.shown.songName);
    check("play", expected.shown.playCount, panel.shown.playCount);
    check("gift", expected.shown.giftCount, panel.shown.giftCount);
    check("forward", expected.shown.forwardCount, panel.shown.forwardCount);
    check("comment", expected.shown.commentCount, panel.shown.commentCount);
    check("photo", expected.shown.photoUrl, panel.shown.photoUrl);
    const QMap<QString, QString> &p = expected.pieces;
    const std::pair<const char *, const TextSlice *> produced[] = {
        {"title", &pieces.titlePiece},   {"dash", &pieces.dashPiece},         {"fans", &pieces.fansPiece},
        {"fansCut", &pieces.fansCut},      {"other", &pieces.otherPiece},        {"otherCut", &pieces.otherCut},
        {"secondTitle", &pieces.secondTitlePiece}, {"listen", &pieces.listenPiece}, {"listenCut", &pieces.listenCut},
        {"gift", &pieces.giftPiece},   {"giftCut", &pieces.giftCut},          {"forward", &pieces.forwardPiece},
        {"forwardCut", &pieces.forwardCut},  {"comment", &pieces.commentPiece},     {"commentCut", &pieces.commentCut},
        {"photos", &pieces.photosPiece}, {"photosCut", &pieces.photosCut},        {"source", &pieces.sourcePiece},
        {"audio", &pieces.audioPiece},  {"audioCut", &pieces.audioCut},         {"head", &pieces.headPiece}};
    for (const auto &[name, slice] : produced)
        check(name, p.value(QLatin1String(name)), slice->toString());
    if (expected.calls != panel.calls)
        out << QStringLiteral("calls: expected [%1] got [%2]")
                   .arg(expected.calls.join(" | ").left(300), panel.calls.join(" | ").left(300));
    return out.join('\n');
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
            ExtractionPieces pieces;
            RecordingSongPanel panel;
            literal::Window expected;
            const int length = 1 + maker.below(5);
            for (int step = 0; step < length; ++step) {
                if (maker.chance(10)) { // the works table set the id meanwhile
                    const QString id = maker.word();
                    state.WorkId = id;
                    expected.song.WorkId = id;
                }
                QString address = recordingPagePrefix() + QString::number(step);
                if (maker.chance(5))
                    address = maker.chance(50) ? QString() : maker.word();
                const std::optional<QString> fetched =
                    maker.chance(8) ? std::nullopt : std::optional<QString>(maker.page());
                const PageFetch fetch = [&fetched](const QString &) { return fetched; };

                runParseAction(address, state, pieces, panel, fetch);
                literal::lookUp(expected, address, fetched);
                ++lookups;
                const QString diff = differences(expected, state, pieces, panel);
                QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("seed %1, sequence %2, lookup %3, page [%4]\n%5")
                                                         .arg(seed)
                                                         .arg(sequence)
                                                         .arg(step)
                                                         .arg(fetched.value_or("<failed>").left(400), diff)));
            }
        }
        QVERIFY(lookups > 5000);
    }
};

KELVARO_TEST_MAIN(ExtractionDifferentialTest)
#include "tst_extraction_differential.moc"
