#include "base/ChangeWatch.h"

#include <atomic>
#include <cstdlib>

#include "base/FolderWatchParts.h"

namespace {

std::atomic<bool> g_enabled{std::getenv("TAVRIN_NO_CHANGE_WATCH") == nullptr};

}  // namespace

namespace folder_watch {

FolderChanges NotifiedWatch::Relist() {
  Disarm();
  if (FolderWatchesEnabled() && options_.notify) Arm();
  return {};
}

#if !defined(__linux__) && !defined(_WIN32)
std::unique_ptr<FolderWatch> WatchBySystem(const std::string&, FolderWatchOptions) {
  return std::make_unique<ListingOnly>();
}
#endif

}  // namespace folder_watch

std::unique_ptr<FolderWatch> WatchFolder(const std::string& folder, FolderWatchOptions options) {
  return folder_watch::WatchBySystem(folder, options);
}

void SetFolderWatchesEnabled(bool enabled) { g_enabled = enabled; }
bool FolderWatchesEnabled() { return g_enabled; }
