// Conversions between the core's UTF-8 byte strings and Qt's strings. Every
// text crosses the Qt line through these two functions.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace app::ui {

inline QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string S(const QString& text) {
  return text.toUtf8().toStdString();
}

}  // namespace app::ui
