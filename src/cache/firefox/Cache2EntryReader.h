#pragma once
// Reading one cache2 entry file: its trailer, then its metadata block.
#include <cstdint>
#include <optional>

#include "cache/browser/ByteSource.h"
#include "cache/firefox/Cache2Format.h"

struct Cache2EntryLayout {
  std::uint32_t dataSize = 0;  // the body is bytes [0, dataSize), unless alt-data says less
  Cache2Metadata metadata;
};

// The layout of a complete entry file; empty while it is written (no metadata yet), when it is
// encrypted or corrupt.
std::optional<Cache2EntryLayout> ReadCache2Entry(ByteSource& file);
