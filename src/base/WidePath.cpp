#include "base/WidePath.h"

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#endif

#ifdef _WIN32
namespace {

std::wstring WideFrom(UINT codePage, std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::wstring out(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), size, out.data(), length);
  return out;
}

// Paths at least this long take the long form: CreateDirectoryW allows MAX_PATH less room for an
// 8.3 name, the other functions MAX_PATH.
constexpr std::size_t kLongPathUnits = MAX_PATH - 12;

}  // namespace

std::wstring WideFromUtf8(std::string_view text) { return WideFrom(CP_UTF8, text); }

std::string Utf8FromWide(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), length, nullptr, nullptr);
  return out;
}

std::wstring WidePath(std::string_view path) {
  std::wstring wide = WideFromUtf8(path);
  if (wide.size() < kLongPathUnits || wide.rfind(L"\\\\?\\", 0) == 0 || wide.rfind(L"\\\\.\\", 0) == 0) return wide;
  // The long form takes no relative parts, no "/" and no "." or "..": the full path has none.
  const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return wide;
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return wide;
  full.resize(length);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + full;
  return wide;
}

std::string EnvironmentText(const char* name) {
  const std::wstring wideName = WideFromUtf8(name);
  const DWORD needed = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (needed == 0) return {};
  std::wstring value(needed, L'\0');
  const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value.data(), needed);
  if (length == 0 || length >= needed) return {};
  value.resize(length);
  return Utf8FromWide(value);
}

std::filesystem::path FileSystemPath(std::string_view path) { return std::filesystem::path(WideFromUtf8(path)); }

std::string CorePathText(const std::filesystem::path& path) { return Utf8FromWide(path.native()); }

std::string Utf8FromAnsi(std::string_view text) { return Utf8FromWide(WideFrom(CP_ACP, text)); }

std::optional<std::string> AnsiFromUtf8(std::string_view text) {
  if (text.empty()) return std::string();
  const std::wstring wide = WideFromUtf8(text);
  const int size = static_cast<int>(wide.size());
  BOOL lossy = FALSE;
  const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr, 0, nullptr, &lossy);
  if (length <= 0 || lossy) return std::nullopt;
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, out.data(), length, nullptr, &lossy);
  // A byte that was no UTF-8 came back as U+FFFD, which the code page lacks; the text as given
  // must also be what converts back.
  if (lossy || Utf8FromAnsi(out) != text) return std::nullopt;
  return out;
}

#else

std::string EnvironmentText(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::filesystem::path FileSystemPath(std::string_view path) { return std::filesystem::path(std::string(path)); }

std::string CorePathText(const std::filesystem::path& path) { return path.native(); }

std::string Utf8FromAnsi(std::string_view text) { return std::string(text); }

std::optional<std::string> AnsiFromUtf8(std::string_view text) { return std::string(text); }

#endif
