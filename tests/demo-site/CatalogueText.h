#pragma once
// The local community's catalogue holds its texts as UTF-8 standard strings;
// the tests compare them with what the program shows as QString.
#include <QString>

#include <string>
#include <string_view>

inline QString q(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

inline QString q(const std::string &text)
{
    return QString::fromStdString(text);
}
