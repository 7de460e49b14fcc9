#pragma once
#include <QString>
#include <QStringView>
#include <optional>

// The small set of exact text operations that every page extraction is built
// from. All matching is case-sensitive, character by character; occurrences
// are found left to right without overlap. Positions count from 1.
//
// The results are what splitting the whole text into a list at every
// occurrence would give, but only the occurrences a result needs are looked
// for, and cuts are views into the text they came from: cutting a large page
// costs no copy. A view lives no longer than the text it looks into.
namespace TextOps {

// The piece with index `n` (from 0) of `text` split at every `marker`.
// Nothing when the split has fewer than n + 1 pieces. An empty text splits
// into no pieces at all; an empty marker does not split, so a non-empty
// text is then one piece.
std::optional<QStringView> piece(QStringView text, QStringView marker, qsizetype n);

// Piece 1 of that split: the text between the first occurrence of `marker`
// and the second one (or the end). Nothing when `marker` does not occur.
std::optional<QStringView> after(QStringView text, QStringView marker);

// The first p characters of `text`, p being the position of the first
// occurrence of `marker`: the text before it and the marker's first
// character. Empty when the marker does not occur. An empty marker is found
// at position 1 of a non-empty text.
QStringView upto(QStringView text, QStringView marker);

// `text` with every occurrence of `part` deleted. An empty `part` deletes nothing.
QString remove(QStringView text, QStringView part);

// `text` without leading and trailing blanks (U+0020 only: tabs and line
// breaks stay).
QStringView trim(QStringView text);

} // namespace TextOps
