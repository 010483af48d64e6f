#pragma once
// A writer of Chromium SQL caches in their real form, as the browser keeps them: the index text,
// shards with the browser's tables, rows with their key hash and checksums, each shard held open
// under exclusive locking for the writer's life (a rollback journal, or a WAL that is never
// checkpointed, so that the newest rows lie only in "-wal").
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct sqlite3;

namespace fixtures {

struct SqlEntry {
  std::string key;   // "1/0/_dk_site site url"
  std::string head;  // the pickled response info; empty: NULL (still being written)
  std::vector<std::pair<std::int64_t, std::string>> blobs;  // (start, bytes), in any order
  std::int64_t bodyEnd = -1;                                // -1: the end of the last blob
  std::int64_t lastUsed = 13300000000000000;                // microseconds since 1601
  bool doomed = false;
};

// The stored body of a simple whole response cut into pieces of at most pieceSize bytes.
std::vector<std::pair<std::int64_t, std::string>> SqlPieces(const std::string& body, std::size_t pieceSize = 500000);

std::int32_t SqlKeyHash(const std::string& key);
std::int32_t SqlCheckSum(const std::string& bytes, std::int32_t keyHash);

class SqlCacheWriter {
 public:
  // Makes folder with an index and shards empty of rows.
  SqlCacheWriter(std::string folder, unsigned shards = 3, bool wal = false);
  ~SqlCacheWriter();
  SqlCacheWriter(const SqlCacheWriter&) = delete;
  SqlCacheWriter& operator=(const SqlCacheWriter&) = delete;

  // Stores the entry, in place of any of the same key (which keeps its res_id, as the browser
  // does when it overwrites one); returns the shard and the res_id.
  std::pair<unsigned, std::int64_t> Put(const SqlEntry& entry);
  // The same for many entries at once, in one transaction per shard (to write large caches fast).
  std::vector<std::pair<unsigned, std::int64_t>> PutMany(const std::vector<SqlEntry>& entries);
  void Remove(const std::string& key);
  // Changes one byte of the entry's last body piece and nothing else (its checksum stays).
  void SpoilBody(const std::string& key);
  // Runs sql on a shard (to damage rows behind the checksums' back).
  void Exec(unsigned shard, const std::string& sql);
  unsigned ShardOf(const std::string& key) const;
  const std::string& Folder() const { return folder_; }
  // Closes the shards as the browser does at exit (a WAL is then checkpointed into its shard).
  void Close();
  // Starts the cache again, empty, in its folder (for a folder replaced behind the writer's back).
  void Recreate();

 private:
  void Create();
  // Put's rows, inside a transaction the caller holds on the entry's shard.
  std::pair<unsigned, std::int64_t> PutRows(const SqlEntry& entry);
  unsigned shardCount_;
  std::string folder_;
  bool wal_;
  std::vector<sqlite3*> shards_;
};

}  // namespace fixtures
