#pragma once
// What the local Kelvaro community holds: its singers and their works, and the
// addresses under which it serves them. The pages, the pictures and the audio
// are all generated from this table, and tests derive their expected values
// from it, so it is the one place to change when the community should change.
//
// The texts below end up verbatim inside the pages' markup, where the program
// finds them by plain text search. So a title never holds "-" (the title line
// is cut at its first dash), a user name never holds "K" or "-" (the name is
// cut before "Kelvaro" and loses every "K"), and no text holds "<", "&" or a
// double quote.

#include <string>
#include <string_view>
#include <vector>

namespace demo {

// How a recording page is laid out.
enum class PageLayout {
    Ordinary,   // every detail, the singer's picture as the photo
    MusicVideo, // every detail, the video player in place of the photo
    Sparse,     // a withdrawn recording: no gift and forward counts, no photo,
                // no audio field and no header picture rule
};

struct Singer {
    std::string_view uid;    // home page "/u/<uid>", picture "/static/avatar/<uid>.png"
    std::string_view name;   // the user name, as the page title shows it before "Kelvaro"
    std::string_view fans;   // fans count, written after "有" on every recording page
    std::string_view city;
    unsigned colour;         // the picture's colour, 0xRRGGBB
};

struct Work {
    std::string_view id;        // the work id: the audio file's name without ".mp3"
    std::string_view singerUid;
    std::string_view token;     // recording page "/s/<token>"
    std::string_view title;     // the song name
    std::string_view about;     // the other-information line
    std::string_view plays;     // the four counts, as text
    std::string_view gifts;
    std::string_view forwards;
    std::string_view comments;
    std::string_view mediaHost; // first label of the page's own audio host: "<mediaHost>" + MediaHostTail
    std::string_view year;      // folder of the page's own audio address
    int hostNumber;             // number of the rebuilt audio host "a<hostNumber>"; the page's folder is "a<hostNumber + 108>"
    PageLayout layout;
    bool titleInSpan;           // the singer page writes the title in a <span> (else in a song_title block)
};

inline constexpr Singer Singers[] = {
    {"80231547", "林晓雨", "2846", "杭州", 0x3a7bd5},
    {"80377102", "Alice", "19", "成都", 0xd5793a},
    {"80459316", "Rover星河", "517", "厦门", 0x2e9e6b},
};

inline constexpr Work Works[] = {
    {"3108115", "80231547", "kQ7mX2pA", "夏夜的风", "发布于 2026-01-12 21:04 · 献给每一个在夏夜里想念的人",
     "12873", "56", "9", "214", "m3", "2026", 7, PageLayout::Ordinary, true},
    {"3109342", "80231547", "hT3vR8cN", "海边的信", "发布于 2026-01-08 22:17 · 清唱版,耳机食用更佳",
     "3.4万", "311", "47", "896", "m1", "2026", 2, PageLayout::Ordinary, false},
    {"3110276", "80231547", "pL5wZ1dE", "星河长明", "发布于 2025-12-30 20:45 · 第一次尝试高音,请多指教",
     "5672", "23", "4", "61", "m2", "2025", 4, PageLayout::Ordinary, true},
    {"3112458", "80231547", "mV9xB4sN", "月光下的约定", "发布于 2025-12-24 19:30 · 平安夜的MV,谢谢大家的礼物",
     "8.1万", "1024", "203", "1530", "m4", "2025", 5, PageLayout::MusicVideo, false},
    {"3113619", "80231547", "dF2nH6qJ", "旧街灯", "发布于 2025-12-18 23:02 · 深夜的小录音",
     "980", "7", "0", "12", "m3", "2025", 1, PageLayout::Ordinary, true},
    {"3115083", "80231547", "sP8wC3yW", "纸飞机", "发布于 2025-12-11 18:26 · 该作品已设为私密",
     "431", "0", "0", "3", "m1", "2025", 3, PageLayout::Sparse, true},
    {"3116724", "80231547", "bR4tM7gU", "Morning Light", "发布于 2025-12-02 07:55 · 早安,今天也要元气满满",
     "2209", "18", "5", "77", "m2", "2025", 8, PageLayout::Ordinary, false},
    {"3118391", "80231547", "wN1jQ5zL", "雨后晴空", "发布于 2025-11-26 16:40 · 和声部分自己叠了三轨",
     "7745", "92", "31", "265", "m4", "2025", 6, PageLayout::Ordinary, true},
    {"3119850", "80231547", "cX6yD9fT", "城南花开", "发布于 2025-11-19 21:12 · 翻唱练习中",
     "1653", "11", "2", "40", "m3", "2025", 9, PageLayout::Ordinary, true},
    {"3121567", "80231547", "gH3uS2vM", "晚风与你", "发布于 2025-11-10 22:48 · 入驻Kelvaro的第一首歌",
     "15032", "140", "62", "388", "m1", "2025", 2, PageLayout::Ordinary, false},
    {"3124908", "80459316", "tZ7rQ4eB", "初雪", "发布于 2026-01-15 08:03 · 下雪啦",
     "3.6万", "205", "88", "702", "m2", "2026", 3, PageLayout::Ordinary, true},
};

// The singers whose home pages show something particular.
inline constexpr std::string_view ManyWorksSinger = "80231547";
inline constexpr std::string_view NoWorksSinger = "80377102";
inline constexpr std::string_view OneWorkSinger = "80459316";

// The version file's body when nothing else is asked for.
inline constexpr std::string_view DefaultVersionText = "kv:" KELVARO_BUILD_VERSION "|";

const Singer *findSinger(std::string_view uid);
const Work *findWork(std::string_view id);
const Singer &singerOf(const Work &work);
std::vector<const Work *> worksOf(std::string_view singerUid);
const Work &firstWork(PageLayout layout);

// Every occurrence of `from` replaced by `to`, left to right, without overlap.
std::string replaceAll(std::string text, std::string_view from, std::string_view to);

// Addresses, all plain http on the build's hosts.
std::string pageAddress(const Work &work);          // the recording page
std::string homeAddress(const Singer &singer);      // the singer home page
std::string playServiceAddress(std::string_view id); // the play-address service for a work id
std::string avatarAddress(const Singer &singer);    // the singer's picture
std::string audioHost(const Work &work);            // host of the page's own audio address
std::string audioAddress(const Work &work);         // the page's own audio address
std::string rebuiltAudioHost(const Work &work);     // "a<hostNumber>" + MediaHostTail
std::string rebuiltAudioAddress(const Work &work);  // ".../userdata/userwork/<last 3 of id>/<id>.mp3"
std::string headAddress(const Work &work);          // the header background picture
std::string headPictureAddress(const Work &work);   // the same with every "100" turned into "640"
std::string playerAddress(const Work &work);        // the video player as the page writes it ("&amp;")
std::string playerScriptAddress(const Work &work);  // the same with "&amp;" read as "&"
// What the photo element names: the player for a music video, the singer's
// picture otherwise, nothing on a sparse page.
std::string photoAddress(const Work &work);

} // namespace demo
