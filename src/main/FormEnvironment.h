#pragma once
// What the main window takes from its surroundings: where the program lies, the user's folders,
// the caches to harvest. Tests give their own; the program takes the application's.
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "cache/UrlCacheSource.h"
#include "cache/discovery/Discovery.h"

class QWidget;

struct FormEnvironment {
  QString executableFolder;
  bool installed = false;  // an installed copy keeps its files per user
  QString userDataFolder;
  QString picturesFolder;
  int versionMajor = 0;
  int versionMinor = 0;
  int versionRevision = 0;
  QString author;
  QString authorAddress;
  std::function<std::vector<DiscoveredCache>()> discoverCaches;
  // The URL cache that the passes walk; installed while the window loads.
  std::function<std::shared_ptr<UrlCacheSource>()> makeUrlCache;

  // The running program's: its folder, the standard user folders, the build's version and
  // credit, and the caches that discovery finds.
  static FormEnvironment FromApplication();
};
