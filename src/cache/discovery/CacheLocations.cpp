#include "cache/discovery/CacheLocations.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <system_error>

#include "base/RegularFile.h"
#include "base/WidePath.h"

namespace fs = std::filesystem;

namespace {

struct ChromiumFamily {
  const char* browser;
  const char* linuxCache;   // below the cache home
  const char* snapName;     // ~/snap/<name>/common/.cache/<linuxCache>
  const char* flatpakId;    // ~/.var/app/<id>/cache/<linuxCache>
  const char* windowsData;  // below %LOCALAPPDATA%
};

const ChromiumFamily kChromiumFamily[] = {
    {"Chromium", "chromium", "chromium", "org.chromium.Chromium", "Chromium/User Data"},
    {"Google Chrome", "google-chrome", nullptr, "com.google.Chrome", "Google/Chrome/User Data"},
    {"Google Chrome Beta", "google-chrome-beta", nullptr, nullptr, "Google/Chrome Beta/User Data"},
    {"Google Chrome Dev", "google-chrome-unstable", nullptr, nullptr, "Google/Chrome SxS/User Data"},
    {"Brave", "BraveSoftware/Brave-Browser", "brave", "com.brave.Browser", "BraveSoftware/Brave-Browser/User Data"},
    {"Microsoft Edge", "microsoft-edge", nullptr, "com.microsoft.Edge", "Microsoft/Edge/User Data"},
    {"Microsoft Edge Beta", "microsoft-edge-beta", nullptr, nullptr, "Microsoft/Edge Beta/User Data"},
    {"Microsoft Edge Dev", "microsoft-edge-dev", nullptr, nullptr, "Microsoft/Edge Dev/User Data"},
    {"Vivaldi", "vivaldi", nullptr, "com.vivaldi.Vivaldi", "Vivaldi/User Data"},
    {"Opera", "opera", "opera", "com.opera.Opera", "Opera Software/Opera Stable"},
};

bool IsFolder(const fs::path& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

// The folders in root, sorted by name, so that every search lists them in the same order.
std::vector<fs::path> SortedSubfolders(const fs::path& root) {
  std::vector<fs::path> children;
  std::error_code error;
  for (fs::directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
    if (IsFolder(it->path())) children.push_back(it->path());
  }
  std::sort(children.begin(), children.end());
  return children;
}

// Every profile of a Chromium-family data or cache folder ("Default", "Profile 1", ...), and the
// folder itself for browsers (Opera) that keep their one profile there.
void AddChromiumCaches(const std::string& browser, const fs::path& root, std::vector<CandidateFolder>& out) {
  if (!IsFolder(root)) return;
  std::vector<fs::path> profiles = SortedSubfolders(root);
  profiles.insert(profiles.begin(), root);
  for (const fs::path& profile : profiles) {
    const fs::path cache = profile / "Cache" / "Cache_Data";
    std::error_code error;
    if (IsFolder(cache)) {
      out.push_back({browser, CorePathText(cache)});
    } else if (fs::is_regular_file(profile / "Cache" / "index", error)) {
      out.push_back({browser, CorePathText(profile / "Cache")});  // older releases: the files right in "Cache"
    }
  }
}

// Firefox profile folders named in a profiles.ini, relative paths resolved against its folder.
std::vector<fs::path> FirefoxIniProfiles(const fs::path& iniFolder) {
  std::vector<fs::path> profiles;
  // Read through the non-blocking open: a FIFO under this name must not hang discovery. A real
  // profiles.ini is a few hundred bytes; more than a megabyte of it is not one.
  std::string text;
  if (std::FILE* file = OpenRegularFileStream(CorePathText(iniFolder / "profiles.ini"))) {
    char chunk[4096];
    for (std::size_t got; text.size() < (1u << 20) && (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
      text.append(chunk, got);
    }
    std::fclose(file);
  }
  std::istringstream ini(text);
  std::string line;
  bool relative = true;
  std::string path;
  auto flush = [&] {
    if (!path.empty()) profiles.push_back(relative ? iniFolder / FileSystemPath(path) : FileSystemPath(path));
    path.clear();
    relative = true;
  };
  while (std::getline(ini, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == '[') flush();
    if (line.rfind("Path=", 0) == 0) path = line.substr(5);
    if (line == "IsRelative=0") relative = false;
  }
  flush();
  return profiles;
}

void AddFirefoxCaches(const fs::path& cacheRoot, const std::vector<fs::path>& iniFolders,
                      std::vector<CandidateFolder>& out) {
  // Profiles in the default root keep their cache below the cache root, in a folder named like
  // the profile; profiles elsewhere keep it inside the profile folder.
  for (const fs::path& profile : SortedSubfolders(cacheRoot)) {
    if (IsFolder(profile / "cache2")) out.push_back({"Firefox", CorePathText(profile / "cache2")});
  }
  for (const fs::path& iniFolder : iniFolders) {
    for (const fs::path& profile : FirefoxIniProfiles(iniFolder)) {
      if (IsFolder(profile / "cache2")) out.push_back({"Firefox", CorePathText(profile / "cache2")});
    }
  }
}

}  // namespace

UserRoots CurrentUserRoots() {
  UserRoots roots;
  roots.home = EnvironmentText("HOME");
  roots.cacheHome = EnvironmentText("XDG_CACHE_HOME");
  if (roots.cacheHome.empty() && !roots.home.empty()) roots.cacheHome = roots.home + "/.cache";
  roots.configHome = EnvironmentText("XDG_CONFIG_HOME");
  if (roots.configHome.empty() && !roots.home.empty()) roots.configHome = roots.home + "/.config";
  roots.localAppData = EnvironmentText("LOCALAPPDATA");
  roots.appData = EnvironmentText("APPDATA");
  return roots;
}

std::vector<CandidateFolder> CandidateCacheFolders() { return CandidateCacheFolders(CurrentUserRoots()); }

std::vector<CandidateFolder> CandidateCacheFolders(const UserRoots& roots) {
  std::vector<CandidateFolder> out;
  if (!roots.localAppData.empty()) {
    const fs::path local = FileSystemPath(roots.localAppData);
    for (const ChromiumFamily& b : kChromiumFamily) AddChromiumCaches(b.browser, local / b.windowsData, out);
    AddFirefoxCaches(local / "Mozilla" / "Firefox" / "Profiles", {}, out);
    if (!roots.appData.empty()) {
      for (const fs::path& profile : FirefoxIniProfiles(FileSystemPath(roots.appData) / "Mozilla" / "Firefox")) {
        if (IsFolder(profile / "cache2")) out.push_back({"Firefox", CorePathText(profile / "cache2")});
      }
    }
  }
  if (!roots.cacheHome.empty()) {
    const fs::path cache = FileSystemPath(roots.cacheHome), home = FileSystemPath(roots.home);
    for (const ChromiumFamily& b : kChromiumFamily) {
      AddChromiumCaches(b.browser, cache / b.linuxCache, out);
      if (!roots.home.empty() && b.snapName) {
        AddChromiumCaches(b.browser, home / "snap" / b.snapName / "common" / ".cache" / b.linuxCache, out);
      }
      if (!roots.home.empty() && b.flatpakId) {
        AddChromiumCaches(b.browser, home / ".var" / "app" / b.flatpakId / "cache" / b.linuxCache, out);
      }
    }
    std::vector<fs::path> iniFolders;
    if (!roots.home.empty()) iniFolders.push_back(home / ".mozilla" / "firefox");
    if (!roots.configHome.empty()) iniFolders.push_back(FileSystemPath(roots.configHome) / "mozilla" / "firefox");
    AddFirefoxCaches(cache / "mozilla" / "firefox", iniFolders, out);
    if (!roots.home.empty()) {
      AddFirefoxCaches(home / "snap" / "firefox" / "common" / ".cache" / "mozilla" / "firefox",
                       {home / "snap" / "firefox" / "common" / ".mozilla" / "firefox"}, out);
      AddFirefoxCaches(home / ".var" / "app" / "org.mozilla.firefox" / "cache" / "mozilla" / "firefox",
                       {home / ".var" / "app" / "org.mozilla.firefox" / ".mozilla" / "firefox"}, out);
    }
  }
  // One folder can be reached twice (a profile listed in profiles.ini and found by the scan).
  std::set<std::string> seen;
  std::vector<CandidateFolder> unique;
  for (CandidateFolder& c : out) {
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(FileSystemPath(c.folder), error);
    if (seen.insert(error ? c.folder : CorePathText(canonical)).second) unique.push_back(std::move(c));
  }
  return unique;
}
