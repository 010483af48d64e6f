#pragma once
// Bounds-checked reads of little- and big-endian integers from byte spans. Every read states
// whether the bytes were there; nothing reads past the end of the span.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

using Bytes = std::span<const std::uint8_t>;

// True when [offset, offset + length) lies inside a span of size bytes, without overflow.
inline bool RangeFits(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
  return offset <= size && length <= size - offset;
}

inline bool ReadLe32(Bytes bytes, std::uint64_t offset, std::uint32_t& out) {
  if (!RangeFits(offset, 4, bytes.size())) return false;
  const std::uint8_t* p = bytes.data() + offset;
  out = std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
  return true;
}

inline bool ReadLe64(Bytes bytes, std::uint64_t offset, std::uint64_t& out) {
  std::uint32_t low = 0, high = 0;
  if (!ReadLe32(bytes, offset, low) || !ReadLe32(bytes, offset + 4, high)) return false;
  out = (std::uint64_t{high} << 32) | low;
  return true;
}

inline bool ReadBe32(Bytes bytes, std::uint64_t offset, std::uint32_t& out) {
  if (!RangeFits(offset, 4, bytes.size())) return false;
  const std::uint8_t* p = bytes.data() + offset;
  out = (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
  return true;
}

inline bool ReadBe16(Bytes bytes, std::uint64_t offset, std::uint16_t& out) {
  if (!RangeFits(offset, 2, bytes.size())) return false;
  const std::uint8_t* p = bytes.data() + offset;
  out = static_cast<std::uint16_t>((p[0] << 8) | p[1]);
  return true;
}

// The bytes as text, for keys and header blocks.
inline std::string_view AsText(Bytes bytes) { return {reinterpret_cast<const char*>(bytes.data()), bytes.size()}; }
