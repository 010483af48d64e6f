#pragma once
// One entry of a URL cache as a source yields it, before it is packed into the receive buffer.
#include <cstdint>
#include <string>

#include "base/CacheTime.h"

struct CacheEntry {
  std::string url;        // empty: the entry has no address
  std::string localPath;  // the cached file, or a virtual path resolved through VirtualFiles
  std::string headers;    // response headers, may be empty
  std::string extension;  // the entry's extension text, may be empty
  std::uint32_t type = 0;
  std::uint32_t useCount = 0;
  std::uint32_t hitRate = 0;
  std::uint64_t size = 0;  // bytes a copy of the file writes
  CacheFileTime lastModified;
  CacheFileTime expire;
  CacheFileTime lastAccess;  // UTC
  CacheFileTime lastSync;
};
