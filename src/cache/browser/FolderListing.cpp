#include "cache/browser/FolderListing.h"

#include "base/PathText.h"

FolderListing::FolderListing(std::string folder, FolderWatchOptions options)
    : folder_(std::move(folder)), watch_(WatchFolder(folder_, options)) {}

bool FolderListing::Refresh() {
  // The changes are taken before anything is looked at: whatever changes after a look is then
  // reported by a later call.
  FolderChanges changes = watch_->TakeChanges();
  if (changes.relist) {
    ++wholeListings_;
    files_.clear();
    at_.clear();
    absent_ = 0;
    ListFolderFiles(folder_, [&](std::string_view name, const FileStamp& stamp) {
      at_.emplace(std::string(name), files_.size());
      files_.push_back({std::string(name), stamp, true});
    });
    return true;
  }
  for (const std::string& name : changes.names) Update(name);
  if (absent_ > 64 && absent_ > files_.size() / 2) Compact();
  return !changes.names.empty();
}

void FolderListing::Update(const std::string& name) {
  const auto stamp = StampOfPath(JoinPath(folder_, name));
  const auto found = at_.find(name);
  if (found == at_.end()) {
    if (!stamp) return;
    at_.emplace(name, files_.size());
    files_.push_back({name, *stamp, true});
    return;
  }
  File& file = files_[found->second];
  if (stamp) {
    if (!file.present) --absent_;
    file.stamp = *stamp;
    file.present = true;
  } else if (file.present) {
    file.present = false;
    ++absent_;
  }
}

void FolderListing::Compact() {
  std::vector<File> kept;
  kept.reserve(files_.size() - absent_);
  at_.clear();
  for (File& file : files_) {
    if (!file.present) continue;
    at_.emplace(file.name, kept.size());
    kept.push_back(std::move(file));
  }
  files_ = std::move(kept);
  absent_ = 0;
}

void FolderListing::ForEach(const std::function<void(std::string_view, const FileStamp&)>& visit) const {
  for (const File& file : files_) {
    if (file.present) visit(file.name, file.stamp);
  }
}

const FileStamp* FolderListing::Find(std::string_view name) const {
  const auto found = at_.find(std::string(name));
  if (found == at_.end() || !files_[found->second].present) return nullptr;
  return &files_[found->second].stamp;
}
