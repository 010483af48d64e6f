// The descriptor of Chromium's simple cache format, the default of Chromium-family browsers
// outside Windows.
#include "cache/chromium/simple/ChromiumSimpleCacheSource.h"

namespace {

std::shared_ptr<UrlCacheSource> OpenChromiumSimpleCache(const std::string& folder) {
  return std::make_shared<ChromiumSimpleCacheSource>(folder);
}

}  // namespace

const CacheFormat kChromiumSimpleCacheFormat{
    CacheKind::ChromiumSimple, "chromium", "Chromium 系列瀏覽器", IsChromiumSimpleCacheFolder, OpenChromiumSimpleCache,
};
