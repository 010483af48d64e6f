#include "main/StatusLine.h"

#include <cstdio>

#include "harvest/cmnWinInet.h"
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
  // A long error is cut at the window's edge; the tooltip holds all of it.
  setMinimumWidth(1);
  Show();
}

void StatusLine::CaptureStarted(const QDateTime& at) {
  capturing_ = true;
  ++capture_;
  since_ = at;
  copied_ = copiedBeforePass_ = 0;
  lastPass_ = QDateTime();
  lastError_.clear();
  Show();
}

void StatusLine::CaptureStopped() {
  if (!capturing_) return;
  capturing_ = false;
  stoppedOnce_ = true;
  ++capture_;
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
  lastError_.clear();
  // A pass that went on past an entry it could not copy names that entry too.
  if (outcome.endedByError || !outcome.error.empty()) {
    lastError_ = outcome.error.empty() ? QStringLiteral("原因不明") : FromNative(outcome.error);
  }
  Show();
}

void StatusLine::Show() {
  QString text;
  if (capturing_) {
    text = QStringLiteral("擷取中：自 %1 起，已擷取 %2 個檔案").arg(since_.toString(kTimeFormat)).arg(copied_);
    if (lastPass_.isValid()) {
      text += QStringLiteral("；上次掃描 %1，費時 %2 秒")
                  .arg(lastPass_.toString(kTimeFormat))
                  .arg(QString::number(double(lastPassMs_) / 1000.0, 'f', 1));
    }
    if (!lastError_.isEmpty()) text += QStringLiteral("；上次掃描失敗：") + lastError_;
  } else if (stoppedOnce_) {
    text = QStringLiteral("已停止：本次擷取共 %1 個檔案").arg(copied_);
  } else {
    text = QStringLiteral("尚未開始擷取");
  }
  setText(text);
  setToolTip(text);
  // For the end-to-end test, which sees the window only from outside.
  static const bool trace = qEnvironmentVariableIsSet("TAVRIN_TRACE_STATUS");
  if (trace) {
    std::fprintf(stderr, "status: %s\n", text.toUtf8().constData());
    std::fflush(stderr);
  }
}
