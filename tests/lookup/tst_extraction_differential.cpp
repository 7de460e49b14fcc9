// The production extraction against a literal one written here: every step
// splits the whole text into a list and indexes it, as the rules read, with
// no searching cleverness. Thousands of generated pages, mutated at random
// with the characters and markers the rules react to, are looked up in
// sequences (so carried-over pieces matter), and every output is compared.
#include "RecordingPanel.h"
#include "SongPages.h"
#include "common/TestEnvironment.h"
#include "app/Endpoints.h"
#include "lookup/SongExtraction.h"

#include <QtTest>
#include <random>

namespace literal {

// A split as the rules mean it: an empty text has no pieces, an empty marker
// leaves the text whole.
QStringList split(const QString &text, const QString &marker)
{
    if (text.isEmpty())
        return {};
    if (marker.isEmpty())
        return {text};
    return text.split(marker, Qt::KeepEmptyParts, Qt::CaseSensitive);
}

// Position from 1 of the first occurrence, 0 when absent.
qsizetype position(const QString &text, const QString &marker)
{
    if (text.isEmpty())
        return 0;
    if (marker.isEmpty())
        return 1;
    return text.indexOf(marker) + 1;
}

QString upto(const QString &text, const QString &marker)
{
    return text.left(position(text, marker));
}

QString removeAll(const QString &text, const QString &part)
{
    return split(text, part).join(QString());
}

QString replaceAll(const QString &text, const QString &from, const QString &to)
{
    return split(text, from).join(to);
}

QString trim(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

// Assigns piece n of the split to `target` when it exists.
void takePiece(QString &target, const QString &text, const QString &marker, int n)
{
    const QStringList pieces = split(text, marker);
    if (pieces.size() > n)
        target = pieces[n];
}

struct Window {
    SongState song;
    QMap<QString, QString> pieces; // by step name
    SongDetails shown;
    QString userNameShown;
    QString status;
    QStringList calls;
};

void lookUp(Window &w, const QString &text1, const std::optional<QString> &fetched)
{
    const QString Q = QStringLiteral("\"");
    if (text1.isEmpty()) {
        w.status = QStringLiteral("请输入Kelvaro网页地址 ");
        w.calls << "status " + w.status;
        return;
    }
    if (!text1.contains(QStringLiteral("http://") + QString::fromUtf8(Endpoints::WebHost) + QStringLiteral("/s/"))) {
        w.status = QStringLiteral("地址错误,请您检查 ..");
        w.calls << "status " + w.status;
        return;
    }
    SongState &s = w.song;
    QMap<QString, QString> &p = w.pieces;
    if (fetched)
        s.PageHtml = *fetched;
    if (s.PageHtml.isEmpty())
        return;
    s.MvUrl = QString();
    SongDetails d;
    takePiece(p["E1"], s.PageHtml, "<title>", 1);
    {
        const QStringList dash = split(p["E1"], "-");
        if (dash.size() > 1)
            p["E2"] = trim(dash[1]);
    }
    s.UserName = trim(removeAll(upto(p["E2"], "Kelvaro"), "K"));
    takePiece(p["E4"], s.PageHtml, "pcsong_title" + Q + ">", 1);
    p["E5"] = upto(p["E4"], "</div>");
    d.fans = trim(removeAll(removeAll(p["E5"], "<"), "有"));
    takePiece(p["E7"], s.PageHtml, "pcsong_title" + Q + " >", 1);
    p["E8"] = upto(p["E7"], "</div>");
    d.otherInfo = trim(removeAll(p["E8"], "<"));
    takePiece(p["E10"], s.PageHtml, "<title>", 1);
    d.songName = trim(removeAll(upto(p["E10"], "-"), "-"));
    takePiece(p["E12"], s.PageHtml, "pcsong_listen_icon fl" + Q + ">", 1);
    p["E13"] = upto(p["E12"], "</div>");
    d.playCount = trim(removeAll(p["E13"], "<"));
    takePiece(p["E15"], s.PageHtml, "pcsong_gift_icon fl" + Q + ">", 1);
    p["E16"] = upto(p["E15"], "</div>");
    d.giftCount = trim(removeAll(p["E16"], "<"));
    takePiece(p["E18"], s.PageHtml, "pcsong_forward_icon fl" + Q + ">", 1);
    p["E19"] = upto(p["E18"], "</div>");
    d.forwardCount = trim(removeAll(p["E19"], "<"));
    takePiece(p["E21"], s.PageHtml, "pcsong_comment_icon fl" + Q + ">", 1);
    p["E22"] = upto(p["E21"], "</div>");
    d.commentCount = trim(removeAll(p["E22"], "<"));
    takePiece(p["E24"], s.PageHtml, "pcsong_photos" + Q + ">", 1);
    p["E25"] = upto(p["E24"], "/>");
    {
        const QStringList source = split(p["E25"], "src=" + Q);
        if (source.size() > 1)
            p["E26"] = removeAll(source[1], Q);
    }
    d.photoUrl = trim(upto(p["E26"], " "));
    takePiece(p["E28"], s.PageHtml, "mp3:" + Q, 1);
    p["E29"] = upto(p["E28"], Q);
    s.MusicUrl = trim(removeAll(p["E29"], Q));
    takePiece(p["E31"], s.PageHtml, ".pcsong_head {background: url( " + Q, 1);
    s.HeadBgUrl = removeAll(upto(p["E31"], Q), Q);
    s.HeadPicUrl = replaceAll(s.HeadBgUrl, "100", "640");

    w.userNameShown = s.UserName;
    w.shown = d;
    w.calls << "details " + d.songName;

    takePiece(s.WorkId, s.MusicUrl, "/", 6);
    s.WorkId = removeAll(upto(s.WorkId, "."), ".");

    if (d.photoUrl.isEmpty()) {
        w.calls << "default picture";
        return;
    }
    if (d.photoUrl.contains("player")) {
        w.calls << "head picture " + s.HeadPicUrl << "place badge" << "show badge";
        s.MvUrl = replaceAll(d.photoUrl, "&amp;", "&");
        return;
    }
    w.calls << "hide badge" << "photo " + d.photoUrl;
}

} // namespace literal

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
        {"E1", &pieces.titlePiece},   {"E2", &pieces.dashPiece},         {"E4", &pieces.fansPiece},
        {"E5", &pieces.fansCut},      {"E7", &pieces.otherPiece},        {"E8", &pieces.otherCut},
        {"E10", &pieces.secondTitlePiece}, {"E12", &pieces.listenPiece}, {"E13", &pieces.listenCut},
        {"E15", &pieces.giftPiece},   {"E16", &pieces.giftCut},          {"E18", &pieces.forwardPiece},
        {"E19", &pieces.forwardCut},  {"E21", &pieces.commentPiece},     {"E22", &pieces.commentCut},
        {"E24", &pieces.photosPiece}, {"E25", &pieces.photosCut},        {"E26", &pieces.sourcePiece},
        {"E28", &pieces.audioPiece},  {"E29", &pieces.audioCut},         {"E31", &pieces.headPiece}};
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
