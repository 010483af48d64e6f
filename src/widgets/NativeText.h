#pragma once
// The core keeps text and paths in UTF-8 on Windows and in the locale's bytes elsewhere (UTF-8 on
// any current system, and what file names are made of there); Qt keeps them as QString.
#include <QString>
#include <string>

#ifdef _WIN32
inline std::string ToNative(const QString& text) { return text.toUtf8().toStdString(); }
inline QString FromNative(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
#else
inline std::string ToNative(const QString& text) { return text.toLocal8Bit().toStdString(); }
inline QString FromNative(const std::string& text) {
  return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}
#endif
