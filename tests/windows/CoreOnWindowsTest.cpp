// The Windows branches of the core, on the platform's own calls: pointer probes over protected
// pages, the file writer's hidden temporaries, name searches,
// folder creation on drive paths, path names with drive letters, and the kernel32 time conversions.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "WineUrlCache.h"
#include "base/CacheTime.h"
#include "base/FileSystemObject.h"
#include "base/FileWriter.h"
#include "base/FolderPath.h"
#include "base/NumberedError.h"
#include "harvest/cmnWinInet.h"
#include "memory/GuardedMemory.h"
#include "memory/clsMemMgt.h"

namespace {

// Two pages: the first readable and writable, the second with the given protection.
class TwoPages {
 public:
  explicit TwoPages(DWORD secondProtection) {
    block_ = static_cast<char*>(VirtualAlloc(nullptr, 2 * kPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    DWORD old = 0;
    VirtualProtect(block_ + kPage, kPage, secondProtection, &old);
  }
  ~TwoPages() { VirtualFree(block_, 0, MEM_RELEASE); }
  char* First() const { return block_; }
  char* Second() const { return block_ + kPage; }
  std::uintptr_t At(const char* p) const { return reinterpret_cast<std::uintptr_t>(p); }
  static constexpr std::size_t kPage = 4096;

 private:
  char* block_;
};

TEST(GuardedMemoryOnWindows, ProbesFollowPageProtection) {
  TwoPages noAccess(PAGE_NOACCESS);
  EXPECT_TRUE(guarded::CanRead(noAccess.At(noAccess.First()), TwoPages::kPage));
  EXPECT_FALSE(guarded::CanRead(noAccess.At(noAccess.Second() - 1), 2));
  EXPECT_TRUE(guarded::CanRead(0, 0));
  TwoPages readOnly(PAGE_READONLY);
  EXPECT_TRUE(guarded::CanRead(readOnly.At(readOnly.Second()), TwoPages::kPage));
  EXPECT_FALSE(guarded::CanWrite(readOnly.At(readOnly.Second()), 1));
  EXPECT_TRUE(guarded::CanWrite(readOnly.At(readOnly.First()), TwoPages::kPage));
}

TEST(GuardedMemoryOnWindows, StringsStopAtTheirEndOrAtTheFirstUnreadableByte) {
  TwoPages pages(PAGE_NOACCESS);
  char* tail = pages.Second() - 3;
  std::memcpy(tail, "ab", 3);
  EXPECT_EQ(guarded::BoundedStringLength(pages.At(tail), 100), std::optional<std::size_t>(2));
  tail[2] = 'c';  // no terminator before the unreadable page
  EXPECT_EQ(guarded::BoundedStringLength(pages.At(tail), 100), std::nullopt);
  EXPECT_EQ(guarded::BoundedStringLength(pages.At(tail), 3), std::optional<std::size_t>(3));
}

TEST(MemoryBlockOnWindows, CommitsZeroedMemoryAndSkipsBadCopies) {
  clsMemMgt block;
  block.Allocate(8192);
  ASSERT_NE(block.Handle(), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.Handle()), 8192), std::string(8192, '\0'));
  block.WriteTo(reinterpret_cast<std::uintptr_t>("picture"), 8);
  TwoPages readOnly(PAGE_READONLY);
  block.ReadFrom(readOnly.At(readOnly.Second()), 8);  // unwritable destination: nothing happens
  EXPECT_EQ(readOnly.Second()[0], 0);
  char out[8] = {};
  block.ReadFrom(reinterpret_cast<std::uintptr_t>(out), 8);
  EXPECT_STREQ(out, "picture");
  TwoPages noAccess(PAGE_NOACCESS);
  EXPECT_EQ(block.ExtractString(noAccess.At(noAccess.Second()), 10), "");
  block.ReleaseMemory();
  EXPECT_EQ(block.Handle(), 0u);
  block.ReleaseMemory();
}

// Beside the writer's cases in tests/base, which run here too: its temporaries are hidden until
// placed, and the clean-up at start removes a crash's hidden temporary, never a plain file of that
// name.
TEST(FileWriterOnWindows, TemporariesAreHiddenUntilPlaced) {
  wine_cache::TempFolder folder;
  const std::string placed = folder.Path() + "\\pic.jpg";
  {
    FileWriter copy = FileWriter::NewFileIn(folder.Path());
    EXPECT_NE(GetFileAttributesA(copy.TemporaryPath().c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    copy.Write("new picture");
    EXPECT_EQ(copy.PlaceIfNameFree(placed), FileWriter::Placement::Placed);
  }
  EXPECT_EQ(GetFileAttributesA(placed.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  {
    FileWriter settings = FileWriter::Replacing(placed);
    settings.Write("replaced");
    settings.ReplaceTarget();
  }
  EXPECT_EQ(wine_cache::ReadWholeFile(placed), "replaced");
  EXPECT_EQ(GetFileAttributesA(placed.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);

  wine_cache::WriteWholeFile(folder.Path() + "\\.tavrin-copy-Ab12Cd", "left");
  SetFileAttributesA((folder.Path() + "\\.tavrin-copy-Ab12Cd").c_str(), FILE_ATTRIBUTE_HIDDEN);
  wine_cache::WriteWholeFile(folder.Path() + "\\.tavrin-copy-ABCDEF", "someone's");
  EXPECT_EQ(RemoveLeftoverCopies(folder.Path()), 1);
  EXPECT_EQ(folder.FileNames(), (std::vector<std::string>{".tavrin-copy-ABCDEF", "pic.jpg"}));
  DeleteFileA((folder.Path() + "\\.tavrin-copy-ABCDEF").c_str());
}

TEST(FolderPathOnWindows, SearchesNamesAndCreatesDrivePaths) {
  wine_cache::TempFolder folder;
  wine_cache::WriteWholeFile(folder.Path() + "\\photo[1].jpg", "x");
  wine_cache::WriteWholeFile(folder.Path() + "\\secret.jpg", "x");
  SetFileAttributesA((folder.Path() + "\\secret.jpg").c_str(), FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(PathExists(folder.Path() + "\\"));
  EXPECT_TRUE(PathExists(folder.Path() + "\\photo[1].jpg"));
  EXPECT_TRUE(PathExists(folder.Path() + "\\*.jpg"));
  EXPECT_FALSE(PathExists(folder.Path() + "\\secret.jpg"));  // hidden entries are not found
  EXPECT_FALSE(PathExists(folder.Path() + "\\none\\"));
  EXPECT_FALSE(PathExists("   "));
  EXPECT_TRUE(PathExists("C:\\"));

  const std::string deep = folder.Path() + "\\a\\b\\c";
  EXPECT_TRUE(CreateFolderPath(deep));
  EXPECT_TRUE(FileSystemObject().FolderExists(deep));
  EXPECT_TRUE(CreateFolderPath(deep + "\\"));                             // all there already
  EXPECT_FALSE(CreateFolderPath(folder.Path() + "\\photo[1].jpg\\sub"));  // a file in the way
  for (const char* sub : {"\\a\\b\\c", "\\a\\b", "\\a"}) RemoveDirectoryA((folder.Path() + sub).c_str());
}

TEST(FileSystemObjectOnWindows, TakesDrivePathsApart) {
  FileSystemObject fso;
  EXPECT_EQ(fso.GetParentFolderName("C:\\pics\\cat.jpg"), "C:\\pics");
  EXPECT_EQ(fso.GetParentFolderName("C:\\cat.jpg"), "C:\\");
  EXPECT_EQ(fso.GetParentFolderName("C:/pics/cat.jpg"), "C:/pics");
  EXPECT_EQ(fso.GetFileName("C:cat.jpg"), "cat.jpg");
  EXPECT_EQ(fso.GetFileName("C:\\pics\\"), "pics");
  EXPECT_EQ(fso.GetBaseName("C:\\pics\\cat[1].tar.gz"), "cat[1].tar");
  EXPECT_EQ(fso.GetExtensionName("C:\\pics.d\\cat"), "");

  wine_cache::TempFolder folder;
  wine_cache::WriteWholeFile(folder.Path() + "\\five.bin", "12345");
  EXPECT_EQ(fso.GetFile(folder.Path() + "\\five.bin").Size, 5u);
  EXPECT_TRUE(fso.FileExists(folder.Path() + "/five.bin"));
  EXPECT_FALSE(fso.FileExists(folder.Path()));
  EXPECT_TRUE(fso.FolderExists(folder.Path() + "\\"));
  EXPECT_THROW(fso.GetFile(folder.Path()), NumberedError);
}

TEST(CacheTimeOnWindows, Kernel32ConversionsDropMillisecondsAndRejectHugeTimes) {
  // 2026-12-07 01:05:03.999 UTC.
  CacheSystemTime utc;
  utc.wYear = 2026, utc.wMonth = 12, utc.wDay = 7, utc.wHour = 1, utc.wMinute = 5, utc.wSecond = 3,
  utc.wMilliseconds = 999;
  CacheFileTime fileTime;
  ASSERT_TRUE(platform_time::SystemTimeToFileTime(utc, fileTime));
  EXPECT_EQ(fileTime.Value(), 134410791039990000u);

  platform_time::PinUtcOffsetForTesting(8 * 3600);
  EXPECT_EQ(FileTimeToLocalDate(fileTime), DateValue::FromFields(2026, 12, 7, 9, 5, 3));
  // Near midnight the local date is the next day.
  EXPECT_EQ(FileTimeToLocalDate(CacheFileTime::FromValue(fileTime.Value() + 20ull * 3600 * 10'000'000)),
            DateValue::FromFields(2026, 12, 8, 5, 5, 3));
  platform_time::UnpinUtcOffset();

  EXPECT_EQ(FileTimeToLocalDate(CacheFileTime::FromValue(1ull << 63)), DateValue::FromFields(1900, 1, 1, 0, 0, 0));
  // The system's own offset, as the capture start time uses it.
  FILETIME now, local;
  GetSystemTimeAsFileTime(&now);
  FileTimeToLocalFileTime(&now, &local);
  const std::int64_t offset =
      (static_cast<std::int64_t>((std::uint64_t{local.dwHighDateTime} << 32) | local.dwLowDateTime) -
       static_cast<std::int64_t>((std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime)) /
      10'000'000;
  EXPECT_NEAR(static_cast<double>(platform_time::CurrentUtcOffsetSeconds()), static_cast<double>(offset), 1.0);
}

}  // namespace
