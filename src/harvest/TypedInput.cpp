#include "harvest/TypedInput.h"

#include <cstdlib>

#include "base/PathText.h"

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

namespace {

bool IsPattern(std::string_view item) { return item.find_first_of("*?") != std::string_view::npos; }

std::string ExpandItem(std::string_view item) {
  const std::size_t first = item.find_first_not_of(' ');
  if (first == std::string_view::npos) return std::string(item);
  const std::size_t last = item.find_last_not_of(' ');
  const std::string_view bare = item.substr(first, last - first + 1);
  // A lone "." stays: it would become "*.", which matches files without an extension.
  if (IsPattern(bare) || bare == ".") return std::string(item);
  return (bare.front() == '.' ? "*" : "*.") + std::string(bare);
}

}  // namespace

std::string ExpandExtensionItems(std::string_view typed) {
  std::string expanded;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = typed.find(';', start);
    expanded += ExpandItem(typed.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return expanded;
    expanded += ';';
    start = end + 1;
  }
}

std::string ExpandHomeFolder(std::string_view typed) {
#ifdef _WIN32
  return std::string(typed);
#else
  if (typed.size() < 2 || typed[0] != '~' || !IsPathSeparator(typed[1])) return std::string(typed);
  std::string home;
  if (const char* variable = std::getenv("HOME"); variable && *variable) {
    home = variable;
  } else if (const passwd* account = getpwuid(getuid()); account && account->pw_dir) {
    home = account->pw_dir;
  } else {
    return std::string(typed);
  }
  // "~/x" is the home folder joined with "x": one separator between them.
  while (home.size() > 1 && IsPathSeparator(home.back())) home.pop_back();
  return JoinPath(home, typed.substr(2));
#endif
}
