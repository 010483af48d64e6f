#pragma once
// The regular files directly in one folder with their stamps, kept current by change
// notifications: listed whole at first and whenever the notifications cannot tell what changed,
// otherwise only the names they report are looked at again. What it holds after Refresh is what a
// listing of the folder would give at that moment.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "base/ChangeWatch.h"
#include "cache/browser/FileStamp.h"

class FolderListing {
 public:
  explicit FolderListing(std::string folder, FolderWatchOptions options = {});

  // Brings the listing up to date. False only when nothing in the folder changed since the last
  // call; the first call is always true.
  bool Refresh();
  // Every file with its stamp, in a stable order: the last whole listing's, later arrivals after.
  void ForEach(const std::function<void(std::string_view name, const FileStamp&)>& visit) const;
  // The stamp of name, or null when the folder holds no such file now.
  const FileStamp* Find(std::string_view name) const;

  // How often the folder was listed whole; and whether notifications watch it now.
  std::uint64_t WholeListings() const { return wholeListings_; }
  bool Watching() const { return watch_->Watching(); }

 private:
  struct File {
    std::string name;
    FileStamp stamp;
    bool present = true;
  };
  void Update(const std::string& name);
  void Compact();

  std::string folder_;
  std::unique_ptr<FolderWatch> watch_;
  // A deque keeps each name where it is, so the index can key by views of the names.
  std::deque<File> files_;
  std::unordered_map<std::string_view, std::size_t> at_;  // by name: the index into files_
  std::size_t absent_ = 0;
  std::uint64_t wholeListings_ = 0;
};
