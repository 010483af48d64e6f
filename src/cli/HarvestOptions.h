#pragma once
// The command line of tavrin-harvest.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/CacheTime.h"
#include "harvest/ExtensionList.h"

struct HarvestOptions {
  std::string destination;
  std::string extensions{kDefaultExtensionList};
  std::int32_t minimumKb = 25;
  std::string since;  // "now", "all" or a local date-time; empty: chosen by watch
  std::vector<std::string> caches;
  bool watch = false;
  std::int64_t intervalMs = 6000;
  std::optional<std::int64_t> passes;
  bool listCaches = false;
  bool stats = false;
  bool help = false;
};

struct ParsedOptions {
  HarvestOptions options;
  std::string error;  // non-empty: bad usage, one line saying why
};

ParsedOptions ParseHarvestOptions(const std::vector<std::string>& arguments);

// The capture start time that --since names, "now" taken from the clock. Empty for a bad value.
std::optional<DateValue> CaptureStartFor(const std::string& since);

extern const std::string kHarvestUsage;
