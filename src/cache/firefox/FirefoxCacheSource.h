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
  const FolderListing& Files() const { return files_; }

 protected:
  void Walk(std::vector<Listed>& out, WalkStatistics& statistics) override;
  bool Refresh() override { return files_.Refresh(); }

 private:
  std::shared_ptr<const ParsedEntry> Parse(const std::string& id, const std::string& path);

  FolderListing files_;  // of "entries"
};
