#include "base/FolderPath.h"

#include <algorithm>

#include "base/PathText.h"
#include "base/WidePath.h"

#ifdef _WIN32
#include <direct.h>
#include <windows.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#endif

namespace {

bool IsBlank(const std::string& text) { return text.find_first_not_of(' ') == std::string::npos; }

#ifndef _WIN32

// "*" matches any run of characters, "?" any one character; nothing else is special, so names
// such as "photo[1].jpg" match themselves.
bool WildcardMatch(const char* pattern, const char* name) {
  const char* starPattern = nullptr;
  const char* starName = nullptr;
  while (*name) {
    if (*pattern == '*') {
      starPattern = ++pattern;
      starName = name;
    } else if (*pattern == '?' || *pattern == *name) {
      ++pattern;
      ++name;
    } else if (starPattern) {
      pattern = starPattern;
      name = ++starName;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == 0;
}

bool IsFolder(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool SearchPosix(const std::string& path) {
  const std::size_t cut = path.rfind('/');
  const std::string folder = cut == std::string::npos ? "." : cut == 0 ? "/" : path.substr(0, cut);
  const std::string last = cut == std::string::npos ? path : path.substr(cut + 1);
  // A folder's listing always yields its own self entry.
  if (last.empty()) return IsFolder(folder);
  if (last.find_first_of("*?") == std::string::npos) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 || stat(path.c_str(), &info) == 0;
  }
  DIR* dir = opendir(folder.c_str());
  if (!dir) return false;
  bool found = false;
  while (const dirent* entry = readdir(dir)) {
    if (WildcardMatch(last.c_str(), entry->d_name)) {
      found = true;
      break;
    }
  }
  closedir(dir);
  return found;
}

bool CreateFolder(const std::string& prefix) { return mkdir(prefix.c_str(), 0777) == 0; }

#else

bool SearchWindows(std::string path) {
  if (!path.empty() && path.back() == '\\') path += '*';
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(WidePath(path).c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  do {
    if (!(data.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))) {
      found = true;
      break;
    }
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return found;
}

bool CreateFolder(const std::string& prefix) { return CreateDirectoryW(WidePath(prefix).c_str(), nullptr) != 0; }

#endif

}  // namespace

bool PathExists(const std::string& path) {
  if (IsBlank(path)) return false;
  try {
#ifdef _WIN32
    return SearchWindows(path);
#else
    return SearchPosix(path);
#endif
  } catch (...) {
    return false;
  }
}

bool CreateFolderPath(std::string path) {
  try {
    std::string w = std::move(path);
#ifdef _WIN32
    // Windows takes "/" as a separator too: a folder typed with it is created level by level.
    std::replace(w.begin(), w.end(), '/', kPathSeparator);
#endif
    if (w.empty() || w.back() != kPathSeparator) w += kPathSeparator;
    std::size_t p = 1;
    do {
      const std::size_t q = w.find(kPathSeparator, p - 1) + 1;  // 1-based position of the separator
      const std::string prefix = w.substr(0, q);
      if (!PathExists(prefix) && !CreateFolder(prefix)) return false;
      p = q + 1;
    } while (p < w.size());
    return true;
  } catch (...) {
    return false;
  }
}
