#include "main/CaptureRules.h"

#include <cmath>
#include <limits>

namespace {
constexpr std::int32_t kDefaultMinFileSize = 25;
constexpr std::int32_t kLargestMinFileSize = 100000;
}  // namespace

std::optional<std::int32_t> WholeNumberFromText(const QString& text, const QLocale& locale) {
  const QString trimmed = text.trimmed();
  if (trimmed.isEmpty()) return std::nullopt;
  bool ok = false;
  double value = locale.toDouble(trimmed, &ok);
  // A text the locale cannot read may still be a number in the C locale's notation (such as "2.5"
  // where the locale's decimal mark is a comma); it is read that way rather than refused.
  if (!ok) value = QLocale::c().toDouble(trimmed, &ok);
  if (!ok || !std::isfinite(value)) return std::nullopt;
  const double rounded = std::nearbyint(value);  // the default rounding: halves to the even neighbour
  if (rounded < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
      rounded > static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(rounded);
}

MinFileSizeReading ReadMinFileSize(const QString& fieldText, const QLocale& locale) {
  const std::optional<std::int32_t> number = WholeNumberFromText(fieldText, locale);
  if (!number || *number < 0) return {kDefaultMinFileSize, QString::number(kDefaultMinFileSize)};
  if (*number > kLargestMinFileSize) return {kLargestMinFileSize, QString::number(kLargestMinFileSize)};
  return {*number, std::nullopt};
}
