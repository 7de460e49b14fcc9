#pragma once
#include <QFont>
#include <QStringList>

// The program's text font: the design font first, then fallbacks that a
// Linux desktop has, all of which render Simplified Chinese. Kept in a header
// of its own so that the start-up benchmark's yardstick window picks its
// font exactly as the program does, without linking the program.
inline QFont programFont(QFont font)
{
    font.setFamilies({QStringLiteral("微软雅黑"), QStringLiteral("Microsoft YaHei"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")});
    font.setPointSizeF(9);
    return font;
}
