#pragma once
#include <QString>

#include <functional>

// Writes the window's status line, the caption of Label8(1). Every handler
// that reports on the status line is given one.
using StatusLine = std::function<void(const QString &)>;

// Status line texts written by more than one handler.
namespace StatusTexts {

// Play, copy, rebuild and download need a looked-up song.
inline const QString LookUpFirst = QStringLiteral("请先进行解析..");
// An address of the wrong kind, in either address field.
inline const QString WrongAddress = QStringLiteral("地址错误,请您检查 ..");

} // namespace StatusTexts
