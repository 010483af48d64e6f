#pragma once
// The line below the pane that says what the capture is doing: whether it runs and since when,
// how many files it copied, when the last pass ran and how long it took, and why the last pass
// failed. The tick itself shows no dialog; this line is where a failing pass shows.
#include <QDateTime>
#include <QLabel>
#include <cstdint>

struct PassStatistics;

class StatusLine : public QLabel {
  Q_OBJECT
 public:
  explicit StatusLine(QWidget* parent = nullptr);

  void CaptureStarted(const QDateTime& at);
  void CaptureStopped();
  // A pass of the running capture begins; the number it returns is handed to PassEnded.
  int PassStarted();
  // One file copied by the running pass, shown at once.
  void FileCopied();
  // The pass begun by PassStarted ended: its start, duration and outcome. Ignored when the capture
  // it belonged to has been stopped since.
  void PassEnded(int pass, const QDateTime& started, std::int64_t milliseconds, const PassStatistics& outcome);

  bool Capturing() const { return capturing_; }
  std::uint64_t CopiedInCapture() const { return copied_; }

 private:
  void Show();

  bool capturing_ = false;
  bool stoppedOnce_ = false;
  int capture_ = 0;
  QDateTime since_;
  std::uint64_t copied_ = 0;
  std::uint64_t copiedBeforePass_ = 0;
  QDateTime lastPass_;
  std::int64_t lastPassMs_ = 0;
  QString lastError_;
};
