#include "main/StatusLine.h"

#include <QResizeEvent>
#include <algorithm>

#include "harvest/cmnWinInet.h"
#include "main/FailureTexts.h"
#include "widgets/NativeText.h"

namespace {
const QString kTimeFormat = QStringLiteral("HH:mm:ss");
}  // namespace

StatusLine::StatusLine(QWidget* parent) : QLabel(parent) {
  setObjectName(QStringLiteral("StatusLine"));
  setFocusPolicy(Qt::NoFocus);
  setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  setIndent(8);
  setTextFormat(Qt::PlainText);
  // A long path is shortened to fit; the tooltip holds all of the text.
  setMinimumWidth(1);
  Show();
}

void StatusLine::CaptureStarted(const QDateTime& at) {
  capturing_ = true;
  ++capture_;
  since_ = at;
  copied_ = copiedBeforePass_ = 0;
  lastPass_ = QDateTime();
  failure_ = {};
  Show();
}

void StatusLine::StartRefused(const QString& folder, const QString& reason) {
  if (capturing_) return;
  failure_ = {StartRefusedWhat(), folder, reason};
  Show();
}

void StatusLine::CaptureStopped() {
  if (!capturing_) return;
  capturing_ = false;
  stoppedOnce_ = true;
  ++capture_;
  failure_ = {};
  Show();
}

int StatusLine::PassStarted() {
  copiedBeforePass_ = copied_;
  return capture_;
}

void StatusLine::FileCopied() {
  if (!capturing_) return;
  ++copied_;
  Show();
}

void StatusLine::PassEnded(int pass, const QDateTime& started, std::int64_t milliseconds,
                           const PassStatistics& outcome) {
  if (!capturing_ || pass != capture_) return;
  copied_ = copiedBeforePass_ + outcome.copied;
  lastPass_ = started;
  lastPassMs_ = milliseconds;
  failure_ = {};
  // A pass that went on past an entry it could not copy names that entry too.
  if (outcome.endedByError || !outcome.error.empty()) {
    // The system's own words in the user's language where the reason is a system error's (on
    // Windows the core's are the ANSI English ones).
    const QString reason =
        outcome.errorCode != 0 ? SystemReasonText(outcome.errorCode) : ReasonInWindowLanguage(outcome.errorReason);
    failure_ = {PassFailureWhat(outcome), FromNative(outcome.errorPath), reason};
  }
  Show();
}

void StatusLine::Show() {
  QString text;
  head_.clear();
  tail_.clear();
  rest_.clear();
  if (capturing_) {
    text = QStringLiteral("擷取中：自 %1 起，已擷取 %2 個檔案").arg(since_.toString(kTimeFormat)).arg(copied_);
    if (lastPass_.isValid()) {
      text += QStringLiteral("；上次掃描 %1，費時 %2 秒")
                  .arg(lastPass_.toString(kTimeFormat))
                  .arg(QString::number(double(lastPassMs_) / 1000.0, 'f', 1));
    }
  } else if (stoppedOnce_) {
    text = QStringLiteral("已停止：本次擷取共 %1 個檔案").arg(copied_);
  } else {
    text = QStringLiteral("尚未開始擷取");
  }
  // What failed comes first, so that it is read even when the line is cut.
  if (failure_.Empty()) {
    head_ = text;
  } else {
    head_ = (capturing_ ? QStringLiteral("上次掃描失敗：") : QString()) + failure_.what +
            (failure_.path.isEmpty() ? QString() : QStringLiteral(" "));
    tail_ = QStringLiteral("：") + failure_.reason;
    rest_ = QStringLiteral("；") + text;
  }
  text = head_ + failure_.path + tail_ + rest_;
  fullText_ = text;
  setToolTip(text);
  Fit();
}

void StatusLine::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  Fit();
}

void StatusLine::Fit() {
  if (failure_.path.isEmpty()) {
    setText(fullText_);
    return;
  }
  // The path gives way, in its middle, to what failed and why; what the capture did may be cut.
  const QFontMetrics metrics = fontMetrics();
  const int room = contentsRect().width() - 2 * indent() - metrics.horizontalAdvance(head_ + tail_);
  const int least = metrics.horizontalAdvance(QStringLiteral("…")) * 8;
  setText(head_ + metrics.elidedText(failure_.path, Qt::ElideMiddle, std::max(room, least)) + tail_ + rest_);
}
