#include "cache/browser/FolderListing.h"

#include <algorithm>
#include <cstring>

#include "base/PathText.h"

namespace {

// No file system has names this long; a longer one is not kept.
constexpr std::size_t kLongestName = 4096;

}  // namespace

std::uint32_t FolderListing::Names::Add(std::string_view name) {
  if (used_ + name.size() > kBlock) {
    blocks_.push_back(std::make_unique<char[]>(kBlock));
    used_ = 0;
  }
  std::memcpy(blocks_.back().get() + used_, name.data(), name.size());
  const auto at = static_cast<std::uint32_t>((blocks_.size() - 1) * kBlock + used_);
  used_ += name.size();
  return at;
}

FolderListing::FolderListing(std::string folder, FolderWatchOptions options, std::string idPrefix)
    : folder_(std::move(folder)), idPrefix_(std::move(idPrefix)), watch_(WatchFolder(folder_, options)) {}

bool FolderListing::Refresh() {
  changed_.clear();
  changedWhole_ = false;
  {
    std::lock_guard lock(mutex_);
    for (Replacement& replaced : replacements_) {
      if (replaced.file >= files_.size()) continue;
      File& file = files_[replaced.file];
      if (file.parsed.get() == replaced.replaced.get() && !file.failed) file.parsed = std::move(replaced.replacement);
    }
    replacements_.clear();
  }
  // The changes are taken before anything is looked at: whatever changes after a look is then
  // reported by a later call.
  FolderChanges changes = watch_->TakeChanges();
  if (changes.relist) {
    ListWhole();
    return true;
  }
  for (const std::string& name : changes.names) Update(name);
  if (absent_ > files_.size() / 4) Compact();
  return !changes.names.empty();
}

void FolderListing::ListWhole() {
  changedWhole_ = true;
  // Listed in place: the files met again keep their numbers and what was parsed from them.
  ListFolderFiles(folder_, [&](std::string_view name, const FileStamp& stamp) {
    const std::size_t slot = Slot(name);
    if (index_.empty() || index_[slot] == 0) {
      if (const auto number = Add(name, stamp)) {
        std::lock_guard lock(mutex_);
        files_[*number].seen = true;
      }
      return;
    }
    std::lock_guard lock(mutex_);
    File& file = files_[index_[slot] - 1];
    if (!file.present) --absent_;
    if (!file.present || !(file.stamp == stamp)) {
      file.parsed.reset();
      file.failed = false;
    }
    file.stamp = stamp;
    file.present = true;
    file.seen = true;
  });
  for (File& file : files_) {
    if (!file.seen) Gone(file);
    std::lock_guard lock(mutex_);
    file.seen = false;
  }
  if (absent_ > files_.size() / 4) Compact();
}

void FolderListing::Update(const std::string& name) {
  const auto stamp = StampOfPath(JoinPath(folder_, name));
  const std::size_t slot = Slot(name);
  if (index_.empty() || index_[slot] == 0) {
    if (stamp) Add(name, *stamp);
    return;
  }
  const std::uint32_t number = index_[slot] - 1;
  File& file = files_[number];
  if (stamp) {
    if (file.present && file.stamp == *stamp) return;
    std::lock_guard lock(mutex_);
    if (!file.present) --absent_;
    file.stamp = *stamp;
    file.present = true;
    file.parsed.reset();
    file.failed = false;
  } else {
    if (!file.present) return;
    Gone(file);
  }
  changed_.push_back(number);
}

std::optional<std::uint32_t> FolderListing::Add(std::string_view name, const FileStamp& stamp) {
  if (name.size() > kLongestName) return std::nullopt;
  std::lock_guard lock(mutex_);
  File file;
  file.stamp = stamp;
  file.name = names_.Add(name);
  file.length = static_cast<std::uint16_t>(name.size());
  files_.push_back(std::move(file));
  const auto number = static_cast<std::uint32_t>(files_.size() - 1);
  Index(number);
  changed_.push_back(number);
  return number;
}

void FolderListing::Gone(File& file) {
  std::lock_guard lock(mutex_);
  if (!file.present) return;
  file.present = false;
  file.parsed.reset();
  file.failed = false;
  ++absent_;
}

void FolderListing::Compact() {
  // Numbered anew: the files that stay, in their order, with their names in fresh blocks.
  std::lock_guard lock(mutex_);
  std::deque<File> kept;
  Names names;
  for (File& file : files_) {
    if (!file.present) continue;
    File& moved = kept.emplace_back(std::move(file));
    moved.name = names.Add(names_.At(moved.name, moved.length));
  }
  files_ = std::move(kept);
  names_ = std::move(names);
  absent_ = 0;
  Reindex(2 * files_.size());
  changedWhole_ = true;
  changed_.clear();
}

std::size_t FolderListing::Slot(std::string_view name) const {
  if (index_.empty()) return 0;
  const std::size_t mask = index_.size() - 1;
  for (std::size_t slot = std::hash<std::string_view>()(name) & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t at = index_[slot];
    if (at == 0 || Name(at - 1) == name) return slot;
  }
}

void FolderListing::Index(std::uint32_t file) {
  // Kept at most half full, so that a search meets a free slot soon.
  if (2 * files_.size() > index_.size()) Reindex(2 * files_.size());
  index_[Slot(Name(file))] = file + 1;
}

void FolderListing::Reindex(std::size_t slots) {
  std::size_t size = 64;
  while (size < slots) size *= 2;
  index_.assign(size, 0);
  const std::size_t mask = size - 1;
  for (std::uint32_t file = 0; file < files_.size(); ++file) {
    std::size_t slot = std::hash<std::string_view>()(Name(file)) & mask;
    while (index_[slot] != 0) slot = (slot + 1) & mask;
    index_[slot] = file + 1;
  }
}

std::optional<std::uint32_t> FolderListing::Number(std::string_view name) const {
  if (index_.empty()) return std::nullopt;
  const std::uint32_t at = index_[Slot(name)];
  if (at == 0) return std::nullopt;
  return at - 1;
}

void FolderListing::Keep(std::uint32_t file, ParsedEntryRef parsed) {
  std::lock_guard lock(mutex_);
  files_[file].parsed = std::move(parsed);
  files_[file].failed = false;
}

ParsedEntryRef FolderListing::Listed(std::string_view id) {
  if (!id.starts_with(idPrefix_)) return nullptr;
  std::lock_guard lock(mutex_);
  const auto number = Number(id.substr(idPrefix_.size()));
  if (!number) return nullptr;
  const File& file = files_[*number];
  if (!file.present || file.failed || !file.parsed || !file.parsed->listed) return nullptr;
  return file.parsed;
}

void FolderListing::MarkFailed(std::string_view id, const ParsedEntry* parsed) {
  if (!id.starts_with(idPrefix_)) return;
  std::lock_guard lock(mutex_);
  const auto number = Number(id.substr(idPrefix_.size()));
  if (!number) return;
  File& file = files_[*number];
  if (file.parsed.get() == parsed && !file.failed) {
    file.failed = true;
    ++failures_;
  }
}

void FolderListing::Replace(std::string_view id, const ParsedEntry* parsed, ParsedEntryRef replacement) {
  if (!id.starts_with(idPrefix_)) return;
  std::lock_guard lock(mutex_);
  const auto number = Number(id.substr(idPrefix_.size()));
  if (!number) return;
  const File& file = files_[*number];
  if (file.parsed.get() != parsed || file.failed) return;
  replacements_.push_back({*number, file.parsed, std::move(replacement)});
  ++failures_;
}

std::uint64_t FolderListing::Failures() {
  std::lock_guard lock(mutex_);
  return failures_;
}
