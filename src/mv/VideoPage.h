#pragma once
#include <QString>

// The one-line local page that embeds the community's video player.
namespace VideoPage {

// `<div><script src="ADDRESS" type="text/javascript"></script></div>`, the
// address written as it stands. A double quote, which would end the attribute
// early, is written as &quot;.
QString html(const QString &mvUrl);

// Writes `html` and a CR LF as the whole content of `path` (UTF-8), replacing
// any earlier file. Returns an empty string on success, else what went wrong.
QString write(const QString &path, const QString &html);

} // namespace VideoPage
