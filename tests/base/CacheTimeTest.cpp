#include "base/CacheTime.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "base/NumberedError.h"

namespace {

CacheFileTime Utc(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
  const DateValue date = DateValue::FromFields(y, mo, d, h, mi, s);
  const auto ticks = static_cast<std::uint64_t>(date.Seconds() + 11644473600LL) * 10'000'000ULL + ms * 10'000ULL;
  return CacheFileTime::FromValue(ticks);
}

class CacheTime : public ::testing::Test {
 protected:
  void TearDown() override { platform_time::UnpinUtcOffset(); }
};

TEST_F(CacheTime, ConvertsToLocalTimeDroppingMilliseconds) {
  platform_time::PinUtcOffsetForTesting(8 * 3600);
  EXPECT_EQ(FileTimeToLocalDate(Utc(2026, 12, 7, 1, 5, 3, 999)), DateValue::FromFields(2026, 12, 7, 9, 5, 3));
  // Near midnight the local date is the next day, or the previous one west of UTC.
  EXPECT_EQ(FileTimeToLocalDate(Utc(2026, 12, 31, 20, 0, 0)), DateValue::FromFields(2027, 1, 1, 4, 0, 0));
  platform_time::PinUtcOffsetForTesting(-5 * 3600);
  EXPECT_EQ(FileTimeToLocalDate(Utc(2026, 3, 1, 2, 30, 0)), DateValue::FromFields(2026, 2, 28, 21, 30, 0));
}

TEST_F(CacheTime, UnconvertibleFileTimesLieBeforeAnyCapture) {
  platform_time::PinUtcOffsetForTesting(0);
  EXPECT_EQ(FileTimeToLocalDate(CacheFileTime::FromValue(1ULL << 63)), DateValue::FromFields(1900, 1, 1, 0, 0, 0));
  EXPECT_EQ(FileTimeToLocalDate(CacheFileTime::FromValue(~0ULL)), DateValue::FromFields(1900, 1, 1, 0, 0, 0));
  EXPECT_EQ(FileTimeToLocalDate(CacheFileTime{}), DateValue::FromFields(1601, 1, 1, 0, 0, 0));
  // A date past the range of the date value raises, which ends the pass.
  EXPECT_THROW(FileTimeToLocalDate(CacheFileTime::FromValue((1ULL << 63) - 1)), NumberedError);
}

TEST_F(CacheTime, AppliesTheOffsetInForceNow) {
  // A summer instant converts with the offset of now, whatever offset was in force then.
  platform_time::PinUtcOffsetForTesting(3600);
  const DateValue winter = FileTimeToLocalDate(Utc(2026, 7, 1, 12, 0, 0));
  platform_time::PinUtcOffsetForTesting(7200);
  const DateValue summer = FileTimeToLocalDate(Utc(2026, 7, 1, 12, 0, 0));
  EXPECT_EQ(summer.Seconds() - winter.Seconds(), 3600);
}

TEST_F(CacheTime, SystemTimeRoundTripsAndRejectsInvalidFields) {
  CacheSystemTime fields;
  DateToSystemTime(DateValue::FromFields(2024, 2, 29, 23, 59, 58), fields);
  EXPECT_EQ(fields.wYear, 2024);
  EXPECT_EQ(fields.wMonth, 2);
  EXPECT_EQ(fields.wDay, 29);
  EXPECT_EQ(fields.wSecond, 58);
  EXPECT_EQ(SystemTimeToDate(fields), DateValue::FromFields(2024, 2, 29, 23, 59, 58));

  CacheFileTime out;
  fields.wMonth = 13;
  EXPECT_FALSE(platform_time::SystemTimeToFileTime(fields, out));
  EXPECT_THROW(DateValue::FromFields(2023, 2, 29, 0, 0, 0), NumberedError);
  EXPECT_THROW(DateValue::FromFields(10000, 1, 1, 0, 0, 0), NumberedError);
}

TEST_F(CacheTime, DateValuesAreOrderedToTheSecond) {
  const DateValue a = DateValue::FromFields(2026, 12, 7, 9, 5, 3);
  EXPECT_LT(a, DateValue::FromFields(2026, 12, 7, 9, 5, 4));
  EXPECT_GT(a, DateValue::FromFields(1899, 12, 31, 0, 0, 0));
  EXPECT_EQ(a.ToIsoText(), "2026-12-07 09:05:03");
  EXPECT_EQ(DateValue::FromFields(150, 3, 1, 0, 0, 0).ToIsoText(), "0150-03-01 00:00:00");
}

}  // namespace

namespace {

TEST_F(CacheTime, EveryFileTimeConvertsAsThroughTheStructures) {
  // The conversion takes a short way for most times; it must agree with the way through the
  // platform's structures everywhere, at the ends of its range too.
  std::vector<std::uint64_t> values = {0, 1, (1ULL << 63) - 1};
  const std::uint64_t year = 365ULL * 86400 * 10'000'000;
  for (std::uint64_t v = 0; v < (1ULL << 63) - year; v += year * 37 + 123456789) values.push_back(v);
  for (std::uint64_t v : {1ULL * year, 8397ULL * year, 8398ULL * year}) {
    for (std::int64_t d = -3; d <= 3; ++d) values.push_back(v + d * 864'000'000'000LL);
  }
  for (std::int64_t offset : {-12 * 3600, 0, 5 * 3600 + 1800, 14 * 3600}) {
    platform_time::PinUtcOffsetForTesting(offset);
    for (std::uint64_t v : values) {
      const CacheFileTime time = CacheFileTime::FromValue(v);
      CacheSystemTime fields;
      std::optional<DateValue> expected;
      bool raises = false;
      try {
        expected = platform_time::FileTimeToSystemTime(time, fields)
                       ? UtcDateToLocal(DateValue::FromFields(fields.wYear, fields.wMonth, fields.wDay, fields.wHour,
                                                              fields.wMinute, fields.wSecond))
                       : DateValue::FromFields(1900, 1, 1, 0, 0, 0);
      } catch (const NumberedError&) {
        raises = true;
      }
      if (raises) {
        EXPECT_THROW(FileTimeToLocalDate(time), NumberedError) << v;
      } else {
        EXPECT_EQ(FileTimeToLocalDate(time), *expected) << v << " at offset " << offset;
      }
    }
  }
}

}  // namespace
