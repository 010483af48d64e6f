#include "harvest/FailedEntries.h"

namespace {

// A cache that yields countless failing entries must not make this grow without end: beyond it,
// every failure is forgotten and reported anew.
constexpr std::size_t kMostRemembered = 100000;

}  // namespace

void FailedEntries::BeginPass(std::uint64_t context) {
  if (context != context_) failures_.clear();
  context_ = context;
  ++pass_;
}

bool FailedEntries::HeldBack(const std::string& entry, std::uint64_t version) const {
  const auto found = failures_.find(entry);
  return found != failures_.end() && found->second.version == version && pass_ < found->second.nextTry;
}

bool FailedEntries::Failed(const std::string& entry, std::uint64_t version) {
  if (failures_.size() >= kMostRemembered) failures_.clear();
  auto [found, added] = failures_.try_emplace(entry);
  const bool news = added || found->second.version != version;
  found->second = {version, pass_ + kPassesBetweenTries + 1};
  return news;
}
