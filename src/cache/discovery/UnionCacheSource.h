#pragma once
// Several URL caches enumerated one after the other, as one.
#include <functional>
#include <memory>
#include <vector>

#include "cache/UrlCacheSource.h"

class UnionCacheSource : public UrlCacheSource {
 public:
  using SourceList = std::vector<std::shared_ptr<UrlCacheSource>>;
  // members is asked for the current list at every Open, so the list may change between passes.
  explicit UnionCacheSource(std::function<SourceList()> members) : members_(std::move(members)) {}
  std::unique_ptr<CacheEntryCursor> Open() override;
  // Brings every member up to date.
  bool WaitUntilCurrentUnless(const std::function<bool()>& giveUp) override;
  // The first member's problem.
  OpeningProblem Problem() const override;

 private:
  std::function<SourceList()> members_;
};
