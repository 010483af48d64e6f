#pragma once
// The CRC-32 of gzip and zlib (crc32 of zlib), with the carry-less multiplication of x86-64
// processors where they have it: a body's checksum is computed over every byte copied, and
// zlib's table-driven code takes as long as the copy itself.
#include <cstddef>
#include <cstdint>

// The checksum of data continued from crc (0 to begin), as zlib's crc32(crc, data, length).
std::uint32_t Crc32(std::uint32_t crc, const std::uint8_t* data, std::size_t length);
