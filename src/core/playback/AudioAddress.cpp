#include "core/playback/AudioAddress.h"

#include <QStringList>

namespace {

// The media host numbers sit this far above the number in the address piece.
constexpr int HostNumberOffset = 108;

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// A non-negative decimal number as text: whole digits (no leading zeros, "0"
// for zero) and fraction digits (no trailing zeros, possibly empty).
struct Decimal {
    QString whole = QStringLiteral("0");
    QString fraction;
    bool isZero() const { return whole == u"0" && fraction.isEmpty(); }
};

QString withoutLeadingZeros(QString digits)
{
    qsizetype first = 0;
    while (first + 1 < digits.size() && digits.at(first) == u'0')
        ++first;
    digits.remove(0, first);
    return digits.isEmpty() ? QStringLiteral("0") : digits;
}

QString withoutTrailingZeros(QString digits)
{
    while (!digits.isEmpty() && digits.back() == u'0')
        digits.chop(1);
    return digits;
}

// a + b for whole digit strings.
QString addWhole(const QString &a, const QString &b)
{
    QString sum;
    int carry = 0;
    for (qsizetype i = 0; i < qMax(a.size(), b.size()) || carry; ++i) {
        const int da = i < a.size() ? a.at(a.size() - 1 - i).unicode() - u'0' : 0;
        const int db = i < b.size() ? b.at(b.size() - 1 - i).unicode() - u'0' : 0;
        const int digit = da + db + carry;
        sum.prepend(QChar(u'0' + digit % 10));
        carry = digit / 10;
    }
    return withoutLeadingZeros(sum);
}

// a - b for whole digit strings with a >= b.
QString subtractWhole(const QString &a, const QString &b)
{
    QString difference;
    int borrow = 0;
    for (qsizetype i = 0; i < a.size(); ++i) {
        const int da = a.at(a.size() - 1 - i).unicode() - u'0';
        const int db = i < b.size() ? b.at(b.size() - 1 - i).unicode() - u'0' : 0;
        int digit = da - db - borrow;
        borrow = digit < 0 ? 1 : 0;
        difference.prepend(QChar(u'0' + (digit + 10) % 10));
    }
    return withoutLeadingZeros(difference);
}

bool wholeLess(const QString &a, const QString &b)
{
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

// 1 - 0.fraction, for a fraction without trailing zeros that is not empty.
QString fractionComplement(const QString &fraction)
{
    QString complement;
    for (qsizetype i = 0; i < fraction.size(); ++i) {
        const int digit = fraction.at(i).unicode() - u'0';
        complement.append(QChar(u'0' + (i + 1 == fraction.size() ? 10 - digit : 9 - digit)));
    }
    return complement;
}

QString format(bool negative, const Decimal &value)
{
    if (value.isZero())
        return QStringLiteral("0");
    QString text = negative ? QStringLiteral("-") : QString();
    text += value.whole;
    if (!value.fraction.isEmpty())
        text += u'.' + value.fraction;
    return text;
}

struct Signed {
    bool negative = false;
    Decimal magnitude;
};

Signed readLeadingNumber(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && isBlank(text.at(i)))
        ++i;
    Signed number;
    if (i < text.size() && (text.at(i) == u'+' || text.at(i) == u'-'))
        number.negative = text.at(i++) == u'-';
    QString whole;
    QString fraction;
    bool seenPoint = false;
    for (; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (isDigit(c))
            (seenPoint ? fraction : whole).append(c);
        else if (c == u'.' && !seenPoint)
            seenPoint = true;
        else
            break;
    }
    number.magnitude.whole = withoutLeadingZeros(whole);
    number.magnitude.fraction = withoutTrailingZeros(fraction);
    return number;
}

} // namespace

namespace AudioAddress {

QString hostNumber(QStringView piece)
{
    QString kept = piece.toString();
    kept.remove(QChar(u'a'), Qt::CaseSensitive);
    const Signed number = readLeadingNumber(kept);
    const QString offset = QString::number(HostNumberOffset);
    const Decimal &value = number.magnitude;

    if (number.negative && !value.isZero()) // -(value + 108)
        return format(true, {addWhole(value.whole, offset), value.fraction});
    if (!wholeLess(value.whole, offset)) // value - 108, not negative
        return format(false, {subtractWhole(value.whole, offset), value.fraction});
    // -(108 - value): borrow one for a fraction
    if (value.fraction.isEmpty())
        return format(true, {subtractWhole(offset, value.whole), {}});
    return format(true, {subtractWhole(subtractWhole(offset, value.whole), QStringLiteral("1")),
                         fractionComplement(value.fraction)});
}

std::optional<QString> rebuild(const QString &musicUrl, const QString &workId, const QString &hostTail)
{
    const QStringList pieces = musicUrl.split(u'/', Qt::KeepEmptyParts);
    if (pieces.size() < 6)
        return std::nullopt;
    return QStringLiteral("http://a") + hostNumber(pieces.at(5)) + hostTail + QStringLiteral("/userdata/userwork/")
           + workId.right(3) + u'/' + workId + QStringLiteral(".mp3");
}

} // namespace AudioAddress
