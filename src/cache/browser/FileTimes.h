#pragma once
// Conversions of the browsers' clocks into FILETIME values (100-ns units since 1601-01-01 UTC).
#include <cstdint>

// 1970-01-01 00:00 UTC as a FILETIME value.
inline constexpr std::uint64_t kFileTimeOfUnixEpoch = 116444736000000000ull;

inline std::uint64_t UnixNsToFileTime(std::int64_t ns) {
  const std::int64_t value = ns / 100 + static_cast<std::int64_t>(kFileTimeOfUnixEpoch);
  return value < 0 ? 0 : static_cast<std::uint64_t>(value);
}

inline std::uint64_t UnixSecondsToFileTime(std::uint32_t seconds) {
  return std::uint64_t{seconds} * 10000000ull + kFileTimeOfUnixEpoch;
}

// Chromium's base::Time: microseconds since 1601-01-01 UTC.
inline std::uint64_t WindowsEpochMicrosecondsToFileTime(std::int64_t microseconds) {
  if (microseconds <= 0) return 0;
  if (static_cast<std::uint64_t>(microseconds) > UINT64_MAX / 10) return 0;
  return static_cast<std::uint64_t>(microseconds) * 10;
}
