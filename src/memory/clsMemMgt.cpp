#include "memory/clsMemMgt.h"

#include <algorithm>
#include <cstring>

#include "memory/GuardedMemory.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

clsMemMgt::~clsMemMgt() { ReleaseMemory(); }

void clsMemMgt::Allocate(std::int32_t lCount) {
  ReleaseMemory();
  length_ = lCount;
  if (lCount <= 0) return;
#ifdef _WIN32
  void* block = VirtualAlloc(nullptr, static_cast<SIZE_T>(lCount), MEM_COMMIT, PAGE_READWRITE);
  base_ = reinterpret_cast<std::uintptr_t>(block);
  if (block) VirtualLock(block, static_cast<SIZE_T>(lCount));
#else
  // Anonymous mappings are zero-filled. Readable and writable only: nothing is ever run from it.
  void* block =
      mmap(nullptr, static_cast<std::size_t>(lCount), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) return;
  base_ = reinterpret_cast<std::uintptr_t>(block);
  mlock(block, static_cast<std::size_t>(lCount));  // staying resident is a wish, not a need
#endif
}

void clsMemMgt::ReleaseMemory() {
  if (base_ == 0) return;
  void* block = reinterpret_cast<void*>(base_);
#ifdef _WIN32
  VirtualUnlock(block, static_cast<SIZE_T>(length_));
  VirtualFree(block, 0, MEM_RELEASE);
#else
  munlock(block, static_cast<std::size_t>(length_));
  munmap(block, static_cast<std::size_t>(length_));
#endif
  base_ = 0;
}

void clsMemMgt::ReadFrom(std::uintptr_t hWritePointer, std::int32_t lLength) {
  if (!CoversBlock(lLength) || lLength == 0) return;
  // The block itself is known to be readable for its whole length; only the caller's side needs
  // probing.
  if (!guarded::CanWrite(hWritePointer, static_cast<std::size_t>(lLength))) return;
  std::memmove(reinterpret_cast<void*>(hWritePointer), reinterpret_cast<const void*>(base_),
               static_cast<std::size_t>(lLength));
}

void clsMemMgt::WriteTo(std::uintptr_t hReadPointer, std::int32_t lLength) {
  if (!CoversBlock(lLength) || lLength == 0) return;
  if (!guarded::CanRead(hReadPointer, static_cast<std::size_t>(lLength))) return;
  std::memmove(reinterpret_cast<void*>(base_), reinterpret_cast<const void*>(hReadPointer),
               static_cast<std::size_t>(lLength));
}

std::string clsMemMgt::ExtractString(std::uintptr_t hStartPointer, std::int32_t lMax) const {
  if (lMax <= 0) return {};
  const auto max = static_cast<std::size_t>(lMax);
  std::size_t length = 0;
  const std::uintptr_t blockEnd = base_ + static_cast<std::uintptr_t>(length_);
  if (base_ && hStartPointer >= base_ && hStartPointer < blockEnd) {
    // Inside the block every byte up to its end is readable: no probe is needed.
    const auto* text = reinterpret_cast<const char*>(hStartPointer);
    const std::size_t room = std::min<std::size_t>(max, blockEnd - hStartPointer);
    const void* nul = std::memchr(text, 0, room);
    length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : room;
  } else {
    const auto probed = guarded::BoundedStringLength(hStartPointer, max);
    if (!probed) return {};
    length = *probed;
  }
  // The bytes are kept as they are: the records hold paths and addresses in the text of paths
  // here (UTF-8 on Windows, the locale's bytes elsewhere), and every consumer reads them so.
  return std::string(reinterpret_cast<const char*>(hStartPointer), length);
}
