#pragma once
// The common part of the browser cache sources: the virtual files behind the entries' local paths
// (registered for the cache folder while the source lives, served from the source's parsed
// entries), and the cursor over one walk's listing.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/VirtualFiles.h"
#include "cache/UrlCacheSource.h"
#include "cache/browser/EntryMemo.h"

// Counts of one walk, for callers that report them and for tests.
struct WalkStatistics {
  std::uint64_t files = 0;   // entry files met
  std::uint64_t parsed = 0;  // of them, read because they were new or changed
  std::uint64_t listed = 0;  // entries yielded
  std::uint64_t unread = 0;  // entries that could not be read now: the next walk tries them again
  bool reused = false;       // nothing had changed: the last walk's listing was yielded again
};

// The entries of one listing that a whole enumeration under a settled context left unsettled (by
// index). While the listing is yielded again, entries are only ever settled, never unsettled, so a
// later enumeration under the same context need look at these alone.
struct UnsettledItems {
  std::uint64_t generation = 0;  // of the listing; 0: none kept
  std::uint64_t context = 0;
  std::vector<std::uint32_t> indices;
};

class BrowserCacheSource : public UrlCacheSource {
 public:
  ~BrowserCacheSource() override;
  // Yields the listed entries of the cache folder as it is now: walks it when anything it depends
  // on may have changed since the last walk, and yields the last walk's listing again otherwise.
  std::unique_ptr<CacheEntryCursor> Open() final;
  const std::string& Folder() const { return folder_; }
  const WalkStatistics& LastWalk() const { return statistics_; }

 protected:
  explicit BrowserCacheSource(std::string folder);

  struct Listed {
    ParsedEntryRef parsed;         // null: nothing listed here
    std::uint64_t lastAccess = 0;  // FILETIME value
  };
  // The parsed entries behind the virtual files; set once, by the source's constructor.
  void ServeEntries(std::shared_ptr<EntryLookup> entries);
  // Lists the entries of the folder, parsing what the source does not hold yet, into out.
  virtual void Walk(std::vector<Listed>& out, WalkStatistics& statistics) = 0;
  // Brings what the source keeps of its folder up to date before a walk; false only when nothing
  // that Walk reads changed since the last call, so that its listing would come out the same.
  virtual bool Refresh() { return true; }
  // Brings the last walk's listing up to date with what the last Refresh found changed, looking at
  // the changed entries alone, and adjusts statistics (parsed counts this update); false, with
  // listing and statistics untouched, when it cannot tell what changed: the folder is then walked.
  virtual bool Update(std::vector<Listed>& /*listing*/, WalkStatistics& /*statistics*/) { return false; }

 private:
  std::string folder_;
  std::shared_ptr<EntryLookup> entries_;
  virtual_files::Registration registration_;
  WalkStatistics statistics_;
  // The last walk's, brought up to date in place while no cursor holds it.
  std::shared_ptr<std::vector<Listed>> listing_;
  std::uint64_t listingGeneration_ = 0;
  std::shared_ptr<UnsettledItems> unsettled_ = std::make_shared<UnsettledItems>();
  std::uint64_t failuresSeen_ = 0;  // the entries' failures when it was made
};
