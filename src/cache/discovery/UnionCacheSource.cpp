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
        if (settledContext_ != 0) current_->UseSettled(settledContext_);
      }
      if (current_->Next(entry)) return true;
      current_.reset();
    }
    return false;
  }
  void UseSettled(std::uint64_t context) override { settledContext_ = context; }
  // The member that yielded the last entry is still the current one.
  void Settle() override {
    if (current_) current_->Settle();
  }

 private:
  std::uint64_t settledContext_ = 0;
  UnionCacheSource::SourceList members_;
  std::size_t next_ = 0;
  std::unique_ptr<CacheEntryCursor> current_;
};

}  // namespace

std::unique_ptr<CacheEntryCursor> UnionCacheSource::Open() { return std::make_unique<UnionCursor>(members_()); }

bool UnionCacheSource::WaitUntilCurrentUnless(const std::function<bool()>& giveUp) {
  for (const auto& member : members_()) {
    if (member && !member->WaitUntilCurrentUnless(giveUp)) return false;
  }
  return true;
}

OpeningProblem UnionCacheSource::Problem() const {
  for (const auto& member : members_()) {
    if (!member) continue;
    if (OpeningProblem problem = member->Problem(); !problem.empty()) return problem;
  }
  return {};
}
