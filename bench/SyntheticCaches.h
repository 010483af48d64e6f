#pragma once
// Synthetic Chromium simple, Chromium SQL and Firefox cache2 caches in the real formats, count
// entries each: mostly pictures of a few KiB, every third without an extension, every 50th an error
// page, and every fourth a gzip-encoded script of about 20 KiB, as real caches hold; the SQL cache
// holds the same entries as the simple one. Shared by the cache benchmark and the tool that writes
// them for a whole-program measurement.
#include <cstdint>
#include <string>
#include <vector>

#include "support/CacheFixtures.h"
#include "support/SqlCacheFixtures.h"

namespace synthetic {

// A script of about 20 KiB that compresses about as well as real ones do.
inline std::string ScriptText(int i) {
  std::string text;
  for (int k = 0; k < 300; ++k) {
    text += "function f" + std::to_string(i) + "_" + std::to_string(k) + "(a, b) { return a * " +
            std::to_string(k * 7919 % 1009) + " + b - " + std::to_string((i + k) % 97) + "; }\n";
  }
  return text;
}

inline bool IsScript(int i) { return i % 4 == 1; }

inline fixtures::ChromiumEntry ChromiumAt(int i, std::uint32_t version = 0) {
  const std::string name = "/pictures/" + std::to_string(i) + (i % 3 ? ".jpg" : "");
  const std::size_t size = 1500 + static_cast<std::size_t>(i % 7) * 700;
  fixtures::ChromiumEntry c{.key = "1/0/_dk_https://site.test https://site.test https://cdn.test" + name,
                            .body = fixtures::PictureBytes(size, static_cast<std::uint32_t>(i) + version * 7919)};
  if (i % 50 == 0) c.headers = {"HTTP/1.1 404 Not Found", "Content-Type: text/html"};
  if (IsScript(i)) {
    c.key = "1/0/_dk_https://site.test https://site.test https://cdn.test/scripts/" + std::to_string(i) + ".js";
    c.body = fixtures::Gzip(ScriptText(i + static_cast<int>(version)));
    c.headers = {"HTTP/1.1 200 OK", "Content-Type: application/javascript", "Content-Encoding: gzip"};
  }
  return c;
}

inline fixtures::FirefoxEntry FirefoxAt(int i, std::uint32_t version = 0) {
  const std::string name = "/pictures/" + std::to_string(i) + (i % 3 ? ".jpg" : "");
  const std::size_t size = 1500 + static_cast<std::size_t>(i % 7) * 700;
  fixtures::FirefoxEntry f{.key = "O^partitionKey=%28https%2Csite.test%29,:https://cdn.test" + name,
                           .body = fixtures::PictureBytes(size, static_cast<std::uint32_t>(i) + 1 + version * 7919)};
  if (i % 50 == 0) f.responseHead = "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\n";
  if (IsScript(i)) {
    f.key = "O^partitionKey=%28https%2Csite.test%29,:https://cdn.test/scripts/" + std::to_string(i) + ".js";
    f.body = fixtures::Gzip(ScriptText(i + 1 + static_cast<int>(version)));
    f.responseHead = "HTTP/1.1 200 OK\r\nContent-Type: application/javascript\r\nContent-Encoding: gzip\r\n";
  }
  return f;
}

// The simple cache's entry i as a row of the SQL cache (its body in one piece: all are small).
inline fixtures::SqlEntry SqlAt(int i, std::uint32_t version = 0) {
  const fixtures::ChromiumEntry c = ChromiumAt(i, version);
  auto headers = c.headers;
  headers.push_back("Content-Length: " + std::to_string(c.body.size()));
  return {.key = c.key,
          .head = fixtures::ChromiumResponseInfo(headers, false, c.responseTime),
          .blobs = fixtures::SqlPieces(c.body),
          .lastUsed = 13300000000000000 + i};
}

// The shards of the synthetic SQL caches, as the browser makes them.
constexpr unsigned kSqlShards = 3;

// Writes entries 0 ... count - 1 through writer (of kSqlShards shards), a few thousand to a
// transaction. A WAL is checkpointed after each, as the browser does as it goes: a WAL of the
// whole cache is not what browsers leave, and SQLite's look-ups in it slow down as it grows.
inline void WriteSqlCache(fixtures::SqlCacheWriter& writer, int count) {
  constexpr std::size_t kBatch = 4000;
  std::vector<fixtures::SqlEntry> batch;
  batch.reserve(kBatch);
  for (int i = 0; i < count; ++i) {
    batch.push_back(SqlAt(i));
    if (batch.size() == kBatch || i + 1 == count) {
      writer.PutMany(batch);
      batch.clear();
      // Does nothing to a shard with a rollback journal.
      for (unsigned shard = 0; shard < kSqlShards; ++shard) writer.Exec(shard, "PRAGMA wal_checkpoint(TRUNCATE)");
    }
  }
}

// Writes count entries into the simple cache folder chromium and the cache2 folder firefox.
inline void WriteCaches(const std::string& chromium, const std::string& firefox, int count) {
  fixtures::WriteChromiumIndexMarker(chromium);
  std::vector<std::pair<std::uint64_t, std::int64_t>> lastUsed;
  for (int i = 0; i < count; ++i) {
    const auto c = ChromiumAt(i);
    fixtures::WriteChromiumEntry(chromium, c);
    lastUsed.emplace_back(fixtures::ChromiumHash(c.key), 13300000000000000 + i);
    fixtures::WriteFirefoxEntry(firefox, FirefoxAt(i));
  }
  fixtures::WriteChromiumIndex(chromium, lastUsed);
}

}  // namespace synthetic
