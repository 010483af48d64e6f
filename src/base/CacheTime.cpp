#include "base/CacheTime.h"

#include <atomic>
#include <cstdio>
#include <ctime>

#include "base/NumberedError.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::uint64_t kTicksPerSecond = 10'000'000;

// Days since 1970-01-01 of a proleptic Gregorian date, and back (H. Hinnant's algorithms).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct Civil {
  std::int64_t year;
  unsigned month, day;
};

Civil CivilFromDays(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2), m, d};
}

unsigned DaysInMonth(std::int64_t year, unsigned month) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

const std::int64_t kFileTimeEpochDays = DaysFromCivil(1601, 1, 1);
// File times from 1602 to 9998: a local offset cannot take them out of any range.
const std::uint64_t kFastFrom =
    static_cast<std::uint64_t>(DaysFromCivil(1602, 1, 1) - kFileTimeEpochDays) * kSecondsPerDay * kTicksPerSecond;
const std::uint64_t kFastUntil =
    static_cast<std::uint64_t>(DaysFromCivil(9999, 1, 1) - kFileTimeEpochDays) * kSecondsPerDay * kTicksPerSecond;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

}  // namespace

DateValue DateValue::FromFields(int year, int month, int day, int hour, int minute, int second) {
  if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > static_cast<int>(DaysInMonth(year, static_cast<unsigned>(month))) || hour < 0 || hour > 23 || minute < 0 ||
      minute > 59 || second < 0 || second > 59) {
    throw NumberedError(NumberedError::kOverflow, "Overflow");
  }
  return DateValue(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * kSecondsPerDay +
                   hour * 3600 + minute * 60 + second);
}

DateValue DateValue::FromSeconds(std::int64_t seconds) { return DateValue(seconds); }

DateValue DateValue::Now() {
  const std::time_t now = std::time(nullptr);
  return DateValue(static_cast<std::int64_t>(now) + platform_time::CurrentUtcOffsetSeconds());
}

DateValue::Fields DateValue::Split() const {
  const std::int64_t days = FloorDiv(seconds_, kSecondsPerDay);
  const auto secondOfDay = static_cast<int>(seconds_ - days * kSecondsPerDay);
  const Civil civil = CivilFromDays(days);
  return {static_cast<int>(civil.year), static_cast<int>(civil.month), static_cast<int>(civil.day),
          secondOfDay / 3600,           secondOfDay / 60 % 60,         secondOfDay % 60};
}

std::string DateValue::ToIsoText() const {
  char text[32];
  const Fields f = Split();
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day, f.hour, f.minute, f.second);
  return text;
}

DateValue FileTimeToLocalDate(const CacheFileTime& fileTime) {
#ifndef _WIN32
  // Every entry of every pass comes through here, so the usual case takes a short way with the
  // same arithmetic as the way through the structures below: whole UTC seconds plus the offset in
  // force now. Times near the ends of the ranges of file times and date values go the long way.
  const std::uint64_t value = fileTime.Value();
  if (value >= kFastFrom && value < kFastUntil) {
    const auto utcSeconds = static_cast<std::int64_t>(value / kTicksPerSecond) + kFileTimeEpochDays * kSecondsPerDay;
    return DateValue::FromSeconds(utcSeconds + platform_time::CurrentUtcOffsetSeconds());
  }
#endif
  CacheSystemTime structure;
  if (!platform_time::FileTimeToSystemTime(fileTime, structure)) return DateValue::FromFields(1900, 1, 1, 0, 0, 0);
  const DateValue utc = DateValue::FromFields(structure.wYear, structure.wMonth, structure.wDay, structure.wHour,
                                              structure.wMinute, structure.wSecond);
  return UtcDateToLocal(utc);
}

DateValue UtcDateToLocal(const DateValue& utc) {
  CacheSystemTime structure;
  CacheFileTime first, second;
  DateToSystemTime(utc, structure);
  platform_time::SystemTimeToFileTime(structure, first);
  platform_time::FileTimeToLocalFileTime(first, second);
  platform_time::FileTimeToSystemTime(second, structure);
  return SystemTimeToDate(structure);
}

void DateToSystemTime(const DateValue& date, CacheSystemTime& structure) {
  const DateValue::Fields f = date.Split();
  structure.wYear = static_cast<std::uint16_t>(f.year);
  structure.wMonth = static_cast<std::uint16_t>(f.month);
  structure.wDay = static_cast<std::uint16_t>(f.day);
  structure.wHour = static_cast<std::uint16_t>(f.hour);
  structure.wMinute = static_cast<std::uint16_t>(f.minute);
  structure.wSecond = static_cast<std::uint16_t>(f.second);
}

// Built from the fields directly: the same date and time to the second as reading back the
// month-first text, without depending on the user's regional settings.
DateValue SystemTimeToDate(const CacheSystemTime& structure) {
  return DateValue::FromFields(structure.wYear, structure.wMonth, structure.wDay, structure.wHour, structure.wMinute,
                               structure.wSecond);
}

namespace platform_time {

namespace {
std::atomic<bool> g_pinned{false};
std::atomic<std::int64_t> g_pinnedOffset{0};
}  // namespace

void PinUtcOffsetForTesting(std::int64_t seconds) {
  g_pinnedOffset = seconds;
  g_pinned = true;
}
void UnpinUtcOffset() { g_pinned = false; }

#ifdef _WIN32

bool FileTimeToSystemTime(const CacheFileTime& fileTime, CacheSystemTime& systemTime) {
  return ::FileTimeToSystemTime(reinterpret_cast<const FILETIME*>(&fileTime),
                                reinterpret_cast<SYSTEMTIME*>(&systemTime));
}
bool SystemTimeToFileTime(const CacheSystemTime& systemTime, CacheFileTime& fileTime) {
  return ::SystemTimeToFileTime(reinterpret_cast<const SYSTEMTIME*>(&systemTime),
                                reinterpret_cast<FILETIME*>(&fileTime));
}
bool FileTimeToLocalFileTime(const CacheFileTime& utc, CacheFileTime& local) {
  if (g_pinned) {
    local = CacheFileTime::FromValue(utc.Value() + static_cast<std::uint64_t>(g_pinnedOffset.load() * 10'000'000));
    return true;
  }
  return ::FileTimeToLocalFileTime(reinterpret_cast<const FILETIME*>(&utc), reinterpret_cast<FILETIME*>(&local));
}
std::int64_t CurrentUtcOffsetSeconds() {
  if (g_pinned) return g_pinnedOffset;
  TIME_ZONE_INFORMATION zone;
  const DWORD state = GetTimeZoneInformation(&zone);
  LONG bias = zone.Bias;
  if (state == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
  if (state == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
  return -static_cast<std::int64_t>(bias) * 60;
}

#else

bool FileTimeToSystemTime(const CacheFileTime& fileTime, CacheSystemTime& systemTime) {
  const std::uint64_t value = fileTime.Value();
  if (value >= (std::uint64_t{1} << 63)) return false;
  const std::uint64_t seconds = value / kTicksPerSecond;
  const auto days = static_cast<std::int64_t>(seconds / kSecondsPerDay);
  const auto secondOfDay = static_cast<unsigned>(seconds % kSecondsPerDay);
  const Civil civil = CivilFromDays(kFileTimeEpochDays + days);
  systemTime.wYear = static_cast<std::uint16_t>(civil.year);
  systemTime.wMonth = static_cast<std::uint16_t>(civil.month);
  systemTime.wDay = static_cast<std::uint16_t>(civil.day);
  systemTime.wDayOfWeek = static_cast<std::uint16_t>((days + 1) % 7);  // 1601-01-01 was a Monday
  systemTime.wHour = static_cast<std::uint16_t>(secondOfDay / 3600);
  systemTime.wMinute = static_cast<std::uint16_t>(secondOfDay / 60 % 60);
  systemTime.wSecond = static_cast<std::uint16_t>(secondOfDay % 60);
  systemTime.wMilliseconds = static_cast<std::uint16_t>(value % kTicksPerSecond / 10'000);
  return true;
}

bool SystemTimeToFileTime(const CacheSystemTime& systemTime, CacheFileTime& fileTime) {
  const CacheSystemTime& s = systemTime;
  if (s.wYear < 1601 || s.wYear > 30827 || s.wMonth < 1 || s.wMonth > 12 || s.wDay < 1 ||
      s.wDay > DaysInMonth(s.wYear, s.wMonth) || s.wHour > 23 || s.wMinute > 59 || s.wSecond > 59 ||
      s.wMilliseconds > 999) {
    return false;
  }
  const std::int64_t days = DaysFromCivil(s.wYear, s.wMonth, s.wDay) - kFileTimeEpochDays;
  const auto seconds = static_cast<std::uint64_t>(days * kSecondsPerDay + s.wHour * 3600 + s.wMinute * 60 + s.wSecond);
  fileTime = CacheFileTime::FromValue(seconds * kTicksPerSecond + std::uint64_t{s.wMilliseconds} * 10'000);
  return true;
}

bool FileTimeToLocalFileTime(const CacheFileTime& utc, CacheFileTime& local) {
  const std::int64_t offsetTicks = CurrentUtcOffsetSeconds() * static_cast<std::int64_t>(kTicksPerSecond);
  const std::uint64_t value = utc.Value();
  if (offsetTicks < 0 && value < static_cast<std::uint64_t>(-offsetTicks)) return false;
  const std::uint64_t result = value + static_cast<std::uint64_t>(offsetTicks);
  if (result >= (std::uint64_t{1} << 63)) return false;
  local = CacheFileTime::FromValue(result);
  return true;
}

std::int64_t CurrentUtcOffsetSeconds() {
  if (g_pinned) return g_pinnedOffset;
  // The offset is looked up at most once per second of the clock: a pass converts thousands of
  // times within one second, and the offset in force cannot change faster than that matters.
  static thread_local std::time_t cachedAt = -1;
  static thread_local std::int64_t cachedOffset = 0;
  const std::time_t now = std::time(nullptr);
  if (now != cachedAt) {
    std::tm local{};
    localtime_r(&now, &local);
    cachedOffset = local.tm_gmtoff;
    cachedAt = now;
  }
  return cachedOffset;
}

#endif

}  // namespace platform_time
