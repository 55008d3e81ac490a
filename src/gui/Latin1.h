// The bytes the engine hands the Qt window are Latin-1: one character a byte,
// as the receive panes show them.
#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace kestrel {

inline QString Latin1(std::string_view text) { return QString::fromLatin1(text.data(), qsizetype(text.size())); }
inline std::string Latin1(const QString& text) { return text.toLatin1().toStdString(); }

}  // namespace kestrel
