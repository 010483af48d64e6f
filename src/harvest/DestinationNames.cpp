#include "harvest/DestinationNames.h"

#ifdef __linux__
#include <dirent.h>

#include <algorithm>
#include <list>
#include <memory>
#include <unordered_set>
#include <utility>

#include "base/ChangeWatch.h"

namespace {

// A name without the "_<digits>" in front of its extension: what every numbered copy of a name
// has in common with it. Letters are folded to lower case and every other byte beyond ASCII to
// one value, so that names a file system without case (a FAT or NTFS drive) takes for one also
// share their stem.
std::string StemOf(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  const std::size_t end = dot == std::string_view::npos ? name.size() : dot;
  std::size_t digits = end;
  while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
  std::string stem(name);
  if (digits < end && digits > 0 && name[digits - 1] == '_') stem.erase(digits - 1, end - digits + 1);
  for (char& c : stem) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (static_cast<unsigned char>(c) >= 0x80) c = static_cast<char>(0x80);
  }
  return stem;
}

}  // namespace

// The stem of every name the folder had when it was listed and of every name a notification named
// since (some may be gone again): a name whose stem is outside it is free. inotify queues an event
// before the call that made the change returns, so a change made before Update is known to it.
class DestinationFolderNames {
 public:
  explicit DestinationFolderNames(std::string folder) : folder_(std::move(folder)), watch_(WatchFolder(folder_)) {}

  // Brings the names up to date; false when they are not known now.
  bool Update() {
    FolderChanges changes = watch_->TakeChanges();
    if (!watch_->Watching()) {
      listed_ = false;
      return false;
    }
    if (changes.relist || !listed_) return listed_ = List();
    for (const std::string& name : changes.names) stems_.insert(StemOf(name));
    return true;
  }

  bool MayHoldStem(const std::string& stem) const { return stems_.count(stem) != 0; }

 private:
  // Lists the folder after the watch was armed, so that no later change is missed.
  bool List() {
    stems_.clear();
    DIR* dir = opendir(folder_.c_str());
    if (!dir) return false;
    while (const dirent* item = readdir(dir)) stems_.insert(StemOf(item->d_name));
    closedir(dir);
    return true;
  }

  std::string folder_;
  std::unique_ptr<FolderWatch> watch_;
  std::unordered_set<std::string> stems_;
  bool listed_ = false;
};

namespace {

// The destination folders copied into lately, each with its names; a few, as a capture copies into
// one folder.
class DestinationFolders {
 public:
  // The names of folder, up to date; null when they are not known.
  const DestinationFolderNames* NamesOf(const std::string& folder) {
    auto found = std::find_if(folders_.begin(), folders_.end(), [&](const auto& item) { return item.first == folder; });
    if (found == folders_.end()) {
      if (folders_.size() >= kFolders) folders_.pop_back();
      folders_.emplace_front(folder, std::make_unique<DestinationFolderNames>(folder));
    } else if (found != folders_.begin()) {
      folders_.splice(folders_.begin(), folders_, found);
    }
    DestinationFolderNames& names = *folders_.front().second;
    return names.Update() ? &names : nullptr;
  }

  std::mutex mutex;

 private:
  static constexpr std::size_t kFolders = 4;
  std::list<std::pair<std::string, std::unique_ptr<DestinationFolderNames>>> folders_;
};

DestinationFolders& Destinations() {
  static DestinationFolders* const folders = new DestinationFolders;  // used until the very end
  return *folders;
}

}  // namespace

KnownDestinationNames::KnownDestinationNames(const std::string& folder)
    : lock_(Destinations().mutex), known_(Destinations().NamesOf(folder)) {}

bool KnownDestinationNames::MayBeTaken(std::string_view name) const {
  return !known_ || known_->MayHoldStem(StemOf(name));
}

#else

// Windows reports changes asynchronously and could miss one made just before a look: every name is
// looked up on the disk there.
class DestinationFolderNames {};

KnownDestinationNames::KnownDestinationNames(const std::string&) {}

bool KnownDestinationNames::MayBeTaken(std::string_view) const { return true; }

#endif
