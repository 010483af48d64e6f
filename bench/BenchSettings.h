#pragma once
// What the benchmarks share: sizes taken from the environment, and the floor that cache passes are
// measured against.
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <string>

#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#endif

// Seconds of a duration, and the wall seconds that f takes.
inline double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

template <typename F>
double Timed(F&& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return Seconds(std::chrono::steady_clock::now() - start);
}

// The positive number in the environment variable name, or fallback.
inline int PositiveSetting(const char* name, int fallback) {
  const char* text = std::getenv(name);
  const int value = text ? std::atoi(text) : 0;
  return value > 0 ? value : fallback;
}

// Entries per browser in the synthetic caches: TAVRIN_BENCH_ENTRIES, 20,000 by default.
inline int EntriesPerBrowser() {
  static const int count = PositiveSetting("TAVRIN_BENCH_ENTRIES", 20000);
  return count;
}

// The floor: list a folder and stat every file in it, the least any walk of a cache does.
inline std::size_t BareWalk(const std::string& folder) {
  std::size_t files = 0;
#ifndef _WIN32
  DIR* dir = opendir(folder.c_str());
  if (!dir) return 0;
  while (const dirent* item = readdir(dir)) {
    struct stat info {};
    if (fstatat(dirfd(dir), item->d_name, &info, 0) == 0 && S_ISREG(info.st_mode)) ++files;
  }
  closedir(dir);
#endif
  return files;
}
