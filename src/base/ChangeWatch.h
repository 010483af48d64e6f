#pragma once
// Change notifications for the files directly in one folder, so that a reader that keeps a
// listing of the folder learns what changed without listing it again. The system's notifications
// are used where they can be trusted (inotify on Linux, ReadDirectoryChangesW on Windows); whenever
// they cannot tell what changed (none on this system or file system, the watch limit reached, the
// queue overflowed, the watch removed, the folder replaced), the watch says so and the reader lists
// the folder as it would without one.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

struct FolderChanges {
  // True when the changes are not known: the folder must be listed anew. The watch is armed again
  // before it says so, so that a listing made after the call misses no later change.
  bool relist = true;
  // When relist is false: the names of the files directly in the folder that were created,
  // written, changed, renamed or removed since the last call, each once, in no particular order.
  std::vector<std::string> names;
};

class FolderWatch {
 public:
  virtual ~FolderWatch() = default;
  // What changed since the last call. The first call always asks for a listing.
  virtual FolderChanges TakeChanges() = 0;
  // True while the system's notifications watch the folder.
  virtual bool Watching() const = 0;
};

struct FolderWatchOptions {
  // More distinct changed names than this between two calls count as an overflow: listing the
  // folder is then as cheap as looking at each of them.
  std::size_t mostNames = 16384;
  // False: never use the system's notifications; every call asks for a listing.
  bool notify = true;
};

// A watch of folder. Always returns one; where notifications are unavailable it asks for a listing
// at every call and tries again to watch.
std::unique_ptr<FolderWatch> WatchFolder(const std::string& folder, FolderWatchOptions options = {});

// Process-wide: false makes every watch created afterwards ask for a listing at every call, as on
// a system without notifications (for tests of that fallback, and as a way out of a file system
// that notifies wrongly). Set by the environment variable TAVRIN_NO_CHANGE_WATCH at start.
void SetFolderWatchesEnabled(bool enabled);
bool FolderWatchesEnabled();
