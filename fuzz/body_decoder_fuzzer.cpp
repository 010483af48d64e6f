// Stored bodies under each content coding: the first input byte picks the codings.
#include <cstddef>
#include <cstdint>

#include "cache/browser/BodyDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static const char* const kEncodings[] = {"gzip", "deflate", "br", "gzip, br", "deflate, gzip", "identity"};
  const auto codings = ParseContentEncoding(kEncodings[data[0] % 6]);
  std::uint64_t seen = 0;
  BodyDecoder decoder(*codings, [&](const char*, std::size_t length) {
    seen += length;
    return true;
  });
  // Fed in two parts, so that stream state carried between feeds is exercised.
  const std::size_t half = (size - 1) / 2;
  if (decoder.Feed(data + 1, half) && decoder.Feed(data + 1 + half, size - 1 - half)) decoder.Finish();
  if (seen != decoder.Written()) __builtin_trap();
  return 0;
}
