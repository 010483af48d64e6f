#pragma once
// One Chromium-family HTTP cache folder in the "SQL" format (Cache/Cache_Data holding the SQLite
// shards "sqldb0" ...): every complete entry with a whole 200 (or a complete 206) response, read
// through lock-free snapshots so that the browser is never disturbed, under a virtual path named
// after the entry's shard and row.
#include <memory>
#include <string>
#include <vector>

#include "cache/CacheFormat.h"
#include "cache/browser/BrowserCacheSource.h"
#include "cache/browser/FolderListing.h"
#include "cache/chromium/sql/SqlEntries.h"

// True when folder holds a SQL cache (as ChromiumFormatOfFolder tells it).
bool IsChromiumSqlCacheFolder(const std::string& folder);

// The descriptor of this format: "chromium-sql", read by ChromiumSqlCacheSource.
extern const CacheFormat kChromiumSqlCacheFormat;

class ChromiumSqlCacheSource : public BrowserCacheSource {
 public:
  explicit ChromiumSqlCacheSource(std::string folder, FolderWatchOptions watch = {});
  // What could not be read at the last walk and why (a shard held by the browser, a table version
  // this build does not know, a shard that failed several reads in a row); else what every
  // browser cache source reports.
  OpeningProblem Problem() const override;

 protected:
  void Walk(std::vector<Listed>& out, WalkStatistics& statistics) override;
  bool Refresh() override;

 private:
  // The shards "sqldb0" ... as the folder holds them now, without a gap.
  unsigned ShardCount() const;
  void ReadShard(unsigned shard, WalkStatistics& statistics);

  FolderListing files_;
  std::shared_ptr<SqlEntries> entries_ = std::make_shared<SqlEntries>();
  std::shared_ptr<const std::string> privateFolder_;  // for the copies of WAL shards; made when needed
  struct ShardStatus {
    bool dirty = true;             // changed since it was last read
    bool retry = false;            // the last read could not take everything: read it again soon
    bool lasting = false;          // the problem is not one that the next read is likely to clear
    std::uint8_t failedReads = 0;  // in a row
    std::string problem;           // why the last read failed
  };
  std::vector<ShardStatus> status_;  // by shard; used by the walking thread only
  mutable std::mutex problemMutex_;
  OpeningProblem problem_;
};
