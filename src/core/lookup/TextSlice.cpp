#include "core/lookup/TextSlice.h"

#include <algorithm>

TextSlice TextSlice::within(const QString &source, QStringView part)
{
    const qsizetype start = part.isEmpty() ? 0 : part.data() - source.constData();
    Q_ASSERT(start >= 0 && start + part.size() <= source.size());
    if (part.size() * 4 < source.size())
        return TextSlice(part.toString()); // don't hold a large text for a small part
    TextSlice slice;
    slice.m_text = source;
    slice.m_start = start;
    slice.m_end = start + part.size();
    return slice;
}

TextSlice TextSlice::until(const QString &source, qsizetype start, const QString &endMarker)
{
    Q_ASSERT(!endMarker.isEmpty() && start >= 0 && start <= source.size());
    TextSlice slice;
    slice.m_text = source;
    slice.m_start = start;
    slice.m_end = -1;
    slice.m_clearUpTo = start;
    slice.m_endMarker = endMarker;
    return slice;
}

void TextSlice::learnEndBefore(qsizetype limit) const
{
    if (m_end >= 0 || limit <= m_clearUpTo)
        return;
    // An end marker starting before `limit` lies wholly inside this window.
    const QStringView text(m_text);
    const qsizetype stop = std::min(text.size(), limit - 1 + m_endMarker.size());
    const qsizetype found = text.sliced(m_clearUpTo, stop - m_clearUpTo).indexOf(m_endMarker);
    if (found >= 0)
        m_end = m_clearUpTo + found;
    else
        m_clearUpTo = limit;
}

qsizetype TextSlice::indexOf(QStringView marker, qsizetype from) const
{
    const QStringView text(m_text);
    const qsizetype at = m_start + from;
    if (m_end >= 0) {
        if (at > m_end)
            return -1;
        const qsizetype found = text.sliced(at, m_end - at).indexOf(marker);
        return found < 0 ? -1 : from + found;
    }
    const qsizetype found = text.indexOf(marker, at);
    if (found < 0)
        return -1; // not in the rest of the text, so not in the slice either
    learnEndBefore(found + marker.size());
    if (m_end >= 0 && found + marker.size() > m_end)
        return -1;
    return found - m_start;
}

TextSlice TextSlice::upto(QStringView marker) const
{
    Q_ASSERT(!marker.isEmpty());
    const qsizetype found = indexOf(marker);
    if (found < 0)
        return {};
    return within(m_text, QStringView(m_text).sliced(m_start, found + 1));
}

std::optional<TextSlice> TextSlice::after(QStringView marker) const
{
    Q_ASSERT(!marker.isEmpty());
    const qsizetype first = indexOf(marker);
    if (first < 0)
        return std::nullopt;
    const qsizetype begin = first + marker.size();
    const qsizetype next = indexOf(marker, begin);
    if (next < 0)
        return within(m_text, view().sliced(begin));
    return within(m_text, QStringView(m_text).sliced(m_start + begin, next - begin));
}

QStringView TextSlice::view() const
{
    if (m_end < 0) {
        const qsizetype found = QStringView(m_text).indexOf(m_endMarker, m_clearUpTo);
        m_end = found < 0 ? m_text.size() : found;
    }
    return QStringView(m_text).sliced(m_start, m_end - m_start);
}

TextSlice TextSlice::settled() const
{
    return within(m_text, view());
}
