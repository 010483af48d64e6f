#pragma once
// Conversion of the cache's UTC file times into the local date values that the harvest compares
// with the capture start time.
#include <compare>
#include <cstdint>
#include <string>

// The platform's FILETIME: 100-ns intervals since 1601-01-01 00:00 UTC, low half first.
struct CacheFileTime {
  std::uint32_t dwLowDateTime = 0;
  std::uint32_t dwHighDateTime = 0;
  std::uint64_t Value() const { return (std::uint64_t{dwHighDateTime} << 32) | dwLowDateTime; }
  static CacheFileTime FromValue(std::uint64_t value) {
    return {static_cast<std::uint32_t>(value), static_cast<std::uint32_t>(value >> 32)};
  }
};

// The platform's SYSTEMTIME.
struct CacheSystemTime {
  std::uint16_t wYear = 0, wMonth = 0, wDayOfWeek = 0, wDay = 0;
  std::uint16_t wHour = 0, wMinute = 0, wSecond = 0, wMilliseconds = 0;
};

// A calendar date with a time of day, to the whole second, without a time zone. Years 100 to 9999.
class DateValue {
 public:
  DateValue() = default;  // 1899-12-30 00:00:00, the zero date
  // Raises NumberedError (overflow) for a date outside the range or fields that make no date.
  static DateValue FromFields(int year, int month, int day, int hour, int minute, int second);
  // The local date and time of the clock now, to the second.
  static DateValue Now();

  struct Fields {
    int year, month, day, hour, minute, second;
  };
  Fields Split() const;
  // "YYYY-MM-DD HH:MM:SS"
  std::string ToIsoText() const;

  // Seconds since 1970-01-01 00:00:00 of the same (zone-less) calendar.
  std::int64_t Seconds() const { return seconds_; }
  static DateValue FromSeconds(std::int64_t seconds);

  auto operator<=>(const DateValue&) const = default;

 private:
  explicit DateValue(std::int64_t seconds) : seconds_(seconds) {}
  std::int64_t seconds_ = -2209161600;  // 1899-12-30
};

DateValue FileTimeToLocalDate(const CacheFileTime& fileTime);
DateValue UtcDateToLocal(const DateValue& utc);
void DateToSystemTime(const DateValue& date, CacheSystemTime& structure);
DateValue SystemTimeToDate(const CacheSystemTime& structure);

// The platform's three conversions, with the Windows semantics: values of 2^63 and above are
// rejected; the local conversion applies the offset in force now, not the one at the instant.
namespace platform_time {
bool FileTimeToSystemTime(const CacheFileTime& fileTime, CacheSystemTime& systemTime);
bool SystemTimeToFileTime(const CacheSystemTime& systemTime, CacheFileTime& fileTime);
bool FileTimeToLocalFileTime(const CacheFileTime& utc, CacheFileTime& local);
// Seconds east of UTC in force now. Tests may pin it; the default follows the system.
std::int64_t CurrentUtcOffsetSeconds();
void PinUtcOffsetForTesting(std::int64_t seconds);
void UnpinUtcOffset();
}  // namespace platform_time
