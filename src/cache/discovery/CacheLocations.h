#pragma once
// Where browsers keep their disk caches: the folders worth looking at for the current user. Only
// folders that exist are returned; what format each one holds is decided by the caller.
#include <string>
#include <vector>

struct CandidateFolder {
  std::string browser;  // "Chromium", "Google Chrome", "Firefox", ...
  std::string folder;
};

// Looks in the standard per-user places of this platform: every profile of Chromium, Google
// Chrome, Brave, Edge, Vivaldi, Opera and Firefox, native, snap and flatpak installs on Linux
// (XDG_CACHE_HOME and XDG_CONFIG_HOME honoured), %LOCALAPPDATA% on Windows. The order is stable.
std::vector<CandidateFolder> CandidateCacheFolders();

// The same, below explicit roots; for tests and for the search above.
struct UserRoots {
  std::string home;          // $HOME (Linux)
  std::string cacheHome;     // $XDG_CACHE_HOME or ~/.cache
  std::string configHome;    // $XDG_CONFIG_HOME or ~/.config
  std::string localAppData;  // %LOCALAPPDATA% (Windows)
  std::string appData;       // %APPDATA% (Windows)
};
UserRoots CurrentUserRoots();
std::vector<CandidateFolder> CandidateCacheFolders(const UserRoots& roots);
