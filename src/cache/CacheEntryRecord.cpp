#include "cache/CacheEntryRecord.h"

#include <cstring>
#include <string>

namespace {

std::uint32_t StringRoom(const std::string& text) {
  return text.empty() ? 0 : static_cast<std::uint32_t>(text.size() + 1);
}

// Copies text with its terminator to buffer + at; returns its offset (0 for an absent string).
std::uint32_t PutString(char* buffer, std::uint32_t& at, const std::string& text) {
  if (text.empty()) return 0;
  const std::uint32_t offset = at;
  std::memcpy(buffer + at, text.data(), text.size());
  buffer[at + text.size()] = 0;
  at += static_cast<std::uint32_t>(text.size() + 1);
  return offset;
}

}  // namespace

std::uint32_t PackedEntrySize(const CacheEntry& entry) {
  return static_cast<std::uint32_t>(sizeof(CacheEntryRecord)) + StringRoom(entry.url) + StringRoom(entry.localPath) +
         StringRoom(entry.headers) + StringRoom(entry.extension);
}

bool PackEntry(const CacheEntry& entry, void* buffer, std::uint32_t capacity) {
  if (!buffer || capacity < PackedEntrySize(entry)) return false;
  auto* bytes = static_cast<char*>(buffer);
  CacheEntryRecord record{};
  std::uint32_t at = sizeof(CacheEntryRecord);
  record.dwStructSize = kPlatformRecordSize;
  record.lpszSourceUrlName = PutString(bytes, at, entry.url);
  record.lpszLocalFileName = PutString(bytes, at, entry.localPath);
  record.lpHeaderInfo = PutString(bytes, at, entry.headers);
  record.dwHeaderInfoSize = static_cast<std::uint32_t>(entry.headers.size());
  record.lpszFileExtension = PutString(bytes, at, entry.extension);
  record.CacheEntryType = entry.type;
  record.dwUseCount = entry.useCount;
  record.dwHitRate = entry.hitRate;
  record.dwSizeLow = static_cast<std::uint32_t>(entry.size);
  record.dwSizeHigh = static_cast<std::uint32_t>(entry.size >> 32);
  record.LastModifiedTime = entry.lastModified;
  record.ExpireTime = entry.expire;
  record.LastAccessTime = entry.lastAccess;
  record.LastSyncTime = entry.lastSync;
  std::memcpy(bytes, &record, sizeof record);
  return true;
}
