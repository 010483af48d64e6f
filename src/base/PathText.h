#pragma once
// Text helpers for paths: the platform separator and case folding.
#include <string>
#include <string_view>

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// True for the characters that separate path components here ("\" and "/" on Windows, "/" elsewhere).
inline bool IsPathSeparator(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == '/';
#endif
}

// Lower case of UTF-8 text (letters outside ASCII too); bytes that are not valid UTF-8 are kept.
std::string LowerCaseText(std::string_view text);

// Lower case of ASCII letters only; used for keys whose case-insensitive comparison must be cheap.
std::string LowerCaseAscii(std::string_view text);

// Joins folder and name with one separator, adding none when the folder already ends in one.
std::string JoinPath(std::string_view folder, std::string_view name);
