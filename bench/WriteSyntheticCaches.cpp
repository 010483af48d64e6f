// Writes the benchmark's synthetic caches into a folder, for measuring the whole program over
// them: tavrin_synthetic_caches FOLDER COUNT gives FOLDER/chromium (simple cache), FOLDER/cache2
// (Firefox), and the simple cache's entries again as SQL caches, FOLDER/chromium-sql (rollback
// journal) and FOLDER/chromium-sql-wal (WAL, checkpointed at the end as the browser does at exit),
// COUNT entries each.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "SyntheticCaches.h"

int main(int argc, char** argv) {
  if (argc != 3 || std::atoi(argv[2]) <= 0) {
    std::fprintf(stderr, "usage: %s FOLDER COUNT\n", argv[0]);
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  std::filesystem::create_directories(folder / "chromium");
  std::filesystem::create_directories(folder / "cache2");
  const int count = std::atoi(argv[2]);
  synthetic::WriteCaches((folder / "chromium").string(), (folder / "cache2").string(), count);
  for (const bool wal : {false, true}) {
    fixtures::SqlCacheWriter writer((folder / (wal ? "chromium-sql-wal" : "chromium-sql")).string(),
                                    synthetic::kSqlShards, wal);
    synthetic::WriteSqlCache(writer, count);
  }
  return 0;
}
