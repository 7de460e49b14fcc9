#pragma once
#include <QString>
#include <QStringView>

#include <optional>

// Rebuilding a recording's audio address on the community's media host, for a
// recording whose own address does not play.
namespace AudioAddress {

// The media host number named by a piece of an audio address: every lower-case
// "a" removed, the number at its start read the forgiving way (blanks skipped,
// then an optional sign, digits and at most one decimal point, up to the first
// character that does not fit; no digits reads as 0), 108 taken off. Exact decimal, a minus
// sign when negative, a fraction only if the piece held one ("a115" -> "7",
// "100" -> "-8", "115.5" -> "7.5").
QString hostNumber(QStringView piece);

// "http://a" + hostNumber(piece 5 of musicUrl split at "/") + hostTail +
// "/userdata/userwork/" + the last three characters of workId + "/" + workId +
// ".mp3". Nothing when musicUrl has fewer than six "/"-separated pieces (empty
// pieces count).
std::optional<QString> rebuild(const QString &musicUrl, const QString &workId, const QString &hostTail);

} // namespace AudioAddress
