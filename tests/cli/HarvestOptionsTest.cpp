#include "cli/HarvestOptions.h"

#include <gtest/gtest.h>

namespace {

ParsedOptions Parse(std::vector<std::string> arguments) { return ParseHarvestOptions(arguments); }

TEST(HarvestOptions, DefaultsFollowTheWindow) {
  const ParsedOptions p = Parse({"--dest", "/tmp/x"});
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.options.extensions, "*.jpg;*.jpeg;*.bmp;*.gif;*.flv");
  EXPECT_EQ(p.options.minimumKb, 25);
  EXPECT_EQ(p.options.since, "all");
  EXPECT_EQ(Parse({"--dest", "d", "--watch"}).options.since, "now");
  EXPECT_EQ(Parse({"--dest", "d", "--watch", "--since", "all"}).options.since, "all");
}

TEST(HarvestOptions, RejectsBadUsageWithAReason) {
  EXPECT_EQ(Parse({}).error, "--dest DIR is required");
  EXPECT_NE(Parse({"--dest"}).error, "");
  EXPECT_EQ(Parse({"--dest", "--stats"}).error, "--dest needs a value");  // the folder was forgotten
  EXPECT_NE(Parse({"--dest", "d", "--cache", "--watch"}).error, "");
  EXPECT_NE(Parse({"--dest", "d", "--min-kb", "100001"}).error, "");
  EXPECT_NE(Parse({"--dest", "d", "--min-kb", "-1"}).error, "");
  EXPECT_NE(Parse({"--dest", "d", "--min-kb", "12abc"}).error, "");
  EXPECT_NE(Parse({"--dest", "d", "--since", "yesterday"}).error, "");
  EXPECT_NE(Parse({"--dest", "d", "--since", "2026-02-30T00:00:00"}).error, "");
  EXPECT_NE(Parse({"--dest", "d", "--interval", "0"}).error, "");
  EXPECT_NE(Parse({"--dest", "d", "--frobnicate"}).error, "");
  EXPECT_EQ(Parse({"--list-caches"}).error, "");  // needs no destination
}

TEST(HarvestOptions, ReadsEveryOption) {
  const ParsedOptions p =
      Parse({"--dest", "d", "--ext", "png;*.gif", "--min-kb", "0", "--since", "2026-12-07T09:05:03", "--cache", "a",
             "--cache", "b", "--watch", "--interval", "250", "--passes", "3", "--stats"});
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.options.extensions, "*.png;*.gif");
  EXPECT_EQ(p.options.caches, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(p.options.intervalMs, 250);
  EXPECT_EQ(p.options.passes, 3);
  EXPECT_TRUE(p.options.stats);
  EXPECT_EQ(*CaptureStartFor(p.options.since), DateValue::FromFields(2026, 12, 7, 9, 5, 3));
  EXPECT_LT(*CaptureStartFor("all"), DateValue::FromFields(1601, 1, 1, 0, 0, 0));
}

}  // namespace
