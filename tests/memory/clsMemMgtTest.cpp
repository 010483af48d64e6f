#include "memory/clsMemMgt.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <cstring>
#include <vector>

namespace {

std::uintptr_t Address(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

enum class SecondPage { ReadOnly, NoAccess };

// Two adjacent pages: the first readable and writable, the second read-only or inaccessible.
class PagePair {
 public:
  explicit PagePair(SecondPage second) {
#ifdef _WIN32
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    page_ = system.dwPageSize;
    base_ = static_cast<char*>(VirtualAlloc(nullptr, 2 * page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD previous = 0;
    VirtualProtect(base_ + page_, page_, second == SecondPage::ReadOnly ? PAGE_READONLY : PAGE_NOACCESS, &previous);
#else
    page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    base_ = static_cast<char*>(mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(base_ + page_, page_, second == SecondPage::ReadOnly ? PROT_READ : PROT_NONE);
#endif
  }
  ~PagePair() {
#ifdef _WIN32
    VirtualFree(base_, 0, MEM_RELEASE);
#else
    munmap(base_, 2 * page_);
#endif
  }
  char* EndOfFirst(std::size_t back) const { return base_ + page_ - back; }
  char* Second() const { return base_ + page_; }

 private:
  std::size_t page_;
  char* base_;
};

TEST(MemoryBlock, AllocatesZeroFilledBlocksAndReleasesThem) {
  clsMemMgt block;
  EXPECT_EQ(block.Handle(), 0u);
  block.Allocate(8192);
  ASSERT_NE(block.Handle(), 0u);
  std::vector<char> zeros(8192, 0);
  EXPECT_EQ(std::memcmp(reinterpret_cast<const void*>(block.Handle()), zeros.data(), 8192), 0);

  std::memset(reinterpret_cast<void*>(block.Handle()), 0x5A, 100);
  block.Allocate(4096);  // the first block is given back; the new one is zero again
  EXPECT_EQ(block.Length(), 4096);
  EXPECT_EQ(*reinterpret_cast<const char*>(block.Handle()), 0);

  block.ReleaseMemory();
  EXPECT_EQ(block.Handle(), 0u);
  block.ReleaseMemory();  // a second release does nothing
  EXPECT_EQ(block.Handle(), 0u);
}

TEST(MemoryBlock, CopiesInAndOutOfTheStartOfTheBlock) {
  clsMemMgt block;
  block.Allocate(8192);
  const char source[] = "record bytes";
  block.WriteTo(Address(source), sizeof source);
  char out[sizeof source] = {};
  block.ReadFrom(Address(out), sizeof out);
  EXPECT_STREQ(out, "record bytes");

  char untouched[4] = {'a', 'b', 'c', 'd'};
  block.ReadFrom(Address(untouched), 0);
  EXPECT_EQ(untouched[0], 'a');
}

TEST(MemoryBlock, RefusesCopiesWithoutABlockOrLongerThanIt) {
  clsMemMgt none;
  char out[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  none.ReadFrom(Address(out), 8);
  none.WriteTo(Address(out), 8);
  EXPECT_EQ(out[0], 1);

  clsMemMgt block;
  block.Allocate(16);
  std::vector<char> big(64, 'x');
  block.WriteTo(Address(big.data()), 64);  // longer than the block: refused, nothing written past it
  EXPECT_EQ(*reinterpret_cast<const char*>(block.Handle()), 0);
  block.ReadFrom(Address(big.data()), -1);
  EXPECT_EQ(big[0], 'x');
}

TEST(MemoryBlock, SkipsCopiesToUnwritableOrFromUnreadableMemory) {
  clsMemMgt block;
  block.Allocate(4096);
  std::memset(reinterpret_cast<void*>(block.Handle()), 'B', 4096);

  PagePair readOnly(SecondPage::ReadOnly);
  block.ReadFrom(Address(readOnly.Second()), 84);  // would fault: the page cannot be written
  EXPECT_EQ(readOnly.Second()[0], 0);

  // A range that starts in a writable page and runs into the read-only one is refused whole.
  char* straddling = readOnly.EndOfFirst(10);
  block.ReadFrom(Address(straddling), 84);
  EXPECT_EQ(straddling[0], 0);

  PagePair noAccess(SecondPage::NoAccess);
  block.WriteTo(Address(noAccess.Second()), 84);
  block.WriteTo(Address(noAccess.EndOfFirst(4)), 84);
  EXPECT_EQ(*reinterpret_cast<const char*>(block.Handle()), 'B');
  block.WriteTo(Address(nullptr), 84);
  EXPECT_EQ(*reinterpret_cast<const char*>(block.Handle()), 'B');
}

TEST(MemoryBlock, ExtractsStringsWithinTheirBound) {
  clsMemMgt block;
  block.Allocate(4096);
  // Two-byte characters followed by bytes after the terminator.
  const char text[] = "\xE7\x8C\xAB\xE3\x81\xAE.jpg\0trailing";
  block.WriteTo(Address(text), sizeof text);
  EXPECT_EQ(block.ExtractString(block.Handle(), 4096), "\xE7\x8C\xAB\xE3\x81\xAE.jpg");
  EXPECT_EQ(block.ExtractString(block.Handle(), 3), "\xE7\x8C\xAB");  // never more than lMax bytes
  EXPECT_EQ(block.ExtractString(block.Handle(), 0), "");

  // Outside the block: a string that runs into an unreadable page without a terminator is refused.
  PagePair guard(SecondPage::NoAccess);
  std::memcpy(guard.EndOfFirst(4), "abcd", 4);
  EXPECT_EQ(block.ExtractString(Address(guard.EndOfFirst(4)), 100), "");
  EXPECT_EQ(block.ExtractString(Address(guard.EndOfFirst(4)), 4), "abcd");
  std::memcpy(guard.EndOfFirst(4), "ab\0d", 4);
  EXPECT_EQ(block.ExtractString(Address(guard.EndOfFirst(4)), 100), "ab");
  EXPECT_EQ(block.ExtractString(Address(guard.Second()), 100), "");
  EXPECT_EQ(block.ExtractString(0, 100), "");
}

TEST(MemoryBlock, AFaultOutsideAProbeStillCrashes) {
  // The probes catch faults only while they run; a stray access elsewhere must still end the
  // process, or real faults would be hidden.
  clsMemMgt block;
  block.Allocate(64);
  PagePair guard(SecondPage::NoAccess);
  block.ReadFrom(Address(guard.Second()), 8);  // installs the fault handler
  EXPECT_DEATH(
      {
        volatile char* p = guard.Second();
        *p = 1;
      },
      "");
}

}  // namespace
