#pragma once
// What a browser cache source learned of one entry from its files: whether it is listed, the
// entry as the harvest sees it, and where its body lies. Kept across passes while the files it
// came from keep their stamps.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "harvest/cache/CacheEntry.h"
#include "harvest/cache/browser/BodyDecoder.h"
#include "harvest/cache/browser/FileStamp.h"

// The stamps of the (at most two) files an entry is read from.
struct StampSet {
  std::array<FileStamp, 2> stamps{};
  std::uint8_t count = 0;
  void Add(const FileStamp& stamp) {
    if (count < stamps.size()) stamps[count++] = stamp;
  }
  bool operator==(const StampSet& other) const {
    if (count != other.count) return false;
    for (std::uint8_t i = 0; i < count; ++i) {
      if (!(stamps[i] == other.stamps[i])) return false;
    }
    return true;
  }
};

// A run of stored body bytes in the body file with the checksum the browser kept for it.
struct BodyPiece {
  enum class Check : std::uint8_t { None, Crc32, Lookup2Low16 };
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  Check check = Check::None;
  std::uint32_t expected = 0;
  std::uint64_t skip = 0;  // leading bytes of the piece that are checked but not part of the body
};

struct ParsedEntry {
  bool listed = false;  // a complete entry with a body: it appears in the enumeration
  CacheEntry entry;     // as listed; lastAccess as the entry files give it
  std::string name;     // the file name of its virtual path

  // The files it was read from (paths in the same order as stamps.stamps), and the one holding the body.
  std::vector<std::string> files;
  StampSet stamps;
  std::size_t bodyFile = 0;
  std::vector<BodyPiece> pieces;  // in body order
  std::vector<ContentCoding> codings;
};
