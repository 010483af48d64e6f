#pragma once
// One Chromium-family HTTP cache folder in the "blockfile" format (the default of Chrome and Edge
// on Windows): every clean, complete entry with a whole 200 (or a complete sparse 206) response,
// under a virtual path named after the entry's address.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cache/CacheFormat.h"
#include "cache/browser/BrowserCacheSource.h"
#include "cache/browser/FolderListing.h"
#include "cache/chromium/blockfile/BlockfileEntryCheck.h"
#include "cache/chromium/blockfile/BlockfileReader.h"

// True when folder holds a blockfile cache: its "index" starts with the index magic c3 ca 03 c1.
bool IsChromiumBlockfileFolder(const std::string& folder);

// The descriptor of this format: "blockfile", read by BlockfileCacheSource.
extern const CacheFormat kChromiumBlockfileFormat;

class BlockfileCacheSource : public BrowserCacheSource {
 public:
  explicit BlockfileCacheSource(std::string folder, FolderWatchOptions watch = {});
  const FolderListing& Files() const { return files_; }

 protected:
  void Walk(std::vector<Listed>& out, WalkStatistics& statistics) override;
  bool Refresh() override;

 private:
  void WalkEntries(std::vector<Listed>& out, WalkStatistics& statistics);
  using Children = std::vector<std::optional<blockfile::EntryView>>;
  // The sparse children that the parent's stream 2 says exist, by child number.
  Children FindChildren(blockfile::Reader& reader, const blockfile::EntryView& parent);
  // What the entry holds, its key and streams read anew through reader; null when it cannot be read
  // as it stands now (changed meanwhile, damaged, or a file missing), so that the next walk tries again.
  ParsedEntryRef Parse(blockfile::Reader& reader, const blockfile::EntryView& walked, const Children& children,
                       std::vector<blockfile::EntryPin> pins, const StampSet& stamps, const std::string& id);
  // Adds the body pieces of a complete sparse resource of total bytes; false when it is not complete.
  bool AddSparsePieces(blockfile::Reader& reader, const blockfile::EntryView& parent, const Children& children,
                       std::uint64_t total, ParsedEntry& parsed,
                       std::vector<std::pair<std::string, FileStamp>>& separateFiles);
  // Adds a piece of length bytes from the start of place; false when a separate file is gone.
  bool AddPiece(const blockfile::StreamPlace& place, std::uint64_t length, ParsedEntry& parsed,
                std::vector<std::pair<std::string, FileStamp>>& separateFiles);

  std::shared_ptr<EntryMemo> memo_ = std::make_shared<EntryMemo>();  // by the entry's address
  FolderListing files_;  // the index, the block files and the separate files
  std::optional<std::vector<std::uint8_t>> indexHeader_;
};
