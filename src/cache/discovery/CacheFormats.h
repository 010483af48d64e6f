#pragma once
// The cache formats this build reads, as one ordered table that discovery, the window's home page
// and tavrin-harvest read.
#include <span>

#include "cache/CacheFormat.h"

// Every format this build reads, in the order a folder is tried against them: the system's WinInet
// cache first (Windows builds only), then Chromium's blockfile format before its simple format, so
// that a blockfile folder is never read as a simple cache, then Firefox's cache2.
std::span<const CacheFormat* const> CacheFormats();

// The descriptor of kind; null when this build cannot read it (WinInet outside Windows).
const CacheFormat* FindCacheFormat(CacheKind kind);
