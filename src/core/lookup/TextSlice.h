#pragma once
#include <QString>
#include <QStringView>
#include <optional>

// A piece cut out of a larger text that shares that text instead of copying
// it. Pieces of a page often run to the page's end, so copying each of them
// would cost more than finding it.
//
// A piece taken "after a marker" runs to the marker's next occurrence or to
// the end of the text. Finding that end means searching the rest of the
// text, which a page mostly doesn't need: the next cut ("up to </div>") lies
// close to the start. Such a slice (until()) therefore looks for its end only
// as far as a search inside it reaches, and everything it answers is what the
// fully-cut piece would answer.
//
// A slice much smaller than the text it holds on to is copied instead (see
// settled()), so old pages kept alive by small leftovers don't pile up.
class TextSlice {
public:
    TextSlice() = default;
    explicit TextSlice(QString whole) : m_text(std::move(whole)), m_end(m_text.size()) {}

    // A slice of `part`, which must lie within `source`.
    static TextSlice within(const QString &source, QStringView part);
    // The text of `source` from `start` up to the next occurrence of the
    // (non-empty) `endMarker` at or after it, or up to the end.
    static TextSlice until(const QString &source, qsizetype start, const QString &endMarker);

    // Offset (from this slice's start) of the first occurrence of `marker` at
    // or after `from` that lies wholly inside the slice; -1 when none does.
    qsizetype indexOf(QStringView marker, qsizetype from = 0) const;
    // upto of the slice: the text before `marker` and its first character;
    // empty when `marker` (non-empty) does not occur in the slice.
    TextSlice upto(QStringView marker) const;
    // after of the slice: between the first and second occurrence of
    // `marker`, or to the slice's end; nothing when it does not occur.
    std::optional<TextSlice> after(QStringView marker) const;
    // A slice of `part`, which must lie within this slice.
    TextSlice sub(QStringView part) const { return within(m_text, part); }

    QStringView view() const;
    QString toString() const { return view().toString(); }

    // This slice with its end found, copied out when it is a small part of
    // the text it holds on to.
    TextSlice settled() const;

private:
    void learnEndBefore(qsizetype limit) const;

    QString m_text;
    qsizetype m_start = 0;
    mutable qsizetype m_end = 0;       // -1 while not yet found
    mutable qsizetype m_clearUpTo = 0; // no end marker starts in [m_start, m_clearUpTo)
    QString m_endMarker;
};
