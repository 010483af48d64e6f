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
      const File& file = files_.emplace_back(File{std::string(name), stamp, true});
      at_.emplace(file.name, files_.size() - 1);
    });
    return true;
  }
  for (const std::string& name : changes.names) Update(name);
  if (absent_ > files_.size() / 4) Compact();
  return !changes.names.empty();
}

void FolderListing::Update(const std::string& name) {
  const auto stamp = StampOfPath(JoinPath(folder_, name));
  const auto found = at_.find(name);
  if (found == at_.end()) {
    if (!stamp) return;
    const File& file = files_.emplace_back(File{name, *stamp, true});
    at_.emplace(file.name, files_.size() - 1);
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
  std::deque<File> kept;
  at_.clear();
  for (File& file : files_) {
    if (!file.present) continue;
    const File& moved = kept.emplace_back(std::move(file));
    at_.emplace(moved.name, kept.size() - 1);
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
  const auto found = at_.find(name);
  if (found == at_.end() || !files_[found->second].present) return nullptr;
  return &files_[found->second].stamp;
}
