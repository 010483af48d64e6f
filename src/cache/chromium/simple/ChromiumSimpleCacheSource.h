#pragma once
// One Chromium-family HTTP cache folder in the "simple" format (Cache/Cache_Data): every complete
// entry with a whole 200 (or 206) response, under a virtual path of the entry's "_0" file.
#include <cstdint>
#include <optional>
#include <string>

#include "cache/CacheFormat.h"
#include "cache/browser/BrowserCacheSource.h"
#include "cache/browser/FolderListing.h"
#include "cache/chromium/simple/SimpleCacheFormat.h"

// True when folder holds a simple cache (as ChromiumFormatOfFolder tells it).
bool IsChromiumSimpleCacheFolder(const std::string& folder);

// The descriptor of this format: "chromium", read by ChromiumSimpleCacheSource.
extern const CacheFormat kChromiumSimpleCacheFormat;

class ChromiumSimpleCacheSource : public BrowserCacheSource {
 public:
  explicit ChromiumSimpleCacheSource(std::string folder, FolderWatchOptions watch = {});
  const FolderListing& Files() const { return *files_; }

 protected:
  void Walk(std::vector<Listed>& out, WalkStatistics& statistics) override;
  bool Refresh() override;
  bool Update(Listing& listing, WalkStatistics& statistics) override;

 private:
  // Brings the listing's item for the file numbered file up to date: parses the entry when what was
  // parsed is not from the files as they are now. sparse: the number of its "_s" file, if any.
  void Look(std::uint32_t file, std::optional<std::uint32_t> sparse, Listed& item, WalkStatistics& statistics);
  ParsedEntryRef Parse(const std::string& name, bool hasSparse);
  // Reads the index again when its file changed; true when it did.
  bool RefreshIndex();
  std::uint64_t IndexLastUsed(std::uint64_t hash) const;

  std::shared_ptr<FolderListing> files_;  // with the entries parsed from them
  LookedFiles looked_;
  bool indexChanged_ = true;  // by the last Refresh
  bool otherFormat_ = false;  // the last walk found another format's index
  std::optional<FileStamp> indexStamp_;
  SimpleIndexTimes lastUsed_;  // from the index, microseconds since 1601
};
