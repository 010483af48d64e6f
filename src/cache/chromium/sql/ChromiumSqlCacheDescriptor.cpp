// The descriptor of Chromium's SQL cache format, which field trials give some installations.
#include "cache/chromium/sql/ChromiumSqlCacheSource.h"

namespace {

std::shared_ptr<UrlCacheSource> OpenChromiumSqlCache(const std::string& folder) {
  return std::make_shared<ChromiumSqlCacheSource>(folder);
}

}  // namespace

const CacheFormat kChromiumSqlCacheFormat{
    CacheKind::ChromiumSql,   "chromium-sql",       "Chromium 系列瀏覽器（SQL 快取）",
    IsChromiumSqlCacheFolder, OpenChromiumSqlCache,
};
