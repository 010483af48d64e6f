#pragma once
// Text where the core meets the system. The core keeps paths and text in UTF-8 on Windows and in
// the locale's bytes elsewhere, where nothing here converts them. On Windows the file functions are
// called in their wide forms with the UTF-16 of those paths, and text the system keeps in the ANSI
// code page is converted where it is read or written.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#ifdef _WIN32
// UTF-16 of UTF-8 text; a byte that belongs to no valid sequence becomes U+FFFD.
std::wstring WideFromUtf8(std::string_view text);
// UTF-8 of UTF-16 text; an unpaired surrogate becomes U+FFFD.
std::string Utf8FromWide(std::wstring_view text);
// A path for the wide file functions: its UTF-16, and when it is too long for MAX_PATH, the long
// form of its full path ("\\?\C:\..." or "\\?\UNC\server\share\..."), which they take up to about
// 32,000 characters.
std::wstring WidePath(std::string_view path);
#endif

// The value of an environment variable (a folder, say) as the core's text; empty when it is unset.
std::string EnvironmentText(const char* name);

// A std::filesystem path of the core's path text and back; on Windows through UTF-16, elsewhere the
// bytes unchanged.
std::filesystem::path FileSystemPath(std::string_view path);
std::string CorePathText(const std::filesystem::path& path);

// Text in the ANSI code page (a file the system or an older version wrote) as the core's text.
// Unchanged elsewhere.
std::string Utf8FromAnsi(std::string_view text);
// The core's text in the ANSI code page; nullopt when it holds a character the code page lacks.
// Nothing is replaced by a look-alike ("best fit"): a path so changed would name another folder.
// Unchanged elsewhere.
std::optional<std::string> AnsiFromUtf8(std::string_view text);
