// One shard of a Chromium SQL cache: its rows listed, validated and every listed body copied out,
// as the source does with a shard of the browser's.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "base/FileSystemObject.h"
#include "cache/chromium/sql/ChromiumSqlCacheSource.h"

namespace {

const std::filesystem::path& Folder() {
  static const std::filesystem::path folder = [] {
    auto made = std::filesystem::temp_directory_path() / ("tavrin-sql-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(made);
    std::ofstream(made / "index", std::ios::binary) << "SQLCacheTruncate1";
    return made;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto& folder = Folder();
  {
    std::ofstream shard(folder / "sqldb0", std::ios::binary | std::ios::trunc);
    shard.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  ChromiumSqlCacheSource source(folder.string(), {.notify = false});
  auto cursor = source.Open();
  CacheEntry entry;
  while (cursor->Next(entry)) {
    try {
      FileSystemObject().ReadContents(entry.localPath, [](const char*, std::size_t) { return true; });
    } catch (...) {
      // A body that fails its checks is refused: what the fuzzer looks for is a crash, not this.
    }
  }
  (void)source.Problem();
  return 0;
}
