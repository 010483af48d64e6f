#include "base/SafeFileName.h"

#include <algorithm>
#include <array>

#ifdef _WIN32
#include <windows.h>

#include <vector>
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

// Cuts text to at most bytes bytes without splitting a character: of the ANSI code page on Windows
// (whose double-byte characters start with a lead byte), of UTF-8 elsewhere.
std::string_view CutText(std::string_view text, std::size_t bytes) {
  if (text.size() <= bytes) return text;
#ifdef _WIN32
  std::size_t end = 0;
  while (end < bytes) {
    const std::size_t step = IsDBCSLeadByte(static_cast<BYTE>(text[end])) ? 2 : 1;
    if (end + step > bytes) break;
    end += step;
  }
#else
  std::size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
#endif
  return text.substr(0, end);
}

#ifdef _WIN32
// Windows takes a name whose part before the first dot, trailing spaces dropped, is a device name
// for that device ("con .jpg" is the console), whatever its case.
bool IsReservedDeviceName(std::string_view name) {
  std::string stem(name.substr(0, name.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  static const std::array<const char*, 24> kReserved = {
      "CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",   "COM8",
      "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9", "CONIN$", "CONOUT$"};
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
  for (char c : name) safe += IsUnsafe(static_cast<unsigned char>(c)) ? '_' : c;
#ifdef _WIN32
  // Windows drops trailing dots and spaces, which would change the name the copy lands under.
  while (!safe.empty() && (safe.back() == '.' || safe.back() == ' ')) safe.back() = '_';
  if (IsReservedDeviceName(safe)) safe.insert(safe.begin(), '_');
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
  // The limit is in UTF-16 units; taken as bytes it is never too long.
  std::vector<char> root(folder.size() + 2);
  const std::string path = folder.empty() ? std::string(".") : folder;
  if (!GetVolumePathNameA(path.c_str(), root.data(), static_cast<DWORD>(root.size()))) return 0;
  DWORD component = 0;
  if (!GetVolumeInformationA(root.data(), nullptr, 0, nullptr, &component, nullptr, nullptr, 0)) return 0;
  return component;
#else
  const long limit = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
  return limit > 0 ? static_cast<std::size_t>(limit) : 0;
#endif
}
