#pragma once
// The counters of the pass that runs now, shared by the walk and the entry harvest.
#include "harvest/cmnWinInet.h"

namespace pass_state {
// Resets the counters for a new pass and returns them.
PassStatistics& BeginPass();
PassStatistics& Current();
// Tells the observer, if any, what happened to an entry.
void Notify(const HarvestEvent& event);

// Raised when the capture that started the pass has been stopped or replaced meanwhile.
struct CaptureEnded {};
// Raises CaptureEnded unless HarvestedKeys is still the collection the pass began with.
void EnsureSameCapture();
}  // namespace pass_state
