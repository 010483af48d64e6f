// A Chromium cache folder in a format this build does not know (an index of another kind, a
// backend that came later): recognised so that it is reported, never read.
#include "cache/chromium/common/ChromiumFolderFormat.h"

namespace {

bool IsUnknownChromiumFolder(const std::string& folder) {
  return ChromiumFormatOfFolder(folder).kind == ChromiumFolderKind::Unknown;
}

std::string DescribeUnknownChromiumFolder(const std::string& folder) {
  return "a cache format this version of Tavrin cannot read (" + ChromiumFormatOfFolder(folder).found + ")";
}

}  // namespace

const CacheFormat kChromiumUnknownFormat{
    CacheKind::ChromiumUnknown,
    "chromium-unknown",
    "Chromium 系列瀏覽器（無法辨識的快取格式）",
    IsUnknownChromiumFolder,
    nullptr,
    DescribeUnknownChromiumFolder,
};
