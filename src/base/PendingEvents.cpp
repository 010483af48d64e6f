#include "base/PendingEvents.h"

namespace {
std::function<void()>& Hook() {
  static std::function<void()> hook;
  return hook;
}
}  // namespace

void SetPendingEventsHook(std::function<void()> hook) { Hook() = std::move(hook); }

void ProcessPendingEvents() {
  // A copy, so that a hook that replaces itself while it runs stays alive until it returns.
  if (std::function<void()> hook = Hook()) hook();
}
