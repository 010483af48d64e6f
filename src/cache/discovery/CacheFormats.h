#pragma once
// The cache formats this build reads, as one ordered table that discovery, the window's home page
// and tavrin-harvest read.
#include <span>

#include "cache/CacheFormat.h"

// Every format this build reads, in the order discovery and the home page list them: the system's
// WinInet cache first (Windows builds only), then Chromium's formats (blockfile, simple, SQL), then Firefox's cache2,
// then the Chromium caches of a format this build cannot read, which are reported and never read. A folder is
// recognised by one format at most (the Chromium formats ask one function which of them a folder holds), so the order
// decides nothing else.
std::span<const CacheFormat* const> CacheFormats();

// The descriptor of kind; null when this build cannot read it (WinInet outside Windows).
const CacheFormat* FindCacheFormat(CacheKind kind);
