#pragma once
// What the folder watches of both systems share: the set of changed names one call gathers, the
// watch of a system without notifications, and the base of a watch by notifications, which starts
// over with a listing whenever it cannot tell what changed.
#include <string>
#include <unordered_set>

#include "base/ChangeWatch.h"

namespace folder_watch {

// Gathers the changed names of one call and tells when there are too many to be worth keeping.
class NameSet {
 public:
  explicit NameSet(std::size_t most) : most_(most) {}
  // False once more than the most names were added.
  bool Add(std::string name) {
    if (overflowed_) return false;
    names_.insert(std::move(name));
    overflowed_ = names_.size() > most_;
    if (overflowed_) names_.clear();
    return !overflowed_;
  }
  bool Overflowed() const { return overflowed_; }
  // The names gathered, as the changes of one call.
  FolderChanges Take() {
    FolderChanges changes;
    changes.relist = false;
    changes.names.assign(std::make_move_iterator(names_.begin()), std::make_move_iterator(names_.end()));
    return changes;
  }

 private:
  std::size_t most_;
  bool overflowed_ = false;
  std::unordered_set<std::string> names_;
};

// Where notifications are unavailable: every call asks for a listing.
class ListingOnly : public FolderWatch {
 public:
  FolderChanges TakeChanges() override { return {}; }
  bool Watching() const override { return false; }
};

// A watch by the system's notifications, armed on the folder at the path.
class NotifiedWatch : public FolderWatch {
 protected:
  NotifiedWatch(std::string folder, FolderWatchOptions options) : folder_(std::move(folder)), options_(options) {}
  // Drops what is queued, watches the folder at the path anew and asks for a listing.
  FolderChanges Relist();
  virtual void Arm() = 0;
  virtual void Disarm() = 0;

  std::string folder_;
  FolderWatchOptions options_;
};

// The system's own watch of folder: inotify on Linux, ReadDirectoryChangesW on Windows, listings
// only elsewhere.
std::unique_ptr<FolderWatch> WatchBySystem(const std::string& folder, FolderWatchOptions options);

}  // namespace folder_watch
