#include "main/CaptureRules.h"

#include <cmath>
#include <limits>

#include "harvest/PathText.h"

namespace {
constexpr std::int32_t kDefaultMinFileSize = 25;
constexpr std::int32_t kLargestMinFileSize = 100000;
}  // namespace

QString TrimSpaces(const QString& text) {
  qsizetype first = 0;
  qsizetype last = text.size();
  while (first < last && text[first] == u' ') ++first;
  while (last > first && text[last - 1] == u' ') --last;
  return text.mid(first, last - first);
}

std::string TrimSpaces(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string NormalisedExtensionList(const std::string& fieldText) {
  std::string lower = LowerCaseText(fieldText);
  std::string spaceless;
  spaceless.reserve(lower.size());
  for (char c : lower) {
    if (c != ' ') spaceless.push_back(c);
  }
  std::string reduced;
  reduced.reserve(spaceless.size() + 2);
  reduced.push_back(';');
  for (std::size_t i = 0; i < spaceless.size(); ++i) {
    reduced.push_back(spaceless[i]);
    if (spaceless[i] == '.' && i + 1 < spaceless.size() && spaceless[i + 1] == '.') ++i;
  }
  reduced.push_back(';');
  return reduced;
}

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
