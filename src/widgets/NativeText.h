#pragma once
// The core keeps text and paths in the system's 8-bit encoding (the ANSI code page on Windows,
// UTF-8 elsewhere); Qt keeps them as QString.
#include <QString>
#include <string>

inline std::string ToNative(const QString& text) { return text.toLocal8Bit().toStdString(); }
inline QString FromNative(const std::string& text) {
  return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}
