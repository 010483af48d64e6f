// tavrin-harvest: the harvest of the window, without the window.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "base/FileWriter.h"
#include "base/WidePath.h"
#include "cache/UrlCacheEnumeration.h"
#include "cache/discovery/CacheFormats.h"
#include "cache/discovery/Discovery.h"
#include "cli/HarvestOptions.h"
#include "harvest/CaptureSession.h"
#include "harvest/ExtensionList.h"
#include "harvest/cmnWinInet.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) { g_interrupted = true; }

std::uint64_t CountEntries(UrlCacheSource& source) {
  std::uint64_t count = 0;
  CacheEntry entry;
  for (auto cursor = source.Open(); cursor && cursor->Next(entry);) ++count;
  return count;
}

int ListCaches(const std::vector<DiscoveredCache>& caches) {
  if (caches.empty()) std::fputs("tavrin-harvest: no browser cache found\n", stderr);
  for (const DiscoveredCache& cache : caches) {
    auto source = MakeCacheSource(cache);
    const std::string entries = source ? std::to_string(CountEntries(*source)) : "not read";
    const CacheFormat* format = FindCacheFormat(cache.kind);
    const std::string_view name = format ? format->shortName : std::string_view();
    std::printf("%.*s\t%s\t%s\n", static_cast<int>(name.size()), name.data(), cache.folder.c_str(), entries.c_str());
    // What could not be read, and why, beside the listing.
    if (const OpeningProblem problem = source ? source->Problem() : OpeningProblem(); !problem.empty()) {
      std::fprintf(stderr, "tavrin-harvest: %s\n", problem.Line().c_str());
    } else if (!source && format && format->describe) {
      std::fprintf(stderr, "tavrin-harvest: %s: %s\n", cache.folder.c_str(), format->describe(cache.folder).c_str());
    }
  }
  return 0;
}

std::string JsonText(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// Why a folder could not be read or created, in the system's words.
std::string FolderProblem(const std::string& folder, bool create) {
  std::error_code error;
  const std::filesystem::path path = FileSystemPath(folder);
  if (create) std::filesystem::create_directories(path, error);
  if (!error) (void)std::filesystem::status(path, error);
  if (error) return error.message();
  if (!std::filesystem::is_directory(path, error)) return std::make_error_code(std::errc::not_a_directory).message();
  return {};
}

void SleepInterruptibly(std::int64_t ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!g_interrupted && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// The arguments in the text of paths here: on Windows the UTF-8 of the wide command line, which
// holds every character of a folder's name, where argv holds only those of the ANSI code page.
std::vector<std::string> Arguments(int argc, char** argv) {
#ifdef _WIN32
  int count = 0;
  if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
    std::vector<std::string> out;
    for (int i = 1; i < count; ++i) out.push_back(Utf8FromWide(wide[i]));
    LocalFree(wide);
    return out;
  }
#endif
  return {argv + 1, argv + argc};
}

}  // namespace

int main(int argc, char** argv) {
  const ParsedOptions parsed = ParseHarvestOptions(Arguments(argc, argv));
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "tavrin-harvest: %s (see --help)\n", parsed.error.c_str());
    return 2;
  }
  const HarvestOptions& options = parsed.options;
  if (options.help) {
    std::fputs(kHarvestUsage.c_str(), stdout);
    return 0;
  }

  std::vector<DiscoveredCache> chosen;
  for (const std::string& folder : options.caches) {
    if (const std::string problem = FolderProblem(folder, false); !problem.empty()) {
      std::fprintf(stderr, "tavrin-harvest: cannot read the cache folder %s: %s\n", folder.c_str(), problem.c_str());
      return 2;
    }
    auto cache = ClassifyCacheFolder(folder);
    if (!cache) {
      std::fprintf(stderr, "tavrin-harvest: not a browser cache folder: %s\n", folder.c_str());
      return 2;
    }
    if (!cache->readable) {
      const CacheFormat* format = FindCacheFormat(cache->kind);
      const std::string found = format && format->describe ? format->describe(folder) : "it cannot be read";
      std::fprintf(stderr, "tavrin-harvest: cannot read the cache folder %s: %s\n", folder.c_str(), found.c_str());
      return 2;
    }
    chosen.push_back(*cache);
  }
  if (options.listCaches) return ListCaches(options.caches.empty() ? DiscoverCaches() : chosen);

  FileSystemObject fso;
  if (!fso.FolderExists(options.destination)) CreateFolderPath(options.destination);
  if (!fso.FolderExists(options.destination)) {
    std::string problem = FolderProblem(options.destination, true);
    if (!problem.empty() || !fso.FolderExists(options.destination)) {
      if (problem.empty()) problem = "it cannot be used as a folder";
      std::fprintf(stderr, "tavrin-harvest: cannot create the destination folder %s: %s\n", options.destination.c_str(),
                   problem.c_str());
      return 1;
    }
  }
  // Temporary files that a crashed run left behind (where copies cannot be unnamed files).
  RemoveLeftoverCopies(options.destination);

  InitCacheBuffer();
  HarvestedKeys = std::make_unique<KeyedCollection>();
  const bool terminal = isatty(fileno(stderr));
  std::uint64_t copiedThisPass = 0;
  // The caches are read on background threads (both cores during a first pass); each pass waits
  // until they are current, so that it meets the caches as they are when it starts. They end with
  // the session, before anything they use is torn down at exit.
  CaptureSession session({
      .urlCache = options.caches.empty() ? MakeDiscoveredUrlCache(CacheReading::InBackground)
                                         : MakeUrlCacheOf(chosen, CacheReading::InBackground),
      .observer =
          [&](const CopyOutcome& copy) {
            if (copy.kind == CopyOutcome::Kind::AlreadyPresent) return;
            ++copiedThisPass;
            if (terminal) std::fprintf(stderr, "\r%llu copied...", static_cast<unsigned long long>(copiedThisPass));
            std::printf("%s\n", copy.target.c_str());
            std::fflush(stdout);
          },
      // Ctrl-C ends the pass after the file that was being copied.
      .pendingEvents =
          [] {
            if (g_interrupted) EndRunningPass();
          },
  });
  // A run that can copy nothing says why, as --list-caches does; a watch goes on, for a browser
  // started later.
  if (options.caches.empty() && DiscoverCaches().empty())
    std::fputs("tavrin-harvest: no browser cache found\n", stderr);
  const std::string extensionList = NormalizeExtensionList(options.extensions);
  const DateValue captureStart = *CaptureStartFor(options.since);

  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
#ifdef SIGHUP
  // A closed terminal ends the run as Ctrl-C does: after the file being copied.
  std::signal(SIGHUP, OnInterrupt);
#endif
#ifdef SIGXFSZ
  // A copy beyond the file size limit fails with its reason, like a full disk, instead of ending
  // the run without a word.
  std::signal(SIGXFSZ, SIG_IGN);
#endif

  // A single run whose pass ended by an error (a damaged entry, say) runs it again at once while
  // that made progress, so that the entries after the failing one are copied in the same run.
  const bool oneShot = !options.watch && !options.passes;
  constexpr std::int64_t kRetriesOfAOneShotRun = 5;
  std::int64_t passes = options.passes.value_or(options.watch ? INT64_MAX : 1);
  std::uint64_t totalCopied = 0, totalPresent = 0, failedPasses = 0, totalFailedEntries = 0, lastFailedEntries = 0;
  bool lastEndedByError = false;
  std::string previousError;
  for (std::int64_t pass = 1; pass <= passes && !g_interrupted; ++pass) {
    if (pass > 1 && !oneShot) SleepInterruptibly(options.intervalMs);
    if (g_interrupted) break;
    copiedThisPass = 0;
    const auto began = std::chrono::steady_clock::now();
    // Ctrl-C while a first reading of large caches is under way ends the run at once.
    const auto cache = GetUrlCache();
    if (cache && !cache->WaitUntilCurrentUnless([] { return g_interrupted.load(); })) break;
    HarvestCache(extensionList, captureStart, options.destination, options.minimumKb);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count();
    if (terminal && copiedThisPass > 0) std::fputs("\r\033[K", stderr);
    if (options.stats) {
      const PassStatistics& s = LastPassStatistics();
      std::fprintf(stderr,
                   "{\"pass\":%lld,\"entries\":%llu,\"copied\":%llu,\"present\":%llu,\"failed\":%llu,\"ms\":%.1f,"
                   "\"ended_by_error\":%s%s}\n",
                   static_cast<long long>(pass), static_cast<unsigned long long>(s.entries),
                   static_cast<unsigned long long>(s.copied), static_cast<unsigned long long>(s.present),
                   static_cast<unsigned long long>(s.failed), ms, s.endedByError ? "true" : "false",
                   s.error.empty() ? "" : (",\"error\":" + JsonText(s.error)).c_str());
    }
    const PassStatistics& s = LastPassStatistics();
    totalCopied += s.copied;
    totalPresent += s.present;
    // Each entry left for a later pass is said once, when it first fails (or fails anew after a
    // change); the pass went on with the entries after it.
    for (const EntryFailure& failure : s.failedEntries) {
      std::fprintf(stderr, "tavrin-harvest: pass %lld left an entry for a later pass: %s\n",
                   static_cast<long long>(pass), failure.line.c_str());
    }
    totalFailedEntries += s.failed;
    lastFailedEntries = s.failed + s.heldBack;
    lastEndedByError = s.endedByError;
    if (!lastEndedByError) continue;
    ++failedPasses;
    // A one-shot run's retry follows a failed pass; the same failure again was already said.
    const bool alreadySaid = oneShot && pass > 1 && s.error == previousError;
    if (!alreadySaid) {
      std::fprintf(stderr, "tavrin-harvest: pass %lld ended by an error: %s\n", static_cast<long long>(pass),
                   s.error.c_str());
    }
    const bool progressed = s.copied > 0 || s.error != previousError;
    previousError = s.error;
    if (oneShot && progressed && pass <= kRetriesOfAOneShotRun) ++passes;
  }
  if (terminal) {
    std::fprintf(stderr, "tavrin-harvest: %llu copied, %llu already present, %llu failed, %llu %s ended by an error\n",
                 static_cast<unsigned long long>(totalCopied), static_cast<unsigned long long>(totalPresent),
                 static_cast<unsigned long long>(totalFailedEntries), static_cast<unsigned long long>(failedPasses),
                 failedPasses == 1 ? "pass" : "passes");
  }
  // Entries the last pass could not copy are a failure too, though it copied every other one.
  return lastEndedByError || (lastFailedEntries > 0 && !g_interrupted) ? 3 : 0;
}
