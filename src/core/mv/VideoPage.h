#pragma once
#include <QString>

// The one-line local page that embeds the community's video player.
namespace VideoPage {

// Whether `mvUrl` may go into the page: an http or https address of the
// community's web host or of a subdomain of its domain, written plainly
// (no user part, blanks, control characters or backslashes), so that a
// browser reads the same host from it as this check did.
bool isPlayerAddress(const QString &mvUrl);

// `<div><script src="ADDRESS" type="text/javascript"></script></div>`, the
// address written as it stands. A double quote, which would end the attribute
// early, is written as &quot;.
QString html(const QString &mvUrl);

// Writes `html` and a CR LF as the whole content of `path` (UTF-8), replacing
// any earlier file. Returns an empty string on success, else what went wrong.
QString write(const QString &path, const QString &html);

} // namespace VideoPage
