#pragma once
// Paul Hsieh's SuperFastHash, as the Chromium disk caches compute it: the hash of an entry's key
// and the self-check of its records. Bytes are taken as signed chars where the tail is mixed in.
#include <cstddef>
#include <cstdint>
#include <string_view>

std::uint32_t SuperFastHash(const std::uint8_t* data, std::size_t length);

inline std::uint32_t SuperFastHash(std::string_view text) {
  return SuperFastHash(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}
