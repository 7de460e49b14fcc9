#pragma once
#include <QString>
#include <QStringView>

// A piece cut out of a larger text that shares that text instead of copying
// it. Pieces of a page often run to the page's end, so copying each of them
// would cost more than finding it. A slice much smaller than the text it
// holds on to is copied instead (see compacted()), so that old pages kept
// alive by small leftovers don't pile up.
class TextSlice {
public:
    TextSlice() = default;
    explicit TextSlice(QString whole) : m_text(std::move(whole)), m_length(m_text.size()) {}

    // A slice of `part`, which must lie within `source`.
    static TextSlice within(const QString &source, QStringView part)
    {
        TextSlice slice;
        slice.m_text = source;
        slice.m_start = part.isEmpty() ? 0 : part.data() - source.constData();
        slice.m_length = part.size();
        Q_ASSERT(slice.m_start >= 0 && slice.m_start + slice.m_length <= source.size());
        return slice.compacted();
    }
    // A slice of `part`, which must lie within this slice.
    TextSlice sub(QStringView part) const { return within(m_text, part); }

    QStringView view() const { return QStringView(m_text).sliced(m_start, m_length); }
    QString toString() const { return view().toString(); }
    bool isEmpty() const { return m_length == 0; }

private:
    TextSlice compacted() const
    {
        if (m_length * 4 >= m_text.size())
            return *this;
        return TextSlice(view().toString());
    }

    QString m_text;
    qsizetype m_start = 0;
    qsizetype m_length = 0;
};
