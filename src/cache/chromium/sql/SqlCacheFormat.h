#pragma once
// The pieces of Chromium's SQL disk cache that need no database to read: the index text, the
// shard files' names and header, the key hash and the checksums, and the rules that tell whether
// an entry's body rows hold its whole body.
//
// On disk, a SQL cache folder holds "index" (the text "SQLCache", "Truncate" or "Wal", the shard
// count in decimal, maybe a trial group's name) and the shards "sqldb0" ... "sqldbN-1", ordinary
// SQLite databases beside their "-journal" (rollback variant: empty between transactions) or
// "-wal" (WAL variant: the newest pages). Every shard has the same tables:
//   resources(res_id, last_used, hints, body_end, bytes_usage, doomed, check_sum, cache_key_hash,
//             cache_key, head)   one row per entry; head is the pickled response info (as the
//                                simple format's stream 0), NULL while the entry is written
//   blobs(blob_id, res_id, start, end, check_sum, blob)   the body in pieces at their offsets
//   meta(key, value)             "version" 8
// cache_key_hash is SuperFastHash(cache_key) and each check_sum CRC-32(bytes || big-endian
// cache_key_hash), all three kept as signed 32-bit numbers; last_used is microseconds since 1601.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cache/browser/ByteReading.h"
#include "cache/browser/HttpResponse.h"

namespace sqlcache {

inline constexpr int kSchemaVersion = 8;  // the only version whose tables are read
inline constexpr std::size_t kDatabaseHeaderSize = 100;
inline constexpr char kDatabaseMagic[] = "SQLite format 3";  // and a NUL

// "sqldb<K>"; and the shard a file of the folder belongs to ("sqldbK", "sqldbK-journal",
// "sqldbK-wal"), empty for other names.
std::string ShardFileName(unsigned shard);
std::optional<unsigned> ShardOfFileName(std::string_view name);

// True when a database header (its first 100 bytes) says the file is in WAL mode.
bool HeaderSaysWal(Bytes header);

std::int32_t KeyHash(std::string_view key);
std::int32_t CheckSum(Bytes data, std::int32_t keyHash);

struct BlobRow {
  std::int64_t start = 0;
  std::int64_t end = 0;  // exclusive
  std::int32_t checkSum = 0;
  std::int64_t length = 0;  // of the stored bytes
};

// The body an entry's rows hold: the pieces that make it, in order, clipped to it.
struct BodyCoverage {
  enum class Verdict {
    Whole,    // pieces hold the whole body, storedLength bytes
    Partial,  // a range entry that holds only part of its resource
    Torn,     // the rows break a rule (a gap, a piece of the wrong length, an end that does not
              // match): read while the browser wrote, or damaged
  };
  Verdict verdict = Verdict::Torn;
  std::vector<BlobRow> pieces;
  std::uint64_t storedLength = 0;
};
// blobs sorted by start. A 206 answer is whole when the run from offset 0 covers the resource its
// Content-Range announces; any other when the pieces run from 0 without a gap to bodyEnd.
BodyCoverage CoverBody(const HttpResponse& response, std::int64_t bodyEnd, const std::vector<BlobRow>& blobs);

}  // namespace sqlcache
