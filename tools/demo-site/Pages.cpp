#include "Pages.h"

#include "core/endpoints/Endpoints.h"

#include <cstdio>

namespace demo {

namespace {

// The recording pages' look; shared by every layout.
constexpr char SongStyle[] = R"kv(body {margin: 0; font-family: "Microsoft YaHei", "WenQuanYi Micro Hei", sans-serif; background: #f4f5f7; color: #333;}
.pcsong_top {height: 48px; line-height: 48px; padding: 0 40px; background: #20232d; color: #fff; font-size: 20px;}
.pcsong_photos {position: absolute; left: 40px; bottom: -45px;}
.pcsong_photos img, .pcsong_photos embed {width: 90px; height: 90px; border-radius: 45px; border: 3px solid #fff; background: #ccc;}
.pcsong_user {position: absolute; left: 150px; bottom: 14px; color: #fff; text-shadow: 0 1px 2px #000;}
.pcsong_name {font-size: 22px; font-weight: bold;}
.pcsong_main {margin: 64px 40px 0; background: #fff; border-radius: 6px; padding: 20px 24px;}
.pcsong_song {margin: 0 0 8px; font-size: 26px;}
.pcsong_mv {display: inline-block; margin-left: 8px; padding: 0 6px; border-radius: 3px; background: #e4393c; color: #fff; font-size: 14px; vertical-align: middle;}
.pcsong_counts {overflow: hidden; margin: 16px 0; color: #666;}
.fl {float: left; margin-right: 28px; padding-left: 20px;}
.pcsong_private {margin: 16px 0; padding: 12px; background: #fff6e5; color: #a06000;}
.pcsong_foot {margin: 24px 40px; color: #999; font-size: 12px;}
)kv";

constexpr char HomeStyle[] = R"kv(body {margin: 0; font-family: "Microsoft YaHei", "WenQuanYi Micro Hei", sans-serif; background: #f4f5f7; color: #333;}
.home_head {padding: 24px 40px; background: #20232d; color: #fff; overflow: hidden;}
.home_avatar {float: left; width: 80px; height: 80px; border-radius: 40px; margin-right: 20px;}
.home_name {font-size: 24px; font-weight: bold; margin-top: 12px;}
.home_works {margin: 24px 40px; background: #fff; border-radius: 6px; padding: 16px 24px;}
.song_list {width: 100%; border-collapse: collapse;}
.song_list tr {cursor: pointer;}
.song_list tbody tr:hover {background: #f0f6ff;}
._col {padding: 8px 10px; border-bottom: 1px solid #eee; text-align: center;}
._col_left {text-align: left;}
.mv_tag {margin-left: 6px; padding: 0 4px; border-radius: 3px; background: #e4393c; color: #fff; font-size: 11px; font-style: normal;}
.home_empty {color: #999; padding: 24px 0;}
)kv";

std::string web(std::string_view path)
{
    return "http://" + std::string(Endpoints::WebHost) + std::string(path);
}

std::string str(std::string_view text)
{
    return std::string(text);
}

// A JavaScript string literal that cannot end its script element early.
std::string jsString(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\' || c == '<' || c == '>' || c == '&' || c == '\'' || u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string countBlocks(const Work &work)
{
    std::string html = "  <div class=\"pcsong_counts\">\n";
    html += "    <div class=\"pcsong_listen_icon fl\">" + str(work.plays) + "</div>\n";
    if (work.layout != PageLayout::Sparse) {
        html += "    <div class=\"pcsong_gift_icon fl\">" + str(work.gifts) + "</div>\n";
        html += "    <div class=\"pcsong_forward_icon fl\">" + str(work.forwards) + "</div>\n";
    }
    html += "    <div class=\"pcsong_comment_icon fl\">" + str(work.comments) + "</div>\n";
    return html + "  </div>\n";
}

std::string photoBlock(const Work &work, const Singer &singer)
{
    switch (work.layout) {
    case PageLayout::Sparse:
        return {};
    case PageLayout::MusicVideo:
        return "  <div class=\"pcsong_photos\"><embed src=\"" + playerAddress(work)
            + "\" type=\"text/javascript\" width=\"90\" height=\"90\" allowfullscreen=\"true\" /></div>\n";
    case PageLayout::Ordinary:
        break;
    }
    return "  <div class=\"pcsong_photos\"><img src=\"" + avatarAddress(singer) + "\" alt=\""
        + htmlEscape(singer.name) + "\" /></div>\n";
}

} // namespace

std::string htmlEscape(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string recordingPage(const Work &work)
{
    const Singer &singer = singerOf(work);
    const bool sparse = work.layout == PageLayout::Sparse;
    std::string html = "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n";
    // The title line reads: song, a dash, the user name before "Kelvaro", a dash, the slogan.
    html += "<title>" + str(work.title) + " - " + str(singer.name) + " Kelvaro - 唱出你的声音</title>\n";
    html += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
    html += "<style type=\"text/css\">\n";
    html += SongStyle;
    if (sparse)
        html += ".pcsong_head {background: #6b6f7a; height: 200px; position: relative;}\n";
    else
        html += ".pcsong_head {background: url( \"" + headAddress(work)
            + "\") no-repeat center center; background-size: cover; height: 200px; position: relative;}\n";
    html += "</style>\n</head>\n<body>\n";
    html += "<div class=\"pcsong_top\">Kelvaro</div>\n";
    html += "<div class=\"pcsong_head\">\n";
    html += photoBlock(work, singer);
    html += "  <div class=\"pcsong_user\">\n";
    html += "    <div class=\"pcsong_name\">" + str(singer.name) + "</div>\n";
    html += "    <div class=\"pcsong_title\">有" + str(singer.fans) + "</div>\n";
    html += "  </div>\n</div>\n";
    html += "<div class=\"pcsong_main\">\n";
    html += "  <h1 class=\"pcsong_song\">" + str(work.title)
        + (work.layout == PageLayout::MusicVideo ? "<span class=\"pcsong_mv\">MV</span>" : "") + "</h1>\n";
    html += "  <div class=\"pcsong_title\" >" + str(work.about) + "</div>\n";
    html += countBlocks(work);
    if (sparse)
        html += "  <div class=\"pcsong_private\">该作品已被作者设为私密,暂时无法播放。</div>\n";
    else
        html += "  <div id=\"pcsong_player\"></div>\n";
    html += "</div>\n";
    html += "<div class=\"pcsong_foot\">Kelvaro 在线K歌社区 · 作品 " + str(work.id) + "</div>\n";
    if (!sparse) {
        html += "<script type=\"text/javascript\">\n";
        html += "var pcsongData = {wid:\"" + str(work.id) + "\", title:" + jsString(work.title)
            + ", singer:" + jsString(singer.name) + ", mp3:\"" + audioAddress(work) + "\"};\n";
        html += R"kv((function () {
  var box = document.getElementById("pcsong_player");
  if (!box) return;
  var audio = document.createElement("audio");
  audio.controls = true;
  audio.preload = "none";
  audio.src = pcsongData.mp3;
  box.appendChild(audio);
})();
</script>
)kv";
    }
    html += "</body>\n</html>\n";
    return html;
}

std::string singerPage(const Singer &singer)
{
    const std::vector<const Work *> works = worksOf(singer.uid);
    std::string html = "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n";
    html += "<title>" + htmlEscape(singer.name) + "的个人主页 - Kelvaro</title>\n";
    html += "<style type=\"text/css\">\n" + std::string(HomeStyle) + "</style>\n";
    html += "<script type=\"text/javascript\" src=\"" + web("/static/js/home.js") + "\"></script>\n";
    html += "</head>\n<body>\n";
    html += "<div class=\"home_head\"><img class=\"home_avatar\" src=\"" + avatarAddress(singer) + "\" alt=\""
        + htmlEscape(singer.name) + "\" />\n";
    html += "  <div class=\"home_name\">" + htmlEscape(singer.name) + "</div>\n";
    html += "  <div class=\"home_info\">粉丝 " + htmlEscape(singer.fans) + " · 来自 " + htmlEscape(singer.city)
        + "</div>\n</div>\n";
    html += "<div class=\"home_works\">\n<h2>TA的作品 (" + std::to_string(works.size()) + ")</h2>\n";
    if (works.empty()) {
        html += "<p class=\"home_empty\">TA还没有发布作品哦~</p>\n";
    } else {
        html += "<table class=\"song_list\" cellspacing=\"0\">\n";
        html += "<thead><tr><th class=\"_col\">序号</th><th class=\"_col\">歌曲</th><th class=\"_col\">播放</th>"
                "<th class=\"_col\">礼物</th></tr></thead>\n<tbody>\n";
        int number = 0;
        for (const Work *work : works) {
            // One "goPlay(" per row, right in the row's opening tag: the row's
            // id and its title cell are paired by their order on the page.
            html += "<tr class=\"\" onclick=\"goPlay(" + str(work->id) + ")\">\n";
            html += "  <td class=\"_col _col_num\">" + std::to_string(++number) + "</td>\n";
            if (work->titleInSpan)
                html += "  <td class=\"_col _col_left\"><span>" + str(work->title) + "</span></td>\n";
            else
                html += "  <td class=\"_col _col_left\"><div class=\"song_title\">" + str(work->title) + "</div>"
                    + (work->layout == PageLayout::MusicVideo ? "<i class=\"mv_tag\">MV</i>" : "") + "</td>\n";
            html += "  <td class=\"_col\">" + str(work->plays) + "</td>\n";
            html += "  <td class=\"_col\">" + str(work->gifts) + "</td>\n</tr>\n";
        }
        html += "</tbody>\n</table>\n";
    }
    html += "</div>\n</body>\n</html>\n";
    return html;
}

std::string playerScript(const Work *work)
{
    std::string script = "/* Kelvaro MV player */\n(function () {\n";
    if (work) {
        script += "  var work = {wid: " + jsString(work->id) + ", title: " + jsString(work->title)
            + ", singer: " + jsString(singerOf(*work).name) + "};\n";
    } else {
        script += "  var work = null;\n";
    }
    script += R"kv(  var here = document.currentScript;
  var box = document.createElement("div");
  box.style.cssText = "display:inline-block;padding:12px;border-radius:8px;background:#1d1f2b;color:#fff;" +
    "font-family:'Microsoft YaHei','WenQuanYi Micro Hei',sans-serif";
  var heading = document.createElement("div");
  heading.style.cssText = "font-size:18px;font-weight:bold;margin-bottom:8px";
  heading.textContent = work ? work.title + " \u00b7 " + work.singer : "\u89c6\u9891\u4e0d\u5b58\u5728\u6216\u5df2\u5220\u9664";
  box.appendChild(heading);
  if (here && here.parentNode) here.parentNode.insertBefore(box, here.nextSibling);
  else document.body.appendChild(box);
  if (!work) return;

  var canvas = document.createElement("canvas");
  canvas.width = 480;
  canvas.height = 270;
  canvas.style.cssText = "display:block;border-radius:4px;background:#000";
  box.appendChild(canvas);
  var note = document.createElement("div");
  note.style.cssText = "font-size:12px;color:#aab;margin-top:6px";
  note.textContent = "Kelvaro MV \u00b7 " + work.wid;
  box.appendChild(note);

  var ctx = canvas.getContext("2d");
  var seed = parseInt(work.wid, 10) || 1;
  var hue = seed % 360;
  function draw(now) {
    var t = now / 1000;
    var sky = ctx.createLinearGradient(0, 0, 0, canvas.height);
    sky.addColorStop(0, "hsl(" + hue + ",55%,22%)");
    sky.addColorStop(1, "hsl(" + ((hue + 60) % 360) + ",60%,8%)");
    ctx.fillStyle = sky;
    ctx.fillRect(0, 0, canvas.width, canvas.height);
    var bars = 24, width = canvas.width / bars;
    for (var i = 0; i < bars; i++) {
      var level = 0.5 + 0.45 * Math.sin(t * (2 + (seed + i) % 5) + i * 0.7) * Math.sin(t * 1.3 + i);
      var height = level * canvas.height * 0.6;
      ctx.fillStyle = "hsla(" + ((hue + i * 6) % 360) + ",80%,60%,0.85)";
      ctx.fillRect(i * width + 2, canvas.height - height, width - 4, height);
    }
    ctx.fillStyle = "#fff";
    ctx.font = "bold 28px 'Microsoft YaHei','WenQuanYi Micro Hei',sans-serif";
    ctx.textAlign = "center";
    ctx.fillText(work.title, canvas.width / 2, 60 + 6 * Math.sin(t * 2));
    window.requestAnimationFrame(draw);
  }
  window.requestAnimationFrame(draw);
})();
)kv";
    return script;
}

std::string forumPage()
{
    return R"kv(<!DOCTYPE html>
<html lang="zh-CN">
<head>
<meta charset="utf-8">
<title>Ulvaren论坛 - 软件发布与交流</title>
<style type="text/css">
body {margin: 0; font-family: "Microsoft YaHei", "WenQuanYi Micro Hei", sans-serif; background: #eef1f5; color: #333;}
.bbs_top {padding: 18px 40px; background: #2b4a7a; color: #fff; font-size: 22px;}
.bbs_list {margin: 24px 40px; background: #fff; border-radius: 6px; padding: 8px 24px;}
.bbs_list li {padding: 10px 0; border-bottom: 1px solid #eee; list-style: none;}
</style>
</head>
<body>
<div class="bbs_top">Ulvaren论坛</div>
<ul class="bbs_list">
<li>[公告] Kelvaro辅助工具 V3.0 正式发布</li>
<li>[求助] 歌手主页批量获取时提示没有作品怎么办?</li>
<li>[分享] 用Kelvaro辅助工具保存自己的第一首歌</li>
<li>[反馈] 欢迎在此版块反馈使用中遇到的问题</li>
</ul>
</body>
</html>
)kv";
}

std::string sitePage()
{
    return R"kv(<!DOCTYPE html>
<html lang="zh-CN">
<head>
<meta charset="utf-8">
<title>Ulvaren - 小而好用的软件</title>
<style type="text/css">
body {margin: 0; font-family: "Microsoft YaHei", "WenQuanYi Micro Hei", sans-serif; background: #fafafa; color: #333;}
.site_top {padding: 28px 40px; background: #3d3d4e; color: #fff;}
.site_top h1 {margin: 0; font-size: 28px;}
.site_main {margin: 24px 40px;}
.site_card {display: inline-block; width: 260px; margin: 0 16px 16px 0; padding: 16px; background: #fff; border-radius: 6px; vertical-align: top;}
</style>
</head>
<body>
<div class="site_top"><h1>Ulvaren</h1>小而好用的软件</div>
<div class="site_main">
<div class="site_card"><h3>Kelvaro辅助工具 V3.0</h3>解析Kelvaro作品页面,在线试听,下载音乐,获取MV,批量获取歌手作品。</div>
<div class="site_card"><h3>Ulvaren论坛</h3>软件发布、更新说明与使用交流。</div>
</div>
</body>
</html>
)kv";
}

std::string notFoundPage(const std::string &address)
{
    return "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n<title>404 页面不存在</title>\n"
           "</head>\n<body>\n<h1>404</h1>\n<p>您访问的页面不存在: "
        + htmlEscape(address) + "</p>\n</body>\n</html>\n";
}

} // namespace demo
