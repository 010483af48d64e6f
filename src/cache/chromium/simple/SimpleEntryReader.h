#pragma once
// Reading one entry of a simple cache from its files: where the body lies in "_0", its response
// info, and the ranges of a sparse "_s" file.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cache/browser/ByteSource.h"
#include "cache/browser/ParsedEntry.h"

struct SimpleEntryLayout {
  std::string key;
  std::uint64_t bodyOffset = 0;
  std::uint64_t bodyLength = 0;
  bool bodyHasCrc = false;
  std::uint32_t bodyCrc = 0;
  std::vector<std::uint8_t> stream0;  // the pickled response info, its CRC checked
};

// The layout of a complete "_0" file; empty when the file is not one (bad magic, no end records
// yet, sizes that do not fit, a failed CRC of stream 0).
std::optional<SimpleEntryLayout> ReadSimpleEntry(ByteSource& file);

struct SparseRange {
  std::uint64_t offset = 0;  // in the resource
  std::uint64_t length = 0;
  std::uint32_t dataCrc = 0;
  std::uint64_t fileOffset = 0;  // of the data in the "_s" file
};

// The ranges of a "_s" file whose key is key, in file order; empty when the file is not a sparse
// file of that entry or a range runs past its end.
std::optional<std::vector<SparseRange>> ReadSparseRanges(ByteSource& file, const std::string& key);

// The body pieces that lay the ranges end to end from 0 to total (overlaps written once, every
// range still checked whole); empty when a byte is missing or a range runs past total.
std::vector<BodyPiece> AssembleSparseBody(std::vector<SparseRange> ranges, std::uint64_t total);
