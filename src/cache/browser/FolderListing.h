#pragma once
// The regular files directly in one folder with their stamps, kept current by change
// notifications: listed whole at first and whenever the notifications cannot tell what changed,
// otherwise only the names they report are looked at again. What it holds after Refresh is what a
// listing of the folder would give at that moment.
//
// Beside each file it keeps the entry a source parsed from it, so that a source with a file per
// entry keeps one record per entry file: the file's name, its stamp now, and what was parsed.
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/ChangeWatch.h"
#include "cache/browser/EntryMemo.h"
#include "cache/browser/FileStamp.h"

class FolderListing : public EntryLookup {
 public:
  // idPrefix: what an entry's id puts before the name of its file (the path of the folder below
  // the cache folder, with a separator), for the entry lookup.
  explicit FolderListing(std::string folder, FolderWatchOptions options = {}, std::string idPrefix = {});

  // Brings the listing up to date. False only when nothing in the folder changed since the last
  // call; the first call is always true.
  bool Refresh();
  // What the last Refresh changed: true when every file must be looked at again (the folder was
  // listed whole, or the files were numbered anew); otherwise the numbers of the files that came,
  // changed or went.
  bool ChangedWhole() const { return changedWhole_; }
  const std::vector<std::uint32_t>& Changed() const { return changed_; }

  // The files by number, 0 to Count() - 1; the numbers stay until a Refresh says ChangedWhole. A
  // file that went keeps its number, without a stamp, until then.
  std::uint32_t Count() const { return static_cast<std::uint32_t>(files_.size()); }
  std::string_view Name(std::uint32_t file) const { return names_.At(files_[file].name, files_[file].length); }
  // Null when the folder holds no such file now.
  const FileStamp* Stamp(std::uint32_t file) const { return files_[file].present ? &files_[file].stamp : nullptr; }
  std::optional<std::uint32_t> Number(std::string_view name) const;

  // The entry parsed from a file, kept until the file changes or goes; null when none. Keep drops
  // any failure mark.
  const ParsedEntryRef& Parsed(std::uint32_t file) const { return files_[file].parsed; }
  bool Failed(std::uint32_t file) const {
    std::lock_guard lock(mutex_);  // marked by the entry lookup, from another thread
    return files_[file].failed;
  }
  void Keep(std::uint32_t file, ParsedEntryRef parsed);

  ParsedEntryRef Listed(std::string_view id) override;
  void MarkFailed(std::string_view id, const ParsedEntry* parsed) override;
  void Replace(std::string_view id, const ParsedEntry* parsed, ParsedEntryRef replacement) override;
  std::uint64_t Failures() override;

 private:
  struct File {
    FileStamp stamp;
    ParsedEntryRef parsed;
    std::uint32_t name = 0;  // where in names_
    std::uint16_t length = 0;
    // Changed by this listing's owner only, under the lock (they share a byte).
    bool present : 1 = true;
    bool seen : 1 = false;  // met by the whole listing under way
    bool failed = false;    // marked by the entry lookup
  };
  // Names are kept one after another in large blocks, each name whole in one block, and found by
  // the block's number and the place in it.
  class Names {
   public:
    std::uint32_t Add(std::string_view name);
    std::string_view At(std::uint32_t at, std::size_t length) const {
      return {blocks_[at / kBlock].get() + at % kBlock, length};
    }

   private:
    static constexpr std::size_t kBlock = 64 * 1024;
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::size_t used_ = kBlock;  // in the last block
  };

  void ListWhole();
  void Update(const std::string& name);
  std::optional<std::uint32_t> Add(std::string_view name, const FileStamp& stamp);
  void Gone(File& file);
  void Compact();
  // The slot of name in index_: where its number is, or the empty slot where it would go.
  std::size_t Slot(std::string_view name) const;
  void Index(std::uint32_t file);
  void Reindex(std::size_t slots);

  std::string folder_;
  std::string idPrefix_;
  std::unique_ptr<FolderWatch> watch_;
  mutable std::mutex mutex_;  // held while the files change, and by the entry lookup
  // A deque keeps each file where it is as more come.
  std::deque<File> files_;
  Names names_;
  std::vector<std::uint32_t> index_;  // open addressing by name: a file's number + 1; 0 is free
  std::size_t absent_ = 0;
  bool changedWhole_ = true;
  std::vector<std::uint32_t> changed_;
  std::uint64_t failures_ = 0;
  // Entries replaced by the entry lookup, put in place by the next Refresh: the listing's owner
  // reads what was parsed without the lock.
  struct Replacement {
    std::uint32_t file;
    ParsedEntryRef replaced, replacement;
  };
  std::vector<Replacement> replacements_;
};
