// TEMPORARY placeholder on the window branch: finds no cache. Replaced by the real discovery.
#include "harvest/cache/discovery/Discovery.h"

#include "harvest/cache/ListCacheSource.h"

std::vector<DiscoveredCache> DiscoverCaches() { return {}; }

std::shared_ptr<UrlCacheSource> MakeDiscoveredUrlCache() { return std::make_shared<ListCacheSource>(); }
