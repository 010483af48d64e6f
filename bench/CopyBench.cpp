// Copies into the destination folder against two plain POSIX copies of the same files into the
// same folder, in one run: open, read, write, close; and open, copy_file_range, close (what cp
// does). Pictures of about 130 KiB as a
// capture meets them (TAVRIN_BENCH_COPIES of them, 400 unless set), copied once from ordinary
// files and once from a Chromium simple cache through its virtual files. over_rw and over_cp, the ratios
// of the halves' wall times within the same iterations, are the figures to read on a shared machine;
// at the end the CPU and wall times are printed as ratios of the baselines' too.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSettings.h"
#include "RatioReporter.h"
#include "base/PathText.h"
#include "cache/UrlCacheSource.h"
#include "cache/chromium/simple/ChromiumSimpleCacheSource.h"
#include "harvest/cmnWinInet.h"
#include "support/CacheFixtures.h"
#include "support/TempDir.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

int Copies() {
  static const int count = PositiveSetting("TAVRIN_BENCH_COPIES", 400);
  return count;
}

struct Pictures {
  TempDir temp;
  std::string files = temp.Sub("files");
  std::string cache = temp.Sub("cache");
  std::vector<std::string> sources;     // the ordinary files
  std::vector<std::string> cacheFiles;  // the cache's entry files, for the plain copy
  std::vector<std::string> names;       // the name each copy takes
  std::vector<std::string> cachePaths;  // the cache's virtual paths, in the order of names
  std::vector<std::string> urls;
  std::unique_ptr<ChromiumSimpleCacheSource> source;
  std::uint64_t bytes = 0;

  Pictures() {
    fixtures::WriteChromiumIndexMarker(cache);
    for (int i = 0; i < Copies(); ++i) {
      const std::string name = "picture" + std::to_string(i) + ".jpg";
      const std::string body =
          fixtures::PictureBytes(60000 + static_cast<std::size_t>(i * 7919 % 150000), static_cast<std::uint32_t>(i));
      bytes += body.size();
      names.push_back(name);
      urls.push_back("https://cdn.test/p/" + name);
      sources.push_back(JoinPath(files, name));
      fixtures::WriteBytes(sources.back(), body);
      cacheFiles.push_back(fixtures::WriteChromiumEntry(
          cache, {.key = "1/0/_dk_https://site.test https://site.test " + urls.back(), .body = body}));
    }
    source = std::make_unique<ChromiumSimpleCacheSource>(cache);
    auto cursor = source->Open();
    CacheEntry entry;
    std::vector<std::string> byUrl(names.size());
    while (cursor->Next(entry)) {
      for (std::size_t i = 0; i < urls.size(); ++i) {
        if (urls[i] == entry.url) byUrl[i] = entry.localPath;
      }
    }
    cachePaths = std::move(byUrl);
  }
};

Pictures& Sources() {
  static Pictures pictures;
  return pictures;
}

// A new, empty folder below the run's temporary folder, in place of the last one made: what the
// run writes stays within one iteration's worth. Both halves of an iteration write into the same
// folder, so that whatever removing the last one costs the next creations (ext4 without a journal
// passes over recently deleted inodes when it allocates one) is paid by both alike.
std::string EmptyFolder(const std::string& name) {
  static int made = 0;
  if (made > 0) std::filesystem::remove_all(Sources().temp.Path(name + std::to_string(made)));
  return Sources().temp.Sub(name + std::to_string(++made));
}

// The baselines: each file opened, its bytes written into a new file of the folder, and closed.
// ReadWrite reads and writes them through this process; Kernel copies them as cp does, in the
// kernel (copy_file_range, read and write where the file systems refuse it). Their names start
// with "rw-" and "cp-", so that they never meet the names the copies take in the same folder.
enum class Half { Copies, ReadWrite, Kernel };

void PlainCopy(const std::vector<std::string>& from, const std::string& folder, Half how) {
#ifndef _WIN32
  static char buffer[128 * 1024];
  const std::string prefix = how == Half::Kernel ? "cp-" : "rw-";
  for (std::size_t i = 0; i < from.size(); ++i) {
    const int in = ::open(from[i].c_str(), O_RDONLY | O_CLOEXEC);
    const int out =
        ::open(JoinPath(folder, prefix + Sources().names[i]).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    bool readWrite = how == Half::ReadWrite;
#ifdef __linux__
    if (!readWrite) {
      for (ssize_t got; (got = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0)) != 0;) {
        if (got < 0) {
          readWrite = true;
          break;
        }
      }
    }
#else
    readWrite = true;
#endif
    for (ssize_t got; readWrite && (got = ::read(in, buffer, sizeof buffer)) > 0;) {
      if (::write(out, buffer, static_cast<std::size_t>(got)) != got) break;
    }
    ::close(in);
    ::close(out);
  }
#else
  const std::string prefix = how == Half::Kernel ? "cp-" : "rw-";
  for (std::size_t i = 0; i < from.size(); ++i) {
    std::filesystem::copy_file(from[i], JoinPath(folder, prefix + Sources().names[i]));
  }
#endif
}

// Every picture copied into an empty destination folder, as a first pass does, and both plain
// copies of the same files into the same folder (so onto the same part of the disk). All three
// halves run in every iteration, in turns; timed says which one the benchmark reports, so that a
// copy benchmark and its baselines measure the same work. over_rw and over_cp are the ratios of
// the copies' wall time to the baselines' within the same iterations.
void Interleaved(benchmark::State& state, const std::vector<std::string>& from, const std::vector<std::string>& plain,
                 Half timed) {
  double seconds[3] = {0, 0, 0};
  std::string last;
  int turn = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string folder = last = EmptyFolder("destination");
#ifndef _WIN32
    // Each iteration starts with nothing waiting to be written back, so that neither half is the
    // one held up when earlier writes pass the kernel's limit of dirty pages.
    ::sync();
#endif
    // Which half comes first turns: a later one meets a fuller folder.
    const Half order[3][3] = {{Half::Copies, Half::ReadWrite, Half::Kernel},
                              {Half::ReadWrite, Half::Kernel, Half::Copies},
                              {Half::Kernel, Half::Copies, Half::ReadWrite}};
    for (const Half half : order[turn++ % 3]) {
      if (half == timed) state.ResumeTiming();
      seconds[static_cast<int>(half)] += Timed([&] {
        if (half != Half::Copies) return PlainCopy(plain, folder, half);
        for (std::size_t i = 0; i < from.size(); ++i) {
          CopyFileUnique(from[i], JoinPath(folder, Sources().names[i]), true, {Sources().urls[i], "image/jpeg"});
        }
      });
      if (half == timed) state.PauseTiming();
    }
    state.ResumeTiming();
  }
  if (std::distance(std::filesystem::directory_iterator(last), std::filesystem::directory_iterator()) !=
      3 * static_cast<std::ptrdiff_t>(from.size())) {
    state.SkipWithError("not every picture was copied");
  }
  state.counters["over_rw"] = seconds[0] / seconds[1];
  state.counters["over_cp"] = seconds[0] / seconds[2];
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Sources().bytes));
}

void BM_PlainCopy(benchmark::State& state) {
  Interleaved(state, Sources().sources, Sources().sources, Half::ReadWrite);
}
void BM_Cp(benchmark::State& state) { Interleaved(state, Sources().sources, Sources().sources, Half::Kernel); }
void BM_CopyFiles(benchmark::State& state) { Interleaved(state, Sources().sources, Sources().sources, Half::Copies); }
void BM_PlainCopyOfCacheFiles(benchmark::State& state) {
  Interleaved(state, Sources().cachePaths, Sources().cacheFiles, Half::ReadWrite);
}
void BM_CpOfCacheFiles(benchmark::State& state) {
  Interleaved(state, Sources().cachePaths, Sources().cacheFiles, Half::Kernel);
}
void BM_CopyFromCache(benchmark::State& state) {
  Interleaved(state, Sources().cachePaths, Sources().cacheFiles, Half::Copies);
}

BENCHMARK(BM_PlainCopy)->Unit(benchmark::kMillisecond)->Iterations(9);
BENCHMARK(BM_Cp)->Unit(benchmark::kMillisecond)->Iterations(9);
BENCHMARK(BM_CopyFiles)->Unit(benchmark::kMillisecond)->Iterations(9);
BENCHMARK(BM_PlainCopyOfCacheFiles)->Unit(benchmark::kMillisecond)->Iterations(9);
BENCHMARK(BM_CpOfCacheFiles)->Unit(benchmark::kMillisecond)->Iterations(9);
BENCHMARK(BM_CopyFromCache)->Unit(benchmark::kMillisecond)->Iterations(9);

}  // namespace

int main(int argc, char** argv) {
  return RunWithRatios(argc, argv,
                       {{"BM_CopyFiles", "BM_PlainCopy"},
                        {"BM_CopyFiles", "BM_Cp"},
                        {"BM_CopyFromCache", "BM_PlainCopyOfCacheFiles"},
                        {"BM_CopyFromCache", "BM_CpOfCacheFiles"}});
}
