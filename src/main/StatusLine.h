#pragma once
// The line below the pane that says what the capture is doing: whether it runs and since when,
// how many files it copied, when the last pass ran and how long it took, and why the last pass
// failed. The tick itself shows no dialog; this line is where a failing pass shows. A failure is
// said first, in the window's language, with its path shortened in the middle to fit the line; the
// tooltip holds the whole text.
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
  // Start could not make the folder; reason is the system's, in the window's language.
  void StartRefused(const QString& folder, const QString& reason);
  // A pass of the running capture begins; the number it returns is handed to PassEnded.
  int PassStarted();
  // One file copied by the running pass, shown at once.
  void FileCopied();
  // The pass begun by PassStarted ended: its start, duration and outcome. Ignored when the capture
  // it belonged to has been stopped since.
  void PassEnded(int pass, const QDateTime& started, std::int64_t milliseconds, const PassStatistics& outcome);

  bool Capturing() const { return capturing_; }
  std::uint64_t CopiedInCapture() const { return copied_; }
  // The whole text, as the tooltip holds it.
  const QString& FullText() const { return fullText_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct Failure {
    QString what, path, reason;  // path may be empty
    bool Empty() const { return what.isEmpty(); }
  };
  void Show();
  void Fit();

  bool capturing_ = false;
  bool stoppedOnce_ = false;
  int capture_ = 0;
  QDateTime since_;
  std::uint64_t copied_ = 0;
  std::uint64_t copiedBeforePass_ = 0;
  QDateTime lastPass_;
  std::int64_t lastPassMs_ = 0;
  Failure failure_;  // of the last pass, or of a refused Start
  // Around the failure's path: what failed, then the reason, then what the capture did.
  QString head_, tail_, rest_;
  QString fullText_;
};
