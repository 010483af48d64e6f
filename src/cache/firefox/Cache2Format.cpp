#include "cache/firefox/Cache2Format.h"

#include "cache/browser/EntryBody.h"

std::optional<Cache2Trailer> ParseCache2Trailer(Bytes lastBytes, std::uint64_t fileSize) {
  if (lastBytes.size() < 8 || fileSize < 8 + kCache2SmallestMetadata) return std::nullopt;
  std::uint32_t version = 0, word = 0;
  ReadBe32(lastBytes, lastBytes.size() - 8, version);
  ReadBe32(lastBytes, lastBytes.size() - 4, word);
  Cache2Trailer trailer;
  if (version == kCache2CurrentVersion) {
    trailer.size = 8;
    trailer.encrypted = (word >> 31) != 0;
    trailer.dataSize = word & 0x7fffffffu;
  } else {
    trailer.size = 4;
    trailer.dataSize = word;
  }
  if (std::uint64_t{trailer.dataSize} > fileSize - trailer.size - kCache2SmallestMetadata) return std::nullopt;
  return trailer;
}

const std::string* Cache2Metadata::Element(std::string_view name) const {
  for (const auto& [elementName, value] : elements) {
    if (elementName == name) return &value;
  }
  return nullptr;
}

std::optional<Cache2Metadata> ParseCache2Metadata(Bytes block, std::uint32_t dataSize) {
  const std::uint64_t chunks = dataSize == 0 ? 0 : (std::uint64_t{dataSize} - 1) / kCache2ChunkSize + 1;
  const std::uint64_t headerAt = 4 + 2 * chunks;
  std::uint32_t storedHash = 0;
  Cache2Metadata metadata;
  if (!ReadBe32(block, 0, storedHash) || !ReadBe32(block, headerAt, metadata.version)) return std::nullopt;
  if (metadata.version < 1 || metadata.version > kCache2CurrentVersion) return std::nullopt;
  const std::uint64_t headerSize = metadata.version == 1 ? 28 : 32;
  if (!RangeFits(headerAt, headerSize, block.size())) return std::nullopt;
  if (Lookup2Hash(block.data() + 4, block.size() - 4) != storedHash) return std::nullopt;

  std::uint32_t keySize = 0;
  ReadBe32(block, headerAt + 4, metadata.fetchCount);
  ReadBe32(block, headerAt + 8, metadata.lastFetched);
  ReadBe32(block, headerAt + 12, metadata.lastModified);
  ReadBe32(block, headerAt + 16, metadata.frecency);
  ReadBe32(block, headerAt + 20, metadata.expiration);
  ReadBe32(block, headerAt + 24, keySize);
  if (metadata.version > 1) ReadBe32(block, headerAt + 28, metadata.flags);

  const std::uint64_t keyAt = headerAt + headerSize;
  if (!RangeFits(keyAt, std::uint64_t{keySize} + 1, block.size()) || block[keyAt + keySize] != 0) return std::nullopt;
  metadata.key = std::string(AsText(block.subspan(static_cast<std::size_t>(keyAt), keySize)));

  metadata.chunkHashes.resize(static_cast<std::size_t>(chunks));
  for (std::uint64_t i = 0; i < chunks; ++i) ReadBe16(block, 4 + 2 * i, metadata.chunkHashes[i]);

  // name\0value\0 pairs up to the end of the block.
  std::string_view elements = AsText(block.subspan(static_cast<std::size_t>(keyAt + keySize + 1)));
  if (!elements.empty() && elements.back() != '\0') return std::nullopt;
  while (!elements.empty()) {
    const std::size_t nameEnd = elements.find('\0');
    const std::size_t valueEnd = elements.find('\0', nameEnd + 1);
    if (valueEnd == std::string_view::npos) return std::nullopt;  // a name without its value
    metadata.elements.emplace_back(std::string(elements.substr(0, nameEnd)),
                                   std::string(elements.substr(nameEnd + 1, valueEnd - nameEnd - 1)));
    elements.remove_prefix(valueEnd + 1);
  }
  return metadata;
}

std::string UrlFromCache2Key(std::string_view key) {
  // Tags, each a character and a value ended by a "," that is not doubled, then ":" and the URL.
  std::size_t at = 0;
  while (at < key.size()) {
    if (key[at] == ':') return std::string(key.substr(at + 1));
    std::size_t end = at + 1;
    while (end < key.size()) {
      if (key[end] == ',') {
        if (end + 1 < key.size() && key[end + 1] == ',') {
          end += 2;
          continue;
        }
        break;
      }
      ++end;
    }
    if (end >= key.size()) return {};
    at = end + 1;
  }
  return {};
}

std::optional<std::uint64_t> AltDataOffset(std::string_view value) {
  const std::size_t semicolon = value.find(';');
  if (semicolon == std::string_view::npos || value.substr(0, semicolon) != "1") return std::nullopt;
  value.remove_prefix(semicolon + 1);
  const std::size_t comma = value.find(',');
  if (comma == std::string_view::npos || comma == 0 || comma > 19) return std::nullopt;
  std::uint64_t offset = 0;
  for (char c : value.substr(0, comma)) {
    if (c < '0' || c > '9') return std::nullopt;
    offset = offset * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return offset;
}
