#pragma once
// What a SQL cache source keeps of its shards' rows between walks, and reads of them: every row
// validated once per version (key hash, head checksum, head present and not truncated, body rows
// contiguous and complete) and remembered by (shard, res_id, check_sum, body_end), so that an
// unchanged row is not read again and an overwritten one is; the copy streams a body out of the
// shard's current snapshot, each piece checked against what was validated and its checksum.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "cache/browser/EntryMemo.h"
#include "cache/chromium/sql/SqlCacheFormat.h"
#include "cache/chromium/sql/SqlSnapshot.h"

// The snapshot a shard's copies read from: replaced by each walk that reads the shard, shared
// with the copies under way.
class ShardView {
 public:
  std::shared_ptr<const ShardSnapshot> Current() const {
    std::lock_guard lock(mutex_);
    return current_;
  }
  void Set(std::shared_ptr<const ShardSnapshot> snapshot) {
    std::lock_guard lock(mutex_);
    current_ = std::move(snapshot);
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const ShardSnapshot> current_;
};

// One row as a walk last found it.
struct KeptRow {
  std::int32_t checkSum = 0;
  std::int32_t keyHash = 0;
  std::int64_t bodyEnd = 0;
  std::uint64_t lastUsed = 0;  // FILETIME value
  ParsedEntryRef parsed;       // null: the row holds no entry to list
  std::uint8_t tornReads = 0;  // reads in a row that found this version torn
  bool failed = false;         // failed a check at copy time: out until the row changes
};

struct ShardRows {
  std::map<std::int64_t, KeptRow> rows;  // by res_id
  // False while the last read of the shard failed: its rows are kept, to be reused when it can be
  // read again, but not listed.
  bool readable = true;
  std::shared_ptr<ShardView> view = std::make_shared<ShardView>();
};

// Counts of one read of a shard.
struct ShardReadCounts {
  std::uint64_t rows = 0, parsed = 0, unread = 0;
  bool unknownVersion = false;  // the shard's tables are of a version this build does not read
};

// Reads the rows of one shard from snapshot into next, reusing what kept holds of rows that did
// not change. A row found torn is read again while fewer than a few reads found it so, and
// whenever the shard changed (a torn read comes from the browser writing). False, with reason
// set, when the snapshot cannot be read now (nothing of it is then taken).
bool ReadShardRows(const ShardSnapshot& snapshot, unsigned shard, bool shardChanged, const std::string& folder,
                   const ShardRows& kept, const std::shared_ptr<ShardView>& view, std::map<std::int64_t, KeptRow>& next,
                   ShardReadCounts& counts, std::string& reason);

// The entry id of a row ("sqldb<shard>_<res_id>"), and back.
std::string SqlEntryId(unsigned shard, std::int64_t resId);
bool ParseSqlEntryId(std::string_view id, unsigned& shard, std::int64_t& resId);

// The rows of every shard, for the source's walks and for the copies' look-ups.
class SqlEntries : public EntryLookup {
 public:
  std::mutex& Mutex() { return mutex_; }
  std::vector<ShardRows>& Shards() { return shards_; }  // under Mutex()

  ParsedEntryRef Listed(std::string_view id) override;
  void MarkFailed(std::string_view id, const ParsedEntry* parsed) override;
  void Replace(std::string_view id, const ParsedEntry* parsed, ParsedEntryRef replacement) override;
  std::uint64_t Failures() override;

 private:
  KeptRow* Find(std::string_view id);  // under mutex_
  std::mutex mutex_;
  std::vector<ShardRows> shards_;
  std::uint64_t failures_ = 0;
};
