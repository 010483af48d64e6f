// The descriptor of Firefox's cache2 format.
#include "cache/firefox/FirefoxCacheSource.h"

namespace {

std::shared_ptr<UrlCacheSource> OpenFirefoxCache(const std::string& folder) {
  return std::make_shared<FirefoxCacheSource>(folder);
}

}  // namespace

const CacheFormat kFirefoxCacheFormat{
    CacheKind::Firefox, "firefox", "Firefox", IsFirefoxCacheFolder, OpenFirefoxCache,
};
