#pragma once
// Probes and copies that report a bad address instead of faulting.
#include <cstddef>
#include <cstdint>
#include <optional>

namespace guarded {

// True when every byte of [address, address + length) can be read. A length of 0 is always usable.
bool CanRead(std::uintptr_t address, std::size_t length);

// True when every byte of [address, address + length) can be written. The probe writes back the
// bytes it read, so the contents are unchanged.
bool CanWrite(std::uintptr_t address, std::size_t length);

// The length of the NUL-terminated string at address, looking at no more than max bytes.
// Empty when a byte before the terminator (or before max) cannot be read. A string that runs
// to max bytes without a terminator yields max.
std::optional<std::size_t> BoundedStringLength(std::uintptr_t address, std::size_t max);

}  // namespace guarded
