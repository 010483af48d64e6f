#pragma once
// The pieces of Firefox's cache2 entry files, parsed from byte spans. Integers are big-endian;
// every length found in the bytes is checked against the bytes there are.
//
// On disk, a cache2 folder holds "entries/", one file per entry named by the SHA-1 of its key in
// 40 hex digits. A file is the body, then the metadata block: a hash of the rest of the block, one
// 16-bit hash per 256 KiB chunk of the body, a header (version, fetch count, last fetched, last
// modified, frecency, expiration, key size and, from version 2, flags), the key and a NUL, then
// name NUL value NUL elements ("response-head" among them). The file ends with the body's length,
// which is where the metadata starts; format 4 puts its version word before it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cache/browser/ByteReading.h"

inline constexpr std::uint32_t kCache2ChunkSize = 256 * 1024;
inline constexpr std::uint32_t kCache2CurrentVersion = 4;
inline constexpr std::uint32_t kCache2NoExpiration = 0xFFFFFFFFu;
// The smallest metadata block: its hash and a version-1 header (with an empty key's NUL).
inline constexpr std::uint64_t kCache2SmallestMetadata = 36;

struct Cache2Trailer {
  std::uint32_t dataSize = 0;  // the body's length, where the metadata block starts
  std::uint32_t size = 0;      // 8 (format 4) or 4 (older)
  bool encrypted = false;
};
// The trailer, from the last (up to) 8 bytes of a file of fileSize bytes; empty when the file is
// too short, still being written, or the data size does not fit.
std::optional<Cache2Trailer> ParseCache2Trailer(Bytes lastBytes, std::uint64_t fileSize);

struct Cache2Metadata {
  std::uint32_t version = 0;
  std::uint32_t fetchCount = 0;
  std::uint32_t lastFetched = 0;   // Unix seconds
  std::uint32_t lastModified = 0;  // Unix seconds
  std::uint32_t frecency = 0;
  std::uint32_t expiration = kCache2NoExpiration;
  std::uint32_t flags = 0;
  std::string key;
  std::vector<std::uint16_t> chunkHashes;  // one per 256 KiB chunk of the body
  std::vector<std::pair<std::string, std::string>> elements;

  // The value of the element of that name; null when absent.
  const std::string* Element(std::string_view name) const;
};
// The metadata block of an entry whose body is dataSize bytes. Empty when its hash, header, key
// or elements do not hold.
std::optional<Cache2Metadata> ParseCache2Metadata(Bytes block, std::uint32_t dataSize);

// The URL of a key ("O^partitionKey=...,a,:https://..."); empty when the key holds none.
std::string UrlFromCache2Key(std::string_view key);

// The length of the HTTP body when the "alt-data" element ("1;<offset>,<type>") says alternative
// data follows it; empty when the value is not of that form.
std::optional<std::uint64_t> AltDataOffset(std::string_view value);
