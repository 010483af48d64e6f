#pragma once
// The names a destination folder holds, kept current by the system's change notifications, so that
// the search for a free numbered name asks the disk only about names that may be taken. Where the
// folder is not watched (no notifications, a network file system, not Linux) nothing is known and
// every name may be taken.
#include <mutex>
#include <string>
#include <string_view>

class DestinationFolderNames;

// What is known of one destination folder's names while it is held; one copy at a time holds it.
class KnownDestinationNames {
 public:
  explicit KnownDestinationNames(const std::string& folder);
  KnownDestinationNames(const KnownDestinationNames&) = delete;
  KnownDestinationNames& operator=(const KnownDestinationNames&) = delete;

  // False only when the folder surely holds no file of this name, nor one that a file system
  // without case would take for it, nor a numbered copy of it.
  bool MayBeTaken(std::string_view name) const;

 private:
  std::unique_lock<std::mutex> lock_;
  const DestinationFolderNames* known_ = nullptr;
};
