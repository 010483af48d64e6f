#include "cache/ListCacheSource.h"

namespace {

class ListCursor : public CacheEntryCursor {
 public:
  explicit ListCursor(std::shared_ptr<const std::vector<CacheEntry>> entries) : entries_(std::move(entries)) {}
  bool Next(CacheEntry& entry) override {
    if (next_ >= entries_->size()) return false;
    entry = (*entries_)[next_++];
    return true;
  }

 private:
  std::shared_ptr<const std::vector<CacheEntry>> entries_;
  std::size_t next_ = 0;
};

}  // namespace

void ListCacheSource::Add(CacheEntry entry) {
  auto copy = std::make_shared<std::vector<CacheEntry>>(*entries_);
  copy->push_back(std::move(entry));
  entries_ = std::move(copy);
}

std::unique_ptr<CacheEntryCursor> ListCacheSource::Open() { return std::make_unique<ListCursor>(entries_); }
