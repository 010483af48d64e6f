#pragma once
// A URL cache held in memory: the entries it was given, in that order. Used by tests and
// benchmarks, and wherever entries are known without a cache on disk.
#include <memory>
#include <vector>

#include "cache/UrlCacheSource.h"

class ListCacheSource : public UrlCacheSource {
 public:
  ListCacheSource() = default;
  explicit ListCacheSource(std::vector<CacheEntry> entries)
      : entries_(std::make_shared<std::vector<CacheEntry>>(std::move(entries))) {}

  // Changes show in enumerations opened afterwards; an open enumeration keeps what it had.
  void Add(CacheEntry entry);
  std::size_t Count() const { return entries_->size(); }

  std::unique_ptr<CacheEntryCursor> Open() override;

 private:
  std::shared_ptr<const std::vector<CacheEntry>> entries_ = std::make_shared<std::vector<CacheEntry>>();
};
