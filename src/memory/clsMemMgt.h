#pragma once
// One committed, locked block of raw memory with guarded copies in and out of its start.
#include <cstdint>
#include <string>

class clsMemMgt {
 public:
  clsMemMgt() = default;
  ~clsMemMgt();
  clsMemMgt(const clsMemMgt&) = delete;
  clsMemMgt& operator=(const clsMemMgt&) = delete;

  // Releases any block held, then commits, zero-fills and locks a new one of lCount bytes.
  // A failure leaves no block (Handle() == 0); nothing is reported.
  void Allocate(std::int32_t lCount);
  // The block's address, 0 when none is held.
  std::uintptr_t Handle() const { return base_; }
  // The size of the block held, 0 when none.
  std::int32_t Length() const { return base_ ? length_ : 0; }
  // Copies lLength bytes from the start of the block to hWritePointer. Skipped silently when
  // either range cannot be touched or lLength exceeds the block.
  void ReadFrom(std::uintptr_t hWritePointer, std::int32_t lLength);
  // Copies lLength bytes from hReadPointer to the start of the block, under the same guards.
  void WriteTo(std::uintptr_t hReadPointer, std::int32_t lLength);
  // The NUL-terminated string at hStartPointer, reading no more than lMax bytes: a string without
  // a terminator within lMax bytes is cut there. Empty text when the bytes cannot be read.
  std::string ExtractString(std::uintptr_t hStartPointer, std::int32_t lMax) const;
  // Unlocks and frees the block, if any.
  void ReleaseMemory();

 private:
  bool CoversBlock(std::int32_t lLength) const { return lLength >= 0 && base_ && lLength <= length_; }

  std::uintptr_t base_ = 0;
  std::int32_t length_ = 0;
};
