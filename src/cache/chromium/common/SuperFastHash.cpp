#include "cache/chromium/common/SuperFastHash.h"

namespace {

std::uint32_t Get16(const std::uint8_t* p) { return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8); }

// A byte as the signed char it is in the original, widened to 32 bits.
std::uint32_t Signed(std::uint8_t byte) {
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int8_t>(byte)));
}

}  // namespace

std::uint32_t SuperFastHash(const std::uint8_t* data, std::size_t length) {
  if (length == 0 || data == nullptr || length > 0x7fffffff) return 0;
  std::uint32_t hash = static_cast<std::uint32_t>(length);
  const std::size_t rest = length & 3;
  for (std::size_t words = length >> 2; words > 0; --words) {
    hash += Get16(data);
    const std::uint32_t tmp = (Get16(data + 2) << 11) ^ hash;
    hash = (hash << 16) ^ tmp;
    data += 4;
    hash += hash >> 11;
  }
  switch (rest) {
    case 3:
      hash += Get16(data);
      hash ^= hash << 16;
      hash ^= Signed(data[2]) << 18;
      hash += hash >> 11;
      break;
    case 2:
      hash += Get16(data);
      hash ^= hash << 11;
      hash += hash >> 17;
      break;
    case 1:
      hash += Signed(data[0]);
      hash ^= hash << 10;
      hash += hash >> 1;
      break;
    default:
      break;
  }
  hash ^= hash << 3;
  hash += hash >> 5;
  hash ^= hash << 4;
  hash += hash >> 17;
  hash ^= hash << 25;
  hash += hash >> 6;
  return hash;
}
