#pragma once
// A cache format as a small descriptor: its kind, its names, how to recognise a folder that holds
// it and how to open a reader on one. Each format's folder defines its own; discovery keeps the
// ordered table of those this build can read.
#include <memory>
#include <string>
#include <string_view>

#include "cache/UrlCacheSource.h"

enum class CacheKind { WinInet, ChromiumSimple, ChromiumBlockfile, Firefox, ChromiumSql, ChromiumUnknown };

struct CacheFormat {
  CacheKind kind;
  // What `tavrin-harvest --list-caches` prints: short, ASCII, stable across releases.
  std::string_view shortName;
  // What the window's home page shows, in UTF-8.
  std::string_view displayName;
  // True when folder holds a cache of this format. Null for the system's own cache, which has no
  // folder and is always there.
  bool (*recognises)(const std::string& folder);
  // A reader of the cache in folder (which is empty for the system's own cache). Null for a format
  // that is recognised only to be reported: its caches are listed as not readable.
  std::shared_ptr<UrlCacheSource> (*open)(const std::string& folder);
  // For a format that cannot be read: what was found in folder, in plain words.
  std::string (*describe)(const std::string& folder) = nullptr;
};
