#include "cache/UrlCacheEnumeration.h"

#include <chrono>
#include <mutex>
#include <optional>

#include "cache/CacheEntryRecord.h"

struct CacheEnumeration {
  std::shared_ptr<UrlCacheSource> source;
  std::unique_ptr<CacheEntryCursor> cursor;
  std::optional<CacheEntry> pending;  // met by a probe, not yet delivered
  std::uint64_t settledContext = 0;
};

namespace {

thread_local std::uint32_t t_lastError = 0;
thread_local std::uint64_t t_settledContext = 0;

std::mutex g_mutex;
std::shared_ptr<UrlCacheSource> g_source;

// A first probe fails by contract, and the fetch that follows asks for a new enumeration from the
// first entry. The probed enumeration is kept for that fetch, so that a source is not opened (its
// folders listed) twice per walk. It is used only by a fetch that follows at once.
struct Parked {
  std::unique_ptr<CacheEnumeration> enumeration;
  std::chrono::steady_clock::time_point at;
};
thread_local Parked t_parked;
constexpr auto kParkedFor = std::chrono::seconds(1);

bool Fail(std::uint32_t error) {
  t_lastError = error;
  return false;
}

bool Deliver(CacheEnumeration& enumeration, void* buffer, std::uint32_t* length) {
  if (!length) return Fail(kErrorInvalidParameter);
  if (!enumeration.pending) {
    CacheEntry next;
    if (!enumeration.cursor || !enumeration.cursor->Next(next)) return Fail(kErrorNoMoreItems);
    enumeration.pending = std::move(next);
  }
  const std::uint32_t needed = PackedEntrySize(*enumeration.pending);
  if (!buffer || *length < needed) {
    *length = needed;
    return Fail(kErrorInsufficientBuffer);
  }
  PackEntry(*enumeration.pending, buffer, *length);
  *length = needed;
  enumeration.pending.reset();
  return true;
}

std::unique_ptr<CacheEnumeration> TakeParkedOrOpen() {
  std::shared_ptr<UrlCacheSource> source = GetUrlCache();
  std::unique_ptr<CacheEnumeration> parked = std::move(t_parked.enumeration);
  if (parked && parked->source == source && parked->settledContext == t_settledContext &&
      std::chrono::steady_clock::now() - t_parked.at < kParkedFor) {
    return parked;
  }
  auto fresh = std::make_unique<CacheEnumeration>();
  fresh->source = source;
  fresh->settledContext = t_settledContext;
  if (source) fresh->cursor = source->Open();
  if (fresh->cursor && fresh->settledContext != 0) fresh->cursor->UseSettled(fresh->settledContext);
  return fresh;
}

}  // namespace

CacheEnumHandle FindFirstUrlCacheEntry(const char* searchPattern, void* buffer, std::uint32_t* length) {
  if (searchPattern) {
    Fail(kErrorInvalidParameter);
    return nullptr;
  }
  std::unique_ptr<CacheEnumeration> enumeration = TakeParkedOrOpen();
  if (!Deliver(*enumeration, buffer, length)) {
    if (t_lastError == kErrorInsufficientBuffer) t_parked = {std::move(enumeration), std::chrono::steady_clock::now()};
    return nullptr;
  }
  return enumeration.release();
}

bool FindNextUrlCacheEntry(CacheEnumHandle handle, void* buffer, std::uint32_t* length) {
  if (!handle) return Fail(kErrorInvalidParameter);
  return Deliver(*handle, buffer, length);
}

bool FindCloseUrlCache(CacheEnumHandle handle) {
  if (!handle) return Fail(kErrorInvalidParameter);
  delete handle;
  return true;
}

std::uint32_t LastUrlCacheError() { return t_lastError; }

void SetUrlCacheSettledContext(std::uint64_t context) { t_settledContext = context; }

void SettleUrlCacheEntry(CacheEnumHandle handle) {
  // Only the entry delivered last: one met by a probe and not yet fetched was never decided on.
  if (handle && handle->cursor && !handle->pending && handle->settledContext != 0) handle->cursor->Settle();
}

void SetUrlCache(std::shared_ptr<UrlCacheSource> source) {
  std::lock_guard lock(g_mutex);
  g_source = std::move(source);
}

std::shared_ptr<UrlCacheSource> GetUrlCache() {
  std::lock_guard lock(g_mutex);
  return g_source;
}
