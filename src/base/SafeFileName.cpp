#include "base/SafeFileName.h"

#include <algorithm>
#include <array>

namespace {

// Longest name in bytes; most file systems allow 255, and a clash number may be added later.
constexpr std::size_t kMaxNameBytes = 240;
constexpr std::size_t kMaxKeptExtensionBytes = 16;

bool IsUnsafe(unsigned char c) {
  if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') return true;
#ifdef _WIN32
  return c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' || c == '*';
#else
  return false;
#endif
}

// Cuts text to at most bytes bytes without splitting a UTF-8 sequence.
std::string_view CutUtf8(std::string_view text, std::size_t bytes) {
  if (text.size() <= bytes) return text;
  std::size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

#ifdef _WIN32
bool IsReservedDeviceName(std::string_view name) {
  std::string stem(name.substr(0, name.find('.')));
  for (char& c : stem) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  static const std::array<const char*, 22> kReserved = {"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4",
                                                        "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3",
                                                        "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
  return std::any_of(kReserved.begin(), kReserved.end(), [&](const char* r) { return stem == r; });
}
#endif

}  // namespace

std::string SafeFileName(std::string_view name) {
  std::string safe;
  safe.reserve(name.size());
  for (char c : name) safe += IsUnsafe(static_cast<unsigned char>(c)) ? '_' : c;
#ifdef _WIN32
  // Windows drops trailing dots and spaces, which would change the name the copy lands under.
  while (!safe.empty() && (safe.back() == '.' || safe.back() == ' ')) safe.back() = '_';
  if (IsReservedDeviceName(safe)) safe.insert(safe.begin(), '_');
#endif
  if (safe.empty() || safe == "." || safe == "..") return "_";
  if (safe.size() > kMaxNameBytes) {
    const std::size_t dot = safe.rfind('.');
    const bool keepExtension = dot != std::string::npos && dot > 0 && safe.size() - dot <= kMaxKeptExtensionBytes;
    const std::string extension = keepExtension ? safe.substr(dot) : std::string();
    const std::string_view stem = keepExtension ? std::string_view(safe).substr(0, dot) : std::string_view(safe);
    safe = std::string(CutUtf8(stem, kMaxNameBytes - extension.size())) + extension;
  }
  return safe;
}
