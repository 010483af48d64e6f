#pragma once
// The rules by which the window turns its fields into the arguments of a harvest pass.
#include <QLocale>
#include <QString>
#include <cstdint>
#include <optional>

// The size field's text as a 32-bit whole number by the locale's number conversion: surrounding
// blanks are allowed, a fraction is rounded (halves to even). Empty when the text is empty, not a
// number or outside the 32-bit range.
std::optional<std::int32_t> WholeNumberFromText(const QString& text, const QLocale& locale);

// What the size field yields: the limit to use, and the text to write back into the field when
// it must change (a negative number and anything unreadable give 25, above 100000 gives 100000).
struct MinFileSizeReading {
  std::int32_t kilobytes;
  std::optional<QString> replacementText;
};
MinFileSizeReading ReadMinFileSize(const QString& fieldText, const QLocale& locale);
