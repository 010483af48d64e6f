#include "cache/browser/Crc32.h"

#include <zlib.h>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define TAVRIN_CRC32_FOLDING 1
#endif

namespace {

std::uint32_t TableCrc32(std::uint32_t crc, const std::uint8_t* data, std::size_t length) {
  // zlib takes lengths of at most 4 GiB - 1 in one call.
  constexpr std::size_t kLargestCall = 1u << 30;
  while (length > 0) {
    const std::size_t part = length < kLargestCall ? length : kLargestCall;
    crc = static_cast<std::uint32_t>(crc32(crc, data, static_cast<uInt>(part)));
    data += part;
    length -= part;
  }
  return crc;
}

#ifdef TAVRIN_CRC32_FOLDING

__attribute__((target("sse2"))) inline __m128i Load(const std::uint8_t* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// into times the multiplier of k (x^n mod P for two n), added to next.
__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i into, __m128i k, __m128i next) {
  const __m128i low = _mm_clmulepi64_si128(into, k, 0x00);
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(into, k, 0x11), next), low);
}

// Folds 64 bytes at a time into four 128-bit remainders by carry-less multiplication by x^n mod P
// for the reflected polynomial, then those into one and that, by Barrett reduction, into the
// 32-bit remainder. length is at least 64 and a multiple of 16; crc is the running value in its
// inverted form, as is the result.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t FoldedCrc32(std::uint32_t crc, const std::uint8_t* data,
                                                                   std::size_t length) {
  alignas(16) static const std::uint64_t k1k2[] = {0x0154442bd4, 0x01c6e41596};
  alignas(16) static const std::uint64_t k3k4[] = {0x01751997d0, 0x00ccaa009e};
  alignas(16) static const std::uint64_t k5k0[] = {0x0163cd6124, 0x0000000000};
  alignas(16) static const std::uint64_t poly[] = {0x01db710641, 0x01f7011641};
  __m128i x1 = Load(data), x2 = Load(data + 16), x3 = Load(data + 32), x4 = Load(data + 48);
  x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k1k2));
  data += 64;
  length -= 64;
  while (length >= 64) {
    const __m128i x5 = _mm_clmulepi64_si128(x1, x0, 0x00), x6 = _mm_clmulepi64_si128(x2, x0, 0x00),
                  x7 = _mm_clmulepi64_si128(x3, x0, 0x00), x8 = _mm_clmulepi64_si128(x4, x0, 0x00);
    x1 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x1, x0, 0x11), x5), Load(data));
    x2 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x2, x0, 0x11), x6), Load(data + 16));
    x3 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x3, x0, 0x11), x7), Load(data + 32));
    x4 = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x4, x0, 0x11), x8), Load(data + 48));
    data += 64;
    length -= 64;
  }
  // The four remainders into one, then 16 bytes at a time.
  x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
  x1 = Fold(x1, x0, x2);
  x1 = Fold(x1, x0, x3);
  x1 = Fold(x1, x0, x4);
  while (length >= 16) {
    x1 = Fold(x1, x0, Load(data));
    data += 16;
    length -= 16;
  }
  // 128 bits to 64, then the Barrett reduction to 32.
  x2 = _mm_clmulepi64_si128(x1, x0, 0x10);
  x3 = _mm_setr_epi32(~0, 0, ~0, 0);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
  x0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k5k0));
  x2 = _mm_srli_si128(x1, 4);
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, x3), x0, 0x00), x2);
  x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(poly));
  x2 = _mm_and_si128(x1, x3);
  x2 = _mm_clmulepi64_si128(x2, x0, 0x10);
  x2 = _mm_and_si128(x2, x3);
  x2 = _mm_clmulepi64_si128(x2, x0, 0x00);
  x1 = _mm_xor_si128(x1, x2);
  return static_cast<std::uint32_t>(_mm_extract_epi32(x1, 1));
}

bool CanFold() {
  static const bool can = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return can;
}

#endif

}  // namespace

std::uint32_t Crc32(std::uint32_t crc, const std::uint8_t* data, std::size_t length) {
#ifdef TAVRIN_CRC32_FOLDING
  if (length >= 64 && CanFold()) {
    const std::size_t folded = length & ~std::size_t{15};
    crc = ~FoldedCrc32(~crc, data, folded);
    data += folded;
    length -= folded;
  }
#endif
  return TableCrc32(crc, data, length);
}
