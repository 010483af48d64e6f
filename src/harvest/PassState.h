#pragma once
// The counters of the pass that runs now, shared by the walk and the entry harvest.
#include "harvest/cmnWinInet.h"

namespace pass_state {
// Resets the counters for a new pass and returns them.
PassStatistics& BeginPass();
PassStatistics& Current();
// Counts a copy that holds its entry now and tells the observer, if any.
void Notify(const CopyOutcome& outcome);

// Raised when the capture that started the pass has been stopped or replaced meanwhile.
struct CaptureEnded {};
// Raises CaptureEnded unless HarvestedKeys is still the collection the pass began with and the pass
// was not ended (EndRunningPass).
void EnsureSameCapture();
}  // namespace pass_state
