// Writes the benchmark's synthetic caches into a folder, for measuring the whole program over
// them: tavrin_synthetic_caches FOLDER COUNT gives FOLDER/chromium (simple cache) and
// FOLDER/cache2 (Firefox), COUNT entries each.
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
  synthetic::WriteCaches((folder / "chromium").string(), (folder / "cache2").string(), std::atoi(argv[2]));
  return 0;
}
