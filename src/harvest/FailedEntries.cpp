#include "harvest/FailedEntries.h"

#include <unordered_map>

namespace failed_entries {

namespace {

struct Failure {
  std::uint64_t version = 0;
  std::uint64_t nextTry = 0;  // the pass from which it is tried again
};

// A cache that yields countless failing entries must not make this grow without end: beyond it,
// every failure is forgotten and reported anew.
constexpr std::size_t kMostRemembered = 100000;

std::uint64_t g_context = 0;
std::uint64_t g_pass = 0;
std::unordered_map<std::string, Failure> g_failures;

}  // namespace

void BeginPass(std::uint64_t context) {
  if (context != g_context) g_failures.clear();
  g_context = context;
  ++g_pass;
}

bool None() { return g_failures.empty(); }

bool HeldBack(const std::string& entry, std::uint64_t version) {
  const auto found = g_failures.find(entry);
  return found != g_failures.end() && found->second.version == version && g_pass < found->second.nextTry;
}

bool Failed(const std::string& entry, std::uint64_t version) {
  if (g_failures.size() >= kMostRemembered) g_failures.clear();
  auto [found, added] = g_failures.try_emplace(entry);
  const bool news = added || found->second.version != version;
  found->second = {version, g_pass + kPassesBetweenTries + 1};
  return news;
}

void Forget(const std::string& entry) { g_failures.erase(entry); }

}  // namespace failed_entries
