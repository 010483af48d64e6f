#include "harvest/CaptureSession.h"

#include "base/PendingEvents.h"
#include "cache/UrlCacheEnumeration.h"

namespace {

CaptureSession* g_current = nullptr;

std::uint64_t CurrentCapture() { return HarvestedKeys ? HarvestedKeys->Serial() : 0; }

}  // namespace

CaptureSession::CaptureSession(CaptureWiring wiring) : previous_(g_current), observer_(std::move(wiring.observer)) {
  g_current = this;
  if (wiring.urlCache) UseUrlCache(std::move(wiring.urlCache));
  if (wiring.pendingEvents) {
    SetPendingEventsHook(std::move(wiring.pendingEvents));
    installedPendingEvents_ = true;
  }
}

CaptureSession::~CaptureSession() {
  if (installedPendingEvents_) SetPendingEventsHook(nullptr);
  if (g_current == this) g_current = previous_;
  // The session before it reads its own cache again.
  if (installedUrlCache_) SetUrlCache(previous_ && previous_->installedUrlCache_ ? previous_->urlCache_ : nullptr);
}

void CaptureSession::UseUrlCache(std::shared_ptr<UrlCacheSource> cache) {
  urlCache_ = std::move(cache);
  SetUrlCache(urlCache_);
  installedUrlCache_ = true;
}

CaptureSession& CaptureSession::Current() {
  static CaptureSession* const unwired = [] {
    // Made before any other, so that it is never anyone's previous session; it lives as long as
    // the process.
    CaptureSession* const saved = g_current;
    g_current = nullptr;
    auto* session = new CaptureSession();
    g_current = saved;
    return session;
  }();
  return g_current ? *g_current : *unwired;
}

PassStatistics& CaptureSession::BeginPass() {
  statistics_ = PassStatistics{};
  passCapture_ = CurrentCapture();
  passEnded_ = false;
  return statistics_;
}

bool CaptureSession::PassEnded() const { return passEnded_ || CurrentCapture() != passCapture_; }

void CaptureSession::Record(const CopyOutcome& outcome) {
  if (outcome.kind == CopyOutcome::Kind::AlreadyPresent) {
    ++statistics_.present;
  } else {
    ++statistics_.copied;
  }
  if (observer_) observer_(outcome);
}
