#include "base/SafeFileName.h"

#include <algorithm>
#include <array>

#ifdef _WIN32
#include <windows.h>

#include "base/WidePath.h"
#else
#include <unistd.h>
#endif

namespace {

// Most file systems allow names of 255 bytes; a clash number "_N" may be added later, so names are
// kept this much shorter than the limit.
constexpr std::size_t kUsualLimitBytes = 255;
constexpr std::size_t kClashNumberBytes = 15;
// The prefix of this program's temporary files, which a start removes as a crash's leftovers.
constexpr std::string_view kTemporaryPrefix = ".tavrin-copy-";
constexpr std::size_t kMaxKeptExtensionBytes = 16;

bool IsUnsafe(unsigned char c) {
  if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') return true;
#ifdef _WIN32
  return c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' || c == '*';
#else
  return false;
#endif
}

// Cuts UTF-8 text to at most bytes bytes without splitting a character.
std::string_view CutText(std::string_view text, std::size_t bytes) {
  if (text.size() <= bytes) return text;
  std::size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

#ifdef _WIN32
// The length of the valid UTF-8 sequence at text[i] of a character Windows can name a file with;
// 0 for a byte that starts none. Such a byte would become U+FFFD on the way to the wide file
// functions, and the copy would not be found again under the name given.
std::size_t Utf8SequenceAt(std::string_view text, std::size_t i) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  const std::size_t length = b0 >= 0xF0 && b0 <= 0xF4 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC2 && b0 < 0xE0 ? 2 : 0;
  if (length == 0 || i + length > text.size()) return 0;
  char32_t value = b0 & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    value = (value << 6) | (b & 0x3F);
  }
  const char32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
  if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  return length;
}
#endif

#ifdef _WIN32
// Windows takes a name whose part before the first dot, trailing spaces dropped, is a device name
// for that device ("con .jpg" is the console), whatever its case.
bool IsReservedDeviceName(std::string_view name) {
  std::string stem(name.substr(0, name.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  // The superscript digits count as digits here ("COM\u00B9").
  static const std::array<const char*, 30> kReserved = {
      "CON",         "PRN",         "AUX",         "NUL",         "COM1",        "COM2",       "COM3",   "COM4",
      "COM5",        "COM6",        "COM7",        "COM8",        "COM9",        "LPT1",       "LPT2",   "LPT3",
      "LPT4",        "LPT5",        "LPT6",        "LPT7",        "LPT8",        "LPT9",       "CONIN$", "CONOUT$",
      "COM\xC2\xB9", "COM\xC2\xB2", "COM\xC2\xB3", "LPT\xC2\xB9", "LPT\xC2\xB2", "LPT\xC2\xB3"};
  return std::any_of(kReserved.begin(), kReserved.end(), [&](const char* r) { return stem == r; });
}
#endif

bool StartsLikeATemporary(std::string_view name) {
  if (name.size() < kTemporaryPrefix.size()) return false;
  for (std::size_t i = 0; i < kTemporaryPrefix.size(); ++i) {
    const char c = name[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != kTemporaryPrefix[i]) return false;
  }
  return true;
}

}  // namespace

std::string SafeFileName(std::string_view name, std::size_t limitBytes) {
  std::string safe;
  safe.reserve(name.size());
#ifdef _WIN32
  // Every character is kept but those no Windows file name can hold.
  for (std::size_t i = 0; i < name.size();) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c < 0x80) {
      safe += IsUnsafe(c) ? '_' : name[i];
      ++i;
    } else if (const std::size_t length = Utf8SequenceAt(name, i)) {
      safe.append(name.substr(i, length));
      i += length;
    } else {
      safe += '_';
      ++i;
    }
  }
  // Windows drops trailing dots and spaces, which would change the name the copy lands under.
  while (!safe.empty() && (safe.back() == '.' || safe.back() == ' ')) safe.back() = '_';
  if (IsReservedDeviceName(safe)) safe.insert(safe.begin(), '_');
#else
  for (char c : name) safe += IsUnsafe(static_cast<unsigned char>(c)) ? '_' : c;
#endif
  if (safe.empty() || safe == "." || safe == "..") return "_";
  // A picture named like a temporary file would be removed by the next start.
  if (StartsLikeATemporary(safe)) safe.front() = '_';
  if (limitBytes == 0 || limitBytes > kUsualLimitBytes) limitBytes = kUsualLimitBytes;
  const std::size_t maxBytes = limitBytes - std::min(kClashNumberBytes, limitBytes / 4);
  if (safe.size() > maxBytes) {
    const std::size_t dot = safe.rfind('.');
    const bool keepExtension = dot != std::string::npos && dot > 0 && safe.size() - dot <= kMaxKeptExtensionBytes &&
                               safe.size() - dot < maxBytes / 2;
    const std::string extension = keepExtension ? safe.substr(dot) : std::string();
    const std::string_view stem = keepExtension ? std::string_view(safe).substr(0, dot) : std::string_view(safe);
    safe = std::string(CutText(stem, maxBytes - extension.size())) + extension;
  }
  return safe;
}

std::size_t FileNameLimitIn(const std::string& folder) {
#ifdef _WIN32
  // The limit is in UTF-16 units; a UTF-8 name of that many bytes has no more units than bytes.
  const std::wstring path = WidePath(folder.empty() ? std::string(".") : folder);
  std::wstring root(path.size() + 2, L'\0');
  if (!GetVolumePathNameW(path.c_str(), root.data(), static_cast<DWORD>(root.size()))) return 0;
  DWORD component = 0;
  if (!GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, &component, nullptr, nullptr, 0)) return 0;
  return component;
#else
  const long limit = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
  return limit > 0 ? static_cast<std::size_t>(limit) : 0;
#endif
}
