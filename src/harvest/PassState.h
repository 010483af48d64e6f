#pragma once
// How a running pass learns that its capture ended under it (Stop, Start, EndRunningPass).
namespace pass_state {

// Raised when the capture that started the pass has been stopped or replaced meanwhile.
struct CaptureEnded {};
// Raises CaptureEnded when the current session's running pass has ended
// (CaptureSession::PassEnded).
void EnsureSameCapture();

}  // namespace pass_state
