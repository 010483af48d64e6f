#pragma once
// A URL cache that yields its entries one by one. Each Open starts a new enumeration from the
// first entry; a cursor yields each entry once.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/RegularFile.h"
#include "cache/CacheEntry.h"

class CacheEntryCursor {
 public:
  virtual ~CacheEntryCursor() = default;
  // Fills entry with the next entry; false when none is left.
  virtual bool Next(CacheEntry& entry) = 0;

  // Settled entries: the caller's decision on an entry that cannot change while the entry and the
  // context stay as they are. After UseSettled(context) with a context other than 0, Next passes
  // over every entry that Settle marked under that context and that has not changed since. A
  // cursor that keeps nothing across enumerations ignores both.
  virtual void UseSettled(std::uint64_t context) { (void)context; }
  // Marks the entry that Next yielded last as settled under the context given to UseSettled.
  virtual void Settle() {}
};

// The reason a source gives for a cache file that the browser holds open without sharing it
// (Windows), so that the window can say it in its own language.
inline constexpr char kHeldByBrowserReason[] =
    "the browser holds it open; the cache can be read once the browser is closed";

class UrlCacheSource {
 public:
  virtual ~UrlCacheSource() = default;
  virtual std::unique_ptr<CacheEntryCursor> Open() = 0;
  // For a source whose listing is kept current in the background: returns once the listing holds
  // what the cache held when it was called, so that the next Open yields it. Others are always
  // current.
  void WaitUntilCurrent() { WaitUntilCurrentUnless({}); }
  // The same, unless giveUp (asked every few milliseconds while it waits) says true first; false
  // then.
  virtual bool WaitUntilCurrentUnless(const std::function<bool()>& /*giveUp*/) { return true; }
  // A file of the cache's own that its last reading could not open (a special file in place of
  // one, no permission): the cache may be missing entries; empty when there was none.
  virtual OpeningProblem Problem() const { return {}; }
};
