#pragma once
// A URL cache that yields its entries one by one. Each Open starts a new enumeration from the
// first entry; a cursor yields each entry once.
#include <memory>
#include <string>

#include "cache/CacheEntry.h"

class CacheEntryCursor {
 public:
  virtual ~CacheEntryCursor() = default;
  // Fills entry with the next entry; false when none is left.
  virtual bool Next(CacheEntry& entry) = 0;
};

class UrlCacheSource {
 public:
  virtual ~UrlCacheSource() = default;
  virtual std::unique_ptr<CacheEntryCursor> Open() = 0;
};
