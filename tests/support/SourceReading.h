#pragma once
// Reading a source the way the harvest does: its listing, and copies through the virtual files.
#include <map>
#include <optional>
#include <string>

#include "base/FileSystemObject.h"
#include "cache/UrlCacheSource.h"

// The entries of one enumeration by URL.
inline std::map<std::string, CacheEntry> ListByUrl(UrlCacheSource& source) {
  std::map<std::string, CacheEntry> entries;
  auto cursor = source.Open();
  CacheEntry entry;
  while (cursor->Next(entry)) entries[entry.url] = entry;
  return entries;
}

// The bytes a copy of the path writes; empty when the copy fails.
inline std::optional<std::string> CopyOut(const std::string& path) {
  std::string bytes;
  try {
    FileSystemObject().ReadContents(path, [&](const char* data, std::size_t length) {
      bytes.append(data, length);
      return true;
    });
  } catch (...) {
    return std::nullopt;
  }
  return bytes;
}
