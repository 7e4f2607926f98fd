#pragma once
// The one crossing between the core's UTF-8 strings and QString.

#include <QString>
#include <string>

namespace vantrel::ui {

inline QString qs(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}
inline QString qs(const char* utf8) {
    return QString::fromUtf8(utf8);
}
inline std::string u8(const QString& text) {
    return text.toUtf8().toStdString();
}

}  // namespace vantrel::ui
