#include "cache/discovery/CacheFormats.h"

#include "cache/chromium/blockfile/BlockfileCacheSource.h"
#include "cache/chromium/common/ChromiumFolderFormat.h"
#include "cache/chromium/simple/ChromiumSimpleCacheSource.h"
#include "cache/chromium/sql/ChromiumSqlCacheSource.h"
#include "cache/firefox/FirefoxCacheSource.h"
#ifdef _WIN32
#include "cache/wininet/WinInetSource.h"
#endif

namespace {

// Addresses of the descriptors only, so the table is filled before any code runs.
const CacheFormat* const kFormats[] = {
#ifdef _WIN32
    &kWinInetFormat,
#endif
    &kChromiumBlockfileFormat,
    &kChromiumSimpleCacheFormat,
    &kChromiumSqlCacheFormat,
    &kFirefoxCacheFormat,
    // Last: a folder that no format above reads, but that is marked as a Chromium cache.
    &kChromiumUnknownFormat,
};

}  // namespace

std::span<const CacheFormat* const> CacheFormats() { return kFormats; }

const CacheFormat* FindCacheFormat(CacheKind kind) {
  for (const CacheFormat* format : kFormats) {
    if (format->kind == kind) return format;
  }
  return nullptr;
}
