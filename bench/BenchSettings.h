#pragma once
// What the benchmarks share: sizes taken from the environment, and the floor that cache passes are
// measured against.
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <ctime>
#include <string>

#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
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

// The floor of a first pass: list a folder, and open every file in it relative to the folder,
// take its size, read its first and last 4 KiB and close it, the least a reader of entries that
// keep their key in front and their index at the end does. Returns the bytes read.
inline std::size_t HeadTailFloor(const std::string& folder) {
  std::size_t bytes = 0;
#ifndef _WIN32
  DIR* dir = opendir(folder.c_str());
  if (!dir) return 0;
  static char buffer[4096];
  while (const dirent* item = readdir(dir)) {
    if (item->d_name[0] == '.') continue;
    const int fd = openat(dirfd(dir), item->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
      const ssize_t head = pread(fd, buffer, sizeof buffer, 0);
      const off_t tail = info.st_size > static_cast<off_t>(sizeof buffer) ? info.st_size - sizeof buffer : 0;
      const ssize_t last = tail > head ? pread(fd, buffer, sizeof buffer, tail) : 0;
      bytes += static_cast<std::size_t>(head > 0 ? head : 0) + static_cast<std::size_t>(last > 0 ? last : 0);
    }
    close(fd);
  }
  closedir(dir);
#endif
  return bytes;
}

// The processor time this process has taken, in seconds: in its own code, and in the system's on
// its behalf (both 0 where the system does not tell them apart).
struct CpuTimes {
  double user = 0;
  double system = 0;
  double Total() const { return user + system; }
  CpuTimes& operator+=(const CpuTimes& other) {
    user += other.user;
    system += other.system;
    return *this;
  }
};

inline CpuTimes CpuNow() {
#ifndef _WIN32
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return {seconds(usage.ru_utime), seconds(usage.ru_stime)};
#else
  return {static_cast<double>(std::clock()) / CLOCKS_PER_SEC, 0};
#endif
}

// The CPU time that f takes.
template <typename F>
CpuTimes CpuTimed(F&& f) {
  const CpuTimes start = CpuNow();
  f();
  const CpuTimes end = CpuNow();
  return {end.user - start.user, end.system - start.system};
}
