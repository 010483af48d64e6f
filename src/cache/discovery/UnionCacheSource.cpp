#include "cache/discovery/UnionCacheSource.h"

namespace {

// Opens each member only when the enumeration reaches it, so that a pass that ends early does not
// pay for listing caches it never visits.
class UnionCursor : public CacheEntryCursor {
 public:
  explicit UnionCursor(UnionCacheSource::SourceList members) : members_(std::move(members)) {}

  bool Next(CacheEntry& entry) override {
    while (next_ < members_.size() || current_) {
      if (!current_) {
        if (members_[next_]) current_ = members_[next_]->Open();
        ++next_;
        if (!current_) continue;
      }
      if (current_->Next(entry)) return true;
      current_.reset();
    }
    return false;
  }

 private:
  UnionCacheSource::SourceList members_;
  std::size_t next_ = 0;
  std::unique_ptr<CacheEntryCursor> current_;
};

}  // namespace

std::unique_ptr<CacheEntryCursor> UnionCacheSource::Open() { return std::make_unique<UnionCursor>(members_()); }
