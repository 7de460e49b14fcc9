#include "core/lookup/TextOps.h"

namespace TextOps {

std::optional<QStringView> piece(QStringView text, QStringView marker, qsizetype n)
{
    if (text.isEmpty() || n < 0)
        return std::nullopt;
    if (marker.isEmpty())
        return n == 0 ? std::optional<QStringView>(text) : std::nullopt;

    // Skip the first n occurrences; the piece runs from there to the next one.
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const qsizetype found = text.indexOf(marker, start);
        if (found < 0)
            return std::nullopt;
        start = found + marker.size();
    }
    qsizetype end = text.indexOf(marker, start);
    if (end < 0)
        end = text.size();
    return text.sliced(start, end - start);
}

std::optional<QStringView> after(QStringView text, QStringView marker)
{
    return piece(text, marker, 1);
}

QStringView upto(QStringView text, QStringView marker)
{
    if (text.isEmpty())
        return {};
    const qsizetype found = marker.isEmpty() ? 0 : text.indexOf(marker);
    if (found < 0)
        return {};
    return text.first(found + 1);
}

QString remove(QStringView text, QStringView part)
{
    if (part.isEmpty())
        return text.toString();
    qsizetype found = text.indexOf(part);
    if (found < 0)
        return text.toString();
    QString result;
    result.reserve(text.size());
    qsizetype start = 0;
    do {
        result.append(text.sliced(start, found - start));
        start = found + part.size();
        found = text.indexOf(part, start);
    } while (found >= 0);
    result.append(text.sliced(start));
    return result;
}

QStringView trim(QStringView text)
{
    constexpr QChar blank = QLatin1Char(' ');
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == blank)
        ++begin;
    while (end > begin && text[end - 1] == blank)
        --end;
    return text.sliced(begin, end - begin);
}

} // namespace TextOps
