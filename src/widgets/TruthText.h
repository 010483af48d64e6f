#pragma once
// A truth value kept as text, the way the folder chooser hands back whether it was cancelled.
#include <QString>

inline const QString kTrueText = QStringLiteral("True");
inline const QString kFalseText = QStringLiteral("False");

inline QString TruthText(bool value) { return value ? kTrueText : kFalseText; }

// False only for a text that says false ("False" in any case, or "0"); any other text reads as
// true, so that a garbled value counts as cancelled and changes nothing.
inline bool TruthValue(const QString& text) {
  const QString trimmed = text.trimmed();
  return !(trimmed.compare(kFalseText, Qt::CaseInsensitive) == 0 || trimmed == QLatin1String("0"));
}
