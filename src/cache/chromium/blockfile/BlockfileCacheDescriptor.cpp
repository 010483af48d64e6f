// The descriptor of Chromium's blockfile format, the default of Chrome and Edge on Windows.
#include "cache/chromium/blockfile/BlockfileCacheSource.h"

namespace {

std::shared_ptr<UrlCacheSource> OpenBlockfileCache(const std::string& folder) {
  return std::make_shared<BlockfileCacheSource>(folder);
}

}  // namespace

const CacheFormat kChromiumBlockfileFormat{
    CacheKind::ChromiumBlockfile, "blockfile", "Chromium 舊式快取", IsChromiumBlockfileFolder, OpenBlockfileCache,
};
