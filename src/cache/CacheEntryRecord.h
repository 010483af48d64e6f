#pragma once
// The 84-byte head of a cache entry in the receive buffer, followed there by the entry's
// NUL-terminated strings. String fields hold 32-bit offsets from the start of the receive buffer
// (0 = absent), so the layout is the same in 32- and 64-bit builds.
#include <cstddef>
#include <cstdint>

#include "base/CacheTime.h"
#include "cache/CacheEntry.h"

#pragma pack(push, 4)
struct CacheEntryRecord {
  std::uint32_t dwStructSize;
  std::uint32_t lpszSourceUrlName;
  std::uint32_t lpszLocalFileName;
  std::uint32_t CacheEntryType;
  std::uint32_t dwUseCount;
  std::uint32_t dwHitRate;
  std::uint32_t dwSizeLow;
  std::uint32_t dwSizeHigh;
  CacheFileTime LastModifiedTime;
  CacheFileTime ExpireTime;
  CacheFileTime LastAccessTime;
  CacheFileTime LastSyncTime;
  std::uint32_t lpHeaderInfo;
  std::uint32_t dwHeaderInfoSize;
  std::uint32_t lpszFileExtension;
  std::uint32_t dwReserved;
  std::uint32_t dwTrailing;  // the four bytes after the platform's 80-byte record
};
#pragma pack(pop)

static_assert(sizeof(CacheEntryRecord) == 84);
static_assert(offsetof(CacheEntryRecord, lpszLocalFileName) == 8);
static_assert(offsetof(CacheEntryRecord, dwSizeLow) == 24);
static_assert(offsetof(CacheEntryRecord, LastAccessTime) == 48);
static_assert(offsetof(CacheEntryRecord, lpHeaderInfo) == 64);
static_assert(offsetof(CacheEntryRecord, dwReserved) == 76);

inline constexpr std::uint32_t kPlatformRecordSize = 80;

// Bytes that entry takes in the receive buffer: the record and its strings.
std::uint32_t PackedEntrySize(const CacheEntry& entry);

// Writes entry at the start of buffer, which holds capacity bytes. Returns false, writing
// nothing, when the entry does not fit.
bool PackEntry(const CacheEntry& entry, void* buffer, std::uint32_t capacity);
