#pragma once
// One Firefox cache2 folder: every complete entry in "entries/" with a whole 200 (or 206)
// response, under a virtual path of its entry file.
#include <string>

#include "cache/CacheFormat.h"
#include "cache/browser/BrowserCacheSource.h"
#include "cache/browser/FolderListing.h"

// True when folder is a cache2 folder (it has an "entries" folder).
bool IsFirefoxCacheFolder(const std::string& folder);

// The descriptor of this format: "firefox", read by FirefoxCacheSource.
extern const CacheFormat kFirefoxCacheFormat;

class FirefoxCacheSource : public BrowserCacheSource {
 public:
  explicit FirefoxCacheSource(std::string folder, FolderWatchOptions watch = {});
  const FolderListing& Files() const { return *files_; }

 protected:
  void Walk(std::vector<Listed>& out, WalkStatistics& statistics) override;
  bool Refresh() override { return files_->Refresh(); }
  bool Update(Listing& listing, WalkStatistics& statistics) override;

 private:
  // Brings the listing's item for the file numbered file up to date: parses the entry when what was
  // parsed is not from the file as it is now.
  void Look(std::uint32_t file, Listed& item, WalkStatistics& statistics);
  ParsedEntryRef Parse(const std::string& id, const std::string& path);

  std::shared_ptr<FolderListing> files_;  // of "entries", with the entries parsed from them
  LookedFiles looked_;
};
